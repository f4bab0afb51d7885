#!/usr/bin/env python3
"""Peak memory of the 32-bit host for one getSignature of 48 MiB of content
(a 64 MiB frame), run under qemu-i386-static as the linux-x86 tests run it:
    bench/qemu_sign_peak.py [build/linux-x86]
Prints the emulator process's peak resident set (qemu and host together, from
/usr/bin/time), the same for a host that answers one small request (the
emulator's own share), and the host's peak alone: the resident memory that
qemu maps below 4 GiB (the guest's addresses), sampled every 10 ms."""
import base64, os, re, struct, subprocess, sys, tempfile, threading, time

build = sys.argv[1] if len(sys.argv) > 1 else "build/linux-x86"
host = ["/usr/bin/time", "-v", "qemu-i386-static", os.path.join(build, "bin", "quorvant_host")]


def frame(body):
    return struct.pack("<I", len(body)) + body


def guest_kib(pid):
    total, guest = 0, False
    try:
        with open(f"/proc/{pid}/smaps") as maps:
            for line in maps:
                if line.find(" ") < line.find(":"):
                    guest = int(line.split("-")[0], 16) < 1 << 32
                elif guest and line.startswith("Rss:"):
                    total += int(line.split()[1])
    except OSError:
        pass
    return total


def run(body):
    """Peak KiB of the emulator process and of the guest, and the answer."""
    with tempfile.TemporaryDirectory() as temp:
        p = subprocess.Popen(host, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, env=dict(os.environ, TMPDIR=temp))
        peak, done = [0], threading.Event()

        def sample():
            while not done.is_set():
                try:
                    with open(f"/proc/{p.pid}/task/{p.pid}/children") as children:
                        for child in children.read().split():
                            peak[0] = max(peak[0], guest_kib(int(child)))
                except OSError:
                    pass
                time.sleep(0.01)

        def write():
            p.stdin.write(frame(body))
            p.stdin.close()

        threading.Thread(target=sample, daemon=True).start()
        threading.Thread(target=write, daemon=True).start()
        length = struct.unpack("<I", p.stdout.read(4))[0]
        answer = p.stdout.read(length)
        p.wait()
        done.set()
        stats = p.stderr.read().decode()
        total = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", stats).group(1))
        return total, peak[0], answer


content = base64.b64encode(os.urandom(48 * 1024 * 1024))
body = (b'{"data":{"requestAction":"getSignature","containerName":"C1","contentFile":"' +
        content + b'"}}')
frame_mib = len(body) / 2**20
idle, _, _ = run(b'{"data":{"requestAction":"getCertificate","containerName":"C1"}}')
total, guest, answer = run(body)
assert b'"result":"success"' in answer, answer[:200]
print(f"frame {frame_mib:.1f} MiB")
print(f"qemu + host peak {total / 1024:.1f} MiB ({total / 1024 / frame_mib:.2f} x frame); "
      f"after one small request {idle / 1024:.1f} MiB")
print(f"host alone (guest memory) peak {guest / 1024:.1f} MiB ({guest / 1024 / frame_mib:.2f} x frame)")
