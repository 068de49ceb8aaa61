// Words, icons and number formats shared by the views. Plain words for people at home first;
// the exact figures stay available for whoever helps them.

import type { Callout, Destination, Hop, NetworkState, Segment, Status } from './messages';

export interface StatusLook {
  label: string;
  icon: string; // a shape as well as a colour, so status never depends on colour alone
}

export const STATUS_LOOK: Record<Status, StatusLook> = {
  healthy: { label: 'Good', icon: '✓' },
  warning: { label: 'Degraded', icon: '!' },
  critical: { label: 'Problem', icon: '✕' },
  unknown: { label: 'Not checked', icon: '?' },
};

// The application cannot measure at all (ping not permitted, say): it says so with a callout
// of unknown severity, and an unknown status then does not mean "still checking".
export const cannotMeasure = (state: NetworkState): boolean =>
  state.overallStatus === 'unknown' && state.culpritCallout?.severity === 'unknown';

export function headline(status: Status, hasPath: boolean, blocked = false): { title: string; text: string } {
  if (status === 'unknown' && blocked) {
    return {
      title: "Your connection can't be checked",
      text: 'Something on this computer stops Quillon from measuring. See below for what to do.',
    };
  }
  switch (status) {
    case 'healthy':
      return {
        title: 'Your connection looks good',
        text: 'Every part of the path to the internet is working normally.',
      };
    case 'warning':
      return {
        title: 'Your connection is having some trouble',
        text: 'Things work, but something along the way is slower or less reliable than it should be.',
      };
    case 'critical':
      return {
        title: 'Your connection has a problem',
        text: 'Something along the way is seriously slowing down or dropping your traffic.',
      };
    default:
      return hasPath
        ? { title: 'Checking your connection…', text: 'Measurements are coming in.' }
        : {
            title: 'Checking your connection…',
            text: 'Finding the path from this computer to the internet. This takes up to a minute.',
          };
  }
}

// Milliseconds, the one way the page writes them: one decimal, and "<1 ms" below a millisecond
// (echo times are whole milliseconds, so a smaller figure only says "faster than we can tell").
export const ms = (v: number): string => (v < 1 ? '<1 ms' : `${v.toFixed(1)} ms`);
export const pct = (v: number): string => `${v.toFixed(v >= 10 || v === 0 ? 0 : 1)} %`;

// Friendly names and units for the detail members we know; others are shown by their name.
const DETAIL_LABELS: Record<string, [string, string?]> = {
  hostname: ['Host name'],
  os: ['Operating system'],
  arch: ['Architecture'],
  interfaceName: ['Interface'],
  localIP: ['Local address'],
  clientMac: ['Hardware address'],
  clientManufacturer: ['Made by'],
  diskUsedPercent: ['Disk used', '%'],
  diskTotalGB: ['Disk size', 'GB'],
  diskFreeGB: ['Disk free', 'GB'],
  ramUsedPercent: ['Memory used', '%'],
  ramTotalGB: ['Memory', 'GB'],
  ramAvailableGB: ['Memory available', 'GB'],
  ssid: ['Network name'],
  bssid: ['Access point address'],
  accessPoint: ['Access point made by'],
  signalStrength: ['Signal strength', 'dBm'],
  signalQuality: ['Signal quality', '%'],
  channel: ['Channel'],
  bandwidth: ['Channel width'],
  txRate: ['Transmit rate'],
  rxRate: ['Receive rate'],
  security: ['Security'],
  phyType: ['Standard'],
  band: ['Band'],
  frequency: ['Frequency', 'MHz'],
  spatialStreams: ['Spatial streams'],
  muMimo: ['MU-MIMO'],
  channelUtilization: ['Channel busy', '%'],
  stationCount: ['Devices on access point'],
  coChannelAPs: ['Access points on same channel'],
  neighborAPs: ['Nearby access points'],
  countryCode: ['Country code'],
  mloLinkCount: ['Multi-link connections'],
  mloLinks: ['Links'],
  adapterType: ['Connection type'],
  adapterName: ['Adapter'],
  linkSpeed: ['Link speed'],
  macAddress: ['Hardware address'],
  lldpSwitch: ['Switch'],
  lldpPort: ['Switch port'],
  gatewayIP: ['Router address'],
  gatewayMAC: ['Router hardware address'],
  gatewayManufacturer: ['Router made by'],
  latencyMs: ['Response time', 'ms'],
  packetLoss: ['Packet loss', '%'],
  jitterMs: ['Jitter', 'ms'],
  isUniFi: ['Managed gateway'],
  unifiModel: ['Model'],
  status: ['Status'],
  publicIp: ['Public address'],
  publicHostname: ['Public host name'],
  asn: ['AS number'],
  provider: ['Provider'],
  providerSource: ['Provider found from'],
  city: ['City'],
  region: ['Region'],
  country: ['Country'],
  location: ['Location'],
  latitude: ['Latitude'],
  longitude: ['Longitude'],
  satelliteProvider: ['Satellite service'],
  ispDistanceMiles: ['ISP entry point distance', 'mi'],
  destLocation: ['Destination location'],
  distanceMiles: ['Distance', 'mi'],
};

