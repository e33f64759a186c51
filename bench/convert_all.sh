#!/usr/bin/env bash
# The reference workload: a synthetic one-million-epoch NMEA log converted unattended to every
# output type. Prints the wall time and peak memory of the conversion.
#   bench/convert_all.sh [EPOCHS]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
epochs="${1:-1000000}"
build="$here/build-bench"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRAILSMITH_TESTS=OFF -DTRAILSMITH_BENCH=ON >/dev/null
cmake --build "$build" --target trailsmith gen_nmea >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/bench/gen_nmea" "$work/big.nmea" "$epochs"
printf '[Option]\r\nKMZout=1\r\nKMLout=1\r\nGPXout=1\r\nCSVout=1\r\nNMEAout=1\r\n' > "$work/bench.ini"
/usr/bin/time -f "wall %e s, peak %M KB" env -u DISPLAY -u WAYLAND_DISPLAY \
  "$build/app/trailsmith" "$work/bench.ini" /Q "$work/big.nmea" | grep -E 'Make:|Made:|Error'
