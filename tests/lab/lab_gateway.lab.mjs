// The lab's home gateway on its own (tests/lab/lab_gateway.mjs), as curl in the client namespace
// sees it while lab_gateway_control.mjs steers it: the ground the program's gateway lab tests
// stand on. Root only.
//
//   node --test --test-concurrency=1 tests/lab/lab_gateway.lab.mjs
import { after, before, beforeEach, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import crypto from 'node:crypto';
import { inClient, isRoot, lab } from './in_lab.mjs';
import {
  configureGateway, expireSessions, gatewayRequests, gatewayState, hangGateway, labGatewayMac,
  resetGateway, resetLockout, resumeGateway, setGatewayMac, stopGateway, swapCertificate,
} from './lab_gateway_control.mjs';

const base = 'https://192.168.1.1';

// curl in the client namespace: one request per path (on one connection), the last one's
// { code (curl's exit code), status, headers (lower-case names), json, certificate (PEM) }.
function curl(paths, { body, headers = {}, seconds = 5 } = {}) {
  const args = ['-sk', '-m', String(seconds), '-D', '-', '-w', '\n%{certs}'];
  for (const [name, value] of Object.entries(headers)) args.push('-H', `${name}: ${value}`);
  if (body !== undefined) {
    const json = ['Content-Type: application/json', 'Accept: application/json', 'X-Requested-With: XMLHttpRequest'];
    for (const header of json) args.push('-H', header);
    args.push('--data-raw', JSON.stringify(body));
  }
  args.push(...[paths].flat().map((p) => base + p));
  const run = spawnSync('ip', ['netns', 'exec', 'qlab-client', 'curl', ...args], { encoding: 'utf8' });
  const blocks = run.stdout.split(/^HTTP\/1\.1 /m);
  const last = blocks.at(-1);
  const [head = '', rest = ''] = last.split(/\r\n\r\n/);
  const responseHeaders = Object.fromEntries(head.split('\r\n').slice(1).map((line) => {
    const colon = line.indexOf(':');
    return [line.slice(0, colon).toLowerCase(), line.slice(colon + 1).trim()];
  }));
  const text = rest.split('\n')[0];
  return {
    code: run.status,
    status: blocks.length > 1 ? Number(head.split(' ')[0]) : 0,
    headers: responseHeaders,
    json: text ? JSON.parse(text) : null,
    certificate: run.stdout.match(/-----BEGIN CERTIFICATE-----[^]*?-----END CERTIFICATE-----/g)?.at(-1),
  };
}

const login = (username, password, token) =>
  curl('/api/auth/login', { body: { username, password, rememberMe: true, ...(token && { token }) } });

const session = (signedIn) => ({
  token: /^TOKEN=([^;]+); path=\/; samesite=strict; secure; httponly$/.exec(signedIn.headers['set-cookie'])?.[1],
  csrf: signedIn.headers['x-csrf-token'],
});

const self = ({ token, csrf }) =>
  curl('/api/users/self', { headers: { Cookie: `TOKEN=${token}`, ...(csrf && { 'X-CSRF-Token': csrf }) } });

const decode = (part) => JSON.parse(Buffer.from(part, 'base64url').toString('utf8'));

describe('the lab gateway', { skip: !isRoot && 'needs root', concurrency: 1, timeout: 120_000 }, () => {
  before(() => lab('up'));
  after(() => {
    if (isRoot) lab('down');
  });
  beforeEach(() => resetGateway());

  it('describes itself and signs users in with a cookie, a CSRF token and two-factor codes', async () => {
    const system = curl('/api/system');
    assert.equal(system.status, 200);
    assert.equal(system.json.hardware.shortname, 'UDMPRO');
    assert.equal(system.json.mac, labGatewayMac);
    assert.equal(system.json.cloudConnected, false);
    assert.equal(curl('/api/nothing').status, 404);

    await configureGateway({
      users: [{ username: 'admin', password: 'pw' }, { username: 'owner', password: 'pw2', mfaCode: '123456' }],
      system: { name: 'Renamed' },
    });
    assert.equal(curl('/api/system').json.name, 'Renamed');
    const signedIn = login('admin', 'pw');
    assert.equal(signedIn.status, 200);
    assert.equal(signedIn.json.username, 'admin');
    const admin = session(signedIn);
    const [head, payload, signature] = admin.token.split('.');
    assert.deepEqual(decode(head), { alg: 'HS256', typ: 'JWT' });
    const claims = decode(payload);
    assert.equal(claims.csrfToken, admin.csrf);
    assert.equal(claims.userId, signedIn.json.unique_id);
    assert.equal(claims.exp - claims.iat, 7200);
    assert.equal(self(admin).json?.username, 'admin');
    assert.equal(self({ ...admin, csrf: undefined }).status, 401);
    assert.equal(self({ ...admin, csrf: crypto.randomUUID() }).status, 401);
    const forged = Buffer.from(JSON.stringify({ ...claims, exp: claims.exp + 1 })).toString('base64url');
    assert.equal(self({ ...admin, token: `${head}.${forged}.${signature}` }).status, 401);

    const noCode = login('owner', 'pw2');
    assert.equal(noCode.status, 499);
    assert.equal(noCode.json.code, 'MFA_AUTH_REQUIRED');
    assert.deepEqual(noCode.json.data.authenticators, [{ type: 'totp' }]);
    assert.equal(login('owner', 'pw2', '654321').json.code, 'MFA_TOKEN_INVALID');
    assert.equal(login('owner', 'wrong', '123456').status, 403);
    const owner = session(login('owner', 'pw2', '123456'));
    assert.equal(self(owner).json?.username, 'owner');

    await expireSessions();
    assert.equal(self(admin).status, 401);
    assert.equal(self(owner).json.code, 'AUTHENTICATION_FAILED_INVALID_CREDENTIALS');
    await configureGateway({ sessionSeconds: 1 });
    const brief = session(login('admin', 'pw'));
    await new Promise((resolve) => setTimeout(resolve, 2100));
    assert.equal(self(brief).status, 401);
  });

  it('locks a user out after five wrong passwords in a row until the lockout is reset', async () => {
    for (let i = 0; i < 4; i++) assert.equal(login('admin', 'wrong').status, 403);
    assert.equal(login('admin', 'lab-password').status, 200); // the row starts again
    for (let i = 0; i < 5; i++) assert.equal(login('admin', 'wrong').status, 403);
    const locked = login('admin', 'lab-password');
    assert.equal(locked.status, 429);
    assert.equal(locked.json.code, 'AUTHENTICATION_FAILED_LIMIT_REACHED');
    assert.deepEqual((await gatewayState()).locked, ['admin']);
    await resetLockout();
    assert.equal(login('admin', 'lab-password').status, 200);
  });

  it('logs each request with its connection and headers', async () => {
    curl(['/api/system', '/api/users/self'], { headers: { 'X-CSRF-Token': 'abc' } });
    login('admin', 'lab-password');
    const [first, second, third] = await gatewayRequests();
    assert.deepEqual([first.path, second.path, third.path], ['/api/system', '/api/users/self', '/api/auth/login']);
    assert.equal(second.connection, first.connection);
    assert.equal(second.remotePort, first.remotePort);
    assert.notEqual(third.connection, first.connection);
    assert.equal(second.headers['x-csrf-token'], 'abc');
    assert.equal(third.headers['x-requested-with'], 'XMLHttpRequest');
    assert.equal(JSON.parse(third.body).username, 'admin');
    assert.deepEqual([first.status, second.status, third.status], [200, 401, 200]);
  });

  it('swaps its certificate, hangs, goes away and comes back, and changes its MAC', async () => {
    const first = new crypto.X509Certificate(curl('/api/system').certificate);
    assert.equal(first.fingerprint256, (await gatewayState()).fingerprint256);
    const fingerprint = await swapCertificate();
    const second = new crypto.X509Certificate(curl('/api/system').certificate);
    assert.equal(second.fingerprint256, fingerprint);
    assert.notEqual(fingerprint, first.fingerprint256);
    assert.equal(second.subject, first.subject);
    const key = (certificate) => certificate.publicKey.export({ format: 'der', type: 'spki' }).toString('hex');
    assert.notEqual(key(second), key(first));

    await hangGateway({ stage: 'connect' });
    const unshaken = curl('/api/system', { seconds: 1 });
    assert.equal(unshaken.code, 28); // a time-out: accepted, but no handshake
    assert.equal(unshaken.certificate, undefined);
    await hangGateway({ stage: 'request', path: '/api/auth/' });
    assert.equal(curl('/api/system').status, 200);
    const hung = curl('/api/auth/login', { body: { username: 'admin', password: 'lab-password' }, seconds: 1 });
    assert.equal(hung.code, 28);
    assert.ok(hung.certificate, 'the handshake was done');
    assert.equal((await gatewayRequests()).at(-1).status, null);
    await stopGateway();
    assert.equal(curl('/api/system').code, 7); // refused
    await resumeGateway();
    assert.equal(curl('/api/system').status, 200);

    try {
      setGatewayMac('74:ac:b9:00:00:01');
      // The gratuitous ARP is on its way when the command returns.
      let neighbour;
      for (let i = 0; i < 20 && !/74:ac:b9:00:00:01/.test(neighbour); i++) {
        if (i) await new Promise((resolve) => setTimeout(resolve, 50));
        neighbour = inClient('ip', 'neigh', 'show', '192.168.1.1');
      }
      assert.match(neighbour, /lladdr 74:ac:b9:00:00:01/);
      assert.equal(curl('/api/system').json.mac, '74:ac:b9:00:00:01');
    } finally {
      setGatewayMac(labGatewayMac);
    }
  });
});
