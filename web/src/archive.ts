// The two replies about the measurement archive the application keeps on disk: a period of it
// reduced to time buckets ("history"), and the outcome of writing it to a file
// ("historyExport"). Both are checked here member by member: a bad value is dropped or
// replaced, never trusted, since a week of buckets is a large message built from files that
// may have been cut short.

import type { Status } from './messages';

export type Period = 'hour' | 'day' | 'week';
export const PERIODS: readonly Period[] = ['hour', 'day', 'week'];
export type ExportFormat = 'csv' | 'json';

export interface HopHistory {
  hopNumber: number;
  ip: string;
  rttMs: (number | null)[]; // one per time; null: no answered echo in that bucket
  loss: (number | null)[]; // percent, one per time; null: no echo at all
}

export interface VerdictSpan {
  from: number; // Unix seconds
  to: number;
  status: Status;
  segmentId: string;
  title?: string;
  culpritHopNumber?: number;
  culpritIp?: string;
  trigger?: string;
  triggerValue?: number;
}

export interface HistoryData {
  period: Period | null; // null when the reply did not say which period it answers
  from: number;
  to: number;
  bucketSeconds: number;
  times: number[]; // start of each bucket, ascending
  hops: HopHistory[];
  verdicts: VerdictSpan[]; // ascending, not overlapping; times the application was off are absent
  records: number;
  skipped: number;
  error?: string;
}

export interface HistoryMessage {
  type: 'history';
  payload: HistoryData;
}

export type ExportOutcome = { ok: true; path: string; records: number; skipped: number } | { ok: false; error: string };

export interface HistoryExportMessage {
  type: 'historyExport';
  payload: ExportOutcome;
}

type Obj = Record<string, unknown>;

const isObj = (v: unknown): v is Obj => typeof v === 'object' && v !== null && !Array.isArray(v);
const finite = (v: unknown): v is number => typeof v === 'number' && Number.isFinite(v);
const optText = (v: unknown): string | undefined => (typeof v === 'string' && v !== '' ? v : undefined);
const count = (v: unknown): number => (finite(v) && Number.isInteger(v) && v >= 0 ? v : 0);
const isPeriod = (v: unknown): v is Period => typeof v === 'string' && PERIODS.includes(v as Period);
const STATUSES: readonly string[] = ['healthy', 'warning', 'critical'];
const toStatus = (v: unknown): Status => (typeof v === 'string' && STATUSES.includes(v) ? (v as Status) : 'unknown');

// The value at each kept index: a figure in range, or null.
function column(v: unknown, keep: number[], max: number): (number | null)[] {
  const values = Array.isArray(v) ? v : [];
  return keep.map((i) => {
    const x = values[i];
    return finite(x) && x >= 0 && x <= max ? x : null;
  });
}

function toHopHistory(v: unknown, keep: number[]): HopHistory | null {
  if (!isObj(v) || !finite(v.hopNumber) || !Number.isInteger(v.hopNumber) || v.hopNumber < 1) return null;
  return {
    hopNumber: v.hopNumber,
    ip: optText(v.ip) ?? '*',
    rttMs: column(v.rttMs, keep, Number.MAX_VALUE),
    loss: column(v.loss, keep, 100),
  };
}

function toVerdictSpan(v: unknown): VerdictSpan | null {
  if (!isObj(v) || !finite(v.from) || !finite(v.to) || v.to <= v.from) return null;
  const span: VerdictSpan = {
    from: v.from,
    to: v.to,
    status: toStatus(v.status),
    segmentId: typeof v.segmentId === 'string' ? v.segmentId : '',
  };
  const title = optText(v.title);
  if (title) span.title = title;
  if (finite(v.culpritHopNumber) && Number.isInteger(v.culpritHopNumber) && v.culpritHopNumber > 0) {
    span.culpritHopNumber = v.culpritHopNumber;
  }
  const ip = optText(v.culpritIp);
  if (ip) span.culpritIp = ip;
  const trigger = optText(v.trigger);
  if (trigger) span.trigger = trigger;
  if (finite(v.triggerValue)) span.triggerValue = v.triggerValue;
  return span;
}

export function toHistory(p: unknown): HistoryMessage | null {
  if (!isObj(p)) return null;
  // Buckets out of order or without a time are dropped together with their column in every hop.
  const rawTimes = Array.isArray(p.times) ? p.times : [];
  const keep: number[] = [];
  const times: number[] = [];
  rawTimes.forEach((t, i) => {
    if (finite(t) && (times.length === 0 || t > times[times.length - 1])) {
      keep.push(i);
      times.push(t);
    }
  });
  const hops = (Array.isArray(p.hops) ? p.hops : [])
    .map((h) => toHopHistory(h, keep))
    .filter((h): h is HopHistory => h !== null);
  // Overlapping spans would draw over each other: a later one starts where the one before ends.
  const verdicts: VerdictSpan[] = [];
  const spans = (Array.isArray(p.verdicts) ? p.verdicts : [])
    .map(toVerdictSpan)
    .filter((v): v is VerdictSpan => v !== null)
    .sort((a, b) => a.from - b.from);
  for (const span of spans) {
    const last = verdicts[verdicts.length - 1];
    if (last && span.from < last.to) {
      if (span.to <= last.to) continue;
      span.from = last.to;
    }
    verdicts.push(span);
  }
  const bucketSeconds = count(p.bucketSeconds);
  // A reply without its bounds still spans its buckets and verdicts.
  const first = Math.min(times[0] ?? Infinity, verdicts[0]?.from ?? Infinity);
  const from = finite(p.from) ? p.from : Number.isFinite(first) ? first : 0;
  const lastEnd = Math.max(
    times.length ? times[times.length - 1] + bucketSeconds : 0,
    verdicts.length ? verdicts[verdicts.length - 1].to : 0,
  );
  const to = finite(p.to) && p.to > from ? p.to : Math.max(from, lastEnd);
  const data: HistoryData = {
    period: isPeriod(p.period) ? p.period : null,
    from,
    to,
    bucketSeconds,
    times,
    hops,
    verdicts,
    records: count(p.records),
    skipped: count(p.skipped),
  };
  const error = optText(p.error);
  if (error) data.error = error;
  return { type: 'history', payload: data };
}

export function toHistoryExport(p: unknown): HistoryExportMessage | null {
  if (!isObj(p) || typeof p.ok !== 'boolean') return null;
  const payload: ExportOutcome = p.ok
    ? { ok: true, path: typeof p.path === 'string' ? p.path : '', records: count(p.records), skipped: count(p.skipped) }
    : { ok: false, error: optText(p.error) ?? 'Quillon could not write the file.' };
  return { type: 'historyExport', payload };
}
