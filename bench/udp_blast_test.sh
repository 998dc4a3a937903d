#!/bin/sh
# pacterra-udp-blast stops with a message when every send fails (here: a broadcast address, which a socket
# without SO_BROADCAST may not send to), instead of spinning until its time is up.
blast=$1
err=$(mktemp)
trap 'rm -f "$err"' EXIT
start=$(date +%s)
timeout 60 "$blast" 255.255.255.255 9 100000 30 2>"$err"
status=$?
took=$(($(date +%s) - start))
cat "$err"
[ "$status" = 1 ] || { echo "exit status $status, not 1"; exit 1; }
[ "$took" -le 10 ] || { echo "took $took s to give up"; exit 1; }
grep -q "keeps failing: Permission denied" "$err" || { echo "no message"; exit 1; }
echo "gave up after $took s"
