import { describe, expect, it } from 'vitest';
import { parseInbound, type NetworkState } from '../src/messages';
import { PageStore } from '../src/store';
import { HEALTHY, IMPAIRED } from './fixtures';

describe('inbound messages', () => {
  it('reads a network state from text and from an already parsed value alike', () => {
    const fromText = parseInbound(HEALTHY) as NetworkState;
    const fromValue = parseInbound(JSON.parse(HEALTHY)) as NetworkState;
    expect(fromValue).toEqual(fromText);
    expect(fromText.overallStatus).toBe('healthy');
    expect(fromText.hops.map((h) => h.ip)).toEqual(['192.168.1.1', '100.64.0.1', '198.51.100.17', '*']);
    expect(fromText.hops[2]).toMatchObject({ asn: '64500', asnName: 'EXAMPLE-CABLE', rttMs: 22, jitter: 2 });
    expect(fromText.hops[1].hostname).toBeUndefined();
    expect(fromText.publicIpInfo).toEqual({
      ipAddress: '203.0.113.45',
      hostname: 'cpe-45.example-cable.net',
      asn: 'AS64500',
      ispName: 'EXAMPLE-CABLE',
      port: 53211,
    });
    expect(fromText.culpritCallout).toBeUndefined();
  });

  it('puts segments in display order and keeps the callout and culprit', () => {
    const state = parseInbound(IMPAIRED) as NetworkState;
    expect(state.segments.map((s) => s.id)).toEqual(['device', 'isp']);
    expect(state.segments[1]).toMatchObject({ isCulprit: true, status: 'critical', details: { status: 'discovering' } });
    expect(state.culpritCallout).toEqual({
      severity: 'critical',
      segmentId: 'isp',
      title: 'ISP Issue',
      description: "Packet loss detected in your ISP's network.",
      remedy: 'This is likely a temporary ISP issue. Contact them if it persists.',
    });
  });

  it('tolerates odd values and rejects what is not a known message', () => {
    const odd = parseInbound({
      type: 'networkState',
      overallStatus: 'on fire',
      hops: [{ hopNumber: 1, ip: '10.0.0.1', rttMs: 'fast' }, { ip: 'no number' }, null],
      segments: [{ id: 'device', status: 'healthy', isVisible: false }, { id: 'isp', status: 'warning' }],
      culpritCallout: { severity: 'warning', title: '' },
    }) as NetworkState;
    expect(odd.overallStatus).toBe('unknown');
    expect(odd.hops).toHaveLength(1);
    expect(odd.hops[0]).toMatchObject({ rttMs: 0, loss: 0, segment: '?' });
    expect(odd.segments.map((s) => s.id)).toEqual(['isp']);
    expect(odd.culpritCallout).toBeUndefined();

    for (const junk of ['not json', '[1,2]', '{"type":"somethingElse"}', 42, null, undefined, '{"hops":[]}']) {
      expect(parseInbound(junk)).toBeNull();
    }
    expect(parseInbound('{"type":"serviceMetrics","payload":{"serviceId":"a1"}}')).toEqual({
      type: 'serviceMetrics',
      payload: { serviceId: 'a1' },
    });
  });
});

describe('page store', () => {
  it('keeps the latest state, records history and tells subscribers', () => {
    const store = new PageStore();
    let calls = 0;
    store.subscribe(() => calls++);
    expect(store.accept(HEALTHY, 1_000)).toBe(true);
    expect(store.accept(IMPAIRED, 2_000)).toBe(true);
    expect(store.accept('{"type":"updateAvailable","payload":{}}', 3_000)).toBe(false);
    expect(store.accept('garbage', 4_000)).toBe(false);
    expect(calls).toBe(2);
    expect(store.state?.overallStatus).toBe('critical');
    expect(store.receivedAt).toBe(2_000);
    expect(store.messages).toBe(2);
    expect(store.history.get('2|100.64.0.1')).toEqual({ times: [1, 2], rtt: [10, 10], loss: [12.5, 20] });
    expect(store.history.get('4|*')?.rtt).toEqual([null]);
  });

  it('turns a pending rediscovery into feedback when the next state arrives', () => {
    const store = new PageStore();
    store.setRefreshing(true);
    store.accept(HEALTHY, 1);
    expect(store.refreshing).toBe(false);
    expect(store.notice?.kind).toBe('info');
    expect(store.notice?.text).toMatch(/rediscovery/i);
  });
});
