import { describe, expect, it } from 'vitest';
import { backoffDelay, bridgeUrl, headlessBridge, tokenFrom, webviewBridge, type ConnectionState } from '../src/bridge';

class FakeSource {
  onopen: ((ev: unknown) => void) | null = null;
  onmessage: ((ev: { data: string }) => void) | null = null;
  onerror: ((ev: unknown) => void) | null = null;
  closed = false;
  constructor(readonly url: string) {}
  close() {
    this.closed = true;
  }
}

function harness(probeStatus = 0) {
  const sources: FakeSource[] = [];
  const timers: { fn: () => void; ms: number }[] = [];
  const states: ConnectionState[] = [];
  const messages: unknown[] = [];
  const posts: [string, string][] = [];
  const probes: string[] = [];
  const bridge = headlessBridge(
    {
      baseUrl: 'http://127.0.0.1:8123/index.html?token=abc',
      token: 'abc',
      createEventSource: (url) => {
        const s = new FakeSource(url);
        sources.push(s);
        return s;
      },
      post: async (url, body) => {
        posts.push([url, body]);
        return true;
      },
      probe: async (url) => (probes.push(url), probeStatus),
      setTimer: (fn, ms) => timers.push({ fn, ms }),
      clearTimer: () => {},
    },
    { onMessage: (d) => messages.push(d), onConnection: (s) => states.push(s) },
  );
  return { bridge, sources, timers, states, messages, posts, probes };
}

describe('headless bridge', () => {
  it('streams messages and posts commands with the token', async () => {
    const h = harness();
    expect(h.sources[0].url).toBe('http://127.0.0.1:8123/bridge/events?token=abc');
    h.sources[0].onopen?.({});
    h.sources[0].onmessage?.({ data: '{"type":"networkState"}' });
    expect(h.messages).toEqual(['{"type":"networkState"}']);
    expect(await h.bridge.send('{"action":"triggerRefresh"}')).toBe(true);
    expect(h.posts).toEqual([['http://127.0.0.1:8123/bridge/message?token=abc', '{"action":"triggerRefresh"}']]);
    expect(h.states).toEqual(['connecting', 'connected']);
  });

  it('reconnects with growing delays, reports unreachable, and resets after success', () => {
    const h = harness();
    h.sources[0].onerror?.({});
    h.timers.shift()!.fn();
    h.sources[1].onerror?.({});
    h.timers.shift()!.fn();
    h.sources[2].onopen?.({});
    h.sources[2].onerror?.({});
    expect(h.sources.slice(0, 2).every((s) => s.closed)).toBe(true);
    expect(h.states).toEqual(['connecting', 'unreachable', 'unreachable', 'connected', 'unreachable']);
    expect(h.probes[0]).toBe('http://127.0.0.1:8123/?token=abc');
    expect(h.timers).toHaveLength(1);
    expect(h.timers[0].ms).toBe(backoffDelay(0));
    h.bridge.close();
    h.timers[0].fn();
    expect(h.sources).toHaveLength(3); // closed bridges stay closed
  });

  it('tells a refused token from an application that is gone', async () => {
    const h = harness(403);
    h.sources[0].onerror?.({});
    await Promise.resolve();
    await Promise.resolve();
    expect(h.states).toEqual(['connecting', 'unreachable', 'refused']);
    // It keeps trying without flickering back to "unreachable".
    h.timers.shift()!.fn();
    h.sources[1].onerror?.({});
    await Promise.resolve();
    expect(h.states).toEqual(['connecting', 'unreachable', 'refused']);
    h.timers.shift()!.fn();
    h.sources[2].onopen?.({});
    expect(h.states[h.states.length - 1]).toBe('connected');
  });

  it('grows the delay up to a cap', () => {
    expect([0, 1, 2, 3].map(backoffDelay)).toEqual([500, 1000, 2000, 4000]);
    expect(backoffDelay(50)).toBe(10_000);
  });

  it('finds the token in the address and builds bridge addresses', () => {
    expect(tokenFrom({ search: '?token=t%2B1', hash: '' })).toBe('t+1');
    expect(tokenFrom({ search: '', hash: '#token=xyz' })).toBe('xyz');
    expect(tokenFrom({ search: '', hash: '' })).toBe('');
    expect(bridgeUrl('http://127.0.0.1:9/ui/index.html', 'bridge/events', '')).toBe(
      'http://127.0.0.1:9/ui/bridge/events',
    );
  });
});

describe('embedded browser bridge', () => {
  it('posts strings and passes on parsed values', async () => {
    const posted: unknown[] = [];
    let listener: ((e: { data: unknown }) => void) | undefined;
    const received: unknown[] = [];
    const bridge = webviewBridge(
      { postMessage: (m) => posted.push(m), addEventListener: (_t, l) => (listener = l) },
      { onMessage: (d) => received.push(d), onConnection: () => {} },
    );
    expect(await bridge.send('{"action":"triggerRefresh"}')).toBe(true);
    expect(posted).toEqual(['{"action":"triggerRefresh"}']);
    listener?.({ data: { type: 'networkState' } });
    expect(received).toEqual([{ type: 'networkState' }]);
  });
});
