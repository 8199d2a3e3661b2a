#!/usr/bin/env bash
# End-to-end speed of the jsxc command line on about 5 MB of real plain JavaScript,
# beside `cp` of the same file and beside esbuild and sucrase, all on one machine in
# one run. The input is built from files that ship in npm packages (lodash, underscore,
# moment, jquery, async), installed into a temporary folder that is removed at the end;
# nothing downloaded is kept.
#
# Usage: bench/cli.sh [JSXC]       (default: build-bench/jsxc, built in Release if missing)
# Environment: RUNS (default 7), TARGET_MB (default 5), KEEP=1 keeps the temporary folder.
#
# Prints, per tool, the median wall time of RUNS runs, MB/s of input, the peak resident
# set size (the largest of 3 runs) and the ratio to jsxc, then the jsxc targets
# (>= 250 MB/s end to end, peak RSS under 8x the input).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${RUNS:-7}
TARGET_MB=${TARGET_MB:-5}
JSXC=${1:-}
if [ -z "$JSXC" ]; then
  JSXC="$ROOT/build-bench/jsxc"
  if [ ! -x "$JSXC" ]; then
    cmake -S "$ROOT" -B "$ROOT/build-bench" -DCMAKE_BUILD_TYPE=Release -DNUBRIX_TESTS=OFF >/dev/null
    cmake --build "$ROOT/build-bench" -j 2 --target jsxc >/dev/null
  fi
