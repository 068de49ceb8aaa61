// Per-hop history of RTT and loss, built from successive network state messages and kept
// in memory only. Bounded twice: points per hop and number of hops remembered, so a page left
// open for days (or a path that keeps changing) never grows.

import type { Hop } from './messages';
import { hasLongWindow } from './format';

export interface Series {
  times: number[]; // seconds since the epoch
  rtt: (number | null)[]; // null where the hop did not answer
  loss: number[]; // the recent loss where the messages carry it, else the long window
}

export interface HistoryLimits {
  pointsPerHop: number;
  hops: number;
}

export const DEFAULT_LIMITS: HistoryLimits = { pointsPerHop: 300, hops: 64 };

// A hop is the same hop while both its place in the path and its address stay the same.
export const hopKey = (hop: Pick<Hop, 'hopNumber' | 'ip'>): string => `${hop.hopNumber}|${hop.ip}`;

export class HistoryStore {
  private readonly series = new Map<string, Series>();
  private readonly limits: HistoryLimits;
  private version = 0;
  // Hops of the last message with recent echoes but all figures 0.
  private zeroWithEchoes = new Set<string>();

  constructor(limits: Partial<HistoryLimits> = {}) {
    this.limits = { ...DEFAULT_LIMITS, ...limits };
  }

  // Adds one point for every measured hop of a message, all at the same time. A hop not measured
  // yet is sent with zeros, which would chart as a false 0 ms: its series starts with its first
  // real figure. Zeros with recent echoes are that too at first (echoes the long window has not
  // taken yet); only a second message in a row with them shows a hop under a millisecond.
  record(hops: readonly Hop[], timeSeconds: number): void {
    const zeroWithEchoes = new Set<string>();
    for (const hop of hops) {
      const key = hopKey(hop);
      if (!hasLongWindow(hop)) {
        if (hop.recentLoss === undefined) continue;
        zeroWithEchoes.add(key);
        if (!this.zeroWithEchoes.has(key)) continue;
      }
      let s = this.series.get(key);
      if (s) {
        // Re-inserting keeps the map in order of last use, oldest first, for eviction.
        this.series.delete(key);
      } else {
        s = { times: [], rtt: [], loss: [] };
      }
      this.series.set(key, s);
      // The recent loss, where the message has it, so the points follow what happened around
      // each moment rather than a half-hour average.
      const loss = hop.recentLoss ?? hop.loss;
      const silent = hop.ip === '*' || loss >= 100;
      s.times.push(timeSeconds);
      s.rtt.push(silent ? null : hop.rttMs);
      s.loss.push(loss);
      const excess = s.times.length - this.limits.pointsPerHop;
      if (excess > 0) {
        s.times.splice(0, excess);
        s.rtt.splice(0, excess);
        s.loss.splice(0, excess);
      }
    }
    this.zeroWithEchoes = zeroWithEchoes;
    while (this.series.size > this.limits.hops) {
      const oldest = this.series.keys().next().value as string;
      this.series.delete(oldest);
    }
    this.version++;
  }

  get(key: string): Series | undefined {
    return this.series.get(key);
  }

  get size(): number {
    return this.series.size;
  }

  // Changes with every record, so views can tell when to redraw.
  get revision(): number {
    return this.version;
  }

  clear(): void {
    this.series.clear();
    this.zeroWithEchoes.clear();
    this.version++;
  }
}
