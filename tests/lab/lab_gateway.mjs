// The lab's home gateway as a console of its maker shows itself on the LAN: HTTPS on
// 192.168.1.1:443 with a self-signed certificate, a system description anyone may read, and a
// local sign-in API with cookies, CSRF tokens, two-factor codes and a lockout. Run in the gateway
// namespace by scripts/lab; the lab tests steer it through a control socket
// (lab_gateway_control.mjs) while the program under test keeps running.
//
//   GET  /api/system       200 {"hardware":{"shortname":...},"name","mac","deviceState",
//                          "cloudConnected","hasInternet"}; "mac" is lan0's own unless configured
//   POST /api/auth/login   {"username","password","rememberMe"[,"token"]}:
//                          200 the user, Set-Cookie TOKEN=<HS256 JWT> and X-CSRF-Token (the JWT's
//                          csrfToken); 403 AUTHENTICATION_FAILED_INVALID_CREDENTIALS;
//                          499 MFA_AUTH_REQUIRED when the user has a code and none was sent,
//                          499 MFA_TOKEN_INVALID when the code is wrong; 429
//                          AUTHENTICATION_FAILED_LIMIT_REACHED for every attempt once a user
//                          has 5 wrong passwords in a row, until the lockout is reset
//   GET  /api/users/self   200 the user when the TOKEN cookie verifies, has not expired and the
//                          X-CSRF-Token header matches it; 401 otherwise
//   anything else          404
//
// Control: HTTP with JSON bodies on the unix socket STATE_DIR/gateway.sock (filesystem sockets
// cross network namespaces, so tests reach it from outside):
//   GET  /state            mode, certificate fingerprint, users, locked users, open connections
//   POST /configure        {users:[{username,password,mfaCode?,email?}], system:{...},
//                          sessionSeconds}: each key given replaces the current one (system
//                          fields merge)
//   POST /expire-sessions  every session issued so far stops verifying
//   POST /reset-lockout    forgets wrong passwords
//   POST /certificate      a new self-signed certificate (new key, same name), open connections
//                          closed unless {"keepConnections":true}; answers {fingerprint256}
//   POST /hang             {stage:"connect"}: connections are accepted and never handshaken, and
//                          requests on open ones go unanswered; {stage:"request",path?}: requests
//                          (those under path, or all) are read and never answered
//   POST /go-away          stops listening and drops every connection (a new one is refused)
//   POST /resume           serves again; connections held by a hang are dropped
//   POST /reset            default users, system and session lifetime, no lockout, no sessions,
//                          empty request log, serving
//   GET  /requests         what arrived, in order: {seq, connection, remotePort, method, path,
//                          headers, body, status} (status null while unanswered); DELETE clears
//
//   node lab_gateway.mjs STATE_DIR    (certificate in STATE_DIR/certs/gateway.{key,pem})
import { execFile } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import https from 'node:https';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { promisify } from 'node:util';

// scripts/lab finds and ends this process by this name (comm).
process.title = 'lab_gateway';

const stateDir = process.argv[2];
const certDir = path.join(stateDir, 'certs');
const controlPath = path.join(stateDir, 'gateway.sock');
const address = '192.168.1.1';
const port = 443;

const defaults = () => ({
  users: [{ username: 'admin', password: 'lab-password' }],
  system: {
    shortname: 'UDMPRO',
    name: 'Lab Dream Router',
    deviceState: 'setup',
    cloudConnected: false,
    hasInternet: true,
  },
  sessionSeconds: 7200,
});

const lockoutAfter = 5;
const secret = crypto.randomBytes(32); // per run: tokens of an earlier run never verify

let settings;
let users; // with unique_id, kept while the user is configured
let failures; // username -> wrong passwords in a row
let liveSessions; // jti of every session not expired by the control
let log;
let mode = { kind: 'serve' };

function reset() {
  settings = defaults();
  users = settings.users.map((u) => withId(u));
  failures = new Map();
  liveSessions = new Set();
  log = [];
}

function withId(user, previous = []) {
  const known = previous.find((u) => u.username === user.username);
  return { email: `${user.username}@home.lab`, ...user, unique_id: known?.unique_id ?? crypto.randomUUID() };
}

// What a signed-in client sees of a user (never the password or the code).
const publicUser = (u) => ({
  unique_id: u.unique_id,
  id: u.unique_id,
  username: u.username,
  email: u.email,
  status: 'ACTIVE',
  isOwner: u === users[0],
});

const base64url = (data) => Buffer.from(data).toString('base64url');

function sign(payload) {
  const head = base64url(JSON.stringify({ alg: 'HS256', typ: 'JWT' })) + '.' + base64url(JSON.stringify(payload));
  return head + '.' + crypto.createHmac('sha256', secret).update(head).digest('base64url');
}

// The payload of a token this run signed, or null.
function verify(token) {
  const parts = token.split('.');
  if (parts.length !== 3) return null;
  const expected = crypto.createHmac('sha256', secret).update(parts[0] + '.' + parts[1]).digest();
  const given = Buffer.from(parts[2], 'base64url');
  if (given.length !== expected.length || !crypto.timingSafeEqual(given, expected)) return null;
  try {
    return JSON.parse(Buffer.from(parts[1], 'base64url').toString('utf8'));
  } catch {
    return null;
  }
}

