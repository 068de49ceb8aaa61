import { describe, expect, it } from 'vitest';
import { parseInbound, type ServiceInfo, type ServiceResult } from '../src/messages';
import { PageStore } from '../src/store';
import { createActions, SERVICE_CHANGE_TIMEOUT_MS } from '../src/actions';

// Message texts as the application writes them.
const WEB =
  '{"type":"serviceMetrics","payload":{"serviceId":"svc-1","latencyMs":53.8,"lossPercent":0.0,"jitterMs":0.0,"success":false,"timestamp":1700000000,' +
  '"httpTiming":{"dnsMs":1.2,"connectMs":20.5,"ttfbMs":30.1,"transferMs":2.0,"totalMs":53.8,"statusCode":503},' +
  '"tlsInfo":{"isValid":true,"subject":"example.com","issuer":"Example CA","daysUntilExpiry":41},"error":"HTTP 503"}}';
const LIST =
  '{"type":"serviceList","payload":{"services":[{"enabled":true,"id":"svc-1","intervalMs":5000,"name":"Web site","port":0,"probeType":"https","target":"example.com","probed":true},' +
  '{"enabled":false,"id":"svc-2","intervalMs":30000,"name":"","port":22,"probeType":"tcp","target":"nas.home","probed":false}],"maxProbed":5}}';

const metrics = (payload: Record<string, unknown>) => parseInbound({ type: 'serviceMetrics', payload });
const list = (services: unknown[], extra: Record<string, unknown> = {}) =>
  parseInbound({ type: 'serviceList', payload: { services, ...extra } });
const entry = (extra: Record<string, unknown> = {}) => ({ id: 's', target: 't', probeType: 'icmp', ...extra });

describe('service messages', () => {
  it('reads results, lists and change outcomes as the application writes them', () => {
    expect(parseInbound(WEB)).toEqual({
      type: 'serviceMetrics',
      payload: {
        serviceId: 'svc-1',
        latencyMs: 53.8,
        lossPercent: 0,
        jitterMs: 0,
        success: false,
        timestamp: 1700000000,
        httpTiming: { dnsMs: 1.2, connectMs: 20.5, ttfbMs: 30.1, transferMs: 2, totalMs: 53.8, statusCode: 503 },
        tlsInfo: { subject: 'example.com', issuer: 'Example CA', daysUntilExpiry: 41 },
        error: 'HTTP 503',
      },
    });
    expect(parseInbound(LIST)).toEqual({
      type: 'serviceList',
      maxProbed: 5,
      services: [
        {
          id: 'svc-1',
          name: 'Web site',
          target: 'example.com',
          probeType: 'https',
          port: 0,
          intervalMs: 5000,
          enabled: true,
          probed: true,
        },
        // An empty name shows the target.
        {
          id: 'svc-2',
          name: 'nas.home',
          target: 'nas.home',
          probeType: 'tcp',
          port: 22,
          intervalMs: 30000,
          enabled: false,
          probed: false,
        },
      ],
    });
    const change = (payload: unknown) => parseInbound({ type: 'serviceChangeResult', payload });
    expect(change({ action: 'delete', id: 'svc-1', ok: true })).toEqual({
      type: 'serviceChangeResult',
      payload: { action: 'delete', id: 'svc-1', ok: true },
    });
    expect(change({ action: 'save', id: 'a', ok: false, error: 'The service could not be saved: disk full' })).toEqual({
      type: 'serviceChangeResult',
      payload: { action: 'save', id: 'a', ok: false, error: 'The service could not be saved: disk full' },
    });
    // A failure always says something.
    expect(change({ action: 'save', id: 'a', ok: false })).toMatchObject({ payload: { error: expect.any(String) } });
    for (const bad of [
      { action: 'edit', id: 'a', ok: true },
      { action: 'save', ok: true },
      { action: 'save', id: 'a', ok: 'yes' },
      'save',
    ]) {
      expect(change(bad), JSON.stringify(bad)).toBeNull();
    }
  });

  it('refuses results it cannot attribute or judge, and cleans odd figures', () => {
    for (const bad of [
      {},
      { serviceId: '', success: true },
      { serviceId: 7, success: true },
      { serviceId: 'a', success: 'true' },
      { serviceId: 'a' },
    ]) {
      expect(metrics(bad), JSON.stringify(bad)).toBeNull();
    }
    expect(parseInbound({ type: 'serviceMetrics' })).toBeNull();
    const odd = metrics({
      serviceId: 'a',
      success: true,
      latencyMs: -3,
      lossPercent: 250,
      jitterMs: 'x',
      timestamp: 1.5,
      httpTiming: { dnsMs: Number.NaN, statusCode: 42 },
      tlsInfo: { isValid: false, subject: 'x', daysUntilExpiry: 3 },
      error: '',
    }) as { payload: ServiceResult };
    expect(odd.payload).toEqual({
      serviceId: 'a',
      success: true,
      latencyMs: 0,
      lossPercent: 100,
      jitterMs: 0,
      timestamp: 0,
      httpTiming: { dnsMs: 0, connectMs: 0, ttfbMs: 0, transferMs: 0, totalMs: 0, statusCode: 0 },
    });
    // An expired certificate reads as 0 days, whatever sign it came with.
    const tls = (days: unknown) =>
      (
        metrics({ serviceId: 'a', success: false, tlsInfo: { isValid: true, daysUntilExpiry: days } }) as {
          payload: ServiceResult;
        }
      ).payload.tlsInfo;
    expect(tls(-2)).toEqual({ subject: '', issuer: '', daysUntilExpiry: 0 });
    expect(tls('9')).toBeUndefined();
  });

  it('keeps only list entries it can show, once each, with sane numbers', () => {
    const parsed = list(
      [
        entry({ id: 'a', intervalMs: 0, port: 70000 }),
        entry({ id: 'a', target: 'again' }),
        entry({ id: '' }),
        entry({ id: 'b', target: undefined }),
        entry({ id: 'c', probeType: 'ftp' }),
        entry({ id: 'd', probeType: 'HTTPS' }),
        entry({ id: 'e', enabled: false }),
        null,
      ],
      { maxProbed: 0 },
    ) as { services: ServiceInfo[]; maxProbed: number };
    expect(parsed.services.map((s) => s.id)).toEqual(['a', 'e']);
    expect(parsed.services[0]).toMatchObject({ target: 't', intervalMs: 5000, port: 0, enabled: true, probed: true });
    expect(parsed.services[1]).toMatchObject({ enabled: false, probed: false });
    expect(parsed.maxProbed).toBe(5);
    expect(parseInbound({ type: 'serviceList', payload: { services: {} } })).toBeNull();
    expect(parseInbound({ type: 'serviceList' })).toBeNull();
  });
});

