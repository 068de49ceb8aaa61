import type { Hop } from '../messages';
import type { HistoryStore } from '../history';
import { hopKey } from '../history';
import { clockTime, hopWhere, isMeasured, ms, pct, recentLossText } from '../format';
import { Sparkline } from './Sparkline';

interface Props {
  hops: Hop[];
  history: HistoryStore;
  selected: string | null;
  onSelect(key: string | null): void;
  blocked?: boolean; // the application cannot measure, so no trace is coming
  staleSince?: number; // set when no update has come for a while: ms since the epoch of the last
}

const LOSS_WARN = 3;
const RTT_WARN = 150;
const JITTER_WARN = 30;

export function HopTable({ hops, history, selected, onSelect, blocked = false, staleSince }: Props) {
  if (hops.length === 0) {
    if (blocked) {
      return (
        <p class="muted" role="status">
          No stops to show: Quillon cannot measure the path until the problem above is solved.
        </p>
      );
    }
    return (
      <p class="muted" role="status">
        Tracing the route… The list of stops along the way appears once the first trace is done.
      </p>
    );
  }
  // Older messages carry only the long-window figures; the column appears once any hop has a
  // recent one.
  const withRecent = hops.some((h) => h.recentLoss !== undefined);
  const stale = staleSince !== undefined;
  return (
    <div class="table-wrap" tabIndex={0} role="region" aria-label="Hops along the path, scrollable">
      {stale && (
        <p class="stale-note" role="status">
          No update since {clockTime(staleSince / 1000)}: these figures may be out of date.
        </p>
      )}
      <table class={`hops${withRecent ? ' with-recent' : ''}${stale ? ' stale' : ''}`}>
        <caption class="visually-hidden">Every stop (hop) between this computer and the destination</caption>
        <thead>
          <tr>
            <th scope="col">Hop</th>
            <th scope="col">Address and name</th>
            <th scope="col" class="col-as">
              Network (AS)
            </th>
            <th scope="col" class="num">
              RTT
            </th>
            {withRecent && (
              <th
                scope="col"
                class="num col-loss-now"
                title="Packet loss over the most recent echoes: what the verdict above judges"
              >
                <span class="th-line">Loss</span> <span class="th-line">now</span>
              </th>
            )}
            <th
              scope="col"
              class="num col-loss-long"
              title="Packet loss over the long window (up to the last 30 minutes)"
            >
              {withRecent ? (
                <>
                  <span class="th-line">Loss</span> <span class="th-line">30 min</span>
                </>
              ) : (
                'Loss'
              )}
            </th>
            <th scope="col" class="num col-jitter">
              Jitter
            </th>
            <th scope="col" class="col-where">
              Where
            </th>
            <th scope="col" class="col-history">
              History
            </th>
          </tr>
        </thead>
        <tbody>
          {hops.map((hop) => {
            const key = hopKey(hop);
            const silent = hop.ip === '*';
            const isSelected = key === selected;
            const unmeasured = !isMeasured(hop);
            // Figures are old when the hop had no echo lately while other hops did: what is
            // shown is what its long window still holds.
            const old = !silent && !unmeasured && withRecent && hop.recentLoss === undefined;
            const none = silent || unmeasured;
            return (
              <tr
                key={key}
                class={`${isSelected ? 'selected' : ''}${silent ? ' silent' : ''}${unmeasured ? ' unmeasured' : ''}${old ? ' old' : ''}`}
                title={unmeasured ? 'Not measured yet' : old ? 'No recent echoes: these figures are older' : undefined}
                onClick={() => onSelect(isSelected ? null : key)}
              >
                <th scope="row">
                  <button
                    type="button"
                    class="hop-button"
                    aria-pressed={isSelected}
                    aria-label={`Hop ${hop.hopNumber}${silent ? ', no answer' : `, ${hop.ip}`}: ${isSelected ? 'hide' : 'show'} chart`}
                    onClick={(e) => {
                      e.stopPropagation();
                      onSelect(isSelected ? null : key);
                    }}
                  >
                    {hop.hopNumber}
                  </button>
                </th>
                <td class="mono col-addr">
                  {silent ? <span title="This stop does not answer probes">no answer</span> : hop.ip}
                  {hop.hostname && (
                    <span class="host" title={hop.hostname}>
                      {hop.hostname}
                    </span>
                  )}
                </td>
                <td class="col-as">
                  {hop.asn ? `AS${hop.asn.replace(/^AS/i, '')}` : ''}
                  {hop.asnName ? (
                    <span class="as-name muted" title={hop.asnName}>
                      {hop.asnName}
                    </span>
                  ) : (
                    ''
                  )}
                </td>
                <td class={`num${hop.rttMs >= RTT_WARN ? ' bad' : ''}`}>{none ? '–' : ms(hop.rttMs)}</td>
                {withRecent && <RecentLossCell hop={hop} silent={silent} />}
                <td class={`num col-loss-long${!silent && hop.loss >= LOSS_WARN ? ' bad' : ''}`}>
                  {none ? '–' : pct(hop.loss)}
                </td>
                <td class={`num col-jitter${hop.jitter >= JITTER_WARN ? ' bad' : ''}`}>
                  {none ? '–' : ms(hop.jitter)}
                </td>
                <td class="col-where">{hopWhere(hop)}</td>
                <td class="col-history">
                  <Sparkline series={history.get(key)} label={`Recent response times of hop ${hop.hopNumber}`} />
                </td>
              </tr>
            );
          })}
        </tbody>
      </table>
    </div>
  );
}

// The loss over the most recent echoes, with how many they are: the figure that agrees
// with the verdict, shown beside the long-window one.
function RecentLossCell({ hop, silent }: { hop: Hop; silent: boolean }) {
  if (silent || hop.recentLoss === undefined) {
    return (
      <td class="num col-loss-now" title={silent ? undefined : recentLossText(hop)}>
        –
      </td>
    );
  }
  return (
    <td class="num col-loss-now" title={recentLossText(hop)}>
      <span class={`figure${hop.recentLoss >= LOSS_WARN ? ' bad' : ''}`}>{pct(hop.recentLoss)}</span>{' '}
      {hop.recentSamples !== undefined && (
        <span class="samples">
          of {hop.recentSamples}
          <span class="visually-hidden"> echoes</span>
        </span>
      )}
    </td>
  );
}
