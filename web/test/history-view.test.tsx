import { describe, expect, it } from 'vitest';
import { render } from 'preact-render-to-string';
import { App } from '../src/components/App';
import { HistoryView } from '../src/components/HistoryView';
import { isolatedPoints } from '../src/components/HistoryChart';
import { PageStore } from '../src/store';
import { historyPayload } from './history-fixtures';
import { HEALTHY } from './fixtures';
import { classesOf, inner, text } from './html';

const commands = { load: () => {}, exportAs: () => {} };

function view(payload?: Record<string, unknown>, prepare: (store: PageStore) => void = () => {}) {
  const store = new PageStore({}, {}, null);
  prepare(store);
  if (payload) expect(store.accept({ type: 'history', payload }, 0)).toBe(true);
  const html = render(<HistoryView archive={store.archive} commands={commands} />);
  return { html, shown: text(html) };
}

describe('history view', () => {
  it('offers the periods, the day chosen, and waits for the reply', () => {
    const { html, shown } = view();
    expect(shown).toMatch(/Last hourLast dayLast week/);
    expect(html).toMatch(/aria-pressed="true"[^>]*>Last day</);
    expect(shown).toContain('Loading history…');
    expect(shown).toMatch(/Export CSV.*Export JSON/);
  });

  it('shows the verdicts as a bar and in words, and the unread lines', () => {
    const { html, shown } = view(historyPayload());
    expect(shown).not.toContain('Loading history…');
    expect(text(inner(html, 'problems') ?? '')).toBe(
      '✕ISP Issue 10:02–10:14 (12 min) — loss 12.0 % at hop 3 (203.0.113.1)',
    );
    expect(shown).toContain('2 lines of the archive could not be read.');
    expect(shown).toContain('1,234 samples');
    // The healthy block ends where the problem starts, 22 h into the day-long bar.
    const blocks = [
      ...html.matchAll(/class="timeline-block status-(\w+)" style="left:\s*([\d.]+)%;\s*width:\s*([\d.]+)%/g),
    ];
    expect(blocks.map(([, s, l]) => [s, Number(l).toFixed(2)])).toEqual([
      ['healthy', ((21 * 100) / 24).toFixed(2)],
      ['critical', (((22 * 60 + 2) * 100) / (24 * 60)).toFixed(2)],
    ]);
    expect(shown).toContain('Response time per hop');
    expect(shown).toContain('Loss per hop');
  });

  it('says when there was no problem, no history, or the archive could not be read', () => {
    const healthy = view(historyPayload({ verdicts: [{ from: 1, to: 2e9, status: 'healthy' }], skipped: 0 }));
    expect(healthy.shown).toContain('No problems in this period');
    expect(healthy.shown).not.toMatch(/could not be read/);

    const empty = { times: [], hops: [], verdicts: [], records: 0, skipped: 0 };
    expect(view(historyPayload(empty)).shown).toContain('No history yet: Quillon records measurements while it runs.');
    const missing = view(historyPayload({ ...empty, error: 'The archive folder is missing.' }));
    expect(text(inner(missing.html, 'history-error') ?? '')).toBe('The archive folder is missing.');
    expect(missing.shown).not.toContain('No history yet');
  });

  it('shows how an export is going and why one failed', () => {
    const exporting = view(historyPayload(), (s) => s.archive.beginExport('csv'));
    expect(exporting.shown).toContain('Exporting…');
    expect(exporting.html).toMatch(/<button[^>]*disabled[^>]*>Export CSV/);
    const failed = view(historyPayload(), (s) => {
      s.archive.beginExport('json');
      s.accept({ type: 'historyExport', payload: { ok: false, error: 'Downloads folder not found' } }, 0);
    });
    expect(classesOf(failed.html, 'export-status')).toContain('failed');
    expect(failed.shown).toContain('Downloads folder not found');
  });
});

describe('tabs and the report button', () => {
  it('lists History as the third tab and puts Copy report on the connection view', () => {
    const store = new PageStore({}, {}, null);
    store.accept(HEALTHY, 1);
    const html = render(<App store={store} onRefresh={() => {}} />);
    expect([...html.matchAll(/role="tab"[^>]*>([^<]*)/g)].map((m) => m[1])).toEqual([
      'Connection',
      'Services',
      'History',
    ]);
    expect(text(html)).toContain('Copy report');
  });
});

describe('isolatedPoints', () => {
  it('finds the figures a line cannot show', () => {
    expect(isolatedPoints([null, 1, null, 2, 3, null, 4])).toEqual([1, 6]);
    expect(isolatedPoints([5])).toEqual([0]);
    expect(isolatedPoints([1, 2, null])).toEqual([]);
  });
});
