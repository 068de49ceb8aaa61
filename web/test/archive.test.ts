import { describe, expect, it } from 'vitest';
import { EXPORT_TIMEOUT_MS, HISTORY_TIMEOUT_MS, createActions } from '../src/actions';
import type { HistoryData, HistoryMessage, VerdictSpan } from '../src/archive';
import { ArchiveStore, PERIOD_KEY, type KeyValueStorage } from '../src/archiveStore';
import { parseInbound } from '../src/messages';
import { PageStore } from '../src/store';
import { durationText, exportText, problemText, skippedText, spanTimes, timelineBlocks } from '../src/timeline';
import { at, historyPayload } from './history-fixtures';

const parse = (payload: unknown) => (parseInbound({ type: 'history', payload }) as HistoryMessage | null)?.payload;

class MemoryStorage implements KeyValueStorage {
  readonly items = new Map<string, string>();
  getItem = (k: string) => this.items.get(k) ?? null;
  setItem = (k: string, v: string) => void this.items.set(k, v);
}

describe('history message', () => {
  it('reads a reply as sent, from text or value', () => {
    const fromText = parseInbound(JSON.stringify({ type: 'history', payload: historyPayload() })) as HistoryMessage;
    const data = parse(historyPayload()) as HistoryData;
    expect(fromText.payload).toEqual(data);
    expect(data).toMatchObject({ period: 'day', bucketSeconds: 300, records: 1234, skipped: 2 });
    expect(data.hops[1]).toEqual({ hopNumber: 3, ip: '203.0.113.1', rttMs: [12, 14, null], loss: [0, 12, 100] });
    expect(data.verdicts[1]).toMatchObject({ status: 'critical', culpritHopNumber: 3, triggerValue: 12 });
    expect(data.error).toBeUndefined();
  });

  it('drops bad values without losing the alignment of times and figures', () => {
    const data = parse(
      historyPayload({
        period: 'month',
        from: 'yesterday',
        to: null,
        bucketSeconds: 'five',
        times: [100, 'x', 200, 150, 300],
        hops: [
          { hopNumber: 1, ip: '', rttMs: [1, 2, 3, 4, -5], loss: [0, 1, 101, 3, 'lost'] },
          { hopNumber: 0, ip: '10.0.0.1' },
          { hopNumber: 2.5 },
          { hopNumber: 2, ip: '10.0.0.2', rttMs: 'none' },
          'hop',
        ],
        verdicts: [
          { from: 250, to: 400, status: 'on fire', title: '', culpritHopNumber: -1, triggerValue: 'high' },
          { from: 100, to: 300, status: 'warning' },
          { from: 120, to: 200, status: 'critical' }, // inside the one before
          { from: 500, to: 500, status: 'critical' },
          null,
        ],
        records: -4,
        skipped: 1.5,
        error: 'The archive folder is missing.',
      }),
    ) as HistoryData;
    expect(data.period).toBeNull();
    expect(data.times).toEqual([100, 200, 300]);
    expect(data.hops).toEqual([
      { hopNumber: 1, ip: '*', rttMs: [1, 3, null], loss: [0, null, null] },
      { hopNumber: 2, ip: '10.0.0.2', rttMs: [null, null, null], loss: [null, null, null] },
    ]);
    expect(data.verdicts).toEqual([
      { from: 100, to: 300, status: 'warning', segmentId: '' },
      { from: 300, to: 400, status: 'unknown', segmentId: '' },
    ]);
    // Without bounds the period spans what it holds.
    expect([data.from, data.to]).toEqual([100, 400]);
    expect([data.bucketSeconds, data.records, data.skipped]).toEqual([0, 0, 0]);
    expect(data.error).toBe('The archive folder is missing.');
    for (const junk of [null, [], 'x']) expect(parse(junk)).toBeUndefined();
  });

  it('reads an export outcome, and refuses one without ok', () => {
    const outcome = (payload: unknown) =>
      (parseInbound({ type: 'historyExport', payload }) as { payload: unknown })?.payload;
    expect(outcome({ ok: true, path: '/d/q.csv', records: 12, skipped: 1 })).toEqual({
      ok: true,
      path: '/d/q.csv',
      records: 12,
      skipped: 1,
    });
    expect(outcome({ ok: false })).toEqual({ ok: false, error: 'Quillon could not write the file.' });
    expect(outcome({ ok: 'yes', path: '/d/q.csv' })).toBeUndefined();
  });
});

