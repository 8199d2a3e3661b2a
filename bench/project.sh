#!/usr/bin/env bash
# Whole-tree speed of a project build, `jsxc SRC_DIR OUT_DIR`, over lodash-es (644
# ES-module files, about 650 KB), side by side in one run on one machine with:
#   - `cp -r` of the same tree,
#   - jsxc from scratch (no OUT_DIR) and jsxc rebuilding with nothing changed,
#   - esbuild compiling the same files to CommonJS in one process.
# lodash-es and esbuild are installed from npm once into a cache folder (default
# build-bench/npm-cache, not committed) and reused by later runs. Every timed run starts
# after `sync`, with the sources in the page cache; the runs of the tools alternate, so
# that a change in the machine's load touches them all alike.
#
# Usage: bench/project.sh [JSXC]   (default: build-bench/jsxc, built in Release if missing)
# Environment: RUNS (default 11), CACHE (the npm cache folder), KEEP=1 keeps the work folder.
#
# Prints the median wall time and CPU time of each, the ratios to `cp -r`, and the
# targets (on wall time): from scratch <= 1.5 x cp -r, no-change rebuild <= 0.5 x cp -r.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${RUNS:-11}
CACHE=${CACHE:-$ROOT/build-bench/npm-cache}
. "$ROOT/bench/lib.sh"
JSXC=$(bench_program "${1:-}" jsxc jsxc)

if [ ! -f "$CACHE/node_modules/lodash-es/lodash.js" ] || [ ! -d "$CACHE/node_modules/esbuild" ]; then
  echo "== installing lodash-es and esbuild from npm into $CACHE"
  mkdir -p "$CACHE"
  (cd "$CACHE" && npm init -y >/dev/null &&
    npm install --no-audit --no-fund --silent lodash-es@4 esbuild >/dev/null)
fi
ESBUILD="$CACHE/node_modules/@esbuild/linux-x64/bin/esbuild"
[ -x "$ESBUILD" ] || ESBUILD="$CACHE/node_modules/.bin/esbuild"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/jsxc-project-bench-XXXXXX")
if [ "${KEEP:-0}" = 1 ]; then
  echo "work folder: $WORK"
else
  trap 'rm -rf "$WORK"' EXIT
fi
cd "$WORK"
cp -r "$CACHE/node_modules/lodash-es" src
# Sources older than the compiler's racy window, as in a real tree: a source changed in
# the last seconds is always compiled again.
find src -exec touch -d '1 hour ago' {} +
FILES=$(find src -name '*.js' | wc -l)
BYTES=$(find src -name '*.js' -exec cat {} + | wc -c)
echo "== input: lodash-es $(node -p 'require("./src/package.json").version'), $FILES .js files, $BYTES bytes (the tree: $(du -sb src | cut -f1) bytes)"

# The build must succeed and equal the single-file results.
"$JSXC" src out >/dev/null
for f in lodash.js map.js _baseClone.js; do
  "$JSXC" "src/$f" single.js
  cmp -s single.js "out/$f" || { echo "out/$f differs from the single-file result" >&2; exit 1; }
done
rm -rf out single.js

echo
echo "== versions"
echo "   jsxc     $JSXC ($(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown))"
echo "   esbuild  $("$ESBUILD" --version)"
echo "   cp       $(cp --version | head -1)"
echo "   machine  $(nproc) cores, $(uname -sr), load $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "== $RUNS runs each, median wall time"
python3 - "$RUNS" "$JSXC" "$ESBUILD" <<'EOF'
import glob, os, shutil, statistics, subprocess, sys, time

runs, jsxc, esbuild = int(sys.argv[1]), sys.argv[2], sys.argv[3]
sources = sorted(glob.glob("src/**/*.js", recursive=True))

def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)

def built(folder):
    # A finished build to rebuild over.
    if not os.path.isdir(folder):
        subprocess.check_call([jsxc, "src", folder], stdout=subprocess.DEVNULL)

# name, set-up (not timed), command
tools = [
    ("cp -r", lambda: fresh("cp-out"), ["cp", "-r", "src", "cp-out"]),
    ("jsxc", lambda: fresh("out"), [jsxc, "src", "out"]),
    ("jsxc no-change", lambda: built("out-again"), [jsxc, "src", "out-again"]),
    ("esbuild", lambda: fresh("esbuild-out"),
     [esbuild] + sources + ["--outdir=esbuild-out", "--format=cjs", "--log-level=error"]),
]

times = {name: [] for name, _, _ in tools}
cpu = {name: [] for name, _, _ in tools}
for name, setup, argv in tools:  # one warm-up run each
    setup()
    subprocess.check_call(argv, stdout=subprocess.DEVNULL)
for _ in range(runs):
    for name, setup, argv in tools:
        setup()
        os.sync()
        start = time.perf_counter()
        proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - start
        if status != 0:
            sys.exit("%s failed with status %d" % (name, status))
        times[name].append(wall)
        cpu[name].append(usage.ru_utime + usage.ru_stime)

cp = statistics.median(times["cp -r"])
cp_cpu = statistics.median(cpu["cp -r"])
# CPU time (user + system) is less disturbed by other work on the machine than wall time.
print("   %-15s %10s %10s %10s %10s %10s" %
      ("tool", "median ms", "min ms", "x cp -r", "CPU ms", "CPU x cp"))
for name, _, _ in tools:
    med = statistics.median(times[name])
    c = statistics.median(cpu[name])
    print("   %-15s %10.1f %10.1f %10.2f %10.1f %10.2f" %
          (name, med * 1e3, min(times[name]) * 1e3, med / cp, c * 1e3, c / cp_cpu))

print()
print("== targets")
scratch = statistics.median(times["jsxc"]) / cp
again = statistics.median(times["jsxc no-change"]) / cp
print("   from scratch %.2f x cp -r (target <= 1.5): %s" % (scratch, "met" if scratch <= 1.5 else "NOT met"))
print("   no-change rebuild %.2f x cp -r (target <= 0.5): %s" % (again, "met" if again <= 0.5 else "NOT met"))
EOF
