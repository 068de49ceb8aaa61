import { useEffect, useState } from 'preact/hooks';
import type { Series } from '../history';
import type { HttpTiming, ServiceDefinition, ServiceInfo, ServiceResult, Status, TlsInfo } from '../messages';
import { lossSinceOpened, serviceState, type ServiceState, type ServiceStore } from '../services';
import { newServiceId } from '../serviceForm';
import { ms, pct } from '../format';
import { StatusBadge } from './StatusIcon';
import { Sparkline, type SparkSize } from './Sparkline';
import { ServiceForm } from './ServiceForm';

export interface ServiceCommands {
  saveService(service: ServiceDefinition): void;
  deleteService(id: string, name: string): void;
}

interface Props {
  services: ServiceStore;
  commands: ServiceCommands;
  onFormOpen(): void; // a new attempt: the last outcome no longer applies
}

const SPARK: SparkSize = { width: 180, height: 40, points: 120 };
const CERT_WARN_DAYS = 14;

const KIND_TAGS = { icmp: 'Ping', dns: 'DNS', tcp: 'TCP', http: 'HTTP', https: 'HTTPS' };

// The badge's word, and what follows it.
export function stateWords(state: ServiceState): { status: Status; label: string; detail: string } {
  switch (state.kind) {
    case 'up':
      return { status: 'healthy', label: 'Up', detail: '' };
    case 'failing':
      return { status: 'critical', label: 'Failing', detail: state.error };
    case 'waiting':
      return { status: 'unknown', label: 'Waiting', detail: 'for the first result…' };
    case 'off':
      return { status: 'unknown', label: 'Not probed', detail: 'turned off' };
    case 'over-limit':
      return {
        status: 'unknown',
        label: 'Not probed',
        detail: `only the first ${state.maxProbed} services turned on are checked`,
      };
  }
}

export function intervalText(intervalMs: number): string {
  const s = intervalMs / 1000;
  if (s >= 3600 && s % 3600 === 0) return `${s / 3600} h`;
  if (s >= 60 && s % 60 === 0) return `${s / 60} min`;
  return `${Number.isInteger(s) ? s : s.toFixed(1)} s`;
}

// Counts by state, for the heading and the tab.
export function stateCounts(services: ServiceStore): Record<ServiceState['kind'], number> {
  const counts = { up: 0, failing: 0, waiting: 0, off: 0, 'over-limit': 0 };
  for (const s of services.services) counts[serviceState(s, services.latest(s.id), services.maxProbed).kind]++;
  return counts;
}

function summary(services: ServiceStore): string {
  const c = stateCounts(services);
  const n = services.services.length;
  const parts = [
    c.up && `${c.up} up`,
    c.failing && `${c.failing} failing`,
    c.waiting && `${c.waiting} waiting`,
    c.off + c['over-limit'] && `${c.off + c['over-limit']} not probed`,
  ].filter(Boolean);
  return `${n} service${n === 1 ? '' : 's'}: ${parts.join(', ')}`;
}

const PHASES: { key: keyof HttpTiming; label: string }[] = [
  { key: 'dnsMs', label: 'DNS' },
  { key: 'connectMs', label: 'Connect' },
  { key: 'ttfbMs', label: 'First byte' },
  { key: 'transferMs', label: 'Transfer' },
];

// Where a web check's time went, each phase as wide as its share. A failed request names only
// the phases it reached.
export function PhaseBar({ timing, success }: { timing: HttpTiming; success: boolean }) {
  const sum = PHASES.reduce((a, p) => a + timing[p.key], 0);
  if (sum <= 0) return null;
  const shown = PHASES.filter((p) => success || timing[p.key] > 0);
  const words = shown.map((p) => `${p.label.toLowerCase()} ${ms(timing[p.key])}`).join(', ');
  return (
    <div class="phases">
      <div class="phase-bar" role="img" aria-label={`Time taken: ${words}; total ${ms(timing.totalMs || sum)}`}>
        {PHASES.map((p) =>
          timing[p.key] > 0 ? (
            <span
              key={p.key}
              class={`phase phase-${p.key}`}
              style={{ width: `${((timing[p.key] / sum) * 100).toFixed(2)}%` }}
            />
          ) : null,
        )}
      </div>
      <ul class="phase-legend" aria-hidden="true">
        {shown.map((p) => (
          <li key={p.key}>
            <span class={`swatch phase-${p.key}`} />
            {p.label} {ms(timing[p.key])}
          </li>
        ))}
      </ul>
    </div>
  );
}

