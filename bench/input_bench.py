#!/usr/bin/python3
"""Measures the input tool through the RPC; run by bench/input.sh."""
import http.client
import json
import queue
import statistics
import subprocess
import sys
import threading
import time

port, token, probe_path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
probe = subprocess.Popen(["/usr/bin/python3", probe_path], stdout=subprocess.PIPE, text=True)
reports = queue.Queue()
threading.Thread(target=lambda: [reports.put(json.loads(l)) for l in probe.stdout],
                 daemon=True).start()
connection = http.client.HTTPConnection("127.0.0.1", port)


def call(params):
    body = json.dumps({"method": "input", "params": params})
    connection.request("POST", "/rpc", body, {"authorization": "Bearer " + token,
                                              "content-type": "application/json"})
    reply = json.loads(connection.getresponse().read())
    if not reply.get("ok"):
        sys.exit("input failed: %s" % reply)
    return reply


def next_with(member, timeout=10):
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            report = reports.get(timeout=max(0.01, deadline - time.time()))
        except queue.Empty:
            break
        if member in report:
            return report
    return None


def drain():
    while True:
        try:
            reports.get(timeout=0.3)
        except queue.Empty:
            return


def ms(seconds):
    return "%.2f ms" % (seconds * 1000)


ready = next_with("ready")
ax, ay, _, _ = ready["area"]
drain()

# Buttons rotate and calls are spaced so that no click waits out a double
# click of an earlier request: the figure is the request's own cost.
rpc = []
for i in range(15):
    button = ("left", "middle", "right")[i % 3]
    started = time.perf_counter()
    call({"action": "click", "x": ax + 20 + i, "y": ay + 20, "button": button})
    rpc.append(time.perf_counter() - started)
    time.sleep(0.35)
xdo = []
for i in range(15):
    started = time.perf_counter()
    subprocess.run(["xdotool", "mousemove", str(ax + 20 + i), str(ay + 30), "click", "1"],
                   check=True)
    xdo.append(time.perf_counter() - started)
    time.sleep(0.9)
print("move + click, RPC round trip:   median %s (min %s)" % (ms(statistics.median(rpc)), ms(min(rpc))))
print("move + click, xdotool process:  median %s (min %s)" % (ms(statistics.median(xdo)), ms(min(xdo))))
print("ratio RPC / xdotool:            %.2f" % (statistics.median(rpc) / statistics.median(xdo)))

# Six left clicks in a row, as on six keys of a calculator: on six spots
# they need no pacing; on one spot each waits out the double-click time.
def six_clicks(spots):
    time.sleep(1)
    started = time.perf_counter()
    for x, y in spots:
        call({"action": "click", "x": x, "y": y})
    return time.perf_counter() - started


apart = [six_clicks([(ax + 20 + 40 * i, ay + 60) for i in range(6)]) for _ in range(5)]
same = six_clicks([(ax + 20, ay + 60)] * 6)
print("six clicks on six spots:        median %s in all (max %s)" % (ms(statistics.median(apart)), ms(max(apart))))
print("six clicks on one spot:         %s in all (paced apart)" % ms(same))


def typed(text):
    call({"action": "key", "name": "Escape"})
    next_with("cleared")
    started = time.perf_counter()
    call({"action": "type", "text": text})
    spent = time.perf_counter() - started
    report = next_with("text")
    return spent, report is not None and report["text"] == text


ascii_text = "".join(chr(32 + (i * 7919) % 95) for i in range(1000))
spent, exact = typed(ascii_text)
print("type 1,000 ASCII characters:    %s, arrived %s" % (ms(spent), "exactly" if exact else "WRONG"))
alphabet = "àéîõüßçñ€日本語中文한국어ёжщ😀ÉÑ"
non_ascii = "".join(alphabet[i % len(alphabet)] for i in range(100))
spent, exact = typed(non_ascii)
print("type 100 non-ASCII characters:  %s, arrived %s" % (ms(spent), "exactly" if exact else "WRONG"))
distinct = "".join(chr(c) for c in [*range(0xE0, 0xFE), *range(0x3B1, 0x3C5),
                                    *range(0x430, 0x444), *range(0x4E00, 0x4E1E)])
runs = [typed(distinct) for _ in range(5)]
print("type 100 distinct non-ASCII:    median %s (max %s), arrived %s" % (
    ms(statistics.median(r[0] for r in runs)), ms(max(r[0] for r in runs)),
    "exactly" if all(r[1] for r in runs) else "WRONG"))
probe.terminate()
