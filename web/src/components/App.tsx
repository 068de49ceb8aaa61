import { useEffect, useLayoutEffect, useState } from 'preact/hooks';
import type { PageStore } from '../store';
import { hopKey } from '../history';
import { Overview } from './Overview';
import { PathView } from './PathView';
import { HopTable } from './HopTable';
import { HopChart } from './HopChart';
import { InfoCards } from './InfoCards';
import { Destinations } from './Destinations';
import { ServicesView, stateCounts, type ServiceCommands } from './ServicesView';
import { HistoryView, type HistoryCommands } from './HistoryView';
import { CopyReport } from './CopyReport';
import type { GatewayCommands } from './GatewayCard';
import { cannotMeasure, ms } from '../format';
import { gatewayFacts } from '../gateway';

export interface UpdateCommands {
  dismiss(version: string): void;
  download(): void;
}

interface Props {
  store: PageStore;
  onRefresh(): void;
  services?: ServiceCommands;
  updates?: UpdateCommands;
  history?: HistoryCommands;
  gateway?: GatewayPageCommands;
}

export interface GatewayPageCommands extends GatewayCommands {
  checkSession(): void;
}

type Tab = 'connection' | 'services' | 'history';
const TABS: { id: Tab; label: string }[] = [
  { id: 'connection', label: 'Connection' },
  { id: 'services', label: 'Services' },
  { id: 'history', label: 'History' },
];

const NO_COMMANDS: ServiceCommands = { saveService: () => {}, deleteService: () => {} };
const NO_UPDATE_COMMANDS: UpdateCommands = { dismiss: () => {}, download: () => {} };
const NO_HISTORY_COMMANDS: HistoryCommands = { load: () => {}, exportAs: () => {} };
const NO_GATEWAY_COMMANDS: GatewayPageCommands = {
  signIn: () => {},
  sendCode: () => {},
  forget: () => {},
  checkSession: () => {},
};

const URGENCY_TEXT = {
  optional: '',
  recommended: ' This update is recommended.',
  required: ' This update is required.',
};

// On a desktop that shows no tray icons the window cannot be hidden: closing it ends the
// program, and the measuring with it. Said until the person has read it.
function NoTrayBanner({ store }: { store: PageStore }) {
  if (!store.noTrayNotice) return null;
  return (
    <div class="banner update" role="status">
      <span>
        <strong>This desktop shows no tray icon for Quillon.</strong> Closing this window ends Quillon, and it stops
        watching your connection until you start it again.
      </span>
      <button type="button" onClick={() => store.dismissNoTrayNotice()}>
        Got it
      </button>
    </div>
  );
}

// A newer version on offer: download it, read what changed, or (unless required) not now.
function UpdateBanner({ store, commands }: { store: PageStore; commands: UpdateCommands }) {
  const offer = store.update;
  if (!offer) return null;
  return (
    <div class={`banner update ${offer.urgency}`} role="status">
      <span>
        <strong>Quillon v{offer.version} is available.</strong>
        {URGENCY_TEXT[offer.urgency]}
      </span>
      {offer.releaseNotesUrl && (
        <a href={offer.releaseNotesUrl} target="_blank" rel="noopener noreferrer">
          What's new
        </a>
      )}
      <button type="button" class="primary" onClick={() => commands.download()}>
        Download
      </button>
      {offer.urgency !== 'required' && (
        <button type="button" onClick={() => commands.dismiss(offer.version)}>
          Not now
        </button>
      )}
    </div>
  );
}

// The two views as tabs; arrow keys move between them, as a tab list's keys do.
function Tabs({ tab, onSelect, store }: { tab: Tab; onSelect(tab: Tab): void; store: PageStore }) {
  const failing = stateCounts(store.services).failing;
  const count = store.services.services.length;
  const onKey = (e: KeyboardEvent) => {
    if (e.key !== 'ArrowRight' && e.key !== 'ArrowLeft') return;
    e.preventDefault();
    const step = e.key === 'ArrowRight' ? 1 : TABS.length - 1;
    const next = TABS[(TABS.findIndex((t) => t.id === tab) + step) % TABS.length].id;
    onSelect(next);
    document.getElementById(`tab-${next}`)?.focus();
  };
  return (
    <div class="tabs" role="tablist" aria-label="Views">
      {TABS.map((t) => (
        <button
          key={t.id}
          type="button"
          role="tab"
          id={`tab-${t.id}`}
          aria-selected={t.id === tab}
          aria-controls="view"
          tabIndex={t.id === tab ? 0 : -1}
          onClick={() => onSelect(t.id)}
          onKeyDown={onKey}
        >
          {t.label}
          {t.id === 'services' &&
            (failing > 0 ? (
              <span class="tab-count failing">{failing} failing</span>
            ) : (
              count > 0 && (
                <span class="tab-count">
                  {count}
                  <span class="visually-hidden"> services</span>
                </span>
              )
            ))}
        </button>
      ))}
    </div>
  );
}

function useStore(store: PageStore): number {
  const [tick, setTick] = useState(0);
  useEffect(() => store.subscribe(() => setTick((t) => t + 1)), [store]);
  // Looks again now and then, so figures turn stale even when nothing arrives.
  useEffect(() => {
    let stale = false;
    const timer = setInterval(() => {
      const now = store.isStale();
      if (now === stale) return;
      stale = now;
      setTick((t) => t + 1);
    }, 5_000);
    return () => clearInterval(timer);
  }, [store]);
  return tick;
}

