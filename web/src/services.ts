// What the page knows about monitored services: the list the application last sent, each
// service's latest result and its latency since the page opened, and the save or delete the
// page is waiting on. Kept in memory only and bounded, like the hop history.

import type { Series } from './history';
import type { ServiceChange, ServiceInfo, ServiceResult } from './messages';

export interface ServiceLimits {
  points: number; // results remembered per service
  services: number; // services remembered before the first list says which exist
}

export const DEFAULT_SERVICE_LIMITS: ServiceLimits = { points: 120, services: 64 };

export interface PendingChange {
  action: 'save' | 'delete';
  id: string;
  name: string;
}

export class ServiceStore {
  services: ServiceInfo[] = [];
  maxProbed = 5;
  listed = false; // a list has arrived
  pending: PendingChange | null = null;
  outcome: ServiceChange | null = null; // of the last change this page asked for
  private readonly latestById = new Map<string, ServiceResult>();
  private readonly seriesById = new Map<string, Series>();
  private readonly limits: ServiceLimits;

  constructor(limits: Partial<ServiceLimits> = {}) {
    this.limits = { ...DEFAULT_SERVICE_LIMITS, ...limits };
  }

  latest(id: string): ServiceResult | undefined {
    return this.latestById.get(id);
  }

  history(id: string): Series | undefined {
    return this.seriesById.get(id);
  }

  // Returns whether the result belongs to a service this page shows.
  record(result: ServiceResult, nowSeconds: number): boolean {
    const id = result.serviceId;
    // A removed service's probe may still be finishing: it must not come back.
    if (this.listed && !this.services.some((s) => s.id === id)) return false;
    const latest = result.timestamp ? result : { ...result, timestamp: nowSeconds };
    this.latestById.set(id, latest);
    let s = this.seriesById.get(id);
    if (!s) {
      s = { times: [], rtt: [], loss: [] };
      this.seriesById.set(id, s);
    }
    s.times.push(latest.timestamp);
    s.rtt.push(result.success ? result.latencyMs : null);
    // A failed check counts as lost; an echo check says how much of it was.
    s.loss.push(result.success ? result.lossPercent : 100);
    const excess = s.times.length - this.limits.points;
    if (excess > 0) {
      s.times.splice(0, excess);
      s.rtt.splice(0, excess);
      s.loss.splice(0, excess);
    }
    // Before any list, ids are not known to be real: keep only the most recent few.
    while (this.seriesById.size > this.limits.services) {
      this.forget(this.seriesById.keys().next().value as string);
    }
    return true;
  }

  setList(services: ServiceInfo[], maxProbed: number): void {
    const before = new Map(this.services.map((s) => [s.id, s]));
    const now = new Set(services.map((s) => s.id));
    for (const id of [...this.seriesById.keys(), ...this.latestById.keys()]) {
      if (!now.has(id)) this.forget(id);
    }
    // A service now checking something else starts afresh: old figures would mislead.
    for (const s of services) {
      const old = before.get(s.id);
      if (old && (old.probeType !== s.probeType || old.target !== s.target || old.port !== s.port)) this.forget(s.id);
    }
    this.services = services;
    this.maxProbed = maxProbed;
    this.listed = true;
  }

  begin(change: PendingChange): void {
    this.pending = change;
    this.outcome = null;
  }

  // Takes the outcome of the change this page is waiting on (others are not this page's) and
  // returns that change.
  finish(change: ServiceChange): PendingChange | null {
    const p = this.pending;
    if (!p || p.action !== change.action || p.id !== change.id) return null;
    this.pending = null;
    this.outcome = change;
    if (change.ok && change.action === 'delete') {
      this.forget(change.id);
      this.services = this.services.filter((s) => s.id !== change.id);
    }
    return p;
  }

  clearOutcome(): void {
    this.outcome = null;
  }

  private forget(id: string): void {
    this.latestById.delete(id);
    this.seriesById.delete(id);
  }
}

export type ServiceState =
  | { kind: 'up' }
  | { kind: 'failing'; error: string }
  | { kind: 'waiting' }
  | { kind: 'off' } // turned off by the user
  | { kind: 'over-limit'; maxProbed: number };

export function serviceState(service: ServiceInfo, latest: ServiceResult | undefined, maxProbed: number): ServiceState {
  if (!service.probed) return service.enabled ? { kind: 'over-limit', maxProbed } : { kind: 'off' };
  if (!latest) return { kind: 'waiting' };
  return latest.success ? { kind: 'up' } : { kind: 'failing', error: latest.error ?? 'No answer' };
}

// Mean loss over the results remembered, and how many they are.
export function lossSinceOpened(series: Series | undefined): { percent: number; results: number } | null {
  if (!series || series.loss.length === 0) return null;
  const sum = series.loss.reduce((a, b) => a + b, 0);
  return { percent: sum / series.loss.length, results: series.loss.length };
}
