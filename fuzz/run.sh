#!/usr/bin/env bash
# Runs one fuzz harness with libFuzzer: fuzz/run.sh NAME SECONDS [more libFuzzer flags].
# Builds the harnesses with clang into build-fuzz/ (FUZZ_BUILD to change) when needed. New inputs
# go to build-fuzz/fuzz-work/NAME/corpus, findings to .../artifacts; the seed corpus fuzz/corpus/NAME
# and, for the log harnesses, the shared test logs (when present) are read only.
# Workers: FUZZ_WORKERS (2). A crash, a hang (-timeout), running out of memory or a leak fails the run.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ $# -lt 2 ]; then
  echo "usage: fuzz/run.sh NAME SECONDS [libFuzzer flags]" >&2
  exit 2
fi
name="$1" seconds="$2"
shift 2
build="${FUZZ_BUILD:-$here/build-fuzz}"
if [ -z "${FUZZ_NO_BUILD:-}" ]; then
  if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTRAILSMITH_FUZZ=ON -DTRAILSMITH_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" --target "fuzz_$name" >/dev/null
fi
bin="$build/fuzz/fuzz_$name"
[ -x "$bin" ] || { echo "no harness $name" >&2; exit 2; }

work="$build/fuzz-work/$name"
mkdir -p "$work/corpus" "$work/artifacts"
dirs=("$work/corpus" "$here/fuzz/corpus/$name")
shared="$here/../shared/testdata"
case "$name" in
  log_*|kmz) [ -d "$shared" ] && dirs+=("$shared") ;;
esac

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
exec "$bin" -fork="${FUZZ_WORKERS:-2}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=65536 -ignore_timeouts=0 -ignore_ooms=0 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$@" "${dirs[@]}"
