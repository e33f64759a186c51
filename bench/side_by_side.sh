#!/usr/bin/env bash
# Runs Trailsmith (unattended, /Q, no display) and gpsbabel on the same synthetic NMEA logs and
# prints wall time and peak memory of each, with the ratios to gpsbabel: "time 1/x" means ours took
# 1/x of gpsbabel's time, "peak" is ours over gpsbabel's. The largest log is also converted to KMZ
# on two processors (taskset -c 0,1). No pass or fail: the figures are for reading.
#   bench/side_by_side.sh [BUILD_DIR]
# Environment: SIZES (epochs, default "300000 1000000"), REPEATS (best of, default 3),
# GB_REPEATS (gpsbabel runs, default 1: it takes a minute per million epochs), CPUS (a taskset
# list for Trailsmith's runs, e.g. 0,1), KEEP_WORK (keep the work folder).
# A release build with TRAILSMITH_BENCH=ON is made or brought up to date in BUILD_DIR (default build-bench).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build-bench}"
sizes="${SIZES:-300000 1000000}"
repeats="${REPEATS:-3}"
gbRepeats="${GB_REPEATS:-1}"
# Always brought up to date, so that the figures are the tree's as it is.
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRAILSMITH_TESTS=OFF -DTRAILSMITH_BENCH=ON >/dev/null
cmake --build "$build" --target trailsmith gen_nmea >/dev/null
command -v gpsbabel >/dev/null || { echo "gpsbabel is not installed" >&2; exit 1; }
work="$(mktemp -d)"
[ -n "${KEEP_WORK:-}" ] && echo "work folder: $work" || trap 'rm -rf "$work"' EXIT
pin=()
[ -n "${CPUS:-}" ] && pin=(taskset -c "$CPUS")

# best N PREPARE CMD...: N times, runs PREPARE (a function name, or ":") in a clean $work/out, then
# times CMD; prints "wall_s peak_kb": the fastest wall time and the smallest peak of the N runs.
best() {
  local n="$1" prepare="$2"; shift 2
  local bw="" bp="" w p t0 t1
  for ((i = 0; i < n; ++i)); do
    rm -rf "$work/out"; mkdir "$work/out"
    "$prepare"
    t0=$EPOCHREALTIME
    /usr/bin/time -f "%M" -o "$work/time" "$@" >"$work/log" 2>&1 || { cat "$work/log" >&2; return 1; }
    t1=$EPOCHREALTIME
    read -r p <"$work/time"
    w=$(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.4f", b-a}')
    if [ -z "$bw" ] || awk -v a="$w" -v b="$bw" 'BEGIN{exit !(a<b)}'; then bw="$w"; fi
    if [ -z "$bp" ] || [ "$p" -lt "$bp" ]; then bp="$p"; fi
  done
  echo "$bw $bp"
}

# Our input and settings for one run: $log converted to the output types in $types.
prepare_ours() {
  cp "$log" "$work/out/in.nmea"
  { printf '[Option]\r\n'
    for t in NMEA KMZ KML GPX CSV; do
      v=0; for w in $types; do [ "$w" = "$t" ] && v=1; done; printf '%sout=%s\r\n' "$t" "$v"
    done; } >"$work/out/s.ini"
}
ours() {  # TYPES: best of $repeats unattended runs on $log
  types="$1"
  best "$2" prepare_ours env -u DISPLAY -u WAYLAND_DISPLAY ${pin[@]+"${pin[@]}"} \
    "$build/app/trailsmith" "$work/out/s.ini" /Q "$work/out/in.nmea"
}

row() {  # label ours_w ours_p [gb_w gb_p]
  local mib=$(( $3 / 1024 ))
  if [ $# -gt 3 ]; then
    awk -v l="$1" -v w="$2" -v p="$mib" -v gw="$4" -v gp="$(( $5 / 1024 ))" 'BEGIN{
      printf "%-30s %8.3f s %6d MiB | %8.3f s %6d MiB | time 1/%-6.1f peak %.2f\n", l, w, p, gw, gp, (w>0?gw/w:0), (gp>0?p/gp:0) }'
  else
    awk -v l="$1" -v w="$2" -v p="$mib" 'BEGIN{ printf "%-30s %8.3f s %6d MiB |\n", l, w, p }'
  fi
}

printf "%-30s %20s | %20s | %s\n" workload "ours: wall, peak" "gpsbabel: wall, peak" "ratios (time, peak)"
for n in $sizes; do
  log="$work/log$n.nmea"
  "$build/bench/gen_nmea" "$log" "$n"
  read -r gpxW gpxP < <(best "$gbRepeats" : gpsbabel -i nmea -f "$log" -o gpx -F "$work/out/b.gpx")
  read -r kmlW kmlP < <(best "$gbRepeats" : gpsbabel -i nmea -f "$log" -o kml -F "$work/out/b.kml")
  for t in GPX KML KMZ; do
    read -r w p < <(ours "$t" "$repeats")
    if [ "$t" = GPX ]; then row "$n epochs to $t" "$w" "$p" "$gpxW" "$gpxP"
    else row "$n epochs to $t (vs KML)" "$w" "$p" "$kmlW" "$kmlP"; fi
  done
  echo "  (peak target: below gpsbabel's GPX peak, $(( gpxP / 1024 )) MiB)"
done

if command -v taskset >/dev/null && [ -z "${CPUS:-}" ] && [ -n "${log:-}" ]; then
  pin=(taskset -c 0,1)
  read -r w p < <(ours KMZ "$repeats")
  pin=()
  row "$n epochs to KMZ, 2 cores" "$w" "$p" "$kmlW" "$kmlP"
fi

sample="${TS_SHARED_DIR:-/work/shared}/testdata/sample.nmea"
if [ -f "$sample" ]; then
  log="$sample"
  read -r gw gp < <(best "$((repeats * 3))" : gpsbabel -i nmea -f "$sample" -o gpx -F "$work/out/b.gpx")
  read -r w p < <(ours GPX "$((repeats * 3))")
  row "sample /Q to GPX" "$w" "$p" "$gw" "$gp"
  read -r w p < <(ours KMZ "$((repeats * 3))")
  row "sample /Q to KMZ" "$w" "$p" "$gw" "$gp"
fi