function cookie(req, name) {
  for (const part of (req.headers.cookie ?? '').split(';')) {
    const [key, ...value] = part.trim().split('=');
    if (key === name) return value.join('=');
  }
  return null;
}

function reply(res, status, body, headers = {}) {
  const text = JSON.stringify(body);
  res.writeHead(status, {
    'Content-Type': 'application/json; charset=utf-8',
    'Content-Length': Buffer.byteLength(text),
    ...headers,
  });
  res.end(text);
}

const invalidCredentials = {
  code: 'AUTHENTICATION_FAILED_INVALID_CREDENTIALS',
  message: 'Invalid username or password',
};

function systemInfo() {
  const { shortname, name, mac, ...rest } = settings.system;
  const lan = os.networkInterfaces().lan0?.find((a) => a.family === 'IPv4');
  return { hardware: { shortname }, name, mac: mac ?? lan?.mac ?? '00:00:00:00:00:00', ...rest };
}

function login(req, res, text) {
  let body;
  try {
    body = JSON.parse(text);
  } catch {
    return reply(res, 400, { code: 'INVALID_PAYLOAD', message: 'The request body is not JSON' });
  }
  const name = String(body?.username ?? '');
  if ((failures.get(name) ?? 0) >= lockoutAfter) {
    return reply(res, 429, {
      code: 'AUTHENTICATION_FAILED_LIMIT_REACHED',
      message: 'Too many failed attempts, try again later',
    });
  }
  const user = users.find((u) => u.username === name);
  if (!user || user.password !== body.password) {
    failures.set(name, (failures.get(name) ?? 0) + 1);
    return reply(res, 403, invalidCredentials);
  }
  failures.delete(name);
  if (user.mfaCode !== undefined) {
    if (body.token === undefined) {
      return reply(res, 499, {
        code: 'MFA_AUTH_REQUIRED',
        message: 'Two-factor authentication required',
        data: { authenticators: [{ type: 'totp' }], user_email: user.email },
      });
    }
    if (String(body.token) !== String(user.mfaCode)) {
      return reply(res, 499, { code: 'MFA_TOKEN_INVALID', message: 'Invalid two-factor code' });
    }
  }
  const iat = Math.floor(Date.now() / 1000);
  const payload = {
    userId: user.unique_id,
    isRemembered: body.rememberMe === true,
    csrfToken: crypto.randomUUID(),
    jti: crypto.randomUUID(),
    iat,
    exp: iat + settings.sessionSeconds,
  };
  liveSessions.add(payload.jti);
  reply(res, 200, publicUser(user), {
    'Set-Cookie': `TOKEN=${sign(payload)}; path=/; samesite=strict; secure; httponly`,
    'X-CSRF-Token': payload.csrfToken,
  });
}

function self(req, res) {
  const payload = verify(cookie(req, 'TOKEN') ?? '');
  const user = payload && users.find((u) => u.unique_id === payload.userId);
  const valid =
    user &&
    payload.exp > Date.now() / 1000 &&
    liveSessions.has(payload.jti) &&
    req.headers['x-csrf-token'] === payload.csrfToken;
  if (!valid) return reply(res, 401, { code: 'AUTHENTICATION_FAILED_INVALID_CREDENTIALS', message: 'Not signed in' });
  reply(res, 200, publicUser(user));
}

// Every TCP connection: its number and socket; those a hang holds back from the TLS server.
const connections = new Map();
const held = new Set();
let connectionCount = 0;

// The number of the TCP connection under a request's TLS socket (open connections differ in
// their remote address and port).
function connectionOf(tls) {
  for (const [id, socket] of connections) {
    if (socket.remotePort === tls.remotePort && socket.remoteAddress === tls.remoteAddress) return id;
  }
  return null;
}

function answer(req, res) {
  const raw = req.socket;
  const entry = {
    seq: log.length + 1,
    time: new Date().toISOString(),
    connection: connectionOf(raw),
    remotePort: raw.remotePort,
    method: req.method,
    path: req.url,
    headers: req.headers,
    body: '',
    status: null,
  };
  log.push(entry);
  res.on('finish', () => (entry.status = res.statusCode));
  const chunks = [];
  let size = 0;
  req.on('data', (chunk) => {
    size += chunk.length;
    if (size <= 65536) chunks.push(chunk);
  });
  req.on('end', () => {
    entry.body = Buffer.concat(chunks).toString('utf8');
    const hang = mode.kind === 'hang' && (mode.stage === 'connect' || !mode.path || req.url.startsWith(mode.path));
    if (hang) return held.add(raw);
    const url = req.url.split('?')[0];
    if (req.method === 'GET' && url === '/api/system') return reply(res, 200, systemInfo());
    if (req.method === 'POST' && url === '/api/auth/login') return login(req, res, entry.body);
    if (req.method === 'GET' && url === '/api/users/self') return self(req, res);
    reply(res, 404, { code: 'NOT_FOUND', message: 'Not found' });
  });
}

