// The subject of a DER certificate as "CN=..., O=..." (in the certificate's
// order), read with a minimal DER reader; throws on malformed input.
const NAMES = {
  '2.5.4.3': 'CN', '2.5.4.4': 'SN', '2.5.4.5': 'serialNumber', '2.5.4.6': 'C',
  '2.5.4.7': 'L', '2.5.4.8': 'ST', '2.5.4.10': 'O', '2.5.4.11': 'OU', '2.5.4.12': 'T',
  '2.5.4.42': 'GN', '1.2.840.113549.1.9.1': 'emailAddress',
};

// One element at `at`: {tag, start (of contents), end}.
function element(bytes, at) {
  if (at + 2 > bytes.length) throw new Error('truncated certificate');
  const tag = bytes[at];
  let length = bytes[at + 1];
  let start = at + 2;
  if (length & 0x80) {
    const count = length & 0x7f;
    if (count === 0 || count > 4) throw new Error('unsupported length');
    length = 0;
    for (let i = 0; i < count; i++) length = length * 256 + bytes[start + i];
    start += count;
  }
  if (start + length > bytes.length) throw new Error('truncated certificate');
  return {tag, start, end: start + length};
}

function children(bytes, parent) {
  const list = [];
  for (let at = parent.start; at < parent.end;) {
    const child = element(bytes, at);
    list.push(child);
    at = child.end;
  }
  return list;
}

function oid(bytes, item) {
  const parts = [Math.floor(bytes[item.start] / 40), bytes[item.start] % 40];
  let value = 0;
  for (let i = item.start + 1; i < item.end; i++) {
    value = value * 128 + (bytes[i] & 0x7f);
    if (!(bytes[i] & 0x80)) { parts.push(value); value = 0; }
  }
  return parts.join('.');
}

function text(bytes, item) {
  const raw = bytes.subarray(item.start, item.end);
  if (item.tag === 0x1e) {  // BMPString: UTF-16 big-endian
    let out = '';
    for (let i = 0; i + 1 < raw.length; i += 2) out += String.fromCharCode(raw[i] * 256 + raw[i + 1]);
    return out;
  }
  return new TextDecoder(item.tag === 0x0c ? 'utf-8' : 'latin1').decode(raw);
}

export function certificateSubject(der) {
  const certificate = element(der, 0);
  const tbs = children(der, children(der, certificate)[0]);
  const first = tbs[0].tag === 0xa0 ? 1 : 0;  // the optional version
  const subject = tbs[first + 4];
  const parts = [];
  for (const set of children(der, subject)) {
    for (const pair of children(der, set)) {
      const [type, value] = children(der, pair);
      const name = oid(der, type);
      parts.push((NAMES[name] || name) + '=' + text(der, value));
    }
  }
  return parts.join(', ');
}
