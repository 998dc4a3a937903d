#!/usr/bin/env bash
# Makes the stream test captures with real tools between two network namespaces joined by a veth pair
# (root): an HTTP download with python3 -m http.server and curl, and netcat sending both ways at once.
# Every file sent is made by `body SEED SIZE` (the same generator as the tests), and each receiver's saved
# copy is compared with what was sent before a capture is kept.
set -euo pipefail
cd "$(dirname "$0")"
out=$PWD
work=$(mktemp -d)
a=pt-stream-a b=pt-stream-b
cleanup() {
  ip netns del $a 2>/dev/null || true
  ip netns del $b 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# SIZE bytes of x(n+1) = x(n) * 1103515245 + 12345 (mod 2^32) from x(0) = SEED, each byte bits 16..23.
body() {
  python3 -c '
import sys
seed, size = int(sys.argv[1]), int(sys.argv[2])
x, out = seed, bytearray(size)
for i in range(size):
    x = (x * 1103515245 + 12345) & 0xFFFFFFFF
    out[i] = (x >> 16) & 0xFF
sys.stdout.buffer.write(bytes(out))' "$1" "$2"
}

ip netns add $a
ip netns add $b
ip link add pt-va netns $a type veth peer name pt-vb netns $b
for ns in $a $b; do ip -n $ns link set lo up; done
ip -n $a addr add 198.51.100.1/24 dev pt-va
ip -n $b addr add 198.51.100.2/24 dev pt-vb
# Real MSS-sized segments instead of the veth pair's 64 KB super-segments.
for pair in "$a pt-va" "$b pt-vb"; do
  set -- $pair
  ip -n $1 link set $2 gso_max_size 1500 gro_max_size 1500 2>/dev/null || ip -n $1 link set $2 gso_max_size 1500
  ip -n $1 link set $2 up
done

capture() {  # FILE FILTER: starts tcpdump in namespace a, waits until it listens
  err="$1.err"
  ip netns exec $a tcpdump -i pt-va -U -B 65536 -s 0 -w "$1" "$2" 2>"$err" &
  tcpdump_pid=$!
  for _ in $(seq 50); do grep -q listening "$err" && break; sleep 0.1; done
}
stop_capture() {  # fails when tcpdump lost packets
  sleep 1
  kill -INT $tcpdump_pid
  wait $tcpdump_pid || true
  cat "$err" >&2
  grep -q '^0 packets dropped by kernel' "$err"
}

# HTTP: 512 KiB from python's http.server in b, fetched by curl in a.
mkdir "$work/www"
body 1 524288 > "$work/www/object.bin"
ip netns exec $b python3 -m http.server 8000 --bind 198.51.100.2 --directory "$work/www" >/dev/null 2>&1 &
server=$!
sleep 1
capture "$work/http.cap" "tcp port 8000"
ip netns exec $a curl -s -o "$work/saved.bin" http://198.51.100.2:8000/object.bin
stop_capture
kill $server
cmp "$work/www/object.bin" "$work/saved.bin"

# netcat both ways at once: 96 KiB from a to b and 64 KiB from b to a.
body 2 98304 > "$work/to-server.bin"
body 3 65536 > "$work/to-client.bin"
ip netns exec $b nc -N -l 198.51.100.2 9000 < "$work/to-client.bin" > "$work/server-got.bin" &
listener=$!
sleep 0.5
capture "$work/netcat.cap" "tcp port 9000"
ip netns exec $a nc -N 198.51.100.2 9000 < "$work/to-server.bin" > "$work/client-got.bin"
wait $listener
stop_capture
cmp "$work/to-server.bin" "$work/server-got.bin"
cmp "$work/to-client.bin" "$work/client-got.bin"

cp "$work/http.cap" "$out/http-download.cap"
cp "$work/netcat.cap" "$out/netcat-both-ways.cap"
echo "made http-download.cap and netcat-both-ways.cap"