const tlsServer = https.createServer({ key: read('gateway.key'), cert: read('gateway.pem') }, answer);
// A client that reuses its connection between requests seconds apart must find it open.
tlsServer.keepAliveTimeout = 120_000;
let fingerprint256 = new crypto.X509Certificate(read('gateway.pem')).fingerprint256;

function read(name) {
  return fs.readFileSync(path.join(certDir, name));
}

// TCP is accepted here and handed to the TLS server, so that a hang can hold a connection
// before its handshake.
const listener = net.createServer((socket) => {
  const id = ++connectionCount;
  connections.set(id, socket);
  socket.on('close', () => {
    connections.delete(id);
    held.delete(socket);
  });
  socket.on('error', () => {});
  if (mode.kind === 'hang' && mode.stage === 'connect') {
    // Read and dropped, so that a client giving up is seen to close.
    socket.resume();
    return held.add(socket);
  }
  tlsServer.emit('connection', socket);
});

function listen() {
  return new Promise((resolve, reject) => {
    listener.once('error', reject);
    listener.listen(port, address, () => {
      listener.off('error', reject);
      resolve();
    });
  });
}

function dropConnections() {
  for (const socket of connections.values()) socket.destroy();
  held.clear();
}

let certificates = 0;

// A new key and certificate with the names of the first one, as when the console regenerates it.
async function newCertificate() {
  const first = new crypto.X509Certificate(read('gateway.pem'));
  const subject = '/' + first.subject.split('\n').join('/');
  const altNames = (first.subjectAltName ?? '').replaceAll('IP Address:', 'IP:');
  const name = `gateway-${++certificates}`;
  const key = path.join(certDir, `${name}.key`);
  const cert = path.join(certDir, `${name}.pem`);
  const args = ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out', cert, '-days', '3650'];
  args.push('-subj', subject);
  if (altNames) args.push('-addext', `subjectAltName=${altNames}`);
  await promisify(execFile)('openssl', args);
  const pem = fs.readFileSync(cert);
  tlsServer.setSecureContext({ key: fs.readFileSync(key), cert: pem });
  fingerprint256 = new crypto.X509Certificate(pem).fingerprint256;
}

async function control(req, body) {
  const route = `${req.method} ${req.url}`;
  switch (route) {
    case 'GET /state':
      return {
        mode,
        fingerprint256,
        users: users.map((u) => u.username),
        locked: [...failures].filter(([, n]) => n >= lockoutAfter).map(([name]) => name),
        connections: connections.size,
        sessionSeconds: settings.sessionSeconds,
      };
    case 'GET /requests':
      return log;
    case 'DELETE /requests':
      log = [];
      return {};
    case 'POST /configure':
      if (body.users) {
        if (!Array.isArray(body.users) || !body.users.every((u) => u.username && typeof u.password === 'string')) {
          throw new Error('users: [{username, password, mfaCode?, email?}]');
        }
        users = body.users.map((u) => withId(u, users));
      }
      if (body.system) settings.system = { ...settings.system, ...body.system };
      if (body.sessionSeconds !== undefined) settings.sessionSeconds = Number(body.sessionSeconds);
      return {};
    case 'POST /expire-sessions':
      liveSessions.clear();
      return {};
    case 'POST /reset-lockout':
      failures.clear();
      return {};
    case 'POST /certificate':
      await newCertificate();
      if (!body.keepConnections) dropConnections();
      return { fingerprint256 };
    case 'POST /hang':
      if (!['connect', 'request'].includes(body.stage)) throw new Error('stage: "connect" or "request"');
      mode = { kind: 'hang', stage: body.stage, path: body.path ?? null };
      return {};
    case 'POST /go-away':
      mode = { kind: 'away' };
      listener.close();
      dropConnections();
      return {};
    case 'POST /resume':
      for (const socket of held) socket.destroy();
      held.clear();
      if (mode.kind === 'away') await listen();
      mode = { kind: 'serve' };
      return {};
    case 'POST /reset':
      if (mode.kind === 'away') await listen();
      for (const socket of held) socket.destroy();
      mode = { kind: 'serve' };
      reset();
      return {};
    default:
      return undefined;
  }
}

const controlServer = http.createServer((req, res) => {
  let text = '';
  req.setEncoding('utf8');
  req.on('data', (chunk) => (text += chunk));
  req.on('end', async () => {
    try {
      const result = await control(req, text ? JSON.parse(text) : {});
      if (result === undefined) return reply(res, 404, { error: `no control ${req.method} ${req.url}` });
      reply(res, 200, result);
    } catch (error) {
      reply(res, 400, { error: error.message });
    }
  });
});

reset();
fs.rmSync(controlPath, { force: true });
await Promise.all([listen(), new Promise((resolve) => controlServer.listen(controlPath, resolve))]);
console.log(`lab gateway ready on ${address}:${port}, control ${controlPath}`);