const result = (serviceId: string, extra: Partial<ServiceResult> = {}) =>
  JSON.stringify({
    type: 'serviceMetrics',
    payload: { serviceId, latencyMs: 10, lossPercent: 0, jitterMs: 0, success: true, timestamp: 0, ...extra },
  });
const listOf = (...services: Record<string, unknown>[]) =>
  JSON.stringify({ type: 'serviceList', payload: { services: services.map(entry), maxProbed: 5 } });

describe('services in the page store', () => {
  it('keeps a bounded latency history, failures as gaps counted lost', () => {
    const store = new PageStore({}, { points: 4 });
    store.accept(listOf({ id: 'a' }), 0);
    for (let i = 1; i <= 6; i++) {
      store.accept(
        result('a', { latencyMs: i, timestamp: 100 + i, success: i !== 5, lossPercent: i === 6 ? 33.3 : 0 }),
        0,
      );
    }
    expect(store.services.history('a')).toEqual({
      times: [103, 104, 105, 106],
      rtt: [3, 4, null, 6],
      loss: [0, 0, 100, 33.3],
    });
    expect(store.services.latest('a')?.latencyMs).toBe(6);
    // Without a time from the application the arrival time stands in.
    store.accept(result('a'), 200_500);
    expect(store.services.latest('a')?.timestamp).toBe(200);
  });

  it('drops the data of services that are gone or now check something else', () => {
    const store = new PageStore({}, { services: 2 });
    // Before any list, only the most recent few ids are kept.
    for (const id of ['x', 'y', 'z']) store.accept(result(id), 1000);
    expect(['x', 'y', 'z'].map((id) => !!store.services.history(id))).toEqual([false, true, true]);
    store.accept(listOf({ id: 'y' }, { id: 'z' }, { id: 'w' }), 2000);
    store.accept(result('w'), 2000);
    // y is gone from the list; z now checks another target; w stays.
    store.accept(listOf({ id: 'z', target: 'other' }, { id: 'w' }), 3000);
    expect(['y', 'z', 'w'].map((id) => !!store.services.latest(id))).toEqual([false, false, true]);
    // A removed service's late result does not bring it back.
    expect(store.accept(result('y'), 4000)).toBe(false);
    expect(store.services.history('y')).toBeUndefined();
    // A confirmed delete forgets at once, before the next list.
    store.beginServiceChange({ action: 'delete', id: 'w', name: 'W' });
    store.accept('{"type":"serviceChangeResult","payload":{"action":"delete","id":"w","ok":true}}', 5000);
    expect(store.services.latest('w')).toBeUndefined();
    expect(store.services.services.map((s) => s.id)).toEqual(['z']);
    expect(store.notice?.text).toBe('Deleted “W”.');
  });
});

