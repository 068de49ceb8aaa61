// Lab test of the gateway sign-in: the lab's gateway (lab_gateway.mjs) plays a console of the
// maker the program recognises, with its local HTTPS API and a self-signed certificate. The
// real program in the client namespace recognises it by its hardware address and its answer,
// signs in with a password and a one-time code, keeps and checks the session, notices an expired
// session and a changed certificate, forgets the sign-in, and says what went wrong when the
// password is wrong too often or the gateway goes away mid-sign-in. Root only.
//
//   QUILLON_BIN=build/dev/src/app/quillon node --test --test-concurrency=1 tests/lab/gateway.lab.mjs
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { isRoot, lab, startInLab } from './in_lab.mjs';
import {
  clearGatewayRequests, configureGateway, expireSessions, gatewayRequests, hangGateway, labGatewayMac,
  resetGateway, resumeGateway, setGatewayMac, stopGateway, swapCertificate,
} from './lab_gateway_control.mjs';

const consoleMac = '74:ac:b9:00:00:01';
const password = 'lab "pass\\word';  // a quote and a backslash must arrive intact
const code = '424242';
const homeOf = (state) => state?.segments?.find((s) => s.id === 'homeNetwork');

// Every file under a folder, recursively.
const filesUnder = (folder) => fs.readdirSync(folder, { recursive: true })
  .map((name) => path.join(folder, name)).filter((file) => fs.statSync(file).isFile());

