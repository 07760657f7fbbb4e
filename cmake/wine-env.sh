#!/bin/sh
# Starts or stops the test platform: a private Wine prefix under the build tree (created on
# first use), its wineserver kept alive for the run, and an Xvfb display of its own.
#   wine-env.sh start STATE_DIR | wine-env.sh stop STATE_DIR
set -eu
action=$1
mkdir -p "$2"
state=$(cd "$2" && pwd)
wine_dir=/usr/lib/wine
export WINEPREFIX="$state/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

stop() {
    if [ -d "$WINEPREFIX" ]; then
        "$wine_dir/wineserver" -k 2>/dev/null || true
        "$wine_dir/wineserver" -w 2>/dev/null || true
    fi
    if [ -s "$state/xvfb.pid" ]; then
        kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    fi
    rm -f "$state/xvfb.pid" "$state/display"
}

start() {
    stop
    fifo="$state/display.fifo"
    rm -f "$fifo" && mkfifo "$fifo"
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$fifo" >/dev/null 2>&1 &
    echo $! >"$state/xvfb.pid"
    read -r display <"$fifo"
    rm -f "$fifo"
    echo "$display" >"$state/display"
    export DISPLAY=":$display"
    mkdir -p "$WINEPREFIX"
    "$wine_dir/wineserver" -p >/dev/null 2>&1 </dev/null
    if [ ! -f "$state/prefix.ready" ]; then
        "$wine_dir/wine64" wineboot -i >/dev/null 2>&1
        touch "$state/prefix.ready"
    fi
    "$wine_dir/wine64" cmd /c exit >/dev/null 2>&1
}

case "$action" in
start) start ;;
stop) stop ;;
*) echo "usage: $0 start|stop STATE_DIR" >&2; exit 2 ;;
esac
