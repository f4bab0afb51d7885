#!/usr/bin/python3
"""Comparison peer for the benchmarks only, not part of the product: a plain
native-messaging signing host in Python 3 (standard library plus Debian's
python3-cryptography). It serves one frame: parses the JSON, decodes
"contentFile", writes it to a data file and reads it back, signs it (ECDSA
P-256 with SHA-256), answers and exits."""
import base64
import json
import os
import struct
import sys
import tempfile

from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec


def main():
    stdin = sys.stdin.buffer
    header = stdin.read(4)
    if len(header) < 4:
        return
    (length,) = struct.unpack("<I", header)
    request = json.loads(stdin.read(length).decode("utf-8"))
    data = request.get("data") or {}
    with tempfile.TemporaryDirectory(prefix="peer-python-") as directory:
        path = os.path.join(directory, "content.bin")
        with open(path, "wb") as file:
            file.write(base64.b64decode(data.get("contentFile", "")))
        with open(path, "rb") as file:
            content = file.read()
    key = ec.generate_private_key(ec.SECP256R1())
    signature = key.sign(content, ec.ECDSA(hashes.SHA256()))
    answer_data = dict(data, result="success", signature=base64.b64encode(signature).decode())
    answer_data.pop("contentFile", None)
    body = json.dumps({"contentId": request.get("contentId"), "data": answer_data},
                      separators=(",", ":")).encode("utf-8")
    sys.stdout.buffer.write(struct.pack("<I", len(body)) + body)
    sys.stdout.buffer.flush()


if __name__ == "__main__":
    main()