describe('saving and deleting services', () => {
  function setup(delivered = true) {
    const sent: string[] = [];
    const timers: (() => void)[] = [];
    const store = new PageStore();
    const actions = createActions({ send: async (t) => (sent.push(t), delivered) }, store, (fn, ms) => {
      expect(ms).toBe(SERVICE_CHANGE_TIMEOUT_MS);
      timers.push(fn);
    });
    return { sent, timers, store, actions };
  }
  const service = {
    id: 'svc-1',
    name: 'Say "hi"',
    target: 'example.com',
    probeType: 'https' as const,
    port: 0,
    intervalMs: 30000,
    enabled: true,
  };

  it('sends the commands as agreed and shows the outcome meant for this page', async () => {
    const { sent, timers, store, actions } = setup();
    await actions.saveService(service);
    expect(sent[0]).toBe(
      '{"action":"saveEndpoint","service":{"id":"svc-1","name":"Say \\"hi\\"","target":"example.com","probeType":"https","port":0,"intervalMs":30000,"enabled":true}}',
    );
    expect(store.services.pending).toEqual({ action: 'save', id: 'svc-1', name: 'Say "hi"' });
    // Another page's change, or another action, is not this one's outcome.
    expect(store.accept('{"type":"serviceChangeResult","payload":{"action":"save","id":"svc-9","ok":true}}', 0)).toBe(
      false,
    );
    expect(store.accept('{"type":"serviceChangeResult","payload":{"action":"delete","id":"svc-1","ok":true}}', 0)).toBe(
      false,
    );
    store.accept(
      '{"type":"serviceChangeResult","payload":{"action":"save","id":"svc-1","ok":false,"error":"Disk full"}}',
      0,
    );
    expect(store.services.pending).toBeNull();
    expect(store.services.outcome).toEqual({ action: 'save', id: 'svc-1', ok: false, error: 'Disk full' });
    // Saved again at once: the first time-out ends neither the answered save nor the new one.
    await actions.saveService(service);
    timers[0]();
    expect(store.services.pending).toMatchObject({ action: 'save', id: 'svc-1' });
    store.accept('{"type":"serviceChangeResult","payload":{"action":"save","id":"svc-1","ok":true}}', 0);
    expect(store.notice?.text).toBe('Saved “Say "hi"”.');

    await actions.deleteService('svc-1', 'Say "hi"');
    expect(sent[2]).toBe('{"action":"deleteEndpoint","id":"svc-1"}');
    expect(store.services.outcome).toBeNull();
  });

  it('stops waiting with a reason when the command cannot go or no answer comes', async () => {
    const down = setup(false);
    expect(await down.actions.deleteService('svc-1', 'x')).toBe(false);
    expect(down.store.services.outcome).toMatchObject({
      action: 'delete',
      ok: false,
      error: expect.stringMatching(/reach/),
    });
    // An id the application could not read back is refused before sending.
    expect(await down.actions.deleteService('a"b', 'x')).toBe(false);
    expect(down.store.services.outcome?.error).toMatch(/^Not sent: .*double quote/);

    const silent = setup();
    await silent.actions.saveService(service);
    silent.timers.forEach((t) => t());
    expect(silent.store.services.pending).toBeNull();
    expect(silent.store.services.outcome).toMatchObject({ ok: false, error: expect.stringMatching(/did not answer/) });
  });
});
