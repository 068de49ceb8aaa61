import { describe, expect, it } from 'vitest';
import { render } from 'preact-render-to-string';
import { createActions, GATEWAY_TIMEOUT_MS } from '../src/actions';
import { parseInbound } from '../src/messages';
import { PageStore } from '../src/store';
import { CERTIFICATE_CHANGED_TEXT, checkSignIn } from '../src/gateway';
import { GatewayCard } from '../src/components/GatewayCard';
import { gatewayFacts } from '../src/gateway';
import { HEALTHY } from './fixtures';
import { text } from './html';

const withGateway = (mac: string) =>
  HEALTHY.replace(
    '"gatewayIP":"192.168.1.1"',
    `"gatewayIP":"192.168.1.1","gatewayMAC":"${mac}","isUniFi":true,"unifiModel":"UDR"`,
  );
const CONSOLE = withGateway('74:AC:B9:12:34:55');

function setup(delivered = true) {
  const sent: string[] = [];
  const timers: (() => void)[] = [];
  const store = new PageStore();
  const actions = createActions({ send: async (t) => (sent.push(t), delivered) }, store, (fn, ms) => {
    if (ms === GATEWAY_TIMEOUT_MS) timers.push(fn);
  });
  const reply = (message: object) => store.accept(JSON.stringify(message), 1);
  return { sent, timers, store, gateway: store.gateway, actions, reply };
}

const noCommands = { signIn: () => {}, sendCode: () => {}, forget: () => {} };
const card = (store: PageStore) =>
  render(<GatewayCard facts={gatewayFacts(store.state)} gateway={store.gateway} commands={noCommands} />);

describe('gateway sign-in', () => {
  it('reads the replies and refuses malformed ones', () => {
    expect(parseInbound('{"type":"unifiLoginResult","success":false,"requiresMfa":true}')).toEqual({
      type: 'unifiLoginResult',
      success: false,
      requiresMfa: true,
      certificateChanged: false,
    });
    expect(parseInbound('{"type":"unifiMfaResult","success":false}')).toMatchObject({ error: 'Login failed' });
    expect(parseInbound('{"type":"unifiSessionStatus","authenticated":"yes"}')).toBeNull();
    expect(parseInbound('{"type":"unifiForgetResult"}')).toBeNull();
    expect(checkSignIn({ username: ' ', password: 'p', host: '' })?.field).toBe('username');
    expect(checkSignIn({ username: 'a', password: 'p', host: '10.0.0.1/x' })?.field).toBe('host');
    expect(checkSignIn({ username: 'a', password: 'é'.repeat(128), host: '' })?.field).toBe('password');
  });

  it('goes through a wrong password and the code to signed in, one request at a time', async () => {
    const { sent, store, gateway, actions, reply } = setup();
    store.accept(CONSOLE, 1);
    gateway.openForm();
    const values = { username: 'admin', password: 'pa"ss', host: '' };
    expect(await actions.signInGateway(values)).toBe(true);
    expect(gateway.busy).toBe('login');
    expect(await actions.signInGateway(values)).toBe(false); // a second click does nothing
    expect(sent).toEqual(['{"action":"unifi_login","host":"","username":"admin","password":"pa\\"ss"}']);
    reply({ type: 'unifiLoginResult', success: false, error: 'Invalid username or password' });
    expect(gateway.busy).toBeNull();
    expect(gateway.error).toBe('The user name or password is not right.');
    expect(gateway.step).toBe('credentials');

    await actions.signInGateway(values);
    reply({ type: 'unifiLoginResult', success: false, requiresMfa: true });
    expect([gateway.step, gateway.error]).toEqual(['code', null]);
    await actions.sendGatewayCode(values, '000000');
    reply({ type: 'unifiMfaResult', success: false, error: 'Invalid MFA code' });
    expect(gateway.error).toMatch(/code is not right/);
    await actions.sendGatewayCode(values, '123456');
    expect(sent[sent.length - 1]).toBe(
      '{"action":"unifi_mfa","host":"","username":"admin","password":"pa\\"ss","totpCode":"123456"}',
    );
    reply({ type: 'unifiMfaResult', success: true, certificateChanged: true });
    expect([gateway.session, gateway.username, gateway.step]).toEqual(['signedIn', 'admin', 'closed']);
    expect(JSON.stringify(gateway)).not.toContain('pa\\"ss');
    const html = card(store);
    expect(text(html)).toContain('Signed in as admin');
    expect(text(html)).toContain(CERTIFICATE_CHANGED_TEXT);
    expect(text(html)).toContain('Forget sign-in');
    // Another page's sign-in is not this one's to show.
    expect(reply({ type: 'unifiLoginResult', success: true, requiresMfa: false })).toBe(false);
  });

  it('checks the session per gateway, shows an expired one and forgets it', async () => {
    const { sent, store, gateway, actions, reply } = setup();
    store.accept(CONSOLE, 1);
    await actions.checkGatewaySession();
    expect(await actions.checkGatewaySession()).toBe(false); // one check at a time
    expect(text(card(store))).toContain('Checking the saved sign-in');
    reply({ type: 'unifiSessionStatus', authenticated: false, host: '192.168.1.1', username: 'admin' });
    expect(gateway.session).toBe('expired');
    expect(text(card(store))).toContain('Session expired - sign in again');
    // A gateway that does not answer has not refused the sign-in.
    reply({
      type: 'unifiSessionStatus',
      authenticated: false,
      host: '192.168.1.1',
      username: 'admin',
      reachable: false,
    });
    expect(gateway.session).toBe('unreachable');
    expect(text(card(store))).toContain('Your gateway is not answering right now - the sign-in is kept (as admin)');
    expect(text(card(store))).not.toContain('expired');
    reply({ type: 'unifiSessionStatus', authenticated: true, host: '192.168.1.1', username: 'admin' });
    expect(gateway.session).toBe('signedIn');

    // Another gateway: what was known no longer holds.
    store.accept(withGateway('74:AC:B9:00:00:01'), 2);
    expect(gateway.session).toBe('unknown');
    await actions.forgetGatewaySignIn();
    reply({ type: 'unifiForgetResult', success: true });
    expect(gateway.session).toBe('none');
    expect(sent).toEqual(['{"action":"unifi_check_session"}', '{"action":"unifi_forget"}']);
    const html = card(store);
    expect(text(html)).toContain('Sign in to your gateway');
    expect(text(html)).not.toContain('Forget sign-in');
    // Not a console and nothing saved: no card at all.
    store.accept(HEALTHY, 3);
    expect(card(store)).toBe('');
  });

  it('never leaves the form waiting', async () => {
    const unreachable = setup(false);
    unreachable.gateway.openForm();
    expect(await unreachable.actions.signInGateway({ username: 'a', password: 'b', host: '' })).toBe(false);
    expect(unreachable.gateway.busy).toBeNull();
    expect(unreachable.gateway.error).toMatch(/Could not reach Quillon/);

    const { timers, store, gateway, actions } = setup();
    store.accept(CONSOLE, 1);
    gateway.openForm();
    await actions.signInGateway({ username: 'a', password: 'b', host: '' });
    const busy = card(store);
    expect(busy).toMatch(/<button type="submit" class="primary" disabled[^>]*>Signing in…/);
    expect(busy).toMatch(/<input id="gw-password" type="password"[^>]* disabled/);
    timers.forEach((t) => t());
    expect(gateway.busy).toBeNull();
    expect(gateway.error).toMatch(/did not answer/);
  });
});
