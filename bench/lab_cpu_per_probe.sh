#!/usr/bin/env bash
# CPU time per echo request, Quillon beside mtr, on the same lab path in one run (root only).
# Each runs for the same time in the lab's client namespace, one after the other: Quillon with a
# page connected, Quillon without one, then mtr. The echo requests are counted where they leave
# the client (an nftables counter), the CPU time of each program and everything it started
# with the shell's `times`. Prints one table with microseconds per request and the ratio.
#
#   bench/lab_cpu_per_probe.sh QUILLON_BINARY [SECONDS]     (default 60 s each)
set -euo pipefail

bin=${1:?usage: lab_cpu_per_probe.sh QUILLON_BINARY [SECONDS]}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
lab="$root/scripts/lab"
client=qlab-client
table=qbench

if [ "$(id -u)" -ne 0 ]; then
    echo "lab CPU benchmark skipped: it needs root to build the network namespaces"
    exit 0
fi
command -v mtr >/dev/null || { echo "lab CPU benchmark skipped: mtr is not installed"; exit 0; }

in_client() { ip netns exec "$client" "$@"; }

"$lab" up >/dev/null
data=$(mktemp -d)
cleanup() {
    in_client nft delete table inet "$table" 2>/dev/null || true
    rm -rf "$data"
    "$lab" down >/dev/null 2>&1 || true
}
trap cleanup EXIT

in_client nft add table inet "$table"
in_client nft add chain inet "$table" out '{ type filter hook output priority 0; }'
in_client nft add rule inet "$table" out icmp type echo-request counter

requests() {
    in_client nft list chain inet "$table" out | sed -nE 's/.*counter packets ([0-9]+).*/\1/p'
}
reset_counter() { in_client nft reset counters table inet "$table" >/dev/null; }

# Runs a command in the client namespace; CPU_FILE receives the CPU seconds (user + system) of
# it and everything it started, as the shell that waited for them counts them.
timed() {
    in_client bash -c '"$@"; times >"$CPU_FILE"' timed "$@"
}
cpu_of_last() {
    tail -n 1 "$CPU_FILE" | awk '{
        split($1, u, /[ms]/); split($2, s, /[ms]/);
        printf "%.6f", u[1] * 60 + u[2] + s[1] * 60 + s[2] }'
}
export CPU_FILE="$data/cpu"

declare -a rows
measure() {  # NAME: the run just ended
    local name=$1 cpu count
    cpu=$(cpu_of_last)
    count=$(requests)
    rows+=("$name $cpu $count")
}

# Quillon, with a page following its messages when $1 is "page".
run_quillon() {
    local out="$data/quillon.out" reader=""
    rm -rf "$data/state"
    timed timeout -s INT "$seconds" "$bin" --headless --interface c0 \
        --listen 127.0.0.1:0 --data-dir "$data/state" >"$out" 2>&1 &
    local app=$!
    if [ "$1" = page ]; then
        local url=""
        for _ in $(seq 50); do
            url=$(grep -o 'http://127\.0\.0\.1:[0-9]*/?token=[0-9a-f]*' "$out" | head -n 1 || true)
            [ -n "$url" ] && break
            sleep 0.1
        done
        in_client node "$root/tests/lab/read_events.mjs" "$url" >/dev/null 2>&1 &
        reader=$!
    fi
    wait "$app" || true
    if [ -n "$reader" ]; then
        kill "$reader" 2>/dev/null || true
        wait "$reader" 2>/dev/null || true
    fi
}

reset_counter
run_quillon page
measure "quillon+page"
reset_counter
run_quillon none
measure "quillon"
reset_counter
timed timeout -s INT "$seconds" mtr -n -r -c "$seconds" -i 1 1.1.1.1 >/dev/null 2>&1 || true
measure "mtr"

echo "CPU per echo request on the lab path, ${seconds} s each"
printf '%-14s %10s %10s %14s %8s\n' program "cpu s" requests "us/request" "vs mtr"
mtr_per=$(awk -v r="${rows[2]}" 'BEGIN { split(r, f, " "); print (f[3] > 0 ? f[2] / f[3] * 1e6 : 0) }')
for row in "${rows[@]}"; do
    awk -v r="$row" -v m="$mtr_per" 'BEGIN {
        split(r, f, " "); per = f[3] > 0 ? f[2] / f[3] * 1e6 : 0;
        printf "%-14s %10.3f %10d %14.0f %8.2f\n", f[1], f[2], f[3], per, (m > 0 ? per / m : 0) }'
done
