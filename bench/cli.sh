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
# set size (the largest of 3 runs) and the ratio to jsxc; then one small file (the
# lodash-es module nearest 3 KB) and the per-file loop over all of lodash-es, each
# beside `cp` of the same files, runs interleaved; then the jsxc targets (the large
# file in at most 3x the time of `cp` and 3x its size in peak memory, the small file
# and the loop no dearer than `cp`).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${RUNS:-7}
TARGET_MB=${TARGET_MB:-5}
. "$ROOT/bench/lib.sh"
JSXC=$(bench_program "${1:-}" jsxc jsxc)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/jsxc-bench-XXXXXX")
if [ "${KEEP:-0}" = 1 ]; then
  echo "work folder: $WORK"
else
  trap 'rm -rf "$WORK"' EXIT
fi
cd "$WORK"

echo "== installing the inputs and the peers from npm"
npm init -y >/dev/null
npm install --no-audit --no-fund --silent lodash lodash-es underscore moment jquery async esbuild \
  sucrase \
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

# Small files: process start-up and the write dominate. The lodash-es modules are the
# inputs; the one nearest 3 KB is the single small file.
import glob
modules = sorted(glob.glob("node_modules/lodash-es/*.js"))
small = min(modules, key=lambda f: (abs(os.path.getsize(f) - 3000), f))
os.makedirs("out/loop", exist_ok=True)

def loop(tool, files):
    start = time.perf_counter()
    for f in files:
        out = "out/loop/" + os.path.basename(f)
        status = subprocess.call(["cp", f, out] if tool == "cp" else [tool, f, out],
                                 stdout=subprocess.DEVNULL)
        if status != 0:
            sys.exit("%s failed on %s with status %d" % (tool, f, status))
    return time.perf_counter() - start

def side_by_side(files, rounds):
    times = {"cp": [], "jsxc": []}
    for _ in range(rounds):
        for name, tool in (("cp", "cp"), ("jsxc", jsxc)):
            times[name].append(loop(tool, files))
    return {name: statistics.median(v) for name, v in times.items()}

print()
small_runs = 200
t = side_by_side([small] * small_runs, runs)
print("== one small file: %s (%d bytes), %d runs in a row, median of %d" %
      (small, os.path.getsize(small), small_runs, runs))
print("   cp %.3f ms a run, jsxc %.3f ms a run: %.2fx" %
      (1000 * t["cp"] / small_runs, 1000 * t["jsxc"] / small_runs, t["jsxc"] / t["cp"]))
small_ratio = t["jsxc"] / t["cp"]
t = side_by_side(modules, max(3, runs // 2))
print("== per-file loop over lodash-es (%d files), median of %d" % (len(modules), max(3, runs // 2)))
print("   cp %.0f ms, jsxc %.0f ms: %.2fx" % (1000 * t["cp"], 1000 * t["jsxc"], t["jsxc"] / t["cp"]))
loop_ratio = t["jsxc"] / t["cp"]

wall, rss = results["jsxc"]
speed = mb / wall
cp_wall = results["cp"][0]
def verdict(ok):
    return "met" if ok else "NOT met"
print()
print("== jsxc targets")
print("   large file: %.2fx the time of cp (target <= 3x): %s" %
      (wall / cp_wall, verdict(wall <= 3 * cp_wall)))
print("   large file: peak RSS %.2fx the input (target <= 3x): %s" %
      (rss / size, verdict(rss <= 3 * size)))
print("   small file: %.2fx cp (target <= 1.0x): %s" % (small_ratio, verdict(small_ratio <= 1.0)))
print("   lodash-es loop: %.2fx the cp loop (target <= 1.0x): %s" %
      (loop_ratio, verdict(loop_ratio <= 1.0)))
print("   throughput %.1f MB/s" % speed)
EOF