// Where the application learned who the provider is.
const PROVIDER_SOURCE: Record<string, string> = {
  stun: 'Your public address',
  path: 'The route to the internet',
};

// Members that are flags for the views rather than facts to list.
const NOT_LISTED = new Set(['answersPing']);

function humanise(key: string): string {
  const spaced = key.replace(/([a-z0-9])([A-Z])/g, '$1 $2').toLowerCase();
  return spaced.charAt(0).toUpperCase() + spaced.slice(1);
}

function formatValue(key: string, value: unknown, unit?: string): string {
  if (typeof value === 'boolean') return value ? 'Yes' : 'No';
  if (typeof value === 'number' && unit === 'ms') return ms(value);
  if (typeof value === 'number') {
    const text = unit === '%' && !Number.isInteger(value) ? value.toFixed(1) : String(value);
    return unit ? `${text} ${unit}` : text;
  }
  if (typeof value === 'string') {
    if (key === 'status' && value === 'discovering') return 'Still being discovered…';
    if (key === 'providerSource') return PROVIDER_SOURCE[value] ?? value;
    return value;
  }
  if (Array.isArray(value)) {
    return value
      .map((item) =>
        typeof item === 'object' && item !== null
          ? Object.entries(item as Record<string, unknown>)
              .map(([k, v]) => `${humanise(k).toLowerCase()} ${String(v)}`)
              .join(', ')
          : String(item),
      )
      .join('; ');
  }
  if (typeof value === 'object' && value !== null) return JSON.stringify(value);
  return '';
}

export interface DetailRow {
  key: string;
  label: string;
  value: string;
}

export function detailRows(details: Record<string, unknown>): DetailRow[] {
  return Object.entries(details)
    .filter(([key]) => !NOT_LISTED.has(key))
    .map(([key, value]) => {
      const [label, unit] = DETAIL_LABELS[key] ?? [humanise(key)];
      return { key, label, value: formatValue(key, value, unit) };
    });
}

// A destination that ignores ping is still on the path picture: the route up to it is measured
// and it is judged by the last stop that answers.
export const answersPing = (details: Record<string, unknown>): boolean => details.answersPing !== false;
export const NO_PING_NOTE = 'Does not answer ping';
export const NO_PING_TEXT =
  'This destination does not answer ping. The route up to it is measured, and it is judged by the last stop on the way that answers.';

// Where a hop sits, in words, from the traceroute's label alone (messages that do not say which
// part of the path the verdict counts the hop in).
export function segmentWord(label: string): string {
  switch (label) {
    case 'LOCAL':
      return 'Home';
    case 'ISP':
      return 'ISP';
    case 'TRANS':
      return 'Internet';
    case 'DEST':
      return 'Destination';
    default:
      return 'Unknown';
  }
}

// Where a hop sits, in words, as the verdict counts it: the link and the home network are the
// home, a carrier-grade NAT hop with a private-looking address is already the ISP's, and of the
// hops the verdict blames on the ISP, the ones beyond its network are the wider internet.
export function hopWhere(hop: Pick<Hop, 'segment' | 'segmentId'>): string {
  switch (hop.segmentId) {
    case 'connection':
    case 'homeNetwork':
      return 'Home';
    case 'isp':
      return hop.segment === 'TRANS' ? 'Internet' : 'ISP';
    case 'services':
      return 'Destination';
    default:
      return segmentWord(hop.segment);
  }
}

