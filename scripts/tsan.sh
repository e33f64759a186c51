#!/usr/bin/env bash
# Builds the engine and archive tests with ThreadSanitizer and runs the ones that drive the worker
# threads (threaded reading, chunked writing, deflating along and in parallel), so that a data race
# fails the run.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TSAN_BUILD:-$here/build-tsan}"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAILSMITH_TSAN=ON \
  -DTRAILSMITH_TESTS=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target engine_tests zip_tests >/dev/null
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
# Runs PROGRAM with FILTER; every pattern of the filter must name at least one test, so that a
# renamed test cannot leave this run passing with nothing run.
run_selected() {
  local program="$1" filter="$2" pattern
  for pattern in ${filter//:/ }; do
    if ! "$program" --gtest_filter="$pattern" --gtest_list_tests | grep -q '^  '; then
      echo "tsan: no test matches $pattern" >&2
      return 1
    fi
  done
  "$program" --gtest_filter="$filter" --gtest_brief=1
}
engine='NmeaReader.ThreadedReadMatchesSingleThread:LogCut.*:ChunkedLineFeed.*:ChunkedWriting.*'
engine+=':MakeChunksInOrder.*:GeoDistance.DistanceOnlyAlongATrackIsBitIdentical'
run_selected "$build/tests/engine_tests" "$engine"
run_selected "$build/tests/zip_tests" 'ParallelDeflate.*:DeflatePipeline.*'
