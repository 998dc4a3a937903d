#!/bin/bash
# Makes names.cap: TLS 1.3 and 1.2 (openssl s_client -servername), HTTP and HTTPS (curl) and QUIC v1
# (ngtcp2's gtlsclient) on the loopback of a namespace of its own, so nothing leaves the machine. Its names,
# as tshark shows them (tls.handshake.extensions_server_name, http.host), are what cli_test expects.
# Run as root: tests/data/make-names-capture.sh OUT.cap
set -euo pipefail
out=$(realpath -m "$1")
work=$(mktemp -d)
ns=pacterra-names-$$
trap 'ip netns del $ns 2>/dev/null; rm -rf /etc/netns/$ns "$work"' EXIT
mkdir -p /etc/netns/$ns
echo "127.0.0.1 localhost quic.example.com" >/etc/netns/$ns/hosts  # gtlsclient resolves the name it sends
ip netns add $ns
cd "$work"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout key.pem -out cert.pem -days 1 \
    -subj /CN=test 2>/dev/null
ip netns exec $ns bash -c '
ip link set lo up
tcpdump -i lo -w "$0" -s 0 2>/dev/null & dump=$!
sleep 1
openssl s_server -accept 8443 -cert cert.pem -key key.pem -www -quiet >/dev/null 2>&1 & a=$!
python3 -m http.server 8080 --bind 127.0.0.1 >/dev/null 2>&1 & b=$!
gtlsserver 127.0.0.1 4433 key.pem cert.pem -q >/dev/null 2>&1 & c=$!
sleep 1
echo | timeout 5 openssl s_client -connect 127.0.0.1:8443 -servername tls13.example.com -tls1_3 >/dev/null 2>&1
echo | timeout 5 openssl s_client -connect 127.0.0.1:8443 -servername tls12.example.org -tls1_2 >/dev/null 2>&1
curl -s -o /dev/null --resolve web.example.net:8080:127.0.0.1 http://web.example.net:8080/
curl -s -o /dev/null -k --resolve curl.example.com:8443:127.0.0.1 https://curl.example.com:8443/
timeout 5 gtlsclient quic.example.com 4433 https://quic.example.com:4433/ -q --exit-on-first-stream-close \
    >/dev/null 2>&1 || true
sleep 1
kill $a $b $c
sleep 1
kill $dump
wait $dump || true
' "$out"
tshark -r "$out" -T fields -e tls.handshake.extensions_server_name -e http.host \
    -Y 'tls.handshake.type == 1 or http.request' 2>/dev/null