// The loss the verdict judges, in words, with the number of echoes behind it.
export function recentLossText(hop: Pick<Hop, 'recentLoss' | 'recentSamples'>): string {
  if (hop.recentLoss === undefined) return 'No recent echoes';
  const echoes =
    hop.recentSamples === undefined
      ? 'the recent echoes'
      : `the last ${hop.recentSamples} echo${hop.recentSamples === 1 ? '' : 'es'}`;
  return `${pct(hop.recentLoss)} of ${echoes} lost`;
}

// A heading of a labelled thing that does not say the same word twice ("Gateway", not
// "Gateway: Gateway", when the router has no better name).
export const titled = (label: string, name: string): string =>
  !name || name.trim().toLowerCase() === label.trim().toLowerCase() ? label : `${label}: ${name}`;

// A hop without long-window figures is sent with every figure 0, as opposed to a silent hop
// ("*", 100 % loss). So is a hop that answers faster than a millisecond (echo times are whole
// milliseconds), but that one has recent echoes: the table shows it as measured.
export const hasLongWindow = (hop: Pick<Hop, 'ip' | 'rttMs' | 'loss' | 'jitter'>): boolean =>
  hop.ip === '*' || hop.rttMs !== 0 || hop.loss !== 0 || hop.jitter !== 0;
export const isMeasured = (hop: Pick<Hop, 'ip' | 'rttMs' | 'loss' | 'jitter' | 'recentLoss'>): boolean =>
  hasLongWindow(hop) || hop.recentLoss !== undefined;

// "10:02" in local time.
export function clockTime(unixSeconds: number): string {
  const d = new Date(unixSeconds * 1000);
  return `${String(d.getHours()).padStart(2, '0')}:${String(d.getMinutes()).padStart(2, '0')}`;
}

// Why the verdict says what it says, in plain words, from the figures the callout carries:
// "Why: loss 12 % at hop 3 (203.0.113.1) since 10:02". Undefined when the callout gives none.
export function whyText(callout: Callout): string | undefined {
  const since = callout.since !== undefined ? ` since ${clockTime(callout.since)}` : '';
  // A verdict nothing measured set off (recovering, or nothing can be measured) has no "why".
  if (!callout.trigger) return since && callout.severity !== 'unknown' ? `Shown${since}` : undefined;
  if (callout.trigger === 'unreachable') return `Why: the destination could not be reached${since}`;
  const value = callout.triggerValue;
  const figure = value === undefined ? '' : callout.trigger === 'loss' ? ` ${pct(value)}` : ` ${ms(value)}`;
  const metric = { loss: 'loss', latency: 'response time', jitter: 'jitter' }[callout.trigger];
  const where =
    callout.culpritHopNumber !== undefined
      ? ` at hop ${callout.culpritHopNumber}${callout.culpritIp ? ` (${callout.culpritIp})` : ''}`
      : ' (where it starts is still being narrowed down)';
  return `Why: ${metric}${figure}${where}${since}`;
}

// What the path picture says about a part of the path the verdict left unjudged: the parts
// after the blamed one are measured, but their figures carry the problem before them; the ones
// before it were found cleaner than it. Anything else keeps its status word.
export function segmentStatusWord(segment: Segment, segments: readonly Segment[], callout?: Callout): string {
  const look = STATUS_LOOK[segment.status].label;
  if (segment.status !== 'unknown' || !callout) return look;
  const culprit = callout.segmentId ? segments.find((s) => s.id === callout.segmentId) : undefined;
  if (culprit) return segment.displayOrder > culprit.displayOrder ? 'Beyond the problem' : 'Not the cause';
  // A verdict that names no part yet (still narrowing it down, recovering, unreachable).
  return callout.severity === 'unknown' ? look : 'Being checked';
}

// How a destination answers, in words.
export function destinationState(d: Pick<Destination, 'reached' | 'answersPing'>): string {
  if (!d.answersPing) return NO_PING_NOTE;
  return d.reached ? 'Answers ping' : 'Not reached on the last trace';
}
