import { describe, expect, it } from 'vitest';
import { HistoryStore, hopKey } from '../src/history';
import { sparkPaths } from '../src/components/Sparkline';
import { hops } from './fixtures';

describe('history store', () => {
  it('keeps at most the configured number of points per hop, newest last', () => {
    const store = new HistoryStore({ pointsPerHop: 5 });
    const path = hops(3);
    for (let t = 0; t < 12; t++) {
      path[0].rttMs = t;
      store.record(path, t);
    }
    const s = store.get(hopKey(path[0]))!;
    expect(s.times).toEqual([7, 8, 9, 10, 11]);
    expect(s.rtt).toEqual([7, 8, 9, 10, 11]);
    expect(s.loss).toHaveLength(5);
    expect(store.size).toBe(3);
  });

  it('forgets the least recently seen hops beyond the hop limit', () => {
    const store = new HistoryStore({ hops: 4 });
    store.record(hops(3), 0); // 10.0.0.1 .. 10.0.2.1
    store.record(
      hops(2, (i) => `172.16.${i}.1`),
      1,
    ); // the path changed
    expect(store.size).toBe(4);
    expect(store.get('1|10.0.0.1')).toBeUndefined();
    expect(store.get('3|10.0.2.1')).toBeDefined();
    store.record(hops(3), 2); // back to the first path: its hops are the newest again
    expect(store.size).toBe(4);
    expect(store.get('1|10.0.0.1')?.times).toEqual([2]);
    expect(store.get('3|10.0.2.1')?.times).toEqual([0, 2]);
    expect(store.get('1|172.16.0.1')).toBeUndefined();
  });

  it('records the recent loss where a hop has it, else the long-window loss', () => {
    const store = new HistoryStore();
    const [a, b] = hops(2);
    store.record(
      [
        { ...a, loss: 0.5, recentLoss: 20, recentSamples: 40 },
        { ...b, loss: 4 },
      ],
      1,
    );
    store.record(
      [
        { ...a, loss: 0.6, recentLoss: 100, recentSamples: 40 },
        { ...b, loss: 4 },
      ],
      2,
    );
    expect(store.get(hopKey(a))).toEqual({ times: [1, 2], rtt: [5, null], loss: [20, 100] });
    expect(store.get(hopKey(b))?.loss).toEqual([4, 4]);
  });

  it("starts a hop's series at its first real figure, not at the zeros of 'not measured yet'", () => {
    const store = new HistoryStore();
    const [hop] = hops(1);
    const unmeasured = { ...hop, rttMs: 0, loss: 0, jitter: 0 };
    store.record([unmeasured], 1);
    store.record([unmeasured], 2);
    expect(store.get(hopKey(hop))).toBeUndefined();
    // Echoes the long window has not taken yet: still no figure.
    store.record([{ ...unmeasured, recentLoss: 0, recentSamples: 1 }], 3);
    expect(store.get(hopKey(hop))).toBeUndefined();
    store.record([{ ...hop, rttMs: 12 }], 4);
    expect(store.get(hopKey(hop))).toEqual({ times: [4], rtt: [12], loss: [0] });
    // A hop under a millisecond: zeros with recent echoes twice in a row are its figures.
    const [fast] = hops(1, () => '192.168.1.1');
    const quick = { ...fast, rttMs: 0, loss: 0, jitter: 0, recentLoss: 0, recentSamples: 2 };
    store.record([quick], 5);
    store.record([quick], 6);
    expect(store.get(hopKey(fast))).toEqual({ times: [6], rtt: [0], loss: [0] });
  });

  it('records silent hops as gaps and bumps the revision on every change', () => {
    const store = new HistoryStore();
    const r0 = store.revision;
    store.record([{ hopNumber: 4, ip: '*', rttMs: 0, loss: 100, jitter: 0, segment: '?' }], 1);
    expect(store.get('4|*')).toEqual({ times: [1], rtt: [null], loss: [100] });
    store.clear();
    expect(store.size).toBe(0);
    expect(store.revision).toBe(r0 + 2);
  });
});

describe('sparkline', () => {
  it('draws a broken line across silent points and marks loss', () => {
    const { line, loss, max } = sparkPaths({ times: [1, 2, 3, 4], rtt: [10, 20, null, 5], loss: [0, 0, 100, 50] });
    expect(max).toBe(20);
    expect(line.match(/M/g)).toHaveLength(2); // a new stroke after the gap
    expect(line.match(/L/g)).toHaveLength(1);
    expect(loss.match(/M/g)).toHaveLength(2);
    expect(sparkPaths(undefined)).toEqual({ line: '', loss: '', max: 0 });
  });
});