fi
JSXC=$(cd "$(dirname "$JSXC")" && pwd)/$(basename "$JSXC")
[ -x "$JSXC" ] || { echo "no jsxc at $JSXC" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/jsxc-bench-XXXXXX")
if [ "${KEEP:-0}" = 1 ]; then
  echo "work folder: $WORK"
else
  trap 'rm -rf "$WORK"' EXIT
fi
cd "$WORK"

echo "== installing the inputs and the peers from npm"
npm init -y >/dev/null
npm install --no-audit --no-fund --silent lodash underscore moment jquery async esbuild sucrase \
  >/dev/null
ESBUILD=node_modules/@esbuild/linux-x64/bin/esbuild
[ -x "$ESBUILD" ] || ESBUILD=node_modules/.bin/esbuild
SUCRASE=node_modules/.bin/sucrase

# Plain scripts (CommonJS / UMD), not ES modules. Each is kept only if jsxc compiles it
# on its own.
CANDIDATES=(
  node_modules/lodash/lodash.js
  node_modules/underscore/underscore-umd.js
  node_modules/moment/moment.js
  node_modules/moment/min/moment-with-locales.js
  node_modules/jquery/dist/jquery.js
  node_modules/async/dist/async.js
)
FILES=()
for f in "${CANDIDATES[@]}"; do
  [ -f "$f" ] || { echo "   missing $f"; continue; }
  if "$JSXC" "$f" check.js >check.log 2>&1; then
    FILES+=("$f")
    echo "   using $f ($(wc -c <"$f") bytes)"
  else
    echo "   skipping $f: $(head -2 check.log | tr '\n' ' ')"
  fi
done
rm -f check.js check.log
[ ${#FILES[@]} -gt 0 ] || { echo "no input file compiles" >&2; exit 1; }

# Concatenate copies until the target size. Each copy is wrapped in a function so that
# the whole stays one valid script (no top-level name is declared twice).
mkdir -p src out
INPUT=src/input.js
: >"$INPUT"
target=$((TARGET_MB * 1000 * 1000))
while [ "$(wc -c <"$INPUT")" -lt "$target" ]; do
  for f in "${FILES[@]}"; do
    { printf '(function () {\n'; cat "$f"; printf '\n})();\n'; } >>"$INPUT"
    [ "$(wc -c <"$INPUT")" -ge "$target" ] && break
  done
done
SIZE=$(wc -c <"$INPUT")
echo "   input: $SIZE bytes, $(wc -l <"$INPUT") lines"

# The input must compile, and a plain script comes out as itself plus the module
# trailer (one line feed).
"$JSXC" "$INPUT" out/jsxc.js
if { cat "$INPUT"; printf '\n'; } | cmp -s - out/jsxc.js; then
  echo "   jsxc output: the input plus the trailer line feed"
else
  echo "   jsxc output differs from the input (as expected only where the input has modules)"
fi
"$ESBUILD" "$INPUT" --format=cjs --outfile=out/esbuild.js --log-level=error
"$SUCRASE" src -d out/sucrase --transforms imports -q

echo
echo "== versions"
echo "   jsxc     $JSXC ($(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown))"
echo "   esbuild  $("$ESBUILD" --version)"
echo "   sucrase  $(node -p 'require("./node_modules/sucrase/package.json").version')"
echo "   node     $(node --version)"
echo "   cp       $(cp --version | head -1)"
echo "   machine  $(nproc) cores, $(uname -sr)"

echo
echo "== $RUNS runs each, median wall time"
python3 - "$SIZE" "$RUNS" "$JSXC" "$ESBUILD" "$SUCRASE" "$INPUT" <<'EOF'
import os, statistics, subprocess, sys, time

size, runs = int(sys.argv[1]), int(sys.argv[2])
jsxc, esbuild, sucrase, src = sys.argv[3:7]
tools = [
    ("cp", ["cp", src, "out/cp.js"]),
    ("jsxc", [jsxc, src, "out/jsxc.js"]),
    ("esbuild", [esbuild, src, "--format=cjs", "--outfile=out/esbuild.js", "--log-level=error"]),
    ("sucrase", [sucrase, "src", "-d", "out/sucrase", "--transforms", "imports", "-q"]),
]

def wall_time(argv):
    start = time.perf_counter()
    status = subprocess.call(argv, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit("%s failed with status %d" % (argv[0], status))
    return wall

def peak_rss(argv):
    # A child's peak RSS includes what its parent had mapped before exec, so it is read
    # through GNU time (a small launcher) where present; otherwise from wait4 here, less
    # the size that a run of `true` shows (this interpreter's share).
    if os.access("/usr/bin/time", os.X_OK):
        out = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", "rss.txt"] + argv,
                             stdout=subprocess.DEVNULL, check=True)
        with open("rss.txt") as f:
            return int(f.read().split()[-1]) * 1024
    def wait4_rss(a):
        proc = subprocess.Popen(a, stdout=subprocess.DEVNULL)
        return os.wait4(proc.pid, 0)[2].ru_maxrss * 1024
    return max(0, wait4_rss(argv) - wait4_rss(["true"]))

print("   peak RSS read with %s" %
      ("GNU time" if os.access("/usr/bin/time", os.X_OK) else "wait4, less the launcher"))
results = {}
for name, argv in tools:
    wall_time(argv)  # warm the page cache and the binary
    wall = statistics.median(wall_time(argv) for _ in range(runs))
    rss = max(peak_rss(argv) for _ in range(3))
    results[name] = (wall, rss)

mb = size / 1e6
base = results["jsxc"][0]
print("   %-8s %10s %10s %10s %9s %12s" % ("tool", "median s", "MB/s", "peak RSS", "RSS/in", "time/jsxc"))
for name, _ in tools:
    wall, rss = results[name]
    print("   %-8s %10.4f %10.1f %9.1fM %8.2fx %11.2fx" %
          (name, wall, mb / wall, rss / 1e6, rss / size, wall / base))

wall, rss = results["jsxc"]
speed = mb / wall
print()
print("== jsxc targets")
print("   throughput %.1f MB/s (target >= 250): %s" % (speed, "met" if speed >= 250 else "NOT met"))
print("   peak RSS %.2fx the input (target < 8x): %s" %
      (rss / size, "met" if rss < 8 * size else "NOT met"))
EOF
