#!/usr/bin/env bash
# Runs a test program on a private X server with a real window manager, as users run the program:
# frames, placement and focus are then the manager's. Usage: run_under_wm.sh PROGRAM [ARGS...]
# WM_SCREEN sets the screen's size (1280x1024); WM_TOP_MARGIN keeps that many pixels at the top
# out of the work area, as a panel there does.
set -euo pipefail
work="$(mktemp -d)"
xpid="" wmpid=""
cleanup() {
    local rc=$?
    set +e
    for pid in $wmpid $xpid; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
    exit "$rc"
}
trap cleanup EXIT

# The server picks a free display itself and writes its number once it is listening, so parallel
# runs never share one.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 "${WM_SCREEN:-1280x1024}"x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xpid=$!
exec 3>&-
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xpid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

# The manager is ready once it has announced itself on the root window.
sed "/<margins>/,/<\/margins>/s|<top>[0-9]*</top>|<top>${WM_TOP_MARGIN:-0}</top>|" /etc/xdg/openbox/rc.xml >"$work/rc.xml"
HOME="$work" openbox --sm-disable --config-file "$work/rc.xml" >"$work/wm.log" 2>&1 &
wmpid=$!
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    kill -0 "$wmpid" 2>/dev/null || { cat "$work/wm.log" >&2; exit 1; }
    sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' || { echo "openbox did not start" >&2; exit 1; }

export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR="$work"
"$@"