export function certificateExpiry(tls: TlsInfo, success: boolean): { text: string; level: 'ok' | 'warn' | 'bad' } {
  const days = tls.daysUntilExpiry;
  if (days === 0) return success ? { text: 'expires within a day', level: 'warn' } : { text: 'expired', level: 'bad' };
  const text = `expires in ${days} day${days === 1 ? '' : 's'}`;
  return { text, level: days < CERT_WARN_DAYS ? 'warn' : 'ok' };
}

function Certificate({ tls, success }: { tls: TlsInfo; success: boolean }) {
  const expiry = certificateExpiry(tls, success);
  return (
    <p class="service-cert">
      <span class="muted">Certificate </span>
      {tls.subject || 'without a name'}
      {tls.issuer && <span class="muted"> · issued by </span>}
      {tls.issuer}
      {' · '}
      <span class={`cert-expiry cert-${expiry.level}`}>{expiry.text}</span>
    </p>
  );
}

function Figures({ service, latest, series }: { service: ServiceInfo; latest: ServiceResult; series?: Series }) {
  const items: [string, string, boolean?][] = [];
  const status = latest.httpTiming?.statusCode ?? 0;
  // A failed check's time says little, unless a web server did answer (with an error status).
  if (latest.success || status > 0) items.push(['Latency', ms(latest.latencyMs)]);
  if (service.probeType === 'icmp') {
    if (!latest.success) items.push(['Latency', '–']);
    items.push(['Loss', pct(latest.lossPercent), latest.lossPercent > 0]);
    items.push(['Jitter', latest.success ? ms(latest.jitterMs) : '–']);
    const overall = lossSinceOpened(series);
    if (overall && overall.results > 1) {
      items.push([`Loss over ${overall.results} checks`, pct(overall.percent), overall.percent > 0]);
    }
  }
  if (status) items.push(['HTTP status', String(status), status >= 400]);
  if (items.length === 0) return null;
  return (
    <dl class="service-figures">
      {items.map(([label, value, bad]) => (
        <div key={label}>
          <dt>{label}</dt>
          <dd class={bad ? 'bad' : undefined}>{value}</dd>
        </div>
      ))}
    </dl>
  );
}

interface CardProps {
  service: ServiceInfo;
  services: ServiceStore;
  onEdit(): void;
  onDelete(): void;
}

function ServiceCard({ service, services, onEdit, onDelete }: CardProps) {
  const [confirming, setConfirming] = useState(false);
  const latest = services.latest(service.id);
  const series = services.history(service.id);
  const state = serviceState(service, latest, services.maxProbed);
  const look = stateWords(state);
  const pending = services.pending;
  const deleting = pending?.action === 'delete' && pending.id === service.id;
  const outcome = services.outcome;
  const deleteError = outcome?.action === 'delete' && outcome.id === service.id && !outcome.ok ? outcome.error : '';
  const headId = `svc-${service.id}-name`;
  const target = service.port > 0 ? `${service.target}, port ${service.port}` : service.target;

  return (
    <article class={`service state-${state.kind} status-${look.status}`} aria-labelledby={headId}>
      <div class="service-head">
        <h3 id={headId}>{service.name}</h3>
        <span class="kind-tag">{KIND_TAGS[service.probeType]}</span>
        <span class="service-target mono" title={target}>
          {/* A name left empty is the target: once is enough. */}
          {target === service.name ? '' : target}
        </span>
        <div class="service-actions">
          <button type="button" onClick={onEdit} disabled={deleting} aria-label={`Edit ${service.name}`}>
            Edit
          </button>
          <button
            type="button"
            onClick={() => setConfirming(true)}
            disabled={deleting || confirming}
            aria-label={`Delete ${service.name}`}
          >
            {deleting ? 'Deleting…' : 'Delete'}
          </button>
        </div>
      </div>
      {confirming && !deleting && (
        <div class="confirm" role="group" aria-label={`Confirm deleting ${service.name}`}>
          <span>Delete “{service.name}”? Quillon stops checking it and forgets it.</span>
          <button
            type="button"
            class="danger"
            onClick={() => {
              setConfirming(false);
              onDelete();
            }}
          >
            Delete
          </button>
          <button type="button" onClick={() => setConfirming(false)}>
            Keep
          </button>
        </div>
      )}
      {deleteError && (
        <p class="form-error" role="alert">
          {deleteError}
        </p>
      )}
      <div class="service-body">
        <div class="service-main">
          <p class="service-state">
            <StatusBadge status={look.status} label={look.label} />
            {look.detail && <span class="state-text">{look.detail}</span>}
          </p>
          {latest && <Figures service={service} latest={latest} series={series} />}
          {latest?.httpTiming && <PhaseBar timing={latest.httpTiming} success={latest.success} />}
          {latest?.tlsInfo && <Certificate tls={latest.tlsInfo} success={latest.success} />}
          <p class="service-when muted">
            {latest ? `Last result ${new Date(latest.timestamp * 1000).toLocaleTimeString()} · ` : ''}
            {service.probed ? 'checked' : 'set to be checked'} every {intervalText(service.intervalMs)}
          </p>
        </div>
        {(series || service.probed) && (
          <div class="service-spark">
            <Sparkline series={series} size={SPARK} label={`Latency of ${service.name} since this page opened`} />
            <span class="muted">{series ? 'Latency since the page opened' : 'No results yet'}</span>
          </div>
        )}
      </div>
    </article>
  );
}

