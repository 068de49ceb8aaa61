// Words and shapes for a period of the archive: where each verdict sits on the period's bar,
// and each problem as a line a person can read out or paste ("ISP Issue 10:02–10:14 (12 min)
// — loss 12.0 % at hop 3 (203.0.113.1)"). Times are the computer's local time.

import type { HistoryData, Period, VerdictSpan } from './archive';
import type { ExportState } from './archiveStore';
import { STATUS_LOOK } from './format';
import type { Status } from './messages';

export const PERIOD_LABEL: Record<Period, string> = {
  hour: 'Last hour',
  day: 'Last day',
  week: 'Last week',
};

export interface TimelineBlock {
  status: Status;
  left: number; // percent of the bar
  width: number;
  span: VerdictSpan;
}

// The verdicts as blocks of the bar from `from` to `to`; what lies outside is cut off, and the
// stretches without a block are the times Quillon was not running.
export function timelineBlocks(data: Pick<HistoryData, 'from' | 'to' | 'verdicts'>): TimelineBlock[] {
  const length = data.to - data.from;
  if (!(length > 0)) return [];
  const blocks: TimelineBlock[] = [];
  for (const span of data.verdicts) {
    const start = Math.max(span.from, data.from);
    const end = Math.min(span.to, data.to);
    if (end <= start) continue;
    blocks.push({
      status: span.status,
      left: ((start - data.from) / length) * 100,
      width: ((end - start) / length) * 100,
      span,
    });
  }
  return blocks;
}

export const isProblem = (span: VerdictSpan): boolean => span.status === 'warning' || span.status === 'critical';

const pad = (n: number): string => String(n).padStart(2, '0');
const DAYS = ['Sun', 'Mon', 'Tue', 'Wed', 'Thu', 'Fri', 'Sat'];
const MONTHS = ['Jan', 'Feb', 'Mar', 'Apr', 'May', 'Jun', 'Jul', 'Aug', 'Sep', 'Oct', 'Nov', 'Dec'];

const local = (unixSeconds: number): Date => new Date(unixSeconds * 1000);
export const clockTime = (unixSeconds: number): string => {
  const d = local(unixSeconds);
  return `${pad(d.getHours())}:${pad(d.getMinutes())}`;
};
export const dayLabel = (unixSeconds: number): string => {
  const d = local(unixSeconds);
  return `${DAYS[d.getDay()]} ${d.getDate()} ${MONTHS[d.getMonth()]}`;
};
const sameDay = (a: number, b: number): boolean => local(a).toDateString() === local(b).toDateString();

// "10:02–10:14" on the day of `reference` (the end of the period, usually now); the day is
// named where it is another one.
export function spanTimes(from: number, to: number, reference: number): string {
  const start = sameDay(from, reference) ? clockTime(from) : `${dayLabel(from)} ${clockTime(from)}`;
  const end = sameDay(to, from) ? clockTime(to) : `${dayLabel(to)} ${clockTime(to)}`;
  return `${start}–${end}`;
}

export function durationText(seconds: number): string {
  const s = Math.max(0, Math.round(seconds));
  if (s < 60) return `${s} s`;
  const minutes = Math.round(s / 60);
  if (minutes < 60) return `${minutes} min`;
  const h = Math.floor(minutes / 60);
  const m = minutes % 60;
  if (h < 24) return m ? `${h} h ${m} min` : `${h} h`;
  const d = Math.floor(h / 24);
  return h % 24 ? `${d} d ${h % 24} h` : `${d} d`;
}

const TRIGGER_UNIT: Record<string, [string, string]> = {
  loss: ['loss', '%'],
  latency: ['latency', 'ms'],
  rtt: ['latency', 'ms'],
  jitter: ['jitter', 'ms'],
};

// What set the verdict off and where: "loss 12.0 % at hop 3 (203.0.113.1)", as much of it as
// is known.
export function causeText(span: VerdictSpan): string {
  const parts: string[] = [];
  if (span.trigger) {
    const [word, unit] = TRIGGER_UNIT[span.trigger] ?? [span.trigger, ''];
    parts.push(
      span.triggerValue === undefined ? word : `${word} ${span.triggerValue.toFixed(1)}${unit ? ` ${unit}` : ''}`,
    );
  }
  if (span.culpritHopNumber !== undefined) {
    parts.push(`at hop ${span.culpritHopNumber}${span.culpritIp ? ` (${span.culpritIp})` : ''}`);
  } else if (span.culpritIp) {
    parts.push(`at ${span.culpritIp}`);
  }
  return parts.join(' ');
}

export function problemText(span: VerdictSpan, reference: number): string {
  const title = span.title ?? STATUS_LOOK[span.status].label;
  const cause = causeText(span);
  const when = `${spanTimes(span.from, span.to, reference)} (${durationText(span.to - span.from)})`;
  return `${title} ${when}${cause ? ` — ${cause}` : ''}`;
}

// Nothing recorded in the period at all (and no error to explain why).
export const isEmptyHistory = (data: HistoryData): boolean =>
  !data.error && data.records === 0 && data.times.length === 0 && data.verdicts.length === 0;

export const skippedText = (skipped: number): string =>
  `${skipped.toLocaleString('en-US')} line${skipped === 1 ? '' : 's'} of the archive could not be read`;

const records = (n: number): string => `${n.toLocaleString('en-US')} record${n === 1 ? '' : 's'}`;

// How the last export went, in words; empty before the first one.
export function exportText(state: ExportState): string {
  if (state.kind === 'idle') return '';
  if (state.kind === 'exporting') return 'Exporting…';
  const o = state.outcome;
  if (!o.ok) return o.error;
  const saved = `Saved ${records(o.records)}${o.path ? ` to ${o.path}` : ''}`;
  return o.skipped > 0 ? `${saved} (${skippedText(o.skipped)})` : saved;
}
