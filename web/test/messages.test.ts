import { describe, expect, it } from 'vitest';
import { parseInbound, type NetworkState } from '../src/messages';
import { PageStore } from '../src/store';
import { HEALTHY, IMPAIRED, PING_NOT_PERMITTED, PING_REMEDY, RECENT } from './fixtures';

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
    expect(state.segments[1]).toMatchObject({
      isCulprit: true,
      status: 'critical',
      details: { status: 'discovering' },
    });
    expect(state.culpritCallout).toEqual({
      severity: 'critical',
      segmentId: 'isp',
      title: 'ISP Issue',
      description: "Packet loss detected in your ISP's network.",
      remedy: 'This is likely a temporary ISP issue. Contact them if it persists.',
    });
  });

  it('reads where the verdict counts each hop and the recent loss where a hop has it', () => {
    const state = parseInbound(RECENT) as NetworkState;
    expect(state.hops.map((h) => [h.segment, h.segmentId])).toEqual([
      ['LOCAL', 'connection'],
      ['LOCAL', 'isp'],
      ['ISP', 'isp'],
      ['?', 'isp'],
      ['TRANS', 'isp'],
      ['DEST', 'services'],
    ]);
    expect(state.hops[0]).toMatchObject({ loss: 0.7, recentLoss: 20, recentSamples: 40 });
    // Hops without recent echoes carry neither member, silent or not.
    for (const hop of [state.hops[3], state.hops[4]]) {
      expect(hop).not.toHaveProperty('recentLoss');
      expect(hop).not.toHaveProperty('recentSamples');
    }
    // Older messages: no segment id, no recent figures.
    const old = parseInbound(HEALTHY) as NetworkState;
    expect(old.hops.every((h) => !('segmentId' in h) && !('recentLoss' in h))).toBe(true);
  });

  it('drops recent figures and segment ids it cannot trust', () => {
    const hop = (extra: Record<string, unknown>) =>
      (
        parseInbound({
          type: 'networkState',
          hops: [{ hopNumber: 1, ip: '10.0.0.1', loss: 1, segment: 'LOCAL', ...extra }],
        }) as NetworkState
      ).hops[0];
    expect(hop({ segmentId: 'device' }).segmentId).toBeUndefined();
    expect(hop({ segmentId: '' }).segmentId).toBeUndefined();
    expect(hop({ segmentId: 7 }).segmentId).toBeUndefined();
    expect(hop({ recentLoss: '12.5', recentSamples: 40 })).not.toHaveProperty('recentLoss');
    expect(hop({ recentLoss: -1, recentSamples: 40 })).not.toHaveProperty('recentLoss');
    expect(hop({ recentLoss: 100.5, recentSamples: 40 })).not.toHaveProperty('recentLoss');
    // A count without a figure means nothing; a figure without a usable count is still shown.
    expect(hop({ recentSamples: 40 })).not.toHaveProperty('recentSamples');
    for (const samples of [2.5, 0, -3, '40', undefined]) {
      const h = hop({ recentLoss: 100, recentSamples: samples });
      expect(h.recentLoss).toBe(100);
      expect(h).not.toHaveProperty('recentSamples');
    }
    expect(hop({ recentLoss: 0, recentSamples: 1 })).toMatchObject({ recentLoss: 0, recentSamples: 1 });
  });

  it('keeps a callout that names no part of the path, its remedy exactly as sent', () => {
    const state = parseInbound(PING_NOT_PERMITTED) as NetworkState;
    expect(state.overallStatus).toBe('unknown');
    expect(state.culpritCallout).toEqual({
      severity: 'unknown',
      segmentId: '',
      title: 'Ping Not Permitted',
      description: expect.stringContaining('ICMP echo'),
      remedy: PING_REMEDY,
    });
    const checking = parseInbound({
      type: 'networkState',
      overallStatus: 'unknown',
      culpritCallout: {
        severity: 'warning',
        segmentId: '',
        title: 'Checking Your Connection',
        description: 'd',
        remedy: 'r',
      },
    }) as NetworkState;
    expect(checking.culpritCallout).toMatchObject({
      severity: 'warning',
      segmentId: '',
      title: 'Checking Your Connection',
    });
  });

  it('tolerates odd values and rejects what is not a known message', () => {
    const odd = parseInbound({
      type: 'networkState',
      overallStatus: 'on fire',
      hops: [{ hopNumber: 1, ip: '10.0.0.1', rttMs: 'fast' }, { ip: 'no number' }, null],
      segments: [
        { id: 'device', status: 'healthy', isVisible: false },
        { id: 'isp', status: 'warning' },
      ],
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
    expect(parseInbound('{"type":"updateAvailable","payload":{"version":"2.0"}}')).toEqual({
      type: 'updateAvailable',
      payload: { version: '2.0', urgency: 'optional', downloadUrl: undefined, releaseNotesUrl: undefined },
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
