import { useEffect, useMemo } from 'preact/hooks';
import { PERIODS, type ExportFormat, type HistoryData, type Period } from '../archive';
import type { ArchiveStore } from '../archiveStore';
import { STATUS_LOOK } from '../format';
import type { Status } from '../messages';
import {
  PERIOD_LABEL,
  clockTime,
  dayLabel,
  exportText,
  isEmptyHistory,
  isProblem,
  problemText,
  skippedText,
  spanTimes,
  timelineBlocks,
} from '../timeline';
import { HistoryChart, type ChartLine } from './HistoryChart';

export interface HistoryCommands {
  load(period: Period): void;
  exportAs(format: ExportFormat): void;
}

// The archive keeps growing while the tab is open: ask again every minute.
export const HISTORY_REFRESH_MS = 60_000;
// A week of flapping could list hundreds; the latest ones matter most.
const MAX_LISTED = 50;

const STATUSES: Status[] = ['healthy', 'warning', 'critical', 'unknown'];

function Timeline({ data }: { data: HistoryData }) {
  const blocks = timelineBlocks(data);
  return (
    <div class="timeline-wrap">
      <div
        class="timeline"
        role="img"
        aria-label={`Verdicts from ${dayLabel(data.from)} ${clockTime(data.from)} to ${dayLabel(data.to)} ${clockTime(data.to)}; the problems are listed below.`}
      >
        {blocks.map((b) => (
          <span
            key={b.span.from}
            class={`timeline-block status-${b.status}`}
            style={{ left: `${b.left}%`, width: `${b.width}%` }}
            title={`${STATUS_LOOK[b.status].label}: ${spanTimes(b.span.from, b.span.to, data.to)}`}
          />
        ))}
      </div>
      <div class="timeline-axis muted" aria-hidden="true">
        <span>
          {dayLabel(data.from)} {clockTime(data.from)}
        </span>
        <span>
          {dayLabel(data.to)} {clockTime(data.to)}
        </span>
      </div>
      <ul class="timeline-legend muted" aria-hidden="true">
        {STATUSES.map((s) => (
          <li key={s}>
            <span class={`swatch status-${s}`} />
            {STATUS_LOOK[s].label}
          </li>
        ))}
        <li>
          <span class="swatch not-running" />
          Not running
        </li>
      </ul>
    </div>
  );
}

function Problems({ data }: { data: HistoryData }) {
  const problems = data.verdicts.filter(isProblem);
  if (problems.length === 0) return <p class="no-problems">No problems in this period</p>;
  const listed = problems.slice(-MAX_LISTED);
  return (
    <>
      <ul class="problems">
        {listed.map((p) => (
          <li key={p.from} class={`status-${p.status}`}>
            <span aria-hidden="true" class="problem-icon">
              {STATUS_LOOK[p.status].icon}
            </span>
            {problemText(p, data.to)}
          </li>
        ))}
      </ul>
      {problems.length > listed.length && (
        <p class="muted">
          {problems.length - listed.length} earlier problem{problems.length - listed.length === 1 ? '' : 's'} not
          listed; export the history for all of them.
        </p>
      )}
    </>
  );
}

const hopLabel = (hopNumber: number, ip: string): string => `Hop ${hopNumber} (${ip === '*' ? 'no answer' : ip})`;

function Charts({ data }: { data: HistoryData }) {
  // Same data, same lines: the charts are rebuilt only when a new reply arrives.
  const [rtt, loss] = useMemo((): [ChartLine[], ChartLine[]] => {
    const label = (h: HistoryData['hops'][number]) => hopLabel(h.hopNumber, h.ip);
    return [
      data.hops.map((h) => ({ label: label(h), values: h.rttMs })),
      data.hops.map((h) => ({ label: label(h), values: h.loss })),
    ];
  }, [data]);
  if (data.times.length === 0 || data.hops.length === 0) {
    return <p class="muted">No echo measurements in this period.</p>;
  }
  return (
    <div class="history-charts">
      <HistoryChart
        title="Response time per hop"
        description="Average response time of each hop over the period, one line per hop; gaps where a hop did not answer."
        times={data.times}
        lines={rtt}
        unit="ms"
      />
      <HistoryChart
        title="Loss per hop"
        description="Share of echoes lost at each hop over the period, one line per hop; gaps where a hop had no echoes."
        times={data.times}
        lines={loss}
        unit="%"
      />
    </div>
  );
}

function Body({ archive, onRetry }: { archive: ArchiveStore; onRetry(): void }) {
  const data = archive.data;
  if (!data) {
    if (archive.failure && !archive.loading) {
      return (
        <div class="history-failure" role="alert">
          <p>{archive.failure}</p>
          <button type="button" onClick={onRetry}>
            Try again
          </button>
        </div>
      );
    }
    return (
      <p class="loading" aria-busy="true">
        Loading history…
      </p>
    );
  }
  return (
    <>
      {data.error && (
        <p class="history-error" role="alert">
          {data.error}
        </p>
      )}
      {isEmptyHistory(data) ? (
        <p class="history-empty">No history yet: Quillon records measurements while it runs.</p>
      ) : (
        <>
          {data.skipped > 0 && <p class="history-skipped">{skippedText(data.skipped)}.</p>}
          <section class="history-verdicts" aria-labelledby="verdicts-title">
            <h2 id="verdicts-title">Verdicts</h2>
            <Timeline data={data} />
            <Problems data={data} />
          </section>
          <section aria-labelledby="hop-history-title">
            <h2 id="hop-history-title">Stops along the way</h2>
            <Charts data={data} />
          </section>
        </>
      )}
    </>
  );
}

// The archive over the last hour, day or week: the verdicts as a bar and a list of problems,
// each hop's response time and loss, and the period written out to a file.
export function HistoryView({ archive, commands }: { archive: ArchiveStore; commands: HistoryCommands }) {
  const period = archive.period;
  useEffect(() => {
    commands.load(period);
    const timer = setInterval(() => commands.load(period), HISTORY_REFRESH_MS);
    return () => clearInterval(timer);
  }, [period, commands]);
  const exporting = archive.exportState.kind === 'exporting';
  const exportOutcome = archive.exportState.kind === 'done' ? archive.exportState.outcome : null;
  const data = archive.data;

  return (
    <section class="history" aria-labelledby="history-title">
      <div class="history-head">
        <h1 id="history-title">History</h1>
        <div class="period-picker" role="group" aria-label="Period">
          {PERIODS.map((p) => (
            <button key={p} type="button" aria-pressed={p === period} onClick={() => archive.setPeriod(p)}>
              {PERIOD_LABEL[p]}
            </button>
          ))}
        </div>
        <div class="history-export">
          <button type="button" disabled={exporting} onClick={() => commands.exportAs('csv')}>
            Export CSV
          </button>
          <button type="button" disabled={exporting} onClick={() => commands.exportAs('json')}>
            Export JSON
          </button>
        </div>
      </div>
      <p
        class={`export-status${exportOutcome && !exportOutcome.ok ? ' failed' : ''}`}
        role={exportOutcome && !exportOutcome.ok ? 'alert' : 'status'}
        aria-live="polite"
      >
        {exportText(archive.exportState)}
      </p>
      {data && !isEmptyHistory(data) && (
        <p class="history-range muted">
          {PERIOD_LABEL[period]}: {dayLabel(data.from)} {clockTime(data.from)} to {dayLabel(data.to)}{' '}
          {clockTime(data.to)} · {data.records.toLocaleString('en-US')} samples
          {archive.loading ? ' · updating…' : ''}
        </p>
      )}
      <Body archive={archive} onRetry={() => commands.load(period)} />
    </section>
  );
}
