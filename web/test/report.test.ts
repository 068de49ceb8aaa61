import { describe, expect, it } from 'vitest';
import { copyText, type ClipboardHost } from '../src/clipboard';
import { parseInbound, type NetworkState } from '../src/messages';
import { buildReport, reportTime } from '../src/report';
import { HEALTHY, PING_NOT_PERMITTED, RECENT } from './fixtures';

const state = (message: string): NetworkState => parseInbound(message) as NetworkState;
const when = new Date(2024, 5, 3, 10, 15, 2);

// The rows of a table in the report: the lines after its heading, up to the blank line.
function tableOf(report: string, heading: string): string[] {
  const lines = report.split('\n');
  const start = lines.indexOf(heading) + 1;
  const end = lines.indexOf('', start);
  return lines.slice(start, end === -1 ? undefined : end);
}

describe('connection report', () => {
  it('says when, the verdict and the finding, then the path as an aligned table', () => {
    const report = buildReport(state(RECENT), when);
    const head = report.split('\n').slice(0, 6);
    expect(head[0]).toBe('Quillon connection report');
    expect(head[1]).toMatch(/^Time: {5}2024-06-03 10:15:02 \(UTC[+-]\d\d:\d\d\)$/);
    expect(head[2]).toBe('Verdict:  Your connection has a problem (Problem)');
    expect(head[3]).toBe('Finding:  WiFi Connection Issue');
    expect(head[4]).toBe('          Packet loss detected on your WiFi connection.');
    expect(head[5]).toBe('Where:    Link (HomeNet)');

    const rows = tableOf(report, 'Path');
    expect(rows).toHaveLength(7);
    expect(rows[0].trim().split(/\s{2,}/)).toEqual(['Hop', 'Address', 'Name', 'Loss %', 'Avg RTT', 'Jitter']);
    // Every column starts and ends in the same place on every row: numbers end under their heading.
    const end = (heading: string) => rows[0].indexOf(heading) + heading.length;
    for (const row of rows.slice(1)) {
      expect(row.length).toBe(end('Jitter'));
      expect(row.slice(0, end('Hop')).trim()).toMatch(/^\d+$/);
    }
    const dest = rows[6];
    expect(dest).toContain('1.1.1.1');
    expect(dest).toContain('dns1.anycast.example');
    expect(dest.slice(0, end('Loss %')).trimEnd()).toMatch(/ 0\.5$/);
    expect(dest).toMatch(/14\.1 ms {2}2\.5 ms$/);
    // The hop that never answers has no round trip or jitter.
    const silent = rows.find((r) => /^\s+4 /.test(r))!;
    expect(silent).toMatch(/\*/);
    expect(silent).toMatch(/– {2,}–$/);
    expect(report).not.toContain('Destinations');
  });

  it('lists the destinations when the state carries them', () => {
    const s = state(HEALTHY);
    s.destinations = [
      {
        ip: '1.1.1.1',
        name: 'Cloudflare DNS',
        isPrimary: true,
        reached: true,
        answersPing: true,
        rttMs: 14.06,
        loss: 0,
        jitter: 1.2,
      },
      { ip: '192.0.2.80', name: 'Example site', isPrimary: false, reached: false, answersPing: false },
    ];
    const report = buildReport(s, when);
    expect(report).toMatch(/^Verdict: {2}Your connection looks good \(Good\)$/m);
    expect(report).not.toContain('Finding:');
    const rows = tableOf(report, 'Destinations');
    expect(rows.map((r) => r.trim().split(/\s{2,}/))).toEqual([
      ['Address', 'Name', 'Loss %', 'Avg RTT', 'Jitter', 'Answers ping'],
      ['1.1.1.1', 'Cloudflare DNS', '0.0', '14.1 ms', '1.2 ms', 'yes'],
      ['192.0.2.80', 'Example site', '–', '–', '–', 'no'],
    ]);
  });

  it('says when nothing could be measured', () => {
    const report = buildReport(state(PING_NOT_PERMITTED), when);
    expect(report).toContain("Verdict:  Your connection can't be checked (Not checked)");
    expect(report).toContain('Finding:  Ping Not Permitted');
    expect(report).not.toContain('Where:');
    expect(tableOf(report, 'Path')).toEqual(['  No hops measured yet.']);
  });

  it('writes the time zone as an offset from UTC', () => {
    const t = new Date(2024, 0, 5, 7, 8, 9);
    const offset = -t.getTimezoneOffset();
    const hh = String(Math.floor(Math.abs(offset) / 60)).padStart(2, '0');
    const mm = String(Math.abs(offset) % 60).padStart(2, '0');
    expect(reportTime(t)).toBe(`2024-01-05 07:08:09 (UTC${offset < 0 ? '-' : '+'}${hh}:${mm})`);
  });
});

describe('clipboard', () => {
  // A document whose "copy" succeeds or not, recording what was selected when it ran.
  function fakeDocument(copies: boolean) {
    const copied: string[] = [];
    let attached = 0;
    const doc = {
      activeElement: null,
      body: { appendChild: () => attached++ },
      createElement: () => {
        const box = {
          value: '',
          style: {},
          setAttribute: () => {},
          select: () => {},
          remove: () => attached--,
        };
        current = box;
        return box;
      },
      execCommand: (command: string) => {
        if (command === 'copy' && copies) copied.push(current!.value);
        return copies;
      },
    };
    let current: { value: string } | null = null;
    return { doc: doc as unknown as ClipboardHost['document'], copied, attached: () => attached };
  }

  it('uses the clipboard API, falls back to selecting text, and says when both fail', async () => {
    const written: string[] = [];
    const api = { writeText: async (t: string) => void written.push(t) };
    expect(await copyText('a', { clipboard: api, document: fakeDocument(true).doc })).toBe(true);
    expect(written).toEqual(['a']);

    const refused = { writeText: () => Promise.reject(new Error('NotAllowedError')) };
    const fallback = fakeDocument(true);
    expect(await copyText('b', { clipboard: refused, document: fallback.doc })).toBe(true);
    expect(fallback.copied).toEqual(['b']);
    expect(fallback.attached()).toBe(0); // the helper box is gone again

    const none = fakeDocument(false);
    expect(await copyText('c', { document: none.doc })).toBe(false);
    expect(none.attached()).toBe(0);
    expect(await copyText('d', {})).toBe(false);
  });
});
