#!/bin/sh
# Shows the compiler at work on the example application (`make run` calls it after the
# build):
#   1. compiles every .js and .jsx module under examples/ with jsxc into
#      build/examples-out/, keeping the relative paths and file names;
#   2. shows the view module's source beside its compiled text, line by line (line N of
#      the output is line N of the source; the class field trailer follows the last line);
#   3. runs the application through the Node host, which prints the view tree.
# Usage: sh scripts/run-examples.sh [path-to-jsxc]. Exits non-zero if any step fails.
set -eu

JSXC=${1:-build/jsxc}
case $JSXC in
  /*) ;;
  *) JSXC=$(pwd)/$JSXC ;;
esac
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=$ROOT/build/examples-out
APP=examples/view-app
SHOWN=$APP/book-view.jsx

if [ ! -x "$JSXC" ]; then
  echo "run-examples: no jsxc at $JSXC (run 'make build' first)" >&2
  exit 1
fi
if ! command -v node >/dev/null 2>&1; then
  echo "run-examples: node is not installed (run 'make setup')" >&2
  exit 1
fi

cd "$ROOT"
rm -rf "$OUT"
mkdir -p "$OUT"

echo "== Compiling the modules of examples/ into build/examples-out/"
find examples -type f \( -name '*.js' -o -name '*.jsx' \) | sort >"$OUT/.modules"
count=0
while IFS= read -r src; do
  dst=$OUT/${src#examples/}
  mkdir -p "$(dirname "$dst")"
  "$JSXC" "$src" "$dst"
  printf '  %-32s -> %s (%s lines)\n' "$src" "build/examples-out/${src#examples/}" \
    "$(wc -l <"$dst" | tr -d ' ')"
  count=$((count + 1))
done <"$OUT/.modules"
rm -f "$OUT/.modules"
if [ "$count" -eq 0 ]; then
  echo "run-examples: no modules found under examples/" >&2
  exit 1
fi

echo
echo "== $SHOWN (left) and what jsxc wrote (right)"
# The source column is cut at 64 characters (marked with ~) so the output column starts
# at the same place on every line; the output is never cut.
awk -v w=64 '
  NR == FNR { src[FNR] = $0; n = FNR; next }
  {
    s = (FNR <= n) ? src[FNR] : ""
    if (length(s) > w) s = substr(s, 1, w - 1) "~"
    printf "%3d %-" w "s | %s\n", FNR, s, $0
    m = FNR
  }
  END { for (i = m + 1; i <= n; i++) printf "%3d %-" w "s |\n", i, src[i] }
' "$SHOWN" "$OUT/${SHOWN#examples/}"

echo
echo "== Running $APP/main.jsx"
node "$ROOT/test/host/host.js" --jsxc "$JSXC" "$APP/main.jsx"
