#!/usr/bin/env python3
# Resident memory of formsmaint-server after one large search and after a time of
# 16-connection search load, from /proc (VmRSS, VmHWM), and the access log's line count after
# SIGTERM against the requests sent. The database should hold a large inventory, e.g.
#   formsmaint-server --database sqlite:/tmp/big.db --generate 1000000
# (ten years of generated work; its Troop A, form type C, status other than V held 15,728
# ranges with the history-less inventory --generate loaded before).
#
#   scripts/server-memory.py build/apps/formsmaint-server/formsmaint-server /tmp/big.db 56717 60
import http.client
import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

if len(sys.argv) != 5:
    sys.exit("usage: server-memory.py SERVER DATABASE_FILE PORT LOAD_SECONDS")
binary, database, port, seconds = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
log = os.path.join(tempfile.mkdtemp(prefix="fm-server-memory-"), "access.log")
server = subprocess.Popen([binary, "--database", "sqlite:" + database, "--listen",
                           f"127.0.0.1:{port}", "--access-log", log, "--log-level", "warn"])


def memory():
    values = {}
    with open(f"/proc/{server.pid}/status") as status:
        for line in status:
            name, _, value = line.partition(":")
            if name in ("VmRSS", "VmHWM"):
                values[name] = int(value.split()[0]) // 1024
    return f"VmRSS {values['VmRSS']} MB, VmHWM {values['VmHWM']} MB"


sent = 0
for _ in range(400):
    try:
        c = http.client.HTTPConnection("127.0.0.1", port)
        c.request("GET", "/healthz")
        c.getresponse().read()
        sent += 1
        break
    except OSError:
        time.sleep(0.05)

criteria = [("TRP_ID", "A", "="), ("REF_TYP_CD", "C", "="), ("TRP_ACTN_CD", "V", "<>"),
            ("THIN", "NO", "=")]
search = json.dumps({
    "request_id": "memory", "identity": "X#1", "version": "1.0", "requester": "FORMSMAINT",
    "user_id": 1, "message_type": 33, "data_sets": {},
    "criteria": [{"key": "key:" + k, "value": v, "op": o, "application": "Q"}
                 for k, v, o in criteria]})
headers = {"Content-Type": "application/json"}
print("started:", memory())
c = http.client.HTTPConnection("127.0.0.1", port)
c.request("POST", "/v1/messages", search, headers)
body = c.getresponse().read()
sent += 1
rows = len(json.loads(body)["data_sets"]["TROOPFORM"]["rows"])
print(f"after one search of {rows} ranges ({len(body)} bytes):", memory())

lock = threading.Lock()
end = time.time() + seconds


def load():
    global sent
    connection = http.client.HTTPConnection("127.0.0.1", port)
    count = 0
    while time.time() < end:
        connection.request("POST", "/v1/messages", search, headers)
        answer = connection.getresponse()
        answer.read()
        assert answer.status == 200
        count += 1
    with lock:
        sent += count


threads = [threading.Thread(target=load) for _ in range(16)]
for t in threads:
    t.start()
for t in threads:
    t.join()
print(f"after {seconds:.0f} s of 16-connection search load ({sent - 2} searches):", memory())
server.send_signal(signal.SIGTERM)
server.wait()
with open(log) as f:
    lines = sum(1 for _ in f)
print(f"requests sent {sent}, access log lines after SIGTERM {lines}")
sys.exit(0 if lines == sent else 1)
