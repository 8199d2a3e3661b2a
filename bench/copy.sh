#!/usr/bin/env bash
# Copy speed of one large file: the async-copy example (AsyncFile reads and writes on a
# run loop), the same program with --sync (FileHelper::cp_sync) and with --task
# (AsyncFile::copy, the copy on the loop's thread pool), and `cp`, on one machine in
# one run. The source is made of random bytes in a temporary folder, which
# is removed at the end. Every copy starts after `sync`, with the source in the page
# cache for all three, and every result is compared with the source.
#
# Usage: bench/copy.sh [ASYNC_COPY]  (default: build-bench/examples/async-copy, built in
#                                    Release if missing)
# Environment: SIZE_MB (default 1024), RUNS (default 3), BLOCK_KB (default 1024),
#              READS (default 4), KEEP=1 keeps the temporary folder.
#
# Prints, per tool, the median wall time of RUNS runs and MB/s, then the ratios of the
# copies to `cp` (target for cp_sync and AsyncCopy: at most 1.1).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SIZE_MB=${SIZE_MB:-1024}
RUNS=${RUNS:-3}
BLOCK_KB=${BLOCK_KB:-1024}
READS=${READS:-4}
. "$ROOT/bench/lib.sh"
COPY=$(bench_program "${1:-}" async-copy examples/async-copy)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/copy-bench-XXXXXX")
cleanup() { [ "${KEEP:-0}" = 1 ] || rm -rf "$WORK"; }
trap cleanup EXIT

SRC="$WORK/source.bin"
DST="$WORK/target.bin"
echo "making a $SIZE_MB MB source in $WORK"
head -c "$((SIZE_MB * 1024 * 1024))" /dev/urandom >"$SRC"
BYTES=$(stat -c %s "$SRC")
cat "$SRC" >/dev/null  # into the page cache

now_ns() { date +%s%N; }

# One timed copy by the named tool; prints the wall time in nanoseconds.
copy_once() {
  rm -f "$DST"
  sync
  local start end
  start=$(now_ns)
  case "$1" in
    cp) cp "$SRC" "$DST" ;;
    cp_sync) "$COPY" "$SRC" "$DST" --sync --quiet >/dev/null ;;
    AsyncFile) "$COPY" "$SRC" "$DST" --block "$BLOCK_KB" --reads "$READS" --quiet >/dev/null ;;
    AsyncCopy) "$COPY" "$SRC" "$DST" --task --quiet >/dev/null ;;
  esac
  end=$(now_ns)
  cmp -s "$SRC" "$DST" || { echo "$1: the copy differs from the source" >&2; exit 1; }
  echo $((end - start))
}

declare -A TIMES
for ((run = 0; run < RUNS; run++)); do
  for tool in cp cp_sync AsyncFile AsyncCopy; do
    TIMES[$tool]="${TIMES[$tool]:-} $(copy_once $tool)"
  done
done

median() { tr ' ' '\n' | grep -v '^$' | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

printf "%-10s %10s %10s\n" tool "median s" "MB/s"
declare -A MED
for tool in cp cp_sync AsyncFile AsyncCopy; do
  MED[$tool]=$(echo "${TIMES[$tool]}" | median)
  awk -v t="${MED[$tool]}" -v b="$BYTES" -v n="$tool" \
    'BEGIN { printf "%-10s %10.3f %10.1f\n", n, t / 1e9, b / 1e6 / (t / 1e9) }'
done
awk -v a="${MED[AsyncFile]}" -v c="${MED[cp]}" -v s="${MED[cp_sync]}" -v k="${MED[AsyncCopy]}" 'BEGIN {
  printf "AsyncFile / cp: %.2fx time   cp_sync / cp: %.2fx   AsyncCopy / cp: %.2fx (target <= 1.1x)\n", a / c, s / c, k / c }'
