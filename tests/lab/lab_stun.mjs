// The lab's STUN server: answers each Binding request (RFC 5389) with a Binding success
// response whose XOR-MAPPED-ADDRESS is the address and port the request came from. Nothing in
// the lab translates addresses, so the client learns its own address (192.168.1.100) as its
// public one. Anything that is not a Binding request is ignored, as a real server does.
// Started with a mapped address, it reports that address instead (with the request's port),
// as a server behind which a NAT translated the client's address would.
// lab_services.mjs starts it on 198.18.0.20 (stun.lab.test) and, reporting 203.0.113.2, on
// 198.18.0.22 (stun-nat.lab.test); alone:
//
//   node lab_stun.mjs HOST [PORT [MAPPED_ADDRESS]]
import dgram from 'node:dgram';
import { fileURLToPath } from 'node:url';

const COOKIE = 0x2112a442;

// The answer to one request from address:port, or null for anything but a Binding request.
export function bindingAnswer(request, address, port) {
  if (request.length < 20 || request.readUInt16BE(0) !== 0x0001 || request.readUInt32BE(4) !== COOKIE) {
    return null;
  }
  const octets = address.split('.').map(Number);
  if (octets.length !== 4) return null; // IPv4 only, as the program asks
  const answer = Buffer.alloc(32);
  answer.writeUInt16BE(0x0101, 0);
  answer.writeUInt16BE(12, 2);
  request.copy(answer, 4, 4, 20); // cookie and transaction id
  answer.writeUInt16BE(0x0020, 20);
  answer.writeUInt16BE(8, 22);
  answer.writeUInt16BE(0x0001, 24); // reserved, family IPv4
  answer.writeUInt16BE(port ^ (COOKIE >>> 16), 26);
  const value = ((octets[0] << 24) | (octets[1] << 16) | (octets[2] << 8) | octets[3]) >>> 0;
  answer.writeUInt32BE((value ^ COOKIE) >>> 0, 28);
  return answer;
}

// Resolves with the bound socket once it listens.
export function startStun(host, port = 3478, mapped = null) {
  const socket = dgram.createSocket('udp4');
  socket.on('message', (request, from) => {
    const answer = bindingAnswer(request, mapped ?? from.address, from.port);
    if (answer) socket.send(answer, from.port, from.address);
  });
  return new Promise((resolve, reject) => {
    socket.once('error', reject);
    socket.bind(port, host, () => resolve(socket));
  });
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  await startStun(process.argv[2], Number(process.argv[3] ?? 3478), process.argv[4] ?? null);
  console.log('lab stun ready');
}
