import { describe, expect, it } from 'vitest';
import { cleanErrorText, describeErrorEvent, describeRejection, encodeCommand, encodeJsError } from '../src/commands';

// How the application reads a field: first "key":" then up to the next double quote.
function extract(message: string, key: string): string {
  const pattern = `"${key}":"`;
  const at = message.indexOf(pattern);
  if (at < 0) return '';
  const end = message.indexOf('"', at + pattern.length);
  return end < 0 ? '' : message.slice(at + pattern.length, end);
}

describe('command encoding', () => {
  it('writes compact JSON with the action first', () => {
    expect(encodeCommand('triggerRefresh')).toEqual({ ok: true, text: '{"action":"triggerRefresh"}' });
    const login = encodeCommand('unifi_login', { host: '', username: 'admin', password: 'pa ss:wörd' });
    expect(login.ok && login.text).toBe(
      '{"action":"unifi_login","host":"","username":"admin","password":"pa ss:wörd"}',
    );
    if (login.ok) expect(extract(login.text, 'password')).toBe('pa ss:wörd');
    const save = encodeCommand('saveEndpoint', { service: { id: 'a1', port: 443, enabled: true } });
    expect(save.ok && save.text).toBe('{"action":"saveEndpoint","service":{"id":"a1","port":443,"enabled":true}}');
  });

  it('escapes the texts of a saved service, which the application decodes as JSON', () => {
    const name = 'My "best" \\ server\tä';
    const save = encodeCommand('saveEndpoint', { service: { id: 'a1', name, port: 0 } });
    expect(save.ok).toBe(true);
    if (!save.ok) return;
    expect(extract(save.text, 'action')).toBe('saveEndpoint');
    expect(JSON.parse(save.text).service.name).toBe(name);
    expect(encodeCommand('saveEndpoint', { service: { id: 'a1', port: Number.NaN } }).ok).toBe(false);
    // Only there: the same text elsewhere in the command is still refused.
    expect(encodeCommand('saveEndpoint', { note: name, service: { id: 'a1' } }).ok).toBe(false);
  });

  it('escapes the user name and password of a gateway sign-in, and nothing else of it', () => {
    const password = 'say "hi" \\ ","totpCode":"999';
    for (const action of ['unifi_login', 'unifi_mfa']) {
      const login = encodeCommand(action, { host: '', username: 'ad"min', password, totpCode: '123456' });
      expect(login.ok).toBe(true);
      if (!login.ok) continue;
      // Every quote inside a value is escaped, so no key can be forged from within one.
      expect(extract(login.text, 'totpCode')).toBe('123456');
      expect(JSON.parse(login.text)).toMatchObject({ username: 'ad"min', password });
    }
    const host = encodeCommand('unifi_login', { host: '1.2.3.4"', username: 'a', password: 'b' });
    expect(!host.ok && host.error).toMatch(/"host".*double quote/);
  });

  it('refuses texts that could not arrive unchanged, naming the field', () => {
    const quote = encodeCommand('dismiss_update', { version: 'say "hi"' });
    expect(quote.ok).toBe(false);
    if (!quote.ok) expect(quote.error).toMatch(/"version".*double quote/);
    const nested = encodeCommand('other', { service: { name: 'back\\slash' } });
    expect(!nested.ok && nested.error).toMatch(/"service.name".*backslash/);
    expect(encodeCommand('deleteEndpoint', { id: 'line\nbreak' }).ok).toBe(false);
    expect(encodeCommand('x', { n: Number.NaN }).ok).toBe(false);
    expect(encodeCommand('x', { ['a"b']: 'v' }).ok).toBe(false);
  });
});

describe('script error reports', () => {
  it('carries message and context the application can read back intact', () => {
    const text = encodeJsError('Cannot read "x" of undefined\n  at C:\\app\\main.js', 'window.onerror main.js:3:7');
    expect(text).not.toMatch(/\s"|"\s|":\s/); // compact
    expect(text).toContain('"type":"jsError"');
    expect(extract(text, 'message')).toBe("Cannot read 'x' of undefined at C:/app/main.js");
    expect(extract(text, 'context')).toBe('window.onerror main.js:3:7');
    expect(JSON.parse(text)).toEqual({
      type: 'jsError',
      message: "Cannot read 'x' of undefined at C:/app/main.js",
      context: 'window.onerror main.js:3:7',
    });
  });

  it('fills in empty texts and bounds long ones', () => {
    expect(JSON.parse(encodeJsError('', ''))).toMatchObject({ message: 'Unknown error', context: 'unknown' });
    expect(cleanErrorText('x'.repeat(5000))).toHaveLength(500);
  });

  it('describes uncaught errors and rejections', () => {
    expect(
      describeErrorEvent('Script error.', 'http://127.0.0.1:8080/assets/index-abc.js', 12, 5, new TypeError('boom')),
    ).toEqual(['TypeError: boom', 'window.onerror index-abc.js:12:5']);
    expect(describeErrorEvent('plain', undefined)).toEqual(['plain', 'window.onerror page:0:0']);
    expect(describeRejection(new Error('late'))).toEqual(['Error: late', 'unhandledrejection']);
    expect(describeRejection({ code: 7 })).toEqual(['{"code":7}', 'unhandledrejection']);
  });
});
