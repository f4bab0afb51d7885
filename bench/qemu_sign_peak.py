#!/usr/bin/env python3
"""Peak memory of the 32-bit host for one getSignature of 48 MiB of content
(a 64 MiB frame), run under qemu-i386-static as the linux-x86 tests run it:
    bench/qemu_sign_peak.py [build/linux-x86]
Prints the emulator process's peak resident set (qemu and host together, from
/usr/bin/time), the same for a host that answers one small request (the
emulator's own share), and the host's peak alone: the resident memory that
qemu maps below 4 GiB (the guest's addresses), sampled every 10 ms.

    bench/qemu_sign_peak.py [build/linux-x86] --largest
finds instead the largest file the host signs with its address space held to
the 2 GiB of a 32-bit Windows process (qemu's -R 2G), to the MiB: a
getSignature by fileDataPath, which reads the same whole file into memory as
one by stagedContent, while the test double keeps its own copy as the vendor's
library does. Then it stages and signs a file of the host's staging limit in
parts through stageContent, as a browser's extension sends it."""
import base64, os, re, struct, subprocess, sys, tempfile, threading, time

args = [a for a in sys.argv[1:] if not a.startswith("--")]
build = args[0] if args else "build/linux-x86"
largest = "--largest" in sys.argv
reserve = ["-R", "2G"] if largest else []
host = ["/usr/bin/time", "-v", "qemu-i386-static", *reserve,
        os.path.join(build, "bin", "quorvant_host")]


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


def run(body, bodies=None, temp=None):
    """Peak KiB of the emulator process and of the guest, and the last answer;
    `bodies` (a function of the previous answer giving the next body, or None
    to stop) follows the first body, each sent once the previous is answered."""
    with tempfile.TemporaryDirectory(dir=temp) as temp:
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

        def read():
            length = struct.unpack("<I", p.stdout.read(4))[0]
            return p.stdout.read(length)

        threading.Thread(target=sample, daemon=True).start()
        p.stdin.write(frame(body))
        p.stdin.flush()
        answer = read()
        while bodies and (body := bodies(answer)) is not None:
            p.stdin.write(frame(body))
            p.stdin.flush()
            answer = read()
        p.stdin.close()
        p.wait()
        done.set()
        stats = p.stderr.read().decode()
        total = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", stats).group(1))
        return total, peak[0], answer


def signs_file(mib, temp):
    """True when the host signs a file of `mib` MiB given by its path."""
    path = os.path.join(temp, "data.bin")
    with open(path, "wb") as data:
        data.truncate(mib << 20)  # sparse: the host reads zeros at no disk cost
    body = (b'{"data":{"requestAction":"getSignature","containerName":"C1","fileDataPath":"' +
            path.encode() + b'"}}')
    _, guest, answer = run(body)
    os.remove(path)
    ok = b'"result":"success"' in answer
    print(f"  {mib} MiB: {'signed' if ok else answer.decode()[:120]}, guest peak "
          f"{guest / 1024:.0f} MiB", flush=True)
    return ok


def staged_signature(limit):
    """Stages `limit` bytes in parts of 512 KiB of Base64 and signs them;
    then sends one byte more, which must fail."""
    part = 384 * 1024
    chunk = base64.b64encode(os.urandom(part))

    def parts(total):
        sent = [part]  # the first body's

        def next_body(answer):
            if b'"result":"success"' not in answer:
                return None
            name = re.search(rb'"stagedContent":"([^"]*)"', answer).group(1)
            if sent[0] >= total:
                if b'getSignature' in answer:
                    return None
                return (b'{"data":{"requestAction":"getSignature","containerName":"C1",'
                        b'"stagedContent":"' + name + b'"}}')
            size = min(part, total - sent[0])
            sent[0] += size
            content = chunk if size == part else base64.b64encode(os.urandom(size))
            return (b'{"data":{"requestAction":"stageContent","contentFile":"' + content +
                    b'","stagedContent":"' + name + b'"}}')
        return next_body

    first = b'{"data":{"requestAction":"stageContent","contentFile":"' + chunk + b'"}}'
    start = time.monotonic()
    _, guest, answer = run(first, parts(limit))
    signed = re.search(rb'"signature":"([^"]*)"', answer)
    # The double's signature names the length of the data it was given.
    signed = signed and base64.b64decode(signed.group(1)).split(b":")[2] == str(limit).encode()
    print(f"staged and signed {limit} bytes in parts: "
          f"{'signed' if signed else answer.decode()[:200]}; "
          f"guest peak {guest / 1024:.0f} MiB, {time.monotonic() - start:.0f} s")
    _, _, answer = run(first, parts(limit + 1))
    print(f"one byte more: {answer.decode()[:200]}")


if largest:
    with tempfile.TemporaryDirectory(dir=os.environ.get("TMPDIR", "/var/tmp")) as temp:
        low, high = 256, 2048  # MiB: signed, not signed
        assert signs_file(low, temp)
        while high - low > 1:
            middle = (low + high) // 2
            low, high = (middle, high) if signs_file(middle, temp) else (low, middle)
        print(f"largest file signed under qemu-i386-static -R 2G: {low} MiB")
    header = open("requests/staged_content.h").read()
    factors = re.search(r"kMaxStagedBytes = ([^;]*);", header).group(1)
    limit = eval(factors.replace("ull", ""))
    print(f"kMaxStagedBytes = {limit} bytes ({limit / 2**20:.0f} MiB)")
    staged_signature(limit)
    sys.exit(0)

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
