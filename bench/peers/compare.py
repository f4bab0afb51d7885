#!/usr/bin/python3
"""Runs our host and the two comparison peers side by side on the same
getSignature frames (1 KiB, 16 MiB and 48 MiB of content) and prints, for
each, the median wall time, peak resident memory and minor page faults, and
the peers' ratios to ours; then the median round trip of small requests on
one running host of ours. Usage: compare.py BUILD_DIR (a release build whose
bin/ holds quorvant_host and the vendor test double)."""
import base64
import json
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CASES = [("1 KiB", 1024, 41), ("16 MiB", 16 << 20, 5), ("48 MiB", 48 << 20, 5)]
ROUND_TRIPS = 1000


def frame(body):
    return struct.pack("<I", len(body)) + body


def signature_request(content):
    return json.dumps({"contentId": "1", "data": {
        "requestAction": "getSignature", "containerName": "C1",
        "contentFile": base64.b64encode(content).decode()}}).encode()


def measure(launcher, runs, input_path, output_path, command):
    lines = subprocess.run([launcher, str(runs), input_path, output_path] + command,
                           check=True, capture_output=True, text=True).stdout.split("\n")
    samples = [tuple(float(x) for x in line.split()) for line in lines if line]
    with open(output_path, "rb") as answer:
        if b'"result":"success"' not in answer.read():
            raise SystemExit("%s gave no successful answer" % command[0])
    # The first run warms the file cache and is left out.
    samples = samples[1:] if len(samples) > 1 else samples
    return tuple(statistics.median(s[i] for s in samples) for i in range(3))


def round_trips(host, request):
    process = subprocess.Popen([host], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    into, out = process.stdin.fileno(), process.stdout.fileno()
    message = frame(request)
    times = []
    for _ in range(ROUND_TRIPS + 50):
        start = time.perf_counter()
        os.write(into, message)
        header = os.read(out, 4)
        while len(header) < 4:
            header += os.read(out, 4 - len(header))
        (length,) = struct.unpack("<I", header)
        body = b""
        while len(body) < length:
            body += os.read(out, length - len(body))
        times.append((time.perf_counter() - start) * 1e6)
    process.stdin.close()
    process.wait()
    times = sorted(times[50:])  # after warm-up
    return statistics.median(times), times[int(len(times) * 0.9)]


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/bench")
    host = os.path.join(build, "bin", "quorvant_host")
    node = shutil.which("node") or shutil.which("nodejs")
    work = tempfile.mkdtemp(prefix="quorvant-peers-")
    os.environ["TMPDIR"] = work
    try:
        launcher = os.path.join(work, "measure")
        subprocess.run(["cc", "-O2", "-static", "-o", launcher, os.path.join(HERE, "measure.c")],
                       check=True)
        hosts = [("ours", [host]),
                 ("node", [node, os.path.join(HERE, "peer_host.js")]),
                 ("python", ["/usr/bin/python3", os.path.join(HERE, "peer_host.py")])]
        print("%-8s %-7s %12s %14s %14s   %s" %
              ("content", "host", "wall ms", "peak RSS MiB", "minor faults", "ratio to ours (wall, RSS)"))
        for name, size, runs in CASES:
            content = os.urandom(size)
            input_path = os.path.join(work, "frame.bin")
            with open(input_path, "wb") as f:
                f.write(frame(signature_request(content)))
            del content
            frame_mib = os.path.getsize(input_path) / (1 << 20)
            results = {}
            for label, command in hosts:
                results[label] = measure(launcher, runs, input_path,
                                         os.path.join(work, "answer.bin"), command)
                wall, rss, faults = results[label]
                ratio = ""
                if label != "ours":
                    ours = results["ours"]
                    ratio = "%.1fx, %.1fx" % (wall / ours[0], rss / ours[1])
                print("%-8s %-7s %12.3f %14.1f %14d   %s" %
                      (name, label, wall / 1000, rss / 1024, faults, ratio))
            print("%-8s frame %.1f MiB; our peak RSS is %.2f times the frame" %
                  ("", frame_mib, results["ours"][1] / 1024 / frame_mib))
        median, p90 = round_trips(host, signature_request(os.urandom(1024)))
        print("round trip, one host, %d getSignature requests of 1 KiB: median %.1f us, p90 %.1f us"
              % (ROUND_TRIPS, median, p90))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
