import type { Destination } from '../messages';
import { destinationState, ms, pct, recentLossText } from '../format';

const LOSS_WARN = 3;
const RTT_WARN = 150;

// Every destination Quillon traces, the main one first, each with its own end-to-end figures:
// one that ignores ping beside one that answers tells a silent server from a broken path.
export function Destinations({ destinations, stale = false }: { destinations: Destination[]; stale?: boolean }) {
  if (destinations.length === 0) return null;
  return (
    <section class="destinations" aria-labelledby="destinations-title">
      <h2 id="destinations-title">Destinations</h2>
      <ul class={`destination-list${stale ? ' stale' : ''}`}>
        {destinations.map((d) => {
          const loss = d.recentLoss ?? d.loss;
          return (
            <li key={d.ip} class={`destination${d.answersPing ? '' : ' silent'}`}>
              <span class="destination-name">
                {d.name ?? d.ip}
                {d.name && <span class="mono muted"> {d.ip}</span>}
                {d.isPrimary && <span class="tag">Main</span>}
              </span>
              <span class="destination-state">{destinationState(d)}</span>
              {d.rttMs !== undefined && (
                <dl class="destination-figures">
                  <div>
                    <dt>Response time</dt>
                    <dd class={d.rttMs >= RTT_WARN ? 'bad' : undefined}>{ms(d.rttMs)}</dd>
                  </div>
                  {loss !== undefined && (
                    <div>
                      <dt>Loss</dt>
                      <dd
                        class={loss >= LOSS_WARN ? 'bad' : undefined}
                        title={d.recentLoss !== undefined ? recentLossText(d) : 'Over the last 30 minutes'}
                      >
                        {pct(loss)}
                      </dd>
                    </div>
                  )}
                  <div>
                    <dt>Jitter</dt>
                    <dd>{ms(d.jitter ?? 0)}</dd>
                  </div>
                </dl>
              )}
            </li>
          );
        })}
      </ul>
    </section>
  );
}
