#!/usr/bin/env bash
# CPU time per echo request, Quillon beside mtr, on the same lab path in one run (root only).
# Each runs in the lab's client namespace, one after the other: Quillon with a page connected,
# Quillon without one, then mtr. Each gets WARMUP seconds to start and discover the path, then
# is measured for SECONDS: the echo requests counted where they leave the client (an nftables
# counter), the CPU time of the program and everything it started read from a cgroup of its own
# (cpuacct on cgroup v1, cpu.stat on v2), and the context switches of its threads (wake-ups,
# voluntary and involuntary; threads that end within the window are missed). The page's reader
# is not counted: it stands for the browser. The whole run, start-up included, is printed
# beside the steady state.
#
#   bench/lab_cpu_per_probe.sh QUILLON_BINARY [SECONDS [WARMUP]]   (default 60 s after 30 s)
set -euo pipefail

bin=${1:?usage: lab_cpu_per_probe.sh QUILLON_BINARY [SECONDS [WARMUP]]}
seconds=${2:-60}
warmup=${3:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
lab="$root/scripts/lab"
client=qlab-client
table=qbench

if [ "$(id -u)" -ne 0 ]; then
    echo "lab CPU benchmark skipped: it needs root to build the network namespaces"
    exit 0
fi
command -v mtr >/dev/null || { echo "lab CPU benchmark skipped: mtr is not installed"; exit 0; }

# A cgroup that counts CPU time in nanoseconds, on either cgroup version.
if [ -f /sys/fs/cgroup/cgroup.controllers ]; then
    group=/sys/fs/cgroup/qbench.$$
    usage_ns() { echo $(($(sed -nE 's/^usage_usec ([0-9]+)/\1/p' "$group/cpu.stat") * 1000)); }
elif [ -d /sys/fs/cgroup/cpuacct ]; then
    group=/sys/fs/cgroup/cpuacct/qbench.$$
    usage_ns() { cat "$group/cpuacct.usage"; }
else
    echo "lab CPU benchmark skipped: no cgroup CPU accounting on this machine"
    exit 0
fi

in_client() { ip netns exec "$client" "$@"; }

"$lab" up >/dev/null
data=$(mktemp -d)
cleanup() {
    in_client nft delete table inet "$table" 2>/dev/null || true
    rmdir "$group" 2>/dev/null || true
    rm -rf "$data"
    "$lab" down >/dev/null 2>&1 || true
}
trap cleanup EXIT
mkdir "$group"

# A named counter: nft resets those, not the anonymous counter of a rule.
in_client nft add table inet "$table"
in_client nft add counter inet "$table" echoes
in_client nft add chain inet "$table" out '{ type filter hook output priority 0; }'
in_client nft add rule inet "$table" out icmp type echo-request counter name echoes

requests() {
    in_client nft list counter inet "$table" echoes | sed -nE 's/.*packets ([0-9]+).*/\1/p'
}
reset_counter() { in_client nft reset counter inet "$table" echoes >/dev/null; }
# Context switches so far of every thread of every process in the cgroup.
switches() {
    local total=0 pid task n
    for pid in $(cat "$group/cgroup.procs"); do
        for task in /proc/"$pid"/task/*; do
            n=$(awk '/ctxt_switches/ { s += $2 } END { print s + 0 }' "$task/status" 2>/dev/null)
            total=$((total + ${n:-0}))
        done
    done
    echo "$total"
}

declare -a rows
# Runs a command in the client namespace inside the cgroup, in the background; sets $pid.
# The cgroup is joined before entering the namespace, whose /sys has no cgroups; the program
# ends up with this very process id, so a signal to $pid reaches it.
start_in_group() {
    reset_counter
    started=$(usage_ns)
    sh -c 'echo $$ >"$1/cgroup.procs"; shift; exec ip netns exec "$@"' sh "$group" "$client" "$@" &
    pid=$!
}
# Measures the running program for $seconds after $warmup, then ends it. NAME names the row.
measure() {
    local name=$1 before count after total total_requests switched
    sleep "$warmup"
    total_requests=$(requests)
    reset_counter
    switched=$(switches)
    before=$(usage_ns)
    sleep "$seconds"
    after=$(usage_ns)
    count=$(requests)
    switched=$(($(switches) - switched))
    kill -INT "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    total=$(usage_ns)
    rows+=("$name $(((after - before) / 1000)) $count $(((total - started) / 1000)) $((total_requests + count)) $((switched * 60 / seconds))")
}

# Quillon, with a page following its messages when $1 is "page".
run_quillon() {
    local out="$data/quillon.out" reader=""
    rm -rf "$data/state"
    start_in_group "$bin" --headless --interface c0 --listen 127.0.0.1:0 \
        --data-dir "$data/state" >"$out" 2>&1
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
    measure "quillon$([ "$1" = page ] && echo +page || true)"
    if [ -n "$reader" ]; then
        kill "$reader" 2>/dev/null || true
        wait "$reader" 2>/dev/null || true
    fi
}

run_quillon page
run_quillon none
start_in_group mtr -n -r -c $((warmup + seconds + 10)) -i 1 1.1.1.1 >/dev/null 2>&1
measure mtr

echo "CPU per echo request on the lab path: ${seconds} s measured after ${warmup} s of start-up"
printf '%-14s %10s %9s %11s %7s %11s   %s\n' program "cpu ms" requests "us/request" "vs mtr" \
    "wakeups/min" "(whole run: cpu ms, requests, us/request)"
per() { awk -v c="$1" -v n="$2" 'BEGIN { printf "%.0f", (n > 0 ? c / n : 0) }'; }
read -r _ mtr_cpu mtr_count _ <<<"${rows[2]}"
mtr_per=$(per "$mtr_cpu" "$mtr_count")
for row in "${rows[@]}"; do
    read -r name cpu count total total_count wakeups <<<"$row"
    steady=$(per "$cpu" "$count")
    awk -v n="$name" -v c="$cpu" -v k="$count" -v p="$steady" -v m="$mtr_per" -v w="$wakeups" \
        -v t="$total" -v tk="$total_count" -v tp="$(per "$total" "$total_count")" 'BEGIN {
        printf "%-14s %10.1f %9d %11d %7.2f %11d   (%.1f, %d, %d)\n",
               n, c / 1000, k, p, (m > 0 ? p / m : 0), w, t / 1000, tk, tp }'
done
