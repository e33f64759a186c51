#!/usr/bin/env bash
# Many outputs, and outputs into a crowded folder: a log that splits into thousands of blocks is
# converted unattended into an empty folder and into folders that already hold many files. A run's
# cost should grow with the files it makes, not with their square, and barely with what else the
# folder holds. Prints the wall time of each workload for each program (median of REPEATS), side by
# side; no pass or fail: the figures are for reading.
#   bench/crowded_folder.sh [PROGRAM...]
# PROGRAM: trailsmith executables to compare (default: the tree's Release build in build-bench,
# made or brought up to date). Environment: REPEATS (default 5), WORKLOADS (";"-separated
# "blocks crowd types" triples, types a ","-separated list of NMEA, KMZ, KML, GPX, CSV).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$here/build-bench"
repeats="${REPEATS:-5}"
workloads="${WORKLOADS:-4000 0 GPX;8000 0 GPX;3000 0 GPX,CSV;3000 20000 GPX,CSV;105 100000 GPX;300 20000 KMZ}"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRAILSMITH_TESTS=OFF -DTRAILSMITH_BENCH=ON >/dev/null
cmake --build "$build" --target trailsmith gen_nmea >/dev/null
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=("$build/app/trailsmith")
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Everything but the crowd, the log and the settings goes after a run.
clear_outputs() {
  find "$work/out" -maxdepth 1 -type f ! -name 'user*' ! -name in.nmea ! -name s.ini -delete
}

printf "%-34s" workload
for p in "${programs[@]}"; do printf " %14s" "$(basename "$(dirname "$(dirname "$p")")")"; done
echo
IFS=';' read -r -a list <<<"$workloads"
for w in "${list[@]}"; do
  read -r blocks crowd types <<<"$w"
  rm -rf "$work/out" && mkdir "$work/out"
  # Three epochs a block, ten minutes apart, split at thirty seconds.
  "$build/bench/gen_nmea" "$work/out/in.nmea" $((blocks * 3)) 3 600
  (cd "$work/out" && seq -f "user%06g.txt" 1 "$crowd" | xargs -r touch)
  { printf '[Option]\r\nSplitIT=0.5\r\n'
    for t in NMEA KMZ KML GPX CSV; do
      v=0; [[ ",$types," == *",$t,"* ]] && v=1; printf '%sout=%s\r\n' "$t" "$v"
    done; } >"$work/out/s.ini"
  printf "%-34s" "$blocks blocks $types into $crowd files"
  # The programs take turns, in one order and then the other, each run from a flushed disk: on a
  # disk whose flushes queue up, the runs that come later in a row pay for those before them.
  declare -A times=()
  for ((i = 0; i < repeats; ++i)); do
    order=("${programs[@]}")
    if ((i % 2)); then
      order=()
      for ((k = ${#programs[@]} - 1; k >= 0; --k)); do order+=("${programs[k]}"); done
    fi
    for p in "${order[@]}"; do
      clear_outputs
      sync
      t0=$EPOCHREALTIME
      env -u DISPLAY -u WAYLAND_DISPLAY APPDATA="$work/cfg" "$p" "$work/out/s.ini" /Q "$work/out/in.nmea" >/dev/null 2>&1 ||
        { echo " $p failed" >&2; exit 1; }
      times[$p]+=" $(awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN{printf "%.3f", b-a}')"
    done
  done
  for p in "${programs[@]}"; do
    # The median of the runs.
    printf " %12s s" "$(tr ' ' '\n' <<<"${times[$p]}" | sed '/^$/d' | sort -n | awk '{t[NR]=$1} END{print t[int((NR+1)/2)]}')"
  done
  unset times
  echo
done
