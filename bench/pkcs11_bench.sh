#!/usr/bin/env bash
# Signing through the host with the PKCS#11 library and a SoftHSM2 token,
# beside `openssl cms -sign` with the same key (exported): 1 KiB and 48 MiB,
# ECDSA P-256 and RSA 2048, median wall time. "in session": a session the
# browser holds; "own session": the request opens one (module load, PIN
# dialog through the scripted pinentry, login). Target: the host within 1.5
# times openssl at 48 MiB. Usage: bench/pkcs11_bench.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
eval "export $("$here/../tests/pkcs11/softhsm_tokens.sh" "$work/tokens")"
export LD_LIBRARY_PATH=$build/bin/tokens/pkcs11 QUORVANT_PKCS11_MODULE=/usr/lib/softhsm/libsofthsm2.so
export QUORVANT_PKCS11_CONFIG=$work/none QUORVANT_PINENTRY=$here/../tests/pkcs11/scripted_pinentry.sh
export PINENTRY_PIN=1234 TMPDIR=$work
head -c 1024 /dev/urandom > "$work/1KiB"
head -c $((48 << 20)) /dev/urandom > "$work/48MiB"

python3 - "$build/bin/quorvant_host" "$work" <<'EOF'
import json, statistics, struct, subprocess, sys, time
host, work = sys.argv[1], sys.argv[2]

class Host:
    def __init__(self):
        self.process = subprocess.Popen([host], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    def ask(self, data):
        body = json.dumps({"contentId": "1", "data": data}).encode()
        self.process.stdin.write(struct.pack("<I", len(body)) + body)
        self.process.stdin.flush()
        size = struct.unpack("<I", self.process.stdout.read(4))[0]
        answer = json.loads(self.process.stdout.read(size))["data"]
        assert answer["result"] == "success", answer
        return answer
    def close(self):
        self.process.stdin.close()
        self.process.wait()

def median(action, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return statistics.median(times) * 1000

print(f"{'key':4} {'size':6} {'host in session':>16} {'own session':>12} {'openssl cms':>12} {'ratio':>6}")
for key in ("ec", "rsa"):
    for size, repeats in (("1KiB", 20), ("48MiB", 5)):
        data = f"{work}/{size}"
        h = Host()
        handle = h.ask({"requestAction": "openCryptoProvider", "containerName": "T1/" + key})["handleProvider"]
        in_session = median(lambda: h.ask({"requestAction": "getSignature", "handleProvider": handle,
                                           "fileDataPath": data}), repeats)
        h.close()
        h = Host()  # no session open: each request loads the module and asks for the PIN
        own = median(lambda: h.ask({"requestAction": "getSignature", "containerName": "T1/" + key,
                                    "fileDataPath": data}), repeats)
        h.close()
        command = ["openssl", "cms", "-sign", "-binary", "-md", "sha256", "-in", data, "-signer",
                   f"{work}/tokens/{key}.cert.pem", "-inkey", f"{work}/tokens/{key}.key.pem",
                   "-outform", "DER", "-out", "/dev/null"]
        openssl = median(lambda: subprocess.run(command, check=True), repeats)
        print(f"{key:4} {size:6} {in_session:14.1f}ms {own:10.1f}ms {openssl:10.1f}ms {in_session / openssl:6.2f}")
EOF