function EmptyState({ onAdd }: { onAdd(): void }) {
  return (
    <div class="services-empty">
      <h3>No services yet</h3>
      <p>
        A service is something you rely on: a web site, a game server, a name your computer looks up, a device at home.
        Quillon checks each one every so often and shows here whether it answers and how fast, so you can tell a problem
        with one service from a problem with your connection.
      </p>
      <button type="button" class="primary" onClick={onAdd}>
        Add a service
      </button>
    </div>
  );
}

// The monitored services: one card each, the add / edit form, and the outcome of a change.
export function ServicesView({ services, commands, onFormOpen }: Props) {
  // The id being edited; a new service gets its id when the form opens.
  const [editing, setEditing] = useState<{ id: string; isNew: boolean } | null>(null);
  const outcome = services.outcome;
  const pending = services.pending;
  const open = (next: { id: string; isNew: boolean }) => {
    onFormOpen();
    setEditing(next);
  };
  // A save that went through closes its form, and so does the service being edited going away.
  // The form stays closed: a later outcome (another service's delete) must not reopen it.
  const done =
    editing !== null &&
    ((outcome?.ok && outcome.action === 'save' && outcome.id === editing.id) ||
      (!editing.isNew && services.listed && !services.services.some((s) => s.id === editing.id)));
  useEffect(() => {
    if (done) setEditing(null);
  }, [done]);
  const current = done ? null : editing;

  const startAdd = () => open({ id: newServiceId(new Set(services.services.map((s) => s.id))), isNew: true });
  const saving = pending?.action === 'save' && pending.id === current?.id;
  const saveError = outcome?.action === 'save' && outcome.id === current?.id && !outcome.ok ? outcome.error : undefined;
  const form = (service?: ServiceInfo) =>
    current && (
      <ServiceForm
        key={current.id}
        service={service}
        id={current.id}
        saving={saving}
        error={saveError}
        onSave={commands.saveService}
        onCancel={() => setEditing(null)}
      />
    );

  const list = services.services;
  const enabled = list.filter((s) => s.enabled).length;
  return (
    <section class="services" aria-labelledby="services-title">
      <div class="services-head">
        <div>
          <h2 id="services-title">Services</h2>
          {list.length > 0 && <p class="muted services-summary">{summary(services)}</p>}
        </div>
        {list.length > 0 && !current?.isNew && (
          <button type="button" class="primary" onClick={startAdd}>
            Add a service
          </button>
        )}
      </div>
      {current?.isNew && form()}
      {!services.listed ? (
        <p class="muted" role="status">
          Waiting for the list of services from Quillon…
        </p>
      ) : list.length === 0 ? (
        !current && <EmptyState onAdd={startAdd} />
      ) : (
        <>
          {enabled > services.maxProbed && (
            <p class="services-note">
              Quillon checks up to {services.maxProbed} services at a time. Services turned on beyond those are listed
              but not checked until one before them is turned off or deleted.
            </p>
          )}
          <ul class="service-list">
            {list.map((s) => (
              <li key={s.id}>
                {current && !current.isNew && current.id === s.id ? (
                  form(s)
                ) : (
                  <ServiceCard
                    service={s}
                    services={services}
                    onEdit={() => open({ id: s.id, isNew: false })}
                    onDelete={() => commands.deleteService(s.id, s.name)}
                  />
                )}
              </li>
            ))}
          </ul>
        </>
      )}
    </section>
  );
}
