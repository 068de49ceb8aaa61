#!/usr/bin/env bash
# CPU time of one HTTPS service probe beside curl's, against the lab's web site, and memory per
# probe worker (root only; see lab_https_probe.cpp).
#
#   bench/lab_https_probe.sh LAB_HTTPS_PROBE_BINARY [COUNT]   (default 200 requests)
set -euo pipefail

bin=${1:?usage: lab_https_probe.sh LAB_HTTPS_PROBE_BINARY [COUNT]}
count=${2:-200}
root=$(cd "$(dirname "$0")/.." && pwd)
lab="$root/scripts/lab"

if [ "$(id -u)" -ne 0 ]; then
    echo "lab HTTPS probe benchmark skipped: it needs root to build the network namespaces"
    exit 0
fi
command -v curl >/dev/null || { echo "lab HTTPS probe benchmark skipped: curl is not installed"; exit 0; }

"$lab" up >/dev/null
trap '"$lab" down >/dev/null 2>&1 || true' EXIT
ip netns exec qlab-client env SSL_CERT_FILE=/run/qlab/certs/ca.pem "$bin" https://www.lab.test/ "$count"
