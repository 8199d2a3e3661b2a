#!/bin/sh
# Shows the framework's asynchronous runtime at work (`make run` calls it after the
# compiler examples): the run-loop example hands jobs to the thread pool and prints the
# results in order; the async-copy example copies a 64 MB file with AsyncFile reads and
# writes on a run loop, and the copy is compared with its source.
# Usage: sh scripts/run-runtime-examples.sh [folder-of-the-example-programs]
set -eu

BIN=${1:-build/examples}
for p in run-loop async-copy; do
  if [ ! -x "$BIN/$p" ]; then
    echo "run-runtime-examples: no $p in $BIN (run 'make build' first)" >&2
    exit 1
  fi
done

echo
echo "== $BIN/run-loop: ten jobs on the thread pool, results in submission order"
"$BIN/run-loop"

TMP=$(mktemp -d /tmp/nubrix-async-copy-XXXXXX)
trap 'rm -rf "$TMP"' EXIT
head -c 67108864 /dev/urandom >"$TMP/source.bin"
echo
echo "== $BIN/async-copy: 64 MB with AsyncFile, four reads in flight"
"$BIN/async-copy" "$TMP/source.bin" "$TMP/copy.bin"
cmp "$TMP/source.bin" "$TMP/copy.bin"
echo "the copy equals its source"
