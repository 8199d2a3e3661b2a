#!/bin/sh
# Runs the fuzz target for a bounded time from the committed seed corpus.
# Usage: run-fuzz.sh FUZZER SECONDS
set -e
FUZZER=$1
SECONDS_LIMIT=${2:-30}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cp -r "$ROOT/test/fuzz/corpus/." "$WORK/" 2>/dev/null || true
"$FUZZER" -artifact_prefix="$WORK/../fuzz-crash-" -max_total_time="$SECONDS_LIMIT" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$WORK"
