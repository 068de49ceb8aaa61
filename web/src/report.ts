// The connection as plain text for a support ticket or a forum post: when, the verdict, what was
// found, then the path and the destinations as fixed-width tables that keep their columns in any
// monospaced box. Pure: the state and the time in, the text out.

import { STATUS_LOOK, cannotMeasure, headline } from './format';
import type { NetworkState } from './messages';

const pad2 = (n: number): string => String(n).padStart(2, '0');

// "2024-06-03 10:15:02 (UTC+02:00)": the computer's local time, with its offset so that whoever
// reads the ticket elsewhere can place it.
export function reportTime(at: Date): string {
  const offset = -at.getTimezoneOffset();
  const sign = offset < 0 ? '-' : '+';
  const zone = `UTC${sign}${pad2(Math.floor(Math.abs(offset) / 60))}:${pad2(Math.abs(offset) % 60)}`;
  const date = `${at.getFullYear()}-${pad2(at.getMonth() + 1)}-${pad2(at.getDate())}`;
  const time = `${pad2(at.getHours())}:${pad2(at.getMinutes())}:${pad2(at.getSeconds())}`;
  return `${date} ${time} (${zone})`;
}

// Columns padded to their widest cell; numbers lean right so their decimals line up.
function table(headers: string[], rows: string[][], right: boolean[]): string[] {
  const widths = headers.map((h, i) => Math.max(h.length, ...rows.map((r) => r[i].length)));
  const line = (cells: string[]) =>
    cells
      .map((c, i) => (right[i] ? c.padStart(widths[i]) : c.padEnd(widths[i])))
      .join('  ')
      .trimEnd();
  return [line(headers), ...rows.map(line)];
}

const DASH = '–';
const fixed = (v: number | undefined, unit = ''): string => (v === undefined ? DASH : `${v.toFixed(1)}${unit}`);

export function buildReport(state: NetworkState, at: Date): string {
  const blocked = cannotMeasure(state);
  const { title } = headline(state.overallStatus, state.hops.length > 0, blocked);
  const lines = ['Quillon connection report', `Time:     ${reportTime(at)}`];
  lines.push(`Verdict:  ${title} (${STATUS_LOOK[state.overallStatus].label})`);
  const callout = state.culpritCallout;
  if (callout) {
    lines.push(`Finding:  ${callout.title}`);
    if (callout.description) lines.push(`          ${callout.description}`);
    const culprit = callout.segmentId ? state.segments.find((s) => s.id === callout.segmentId) : undefined;
    if (culprit) {
      const name =
        culprit.displayName && culprit.displayName !== culprit.categoryLabel ? ` (${culprit.displayName})` : '';
      lines.push(`Where:    ${culprit.categoryLabel}${name}`);
    }
  }

  lines.push('', 'Path');
  if (state.hops.length === 0) {
    lines.push('  No hops measured yet.');
  } else {
    const rows = state.hops.map((h) => {
      // A hop that never answers has no round trip to speak of.
      const silent = h.ip === '*' || h.loss >= 100;
      return [
        String(h.hopNumber),
        h.ip,
        h.hostname ?? '',
        fixed(h.loss),
        silent ? DASH : fixed(h.rttMs, ' ms'),
        silent ? DASH : fixed(h.jitter, ' ms'),
      ];
    });
    lines.push(
      ...table(['Hop', 'Address', 'Name', 'Loss %', 'Avg RTT', 'Jitter'], rows, [
        true,
        false,
        false,
        true,
        true,
        true,
      ]).map((l) => `  ${l}`),
    );
  }

  const destinations = state.destinations;
  if (destinations.length > 0) {
    lines.push('', 'Destinations');
    const rows = destinations.map((d) => [
      d.ip,
      d.name ?? '',
      d.answersPing ? fixed(d.loss) : DASH,
      d.answersPing ? fixed(d.rttMs, ' ms') : DASH,
      d.answersPing ? fixed(d.jitter, ' ms') : DASH,
      d.answersPing ? 'yes' : 'no',
    ]);
    lines.push(
      ...table(['Address', 'Name', 'Loss %', 'Avg RTT', 'Jitter', 'Answers ping'], rows, [
        false,
        false,
        true,
        true,
        true,
        false,
      ]).map((l) => `  ${l}`),
    );
  }
  return lines.join('\n') + '\n';
}
