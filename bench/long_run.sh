#!/usr/bin/env bash
# A long live capture: small UDP datagrams through a veth pair between two network namespaces (TEST-NET-2,
# nothing leaves the machine) into pacterra-cli with the buffer at its largest (200 MB). The capture must end
# at the buffer limit and say so, with no drops before it; prints the packets stored, the kernel's drops and
# the peak memory.
#
# Usage (as root): bench/long_run.sh [BUILD_DIR]
# Environment: PACKETS (default 10000000) datagrams to send, RATE (default 200000) per second, PAYLOAD
# (default 18) bytes per datagram (a 60-byte frame).
# Needs GNU time (/usr/bin/time).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
packets=${PACKETS:-10000000}
rate=${RATE:-200000}
payload=${PAYLOAD:-18}

cli=$build/bin/pacterra-cli
blast=$build/bin/pacterra-udp-blast
for tool in "$cli" "$blast" /usr/bin/time; do
    [[ -x $tool ]] || { echo "missing $tool" >&2; exit 2; }
done
. bench/veth_pair.sh
veth_pair pacterra-long ptg

# 200 MB, accept everything, no rules.
printf '\xc8\x00\x00\x00\x01\x00\x00' > "$work/Config.cfg"

seconds=$(awk -v n="$packets" -v r="$rate" 'BEGIN { printf "%.2f", n / r }')
ip netns exec "$cap" /usr/bin/time -f '%M' -o "$work/rss" "$cli" capture -i ptg0 --config "$work/Config.cfg" \
    -t "$(awk -v s="$seconds" 'BEGIN { printf "%d", s + 30 }')" > /dev/null 2> "$work/err" &
pid=$!
sleep 1
ip netns exec "$peer" "$blast" 198.51.100.1 9999 "$rate" "$seconds" "$payload" > "$work/sent" &
sender=$!
status=0
wait "$pid" || status=$?
kill "$sender" 2>/dev/null || true
wait "$sender" 2>/dev/null || true

cat "$work/err" >&2
summary=$(grep -E '^[0-9]+ packets, ' "$work/err" | tail -n 1)
dropped=$(sed -n 's/.*received by the kernel, \([0-9]*\) dropped.*/\1/p' "$work/err")
[[ -s $work/sent ]] && echo "sent: $(cat "$work/sent")" || echo "sent: (the sender was stopped when the capture ended)"
echo "stored: $summary"
echo "kernel drops: ${dropped:-?}"
echo "peak RSS: $(awk '{ printf "%.1f MiB", $1 / 1024 }' "$work/rss")"
if [[ $summary != *"stopped by the buffer limit of 200 MB"* || ${dropped:-1} != 0 || $status != 0 ]]; then
    echo "MISS: the capture must end at the buffer limit, say so, and drop nothing (exit status $status)"
    exit 1
fi
echo "ok"
