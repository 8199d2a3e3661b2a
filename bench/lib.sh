# Sourced by the bench scripts (ROOT set to the project root first).
#
# bench_program GIVEN TARGET PATH: prints the absolute path of the program to time:
# GIVEN when the caller named one, else PATH of the Release build in build-bench,
# built first if it is missing. Exits when there is no such program.
bench_program() {
  local given=$1 target=$2 path=$3
  if [ -z "$given" ]; then
    given="$ROOT/build-bench/$path"
    if [ ! -x "$given" ]; then
      cmake -S "$ROOT" -B "$ROOT/build-bench" -DCMAKE_BUILD_TYPE=Release -DNUBRIX_TESTS=OFF >/dev/null
      cmake --build "$ROOT/build-bench" -j 2 --target "$target" >/dev/null
    fi
  fi
  [ -x "$given" ] || { echo "no $target at $given" >&2; exit 1; }
  echo "$(cd "$(dirname "$given")" && pwd)/$(basename "$given")"
}
