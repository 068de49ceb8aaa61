// What the History view knows: the period the person chose (remembered across visits), the last
// reply for it, whether one is awaited, and how the last export went. Requests are numbered so
// that a time-out only ends the request it was set for.

import type { ExportFormat, ExportOutcome, HistoryData, Period } from './archive';
import { PERIODS } from './archive';

export interface KeyValueStorage {
  getItem(key: string): string | null;
  setItem(key: string, value: string): void;
}

export type ExportState =
  { kind: 'idle' } | { kind: 'exporting'; format: ExportFormat } | { kind: 'done'; outcome: ExportOutcome };

export const PERIOD_KEY = 'quillon.historyPeriod';
export const DEFAULT_PERIOD: Period = 'day';

// The page's local storage where the browser grants it; some embedded or private contexts
// throw on mere access.
export function pageStorage(): KeyValueStorage | null {
  try {
    return typeof localStorage === 'undefined' ? null : localStorage;
  } catch {
    return null;
  }
}

export class ArchiveStore {
  period: Period = DEFAULT_PERIOD;
  data: HistoryData | null = null; // the last reply for `period`
  loading = false;
  failure: string | null = null; // why no history came for the last request
  exportState: ExportState = { kind: 'idle' };
  private request = 0;
  private exportRequest = 0;

  // `changed` tells the page; it is not called by the two accept methods, whose caller does.
  constructor(
    private readonly changed: () => void,
    private readonly storage: KeyValueStorage | null = pageStorage(),
  ) {
    try {
      const saved = storage?.getItem(PERIOD_KEY);
      if (PERIODS.includes(saved as Period)) this.period = saved as Period;
    } catch {
      // Unreadable storage: the default period.
    }
  }

  setPeriod(period: Period): void {
    if (period === this.period) return;
    this.period = period;
    this.data = null;
    this.failure = null;
    try {
      this.storage?.setItem(PERIOD_KEY, period);
    } catch {
      // Full or refused storage: the choice holds for this visit only.
    }
    this.changed();
  }

  // Returns the request's number, for `failLoad`.
  beginLoad(): number {
    this.loading = true;
    this.failure = null;
    this.changed();
    return ++this.request;
  }

  // The request could not be sent, or its answer did not come in time.
  failLoad(request: number, reason: string): void {
    if (request !== this.request || !this.loading) return;
    this.loading = false;
    this.failure = reason;
    this.changed();
  }

  // A reply for another period (the person has moved on) is not shown.
  accept(data: HistoryData): boolean {
    if ((data.period ?? this.period) !== this.period) return false;
    this.data = data;
    this.loading = false;
    this.failure = null;
    return true;
  }

  beginExport(format: ExportFormat): number {
    this.exportState = { kind: 'exporting', format };
    this.changed();
    return ++this.exportRequest;
  }

  failExport(request: number, error: string): void {
    if (request !== this.exportRequest || this.exportState.kind !== 'exporting') return;
    this.exportState = { kind: 'done', outcome: { ok: false, error } };
    this.changed();
  }

  // Only a page that asked for an export shows its outcome, even one that comes late.
  acceptExport(outcome: ExportOutcome): boolean {
    if (this.exportRequest === 0) return false;
    this.exportState = { kind: 'done', outcome };
    return true;
  }
}
