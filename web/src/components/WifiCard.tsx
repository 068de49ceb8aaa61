import { DetailList } from './PathView';

type Facts = Record<string, unknown>;

// Control characters in a network name could reorder or hide what follows; each is shown as the
// replacement character (the application already does so, older messages may not).
export function safeName(value: unknown): string {
  const text = typeof value === 'string' ? value : '';
  // eslint-disable-next-line no-control-regex
  return text.replace(/[\u0000-\u001f\u007f-\u009f\u202a-\u202e\u2066-\u2069]/g, '\ufffd');
}

// The same thresholds the verdict uses for the link: below 30 critical, below 50 a warning.
export function signalLevel(quality: number): 'good' | 'fair' | 'poor' {
  if (quality < 30) return 'poor';
  if (quality < 50) return 'fair';
  return 'good';
}

const num = (v: unknown): number | undefined => (typeof v === 'number' && Number.isFinite(v) ? v : undefined);
const str = (v: unknown): string | undefined => (typeof v === 'string' && v ? v : undefined);

// Members the card shows in its own lines; the rest go to the list below them.
const SHOWN = new Set([
  'ssid',
  'signalQuality',
  'signalStrength',
  'channel',
  'band',
  'bandwidth',
  'security',
  'coChannelAPs',
  'neighborAPs',
]);

// The WiFi link: network name, a signal bar, where on the air it is and who else is there.
export function WifiCard({ wifi }: { wifi: Facts }) {
  const name = safeName(wifi.ssid);
  const quality = num(wifi.signalQuality);
  const dbm = num(wifi.signalStrength);
  const channel = num(wifi.channel);
  const radio = [channel ? `Channel ${channel}` : undefined, str(wifi.band), str(wifi.bandwidth)]
    .filter(Boolean)
    .join(' · ');
  const same = num(wifi.coChannelAPs) ?? 0;
  const all = num(wifi.neighborAPs) ?? 0;
  const rest: Facts = {};
  for (const [key, value] of Object.entries(wifi)) if (!SHOWN.has(key)) rest[key] = value;
  const level = quality === undefined ? undefined : signalLevel(quality);

  return (
    <article class="card wifi-card" aria-labelledby="card-wifi">
      <h3 id="card-wifi">
        WiFi <span class="wifi-name">{name || 'Hidden network'}</span>
      </h3>
      {quality !== undefined && level && (
        <div class={`signal signal-${level}`}>
          <div
            class="signal-bar"
            role="meter"
            aria-label="Signal quality"
            aria-valuemin={0}
            aria-valuemax={100}
            aria-valuenow={quality}
          >
            <span style={{ width: `${Math.max(0, Math.min(100, quality))}%` }} />
          </div>
          <span class="signal-text">
            {quality}%{dbm !== undefined ? ` (${dbm} dBm)` : ''} ·{' '}
            {level === 'good' ? 'Good signal' : level === 'fair' ? 'Fair signal' : 'Weak signal'}
          </span>
        </div>
      )}
      <dl class="details wifi-lines">
        {radio && (
          <div class="detail">
            <dt>Radio</dt>
            <dd class="wifi-radio">{radio}</dd>
          </div>
        )}
        {str(wifi.security) && (
          <div class="detail">
            <dt>Security</dt>
            <dd>{str(wifi.security)}</dd>
          </div>
        )}
        <div class="detail">
          <dt>Neighbours</dt>
          <dd class="wifi-neighbours">
            {all === 0 ? 'No other access points heard' : `${same} on this channel, ${all} heard in all`}
          </dd>
        </div>
      </dl>
      <DetailList details={rest} />
    </article>
  );
}