function ConnectionBanner({ store }: { store: PageStore }) {
  if (store.connection === 'refused') {
    return (
      <div class="banner error" role="alert">
        <strong>This page belongs to an earlier run of Quillon.</strong> Open the address Quillon printed when it
        started.
      </div>
    );
  }
  if (store.connection !== 'unreachable') return null;
  return (
    <div class="banner error" role="alert">
      <strong>Can't reach Quillon.</strong> The application may have stopped. Trying again…
      {store.state && <span> The figures below are from {new Date(store.receivedAt).toLocaleTimeString()}.</span>}
    </div>
  );
}

function Waiting({ store }: { store: PageStore }) {
  return (
    <section class="overview status-unknown waiting-state" aria-busy="true">
      <div class="overview-icon spinner" aria-hidden="true" />
      <div class="overview-body">
        <h1>
          {store.connection === 'connecting' || store.connection === 'connected'
            ? 'Checking your connection…'
            : 'Waiting for Quillon…'}
        </h1>
        <p class="overview-text">The first measurements arrive within a minute.</p>
      </div>
    </section>
  );
}

export function App({
  store,
  onRefresh,
  services = NO_COMMANDS,
  updates = NO_UPDATE_COMMANDS,
  history = NO_HISTORY_COMMANDS,
  gateway = NO_GATEWAY_COMMANDS,
}: Props) {
  useStore(store);
  useLayoutEffect(() => store.rendered());
  // Feedback fades after a while; errors stay until something replaces them.
  const notice = store.notice;
  useEffect(() => {
    if (notice?.kind !== 'info') return;
    const t = setTimeout(() => store.notice === notice && store.setNotice(null), 10_000);
    return () => clearTimeout(t);
  }, [notice, store]);
  const [tab, setTab] = useState<Tab>('connection');
  const [segment, setSegment] = useState<string | null>(null);
  const [hop, setHop] = useState<string | null>(null);
  const state = store.state;
  const selectedHop = state && hop ? state.hops.find((h) => hopKey(h) === hop) : undefined;
  const selectedSeries = hop ? store.history.get(hop) : undefined;
  const stale = store.isStale();
  // Whether the saved sign-in holds is asked on loading and whenever the gateway changes.
  const gatewayKey = gatewayFacts(state).key;
  useEffect(() => {
    if (gatewayKey) gateway.checkSession();
  }, [gatewayKey, gateway]);

  return (
    <div class="page">
      <header class="topbar">
        <span class="brand">Quillon</span>
        <Tabs tab={tab} onSelect={setTab} store={store} />
        <div class="actions">
          {tab === 'connection' && (
            <button
              type="button"
              class="primary"
              onClick={onRefresh}
              disabled={store.refreshing || store.connection === 'unreachable' || store.connection === 'refused'}
              aria-describedby="notice"
            >
              {store.refreshing ? 'Rediscovering…' : 'Rediscover path'}
            </button>
          )}
        </div>
      </header>
      <ConnectionBanner store={store} />
      <UpdateBanner store={store} commands={updates} />
      <NoTrayBanner store={store} />
      <div
        id="notice"
        class={`notice ${store.notice?.kind ?? ''}`}
        role={store.notice?.kind === 'error' ? 'alert' : 'status'}
        aria-live="polite"
      >
        {store.notice?.text ?? ''}
      </div>
      <main>
        <div id="view" class="view" role="tabpanel" aria-labelledby={`tab-${tab}`}>
          {tab === 'services' ? (
            <ServicesView
              services={store.services}
              commands={services}
              onFormOpen={() => store.clearServiceOutcome()}
            />
          ) : tab === 'history' ? (
            <HistoryView archive={store.archive} commands={history} />
          ) : !state ? (
            <Waiting store={store} />
          ) : (
            <>
              <Overview state={state} />
              <CopyReport state={state} />
              <PathView
                segments={state.segments}
                callout={state.culpritCallout}
                selected={segment}
                onSelect={setSegment}
              />
              <section class="hops-section" aria-labelledby="hops-title">
                <h2 id="hops-title">Stops along the way</h2>
                <HopTable
                  hops={state.hops}
                  history={store.history}
                  selected={hop}
                  onSelect={setHop}
                  blocked={cannotMeasure(state)}
                  staleSince={stale ? store.receivedAt : undefined}
                />
                {selectedHop && selectedSeries && (
                  <HopChart
                    title={`Hop ${selectedHop.hopNumber}${selectedHop.ip === '*' ? '' : ` (${selectedHop.hostname ?? selectedHop.ip})`}`}
                    series={selectedSeries}
                    revision={store.history.revision}
                  />
                )}
              </section>
              <Destinations destinations={state.destinations} stale={stale} />
              <InfoCards state={state} gateway={{ store: store.gateway, commands: gateway }} />
              <details class="support">
                <summary>Technical details for support</summary>
                <p class="muted">
                  Updated {new Date(store.receivedAt).toLocaleTimeString()} · {store.messages} updates received ·
                  overall status "{state.overallStatus}" · last render {lastRender(store)}
                </p>
                <SupportDump store={store} />
              </details>
            </>
          )}
        </div>
      </main>
    </div>
  );
}

function lastRender(store: PageStore): string {
  const t = store.renderTimes[store.renderTimes.length - 1];
  return t === undefined ? '–' : ms(t);
}

// Serialised only while open, so a closed panel costs nothing per message.
function SupportDump({ store }: { store: PageStore }) {
  const [open, setOpen] = useState(false);
  return (
    <div>
      <button type="button" onClick={() => setOpen(!open)} aria-expanded={open}>
        {open ? 'Hide raw message' : 'Show raw message'}
      </button>
      {open && <pre class="raw">{JSON.stringify(store.state, null, 2)}</pre>}
    </div>
  );
}
