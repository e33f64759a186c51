#!/usr/bin/env bash
# Converts the one-million-epoch NMEA log to GPX with Trailsmith's engine and with gpsbabel on the
# same machine, and prints wall time and peak memory of each.
#   bench/gpx_vs_gpsbabel.sh [BUILD_DIR]   (a release build with TRAILSMITH_BENCH=ON)
set -euo pipefail
build="${1:-build-release}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
"$build/bench/gen_nmea" "$work/in/log.nmea" 1000000
measure() {  # label, command...
  local label="$1"; shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>"$work/err" || { cat "$work/err"; return 1; }
  read -r secs kb <"$work/time"
  printf '%-28s %8.2f s  %8d MB peak\n' "$label" "$secs" $((kb / 1024))
}
measure "gpsbabel -i nmea -o gpx" gpsbabel -i nmea -f "$work/in/log.nmea" -o gpx -F "$work/babel.gpx"
TS_BENCH_NMEA="$work/in/log.nmea" measure "Trailsmith NMEA to GPX" \
  "$build/bench/text_writers_bench" --benchmark_filter=BM_ConvertNmeaToGpx
grep -q "no NMEA reader" "$work/out" "$work/err" && echo "(Trailsmith: no NMEA reader registered yet)" || true
