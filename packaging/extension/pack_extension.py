#!/usr/bin/env python3
"""Packs the browser extension for installation by policy.

  pack_extension.py id KEY
      prints the Chromium extension ID that KEY (a PEM private key) gives.
  pack_extension.py pack KEY SOURCE VERSION URL OUT
      writes OUT/quorvant.crx (CRX3, signed with KEY), OUT/updates.xml (the
      update manifest naming URL/quorvant.crx), OUT/quorvant.xpi (Firefox)
      and OUT/chromium-id from the extension folder SOURCE, leaving out its
      demo/ folder. URL is where the installed files will lie (file:// or
      http[s]://); the packed manifest's "update_url" names URL/updates.xml
      so that a newer package's extension replaces the installed one.

The signature and the key's public half come from the openssl program.
Archives are reproducible: same input, same bytes (the CRX's RSA signature
is deterministic too).
"""
import hashlib
import json
import os
import struct
import subprocess
import sys
import zipfile
from io import BytesIO
from xml.sax.saxutils import quoteattr

# Object identifiers inside a SubjectPublicKeyInfo, as DER bytes.
RSA_OID = bytes.fromhex("2a864886f70d010101")
EC_OID = bytes.fromhex("2a8648ce3d0201")


def openssl(arguments, data=None):
    return subprocess.run(["openssl", *arguments], input=data, stdout=subprocess.PIPE,
                          check=True).stdout


def public_key(key):
    return openssl(["pkey", "-in", key, "-pubout", "-outform", "DER"])


def extension_id(spki):
    # The first 128 bits of the key's SHA-256, each hex digit as a letter a-p.
    digest = hashlib.sha256(spki).hexdigest()[:32]
    return "".join(chr(ord("a") + int(c, 16)) for c in digest)


def varint(n):
    out = bytearray()
    while True:
        out.append((n & 0x7F) | (0x80 if n > 0x7F else 0))
        n >>= 7
        if not n:
            return bytes(out)


def field(number, payload):  # a length-delimited protobuf field
    return varint(number << 3 | 2) + varint(len(payload)) + payload


def archive(files):
    """A zip of (name, bytes) pairs with fixed times and modes."""
    buffer = BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as out:
        for name, data in files:
            info = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
            info.external_attr = 0o644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            out.writestr(info, data)
    return buffer.getvalue()


def crx3(key, spki, zip_bytes):
    # CrxFileHeader { sha256_with_rsa|ecdsa = 2|3 { public_key = 1, signature = 2 },
    #                 signed_header_data = 10000: SignedData { crx_id = 1 } }
    signed_data = field(1, hashlib.sha256(spki).digest()[:16])
    message = b"CRX3 SignedData\x00" + struct.pack("<I", len(signed_data)) + signed_data + zip_bytes
    signature = openssl(["dgst", "-sha256", "-sign", key], message)
    if RSA_OID in spki:
        proof_field = 2
    elif EC_OID in spki:
        proof_field = 3
    else:
        sys.exit("pack_extension.py: the key is neither RSA nor EC")
    header = field(proof_field, field(1, spki) + field(2, signature)) + field(10000, signed_data)
    return b"Cr24" + struct.pack("<II", 3, len(header)) + header + zip_bytes


def extension_files(source):
    files = []
    for folder, subfolders, names in os.walk(source):
        subfolders[:] = sorted(d for d in subfolders if d != "demo" and not d.startswith("."))
        for name in sorted(names):
            if not name.startswith("."):
                path = os.path.join(folder, name)
                files.append((os.path.relpath(path, source).replace(os.sep, "/"), path))
    return files


def with_manifest(files, manifest):
    """The extension's files as (name, bytes), its manifest replaced."""
    text = json.dumps(manifest, indent=2, ensure_ascii=False).encode() + b"\n"
    return [(name, text if name == "manifest.json" else open(path, "rb").read())
            for name, path in files]


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)


def pack(key, source, version, url, out):
    url = url.rstrip("/")
    spki = public_key(key)
    chromium_id = extension_id(spki)
    files = extension_files(source)
    with open(os.path.join(source, "manifest.json"), encoding="utf-8") as text:
        manifest = json.load(text)
    # "key" fixes the ID of unpacked development loads only; a packed
    # extension's ID comes from the key that signed it.
    manifest.pop("key", None)
    manifest["version"] = version
    firefox = dict(manifest)
    manifest["update_url"] = url + "/updates.xml"
    os.makedirs(out, exist_ok=True)
    write(os.path.join(out, "quorvant.crx"), crx3(key, spki, archive(with_manifest(files, manifest))))
    write(os.path.join(out, "quorvant.xpi"), archive(with_manifest(files, firefox)))
    write(os.path.join(out, "updates.xml"), (
        "<?xml version='1.0' encoding='UTF-8'?>\n"
        "<gupdate xmlns='http://www.google.com/update2/response' protocol='2.0'>\n"
        f"  <app appid={quoteattr(chromium_id)}>\n"
        f"    <updatecheck codebase={quoteattr(url + '/quorvant.crx')} version={quoteattr(version)}/>\n"
        "  </app>\n</gupdate>\n").encode())
    write(os.path.join(out, "chromium-id"), (chromium_id + "\n").encode())


def main(argv):
    if len(argv) == 3 and argv[1] == "id":
        print(extension_id(public_key(argv[2])))
    elif len(argv) == 7 and argv[1] == "pack":
        pack(*argv[2:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
