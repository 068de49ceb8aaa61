// What the page knows: the last network state, the per-hop history, the monitored services,
// the gateway sign-in, the bridge's connection and a short notice for the user. Views subscribe and re-render on
// change.

import { ArchiveStore, pageStorage, type KeyValueStorage } from './archiveStore';
import type { ConnectionState } from './bridge';
import { GatewayStore, gatewayFacts } from './gateway';
import { HistoryStore, type HistoryLimits } from './history';
import { parseInbound, type NetworkState, type ServiceChange, type UpdateOffer } from './messages';
import { ServiceStore, type PendingChange, type ServiceLimits } from './services';

// Set once the person has read that closing the window ends the application.
export const NO_TRAY_KEY = 'quillon.noTrayNoticeRead';

export interface Notice {
  kind: 'info' | 'error';
  text: string;
}

// How long after the last network state its figures count as stale: twice the usual gap
// between states (the measurement interval, 5 s on mains and 15 s on battery, as this page sees
// the states arrive; the median, so a state pushed at once on connecting does not count), never
// under 12 s, and 30 s while there is no gap to go by.
export function staleAfterMs(arrivals: readonly number[]): number {
  const gaps = arrivals
    .slice(1)
    .map((t, i) => t - arrivals[i])
    .sort((a, b) => a - b);
  if (gaps.length === 0) return 30_000;
  return Math.max(12_000, 2 * gaps[Math.floor(gaps.length / 2)]);
}

export class PageStore {
  readonly history: HistoryStore;
  readonly services: ServiceStore;
  // The archive's history as the History view shows it.
  readonly archive: ArchiveStore;
  readonly gateway: GatewayStore;
  state: NetworkState | null = null;
  receivedAt = 0; // ms since the epoch of the last network state
  messages = 0;
  connection: ConnectionState = 'connecting';
  notice: Notice | null = null;
  refreshing = false;
  update: UpdateOffer | null = null; // a newer version on offer, until dismissed
  // The desktop shows no tray icon and the person has not yet read what that means.
  noTrayNotice = false;
  // How long the page took from a message's arrival to the updated screen, last few messages.
  readonly renderTimes: number[] = [];
  private pendingSince = 0;
  // When the last few network states arrived (performance.now(), ms), to tell stale figures.
  private readonly arrivals: number[] = [];
  private readonly listeners = new Set<() => void>();

  // `storage` keeps the History view's period and what the person has read; the page's local
  // storage unless given.
  constructor(
    limits: Partial<HistoryLimits> = {},
    serviceLimits: Partial<ServiceLimits> = {},
    private readonly storage: KeyValueStorage | null = pageStorage(),
  ) {
    this.history = new HistoryStore(limits);
    this.services = new ServiceStore(serviceLimits);
    this.archive = new ArchiveStore(() => this.changed(), storage);
    this.gateway = new GatewayStore(() => this.changed());
  }

  subscribe(listener: () => void): () => void {
    this.listeners.add(listener);
    return () => this.listeners.delete(listener);
  }

  private changed(): void {
    for (const l of this.listeners) l();
  }

  private noTrayNoticeRead(): boolean {
    try {
      return this.storage?.getItem(NO_TRAY_KEY) === '1';
    } catch {
      return false;
    }
  }

  // The person has read the no-tray notice: it is not shown again, on this run or later ones.
  dismissNoTrayNotice(): void {
    this.noTrayNotice = false;
    try {
      this.storage?.setItem(NO_TRAY_KEY, '1');
    } catch {
      // Refused storage: it comes back at the next start.
    }
    this.changed();
  }

  // Takes one delivered message; returns whether it was one we use.
  accept(data: unknown, nowMs: number): boolean {
    const message = parseInbound(data);
    if (!message) return false;
    switch (message.type) {
      case 'networkState':
        this.acceptState(message, nowMs);
        break;
      case 'serviceMetrics':
        if (!this.services.record(message.payload, Math.floor(nowMs / 1000))) return false;
        break;
      case 'serviceList':
        this.services.setList(message.services, message.maxProbed);
        break;
      case 'serviceChangeResult':
        if (!this.finishChange(message.payload)) return false;
        break;
      case 'updateAvailable':
        this.update = message.payload;
        break;
      case 'noTray':
        if (this.noTrayNotice || this.noTrayNoticeRead()) return true;
        this.noTrayNotice = true;
        break;
      case 'history':
        if (!this.archive.accept(message.payload)) return false;
        break;
      case 'historyExport':
        if (!this.archive.acceptExport(message.payload)) return false;
        break;
      case 'unifiLoginResult':
      case 'unifiMfaResult':
      case 'unifiSessionStatus':
      case 'unifiForgetResult':
        // The gateway store says who changed.
        return this.gateway.accept(message);
      default:
        return false;
    }
    this.changed();
    return true;
  }

  private acceptState(message: NetworkState, nowMs: number): void {
    this.pendingSince = performance.now();
    this.arrivals.push(this.pendingSince);
    if (this.arrivals.length > 9) this.arrivals.shift();
    this.state = message;
    this.receivedAt = nowMs;
    this.messages++;
    this.history.record(message.hops, nowMs / 1000);
    this.gateway.observe(gatewayFacts(message).key);
    if (this.refreshing) {
      this.refreshing = false;
      this.notice = {
        kind: 'info',
        text: 'Path rediscovery started. New measurements will appear over the next seconds.',
      };
    }
  }

  // No network state has come for longer than the usual gap allows.
  isStale(nowMs = performance.now()): boolean {
    const last = this.arrivals[this.arrivals.length - 1];
    return last !== undefined && nowMs - last > staleAfterMs(this.arrivals);
  }

  // The person dismissed the offer (or it is being downloaded): the banner goes.
  clearUpdate(): void {
    this.update = null;
    this.changed();
  }

  beginServiceChange(change: PendingChange): void {
    this.services.begin(change);
    this.changed();
  }

  // An outcome the page decides itself: the command could not be sent, or no answer came.
  finishServiceChange(change: ServiceChange): void {
    if (this.finishChange(change)) this.changed();
  }

  // A change that went through is said once at the top; a failure shows where it was asked for.
  private finishChange(change: ServiceChange): boolean {
    const done = this.services.finish(change);
    if (done && change.ok) {
      this.notice = { kind: 'info', text: `${done.action === 'save' ? 'Saved' : 'Deleted'} “${done.name}”.` };
    }
    return done !== null;
  }

  clearServiceOutcome(): void {
    if (!this.services.outcome) return;
    this.services.clearOutcome();
    this.changed();
  }

  // Called once the views have committed a render.
  rendered(): void {
    if (!this.pendingSince) return;
    this.renderTimes.push(performance.now() - this.pendingSince);
    if (this.renderTimes.length > 50) this.renderTimes.shift();
    this.pendingSince = 0;
  }

  setConnection(connection: ConnectionState): void {
    if (connection === this.connection) return;
    this.connection = connection;
    this.changed();
  }

  setNotice(notice: Notice | null): void {
    this.notice = notice;
    this.changed();
  }

  setRefreshing(refreshing: boolean): void {
    this.refreshing = refreshing;
    this.changed();
  }
}
