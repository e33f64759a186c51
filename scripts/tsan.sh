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
engine='NmeaReader.ThreadedReadMatchesSingleThread:LogCut.*:ChunkedLineFeed.*:ChunkedWriting.*'
engine+=':MakeChunksInOrder.*:GeoDistance.DistanceOnlyAlongATrackIsBitIdentical'
"$build/tests/engine_tests" --gtest_filter="$engine" --gtest_brief=1
"$build/tests/zip_tests" --gtest_filter='ParallelDeflate.*:DeflatePipeline.*' --gtest_brief=1