describe('the gateway sign-in on the lab network', { skip: !isRoot && 'needs root', concurrency: 1, timeout: 240_000 }, () => {
  before(async () => {
    lab('up');
    setGatewayMac(consoleMac);
  });
  after(async () => {
    if (!isRoot) return;
    await resetGateway();
    setGatewayMac(labGatewayMac);
    lab('down');
  });

  // Sends a command and waits for the reply of its type that came after it.
  const ask = async (app, command, replyType) => {
    const from = app.messages.length;
    assert.equal(await app.send(JSON.stringify(command)), 204);
    return app.waitFor(() => app.messages.slice(from).find((m) => m.type === replyType), 40_000, replyType);
  };

  it('recognises the console, signs in with a code, checks and forgets the session', async () => {
    await resetGateway();
    await configureGateway({ users: [{ username: 'admin', password, mfaCode: code }],
      system: { name: 'Lab Router', shortname: 'UDR' } });
    const app = await startInLab();
    try {
      const home = await app.waitFor(() => homeOf(app.messages.findLast((m) => m.type === 'networkState'))
        ?.details?.isUniFi && homeOf(app.messages.findLast((m) => m.type === 'networkState')), 30_000, 'the console recognised');
      assert.equal(home.details.unifiModel, 'UDR');
      assert.equal(home.displayName, 'UDR');
      assert.match(app.log(), /\[INFO\] UniFi gateway detected: Lab Router \(UDR\)/);

      const login = { action: 'unifi_login', host: '', username: 'admin', password: 'wrong' };
      assert.deepEqual(await ask(app, login, 'unifiLoginResult'),
        { type: 'unifiLoginResult', success: false, error: 'Invalid username or password' });
      assert.deepEqual(await ask(app, { ...login, password }, 'unifiLoginResult'),
        { type: 'unifiLoginResult', success: false, requiresMfa: true });
      const mfa = { action: 'unifi_mfa', host: '', username: 'admin', password, totpCode: '000000' };
      assert.equal((await ask(app, mfa, 'unifiMfaResult')).error, 'Invalid MFA code');
      assert.deepEqual(await ask(app, { ...mfa, totpCode: code }, 'unifiMfaResult'),
        { type: 'unifiMfaResult', success: true });

      const logins = (await gatewayRequests()).filter((r) => r.path === '/api/auth/login');
      assert.equal(JSON.parse(logins.at(-1).body).password, password);
      assert.equal(JSON.parse(logins.at(-1).body).token, code);
      // The code went over the connection its sign-in was asked on.
      assert.equal(logins.at(-1).connection, logins.at(-2).connection);

      const signedIn = { type: 'unifiSessionStatus', authenticated: true, host: '192.168.1.1', username: 'admin' };
      assert.deepEqual(await ask(app, { action: 'unifi_check_session' }, 'unifiSessionStatus'), signedIn);
      const self = (await gatewayRequests()).findLast((r) => r.path === '/api/users/self');
      assert.equal(self.status, 200);  // the gateway checked the cookie and the CSRF token
      await expireSessions();
      assert.equal((await ask(app, { action: 'unifi_check_session' }, 'unifiSessionStatus')).authenticated, false);

      // A new certificate: the session token is not sent to it, and signing in again says so.
      assert.deepEqual(await ask(app, { ...mfa, totpCode: code }, 'unifiMfaResult'), { type: 'unifiMfaResult', success: true });
      await swapCertificate();
      await clearGatewayRequests();
      assert.deepEqual(await ask(app, { action: 'unifi_check_session' }, 'unifiSessionStatus'),
        { ...signedIn, authenticated: false, certificateChanged: true });
      assert.deepEqual((await gatewayRequests()).map((r) => r.path), ['/api/system']);
      assert.equal((await ask(app, { ...login, password }, 'unifiLoginResult')).requiresMfa, true);
      assert.deepEqual(await ask(app, { ...mfa, totpCode: code }, 'unifiMfaResult'),
        { type: 'unifiMfaResult', success: true, certificateChanged: true });
      assert.deepEqual(await ask(app, { action: 'unifi_check_session' }, 'unifiSessionStatus'), signedIn);

      // The password is nowhere in clear: not in the saved sign-ins, not in the log.
      const saved = path.join(app.dataDir, 'gateway_credentials.ini');
      assert.equal(fs.statSync(saved).mode & 0o777, 0o600);
      assert.match(fs.readFileSync(saved, 'utf8'), /\[74:AC:B9:00:00:01\]\nhost=192\.168\.1\.1\nusername=admin\npassword=/i);
      for (const file of filesUnder(app.dataDir)) {
        const bytes = fs.readFileSync(file);
        assert.equal(bytes.indexOf('pass\\word'), -1, file);
        assert.equal(bytes.indexOf('pass\\\\word'), -1, file);
      }

      assert.deepEqual(await ask(app, { action: 'unifi_forget' }, 'unifiForgetResult'), { type: 'unifiForgetResult', success: true });
      assert.equal(fs.existsSync(saved), false);
      assert.deepEqual(await ask(app, { action: 'unifi_check_session' }, 'unifiSessionStatus'),
        { type: 'unifiSessionStatus', authenticated: false });
    } finally {
      await app.stop();
    }
  });

  it('says when the account is locked and when the gateway goes away mid-sign-in', async () => {
    await resetGateway();
    const app = await startInLab();
    try {
      const login = { action: 'unifi_login', host: '192.168.1.1', username: 'admin', password: 'wrong' };
      const errors = [];
      for (let i = 0; i < 6; ++i) errors.push((await ask(app, login, 'unifiLoginResult')).error);
      assert.deepEqual(errors, [...Array(5).fill('Invalid username or password'),
        'Too many sign-in attempts - the gateway refuses for a while']);

      await resetGateway();
      await hangGateway({ stage: 'request', path: '/api/auth/login' });
      const from = app.messages.length;
      const asked = Date.now();
      assert.equal(await app.send(JSON.stringify({ ...login, password: 'lab-password' })), 204);
      // The page keeps getting its state while the sign-in waits.
      await app.waitFor(() => app.messages.slice(from).filter((m) => m.type === 'networkState').length >= 2, 15_000,
        'network states while the sign-in waits');
      await stopGateway();
      const reply = await app.waitFor(() => app.messages.slice(from).find((m) => m.type === 'unifiLoginResult'), 40_000,
        'the sign-in reply');
      assert.deepEqual(reply, { type: 'unifiLoginResult', success: false, error: 'Network error - check connection' });
      assert.ok(Date.now() - asked < 35_000);
      assert.match(app.log(), /\[ERROR\] UniFi login failed: network error/);
      await resumeGateway();
      assert.deepEqual(await ask(app, { ...login, password: 'lab-password' }, 'unifiLoginResult'),
        { type: 'unifiLoginResult', success: true, requiresMfa: false });
      await app.stop({ keepData: true });
      assert.equal(app.child.exitCode, 0);
    } finally {
      await app.stop();
    }
  });
});
