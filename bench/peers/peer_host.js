// Comparison peer for the benchmarks only, not part of the product: a plain
// native-messaging signing host in Node.js. It serves one frame: parses the
// JSON, decodes "contentFile", writes it to a data file and reads it back,
// signs it (ECDSA P-256 with SHA-256), answers and exits.
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const os = require('os');
const path = require('path');

function readExactly(size) {
  const buffer = Buffer.allocUnsafe(size);
  let offset = 0;
  while (offset < size) {
    let got;
    try {
      got = fs.readSync(0, buffer, offset, size - offset, null);
    } catch (error) {
      if (error.code === 'EAGAIN') continue;
      throw error;
    }
    if (got === 0) break;
    offset += got;
  }
  return buffer.subarray(0, offset);
}

function writeAll(buffer) {
  let offset = 0;
  while (offset < buffer.length) offset += fs.writeSync(1, buffer, offset);
}

const header = readExactly(4);
if (header.length === 4) {
  const request = JSON.parse(readExactly(header.readUInt32LE(0)).toString('utf8'));
  const data = request.data || {};
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'peer-node-'));
  const file = path.join(directory, 'content.bin');
  fs.writeFileSync(file, Buffer.from(data.contentFile || '', 'base64'));
  const content = fs.readFileSync(file);
  fs.rmSync(directory, {recursive: true});
  const {privateKey} = crypto.generateKeyPairSync('ec', {namedCurve: 'prime256v1'});
  const signature = crypto.sign('sha256', content, privateKey).toString('base64');
  const answerData = Object.assign({}, data, {result: 'success', signature});
  delete answerData.contentFile;
  const body = Buffer.from(JSON.stringify({contentId: request.contentId, data: answerData}));
  const length = Buffer.allocUnsafe(4);
  length.writeUInt32LE(body.length, 0);
  writeAll(Buffer.concat([length, body]));
}
