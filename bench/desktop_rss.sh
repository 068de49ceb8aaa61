#!/usr/bin/env bash
# Start-up time of the desktop front end, and its memory beside the headless one's, on the same
# simulated healthy home in one run. Memory: each runs for SECONDS, then the resident set (VmRSS), its peak (VmHWM) and its
# anonymous part (RssAnon, what the process itself allocated; the rest is mostly the shared
# libraries' pages) of the quillon process itself are read. The desktop runs on a private Xvfb
# with its window shown and the page loaded; WebKit's web and network processes are printed
# apart, not counted: they stand for the browser that shows the headless front end's page.
#
#   bench/desktop_rss.sh QUILLON_BINARY [SECONDS]   (default 30 s)
set -euo pipefail

bin=${1:?usage: desktop_rss.sh QUILLON_BINARY [SECONDS]}
seconds=${2:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
world="$root/tests/scenario/worlds/healthy_home.json"
command -v Xvfb >/dev/null || { echo "desktop memory benchmark skipped: Xvfb is not installed"; exit 0; }

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

kib() { awk -v k="$2" '$1 == k":" { print $2 }' "/proc/$1/status"; }

# The resident sets of a process's descendants whose name starts with WebKit.
webkit_kib() {
    ps -e -o pid=,ppid=,rss=,comm= | awk -v top="$1" '
        { parent[$1] = $2; rss[$1] = $3; name[$1] = $4 }
        END {
            for (p in name) {
                if (name[p] !~ /^WebKit/) continue
                for (a = parent[p]; a > 1; a = parent[a]) if (a == top) { total += rss[p]; break }
            }
            print total + 0
        }'
}

measure() {
    local label=$1 pid=$2
    sleep "$seconds"
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "$label: quillon ended early"
        return
    fi
    # RssAnon: the process's own memory, without the shared libraries' mapped pages.
    printf '%-10s quillon VmRSS %6d KiB  VmHWM %6d KiB  RssAnon %6d KiB' "$label" \
        "$(kib "$pid" VmRSS)" "$(kib "$pid" VmHWM)" "$(kib "$pid" RssAnon)"
    [ "$label" = desktop ] && printf '  (WebKit processes, not counted: %d KiB)' "$(webkit_kib "$pid")"
    echo
    kill "$pid"
    wait "$pid" 2>/dev/null || true
}

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
display=":$(head -n 1 "$work/display")"

# Start-up of the desktop front end, WebKit's own start included: from the program started to the
# page loaded in the window, when the first network state is posted to it (the log's "WebView2
# ready", whose time the log gives to the millisecond). The first run's files are cold.
startup() {
    local data=$1 start ready= pid
    start=$(date +%s%3N)
    DISPLAY=$display NO_AT_BRIDGE=1 GDK_BACKEND=x11 "$bin" --simulate "$world" --data-dir "$data" \
        >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 500); do
        ready=$(cat "$data"/Logs/*.log 2>/dev/null | sed -nE 's/^\[([0-9T:.-]+)\] \[INFO\] WebView2 ready\r?$/\1/p' | head -n 1)
        [ -n "$ready" ] && break
        sleep 0.02
    done
    kill "$pid" && wait "$pid" 2>/dev/null || true
    if [ -n "$ready" ]; then echo "$(( $(date -d "$ready" +%s%3N) - start )) ms"; else echo "no page within 10 s"; fi
}
for run in 1 2 3; do
    echo "desktop    start-up to the first network state, run $run: $(startup "$work/start$run")"
done

DISPLAY=$display NO_AT_BRIDGE=1 GDK_BACKEND=x11 "$bin" --simulate "$world" --data-dir "$work/desktop" \
    >/dev/null 2>&1 &
pids+=($!)
measure desktop $!

"$bin" --headless --simulate "$world" --data-dir "$work/headless" >/dev/null 2>&1 &
pids+=($!)
measure headless $!