describe('history texts', () => {
  const problem = (extra: Partial<VerdictSpan>): VerdictSpan => ({
    from: at(3, 10, 2),
    to: at(3, 10, 14),
    status: 'critical',
    segmentId: 'isp',
    ...extra,
  });

  it('says what, when, how long, why and where', () => {
    const end = at(3, 12, 0);
    const full = problem({
      title: 'ISP Issue',
      culpritHopNumber: 3,
      culpritIp: '203.0.113.1',
      trigger: 'loss',
      triggerValue: 12,
    });
    expect(problemText(full, end)).toBe('ISP Issue 10:02–10:14 (12 min) — loss 12.0 % at hop 3 (203.0.113.1)');
    expect(problemText(problem({ status: 'warning', trigger: 'latency', triggerValue: 180.25 }), end)).toBe(
      'Degraded 10:02–10:14 (12 min) — latency 180.3 ms',
    );
    expect(problemText(problem({ culpritIp: '10.0.0.9' }), end)).toBe('Problem 10:02–10:14 (12 min) — at 10.0.0.9');
    // Another day is named, at the start and at the end.
    expect(spanTimes(at(1, 23, 50), at(2, 0, 20), end)).toBe('Sat 1 Jun 23:50–Sun 2 Jun 00:20');
    expect(spanTimes(at(3, 0, 5), at(3, 0, 9), end)).toBe('00:05–00:09');
    expect([30, 89, 3600, 3900, 86400 + 7200, 2 * 86400].map(durationText)).toEqual([
      '30 s',
      '1 min',
      '1 h',
      '1 h 5 min',
      '1 d 2 h',
      '2 d',
    ]);
    expect([skippedText(1), skippedText(1500)]).toEqual([
      '1 line of the archive could not be read',
      '1,500 lines of the archive could not be read',
    ]);
  });

  it('places verdicts on the bar, cut to the period', () => {
    const blocks = timelineBlocks({
      from: 1000,
      to: 2000,
      verdicts: [
        problem({ from: 500, to: 1250, status: 'healthy' }),
        problem({ from: 1500, to: 1600 }),
        problem({ from: 1900, to: 2500, status: 'unknown' }),
        problem({ from: 2500, to: 2600 }),
      ],
    });
    expect(blocks.map((b) => [b.status, b.left, b.width])).toEqual([
      ['healthy', 0, 25],
      ['critical', 50, 10],
      ['unknown', 90, 10],
    ]);
    expect(timelineBlocks({ from: 5, to: 5, verdicts: [problem({ from: 0, to: 10 })] })).toEqual([]);
  });

  it('reports an export in words', () => {
    expect(exportText({ kind: 'idle' })).toBe('');
    expect(exportText({ kind: 'exporting', format: 'csv' })).toBe('Exporting…');
    const done = (outcome: object) => exportText({ kind: 'done', outcome: outcome as never });
    expect(done({ ok: true, path: '/h/q.csv', records: 1234, skipped: 0 })).toBe('Saved 1,234 records to /h/q.csv');
    expect(done({ ok: true, path: '/h/q.json', records: 1, skipped: 3 })).toBe(
      'Saved 1 record to /h/q.json (3 lines of the archive could not be read)',
    );
    expect(done({ ok: false, error: 'Disk full' })).toBe('Disk full');
  });
});

describe('history requests', () => {
  function setup(delivered = true, storage = new MemoryStorage()) {
    const sent: string[] = [];
    const timers: [() => void, number][] = [];
    const store = new PageStore({}, {}, storage);
    const archive = store.archive;
    const actions = createActions({ send: async (t) => (sent.push(t), delivered) }, store, (fn, ms) =>
      timers.push([fn, ms]),
    );
    return { sent, timers, store, archive, actions, storage };
  }
  const reply = (extra: Record<string, unknown> = {}) =>
    JSON.stringify({ type: 'history', payload: historyPayload(extra) });

  it('asks for the chosen period, remembers it, and shows only replies for it', async () => {
    const { sent, store, archive, actions, storage } = setup();
    expect(archive.period).toBe('day');
    await actions.loadHistory(archive.period);
    expect(archive.loading).toBe(true);
    archive.setPeriod('week');
    expect(storage.items.get(PERIOD_KEY)).toBe('week');
    await actions.loadHistory(archive.period);
    expect(sent).toEqual(['{"action":"get_history","period":"day"}', '{"action":"get_history","period":"week"}']);
    // The day's reply comes late: not shown.
    expect(store.accept(reply(), 1)).toBe(false);
    expect(archive.data).toBeNull();
    expect(store.accept(reply({ period: 'week' }), 2)).toBe(true);
    expect(archive).toMatchObject({ loading: false, data: { period: 'week', records: 1234 } });
    expect(new ArchiveStore(() => {}, storage).period).toBe('week');
    storage.setItem(PERIOD_KEY, 'forever');
    expect(new ArchiveStore(() => {}, storage).period).toBe('day');
  });

  it('gives up on a request that is not answered, and only on that one', async () => {
    const { timers, store, archive, actions } = setup();
    await actions.loadHistory('day');
    await actions.loadHistory('day');
    expect(timers.map(([, ms]) => ms)).toEqual([HISTORY_TIMEOUT_MS, HISTORY_TIMEOUT_MS]);
    timers[0][0](); // the first request's time-out: the second is still awaited
    expect(archive).toMatchObject({ loading: true, failure: null });
    timers[1][0]();
    expect(archive.loading).toBe(false);
    expect(archive.failure).toMatch(/did not send the history/);
    store.accept(reply(), 1);
    expect(archive.failure).toBeNull();

    const unreachable = setup(false);
    expect(await unreachable.actions.loadHistory('hour')).toBe(false);
    expect(unreachable.archive.failure).toMatch(/Could not reach Quillon/);
    expect(unreachable.timers).toEqual([]);
  });

  it('exports the chosen period and shows the outcome, even a late one', async () => {
    const { sent, timers, store, archive, actions } = setup();
    const outcome = JSON.stringify({ type: 'historyExport', payload: { ok: true, path: '/h/q.csv', records: 5 } });
    expect(store.accept(outcome, 1)).toBe(false); // nobody asked from this page
    archive.setPeriod('hour');
    await actions.exportHistory('csv');
    expect(sent).toEqual(['{"action":"export_history","period":"hour","format":"csv"}']);
    expect(archive.exportState).toEqual({ kind: 'exporting', format: 'csv' });
    expect(timers[0][1]).toBe(EXPORT_TIMEOUT_MS);
    timers[0][0]();
    expect(exportText(archive.exportState)).toMatch(/did not answer/);
    expect(store.accept(outcome, 2)).toBe(true);
    expect(exportText(archive.exportState)).toBe('Saved 5 records to /h/q.csv');
  });
});
