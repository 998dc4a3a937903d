#!/usr/bin/env python3
"""Owners of short-lived programs' connections: 200 curl runs against a local HTTP server and 20 DNS-like
UDP exchanges, captured on loopback by pacterra-cli in a network namespace of the test's own. Root only.
argv: pacterra-cli [capture helper, run as an unprivileged member of its group]"""
import json, os, shutil, signal, subprocess, sys, time

if os.geteuid() != 0 or not shutil.which("curl") or not shutil.which("unshare"):
    print("skipped: needs root, curl and unshare")
    sys.exit(0)
if os.environ.get("OWNER_TEST_IN_NS") != "1":
    env = dict(os.environ, OWNER_TEST_IN_NS="1")
    sys.exit(subprocess.call(["unshare", "--net", sys.executable] + sys.argv, env=env))
subprocess.check_call(["ip", "link", "set", "lo", "up"])
cli = sys.argv[1]
# Through the helper: the capture, the servers and the clients all run as nobody, a member of the group that
# may run a copy of the helper holding the capture rights.
as_user, user = [], "root"
if len(sys.argv) > 2:
    import tempfile
    folder = tempfile.mkdtemp()
    os.chmod(folder, 0o755)
    helper = os.path.join(folder, "pacterra-capture")
    shutil.copy(sys.argv[2], helper)
    os.chown(helper, 0, 65534)
    os.chmod(helper, 0o750)
    subprocess.check_call(["setcap", "cap_net_raw,cap_net_admin=eip", helper])
    os.environ["PACTERRA_CAPTURE_HELPER"] = helper
    as_user, user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"], "nobody"
UDP_CLIENT = r"""
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(2)
if sys.argv[1] == 'connected':
    s.connect(('127.0.0.1', 5353)); s.send(b'\x12\x34query')
else:
    s.sendto(b'\x12\x34query', ('127.0.0.1', 5353))
s.recvfrom(512)
"""
UDP_SERVER = r"""
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(('127.0.0.1', 5353))
while True:
    data, peer = s.recvfrom(512); s.sendto(data + b'answer', peer)
"""
http = subprocess.Popen(as_user + [sys.executable, "-m", "http.server", "--bind", "127.0.0.1", "8000"],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
dns = subprocess.Popen(as_user + [sys.executable, "-c", UDP_SERVER])
def stop_servers():
    http.kill()
    dns.kill()


import atexit
atexit.register(stop_servers)
time.sleep(1.0)
capture = subprocess.Popen(as_user + [cli, "capture", "-i", "lo", "--format", "json"], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True)
time.sleep(1.0)
curls, udp = set(), {}
for i in range(200):
    p = subprocess.Popen(as_user + ["curl", "-s", "-o", "/dev/null", "http://127.0.0.1:8000/"])
    curls.add(p.pid)
    p.wait()
for i in range(20):
    p = subprocess.Popen(as_user + [sys.executable, "-c", UDP_CLIENT, "connected" if i % 2 else "sendto"])
    udp[p.pid] = os.path.basename(sys.executable)[:15]
    p.wait()
time.sleep(0.5)
capture.send_signal(signal.SIGINT)
out, err = capture.communicate(timeout=60)
rows = [json.loads(line) for line in out.splitlines() if line.startswith("{")]
comm = open(f"/proc/{os.getpid()}/comm").read().strip()


def check(port, launched, server_pid):
    right = wrong = server = 0
    for r in rows:
        if r["server_port"] != port:
            continue
        if r["client_pid"] in launched and r["client_process"] == launched[r["client_pid"]]:
            right += 1
        elif r["client_pid"] is not None or r["client_process"] is not None:
            wrong += 1
            print("wrong client:", r)
        if r["server_pid"] == server_pid and r["server_process"] and r["server_user"] == user:
            server += 1
        elif r["server_pid"] is not None:
            wrong += 1
            print("wrong server:", r)
    n = len(launched)
    print(f"port {port}: client right on {right} of {n}, server named on {server}, {wrong} wrong")
    return right >= 0.95 * n and server >= 0.95 * n and wrong == 0


ok = check(8000, {pid: "curl" for pid in curls}, http.pid)
ok = check(5353, udp, dns.pid) and ok
sys.exit(0 if ok else 1)
