// Shapes of the messages the application pushes to this page, and the one place that turns
// whatever arrives over a bridge into them. Everything from outside is checked here, so the
// components can trust the types they are given.

export type Status = 'healthy' | 'warning' | 'critical' | 'unknown';

// The parts of the path picture a hop can be counted in.
export type HopSegmentId = 'connection' | 'homeNetwork' | 'isp' | 'services';

export interface Hop {
  hopNumber: number;
  ip: string;
  hostname?: string;
  asn?: string;
  asnName?: string;
  // Over the long window (up to 30 minutes).
  rttMs: number;
  loss: number;
  jitter: number;
  segment: string; // the traceroute's label: LOCAL, ISP, TRANS, DEST or ?
  segmentId?: HopSegmentId; // where the verdict counts this hop; absent in older messages
  // Loss over the recent past (the last half minute or so), which is what the verdict judges,
  // and the number of echoes it rests on; only for hops with recent echoes.
  recentLoss?: number;
  recentSamples?: number;
}

export type Details = Record<string, unknown>;

export interface Segment {
  id: string;
  type: string;
  displayName: string;
  categoryLabel: string;
  status: Status;
  isCulprit: boolean;
  isVisible: boolean;
  displayOrder: number;
  details: Details;
}

export interface Callout {
  severity: Status;
  segmentId: string;
  title: string;
  description: string;
  remedy: string;
}

export interface PublicIpInfo {
  ipAddress: string;
  hostname?: string;
  asn?: string;
  ispName?: string;
  port?: number;
}

export interface NetworkState {
  type: 'networkState';
  overallStatus: Status;
  hops: Hop[];
  wifiDetails?: Details;
  publicIpInfo?: PublicIpInfo;
  segments: Segment[];
  culpritCallout?: Callout;
}

// Messages this page shows nothing for yet are passed on by type only.
export interface OtherMessage {
  type: 'serviceMetrics' | 'updateAvailable' | 'unifiLoginResult' | 'unifiMfaResult' | 'unifiSessionStatus';
  payload?: unknown;
}

export type Inbound = NetworkState | OtherMessage;

const OTHER_TYPES = new Set([
  'serviceMetrics',
  'updateAvailable',
  'unifiLoginResult',
  'unifiMfaResult',
  'unifiSessionStatus',
]);

type Obj = Record<string, unknown>;

const isObj = (v: unknown): v is Obj => typeof v === 'object' && v !== null && !Array.isArray(v);
const str = (v: unknown, fallback = ''): string => (typeof v === 'string' ? v : fallback);
const optStr = (v: unknown): string | undefined => (typeof v === 'string' && v !== '' ? v : undefined);
const num = (v: unknown): number => (typeof v === 'number' && Number.isFinite(v) ? v : 0);
const optNum = (v: unknown): number | undefined => (typeof v === 'number' && Number.isFinite(v) ? v : undefined);

const HOP_SEGMENT_IDS: readonly string[] = ['connection', 'homeNetwork', 'isp', 'services'];
const toHopSegmentId = (v: unknown): HopSegmentId | undefined =>
  typeof v === 'string' && HOP_SEGMENT_IDS.includes(v) ? (v as HopSegmentId) : undefined;

export function toStatus(v: unknown): Status {
  return v === 'healthy' || v === 'warning' || v === 'critical' ? v : 'unknown';
}

function toHop(v: unknown): Hop | null {
  if (!isObj(v) || typeof v.hopNumber !== 'number') return null;
  const hop: Hop = {
    hopNumber: v.hopNumber,
    ip: str(v.ip, '*'),
    hostname: optStr(v.hostname),
    asn: optStr(v.asn),
    asnName: optStr(v.asnName),
    rttMs: num(v.rttMs),
    loss: num(v.loss),
    jitter: num(v.jitter),
    segment: str(v.segment, '?'),
  };
  const segmentId = toHopSegmentId(v.segmentId);
  if (segmentId) hop.segmentId = segmentId;
  // A recent figure is a percentage; a count of echoes is a whole number above zero.
  const recentLoss = optNum(v.recentLoss);
  if (recentLoss !== undefined && recentLoss >= 0 && recentLoss <= 100) {
    hop.recentLoss = recentLoss;
    const samples = optNum(v.recentSamples);
    if (samples !== undefined && Number.isInteger(samples) && samples > 0) hop.recentSamples = samples;
  }
  return hop;
}

function toSegment(v: unknown, index: number): Segment | null {
  if (!isObj(v) || typeof v.id !== 'string') return null;
  return {
    id: v.id,
    type: str(v.type, v.id),
    displayName: str(v.displayName),
    categoryLabel: str(v.categoryLabel),
    status: toStatus(v.status),
    isCulprit: v.isCulprit === true,
    isVisible: v.isVisible !== false,
    displayOrder: typeof v.displayOrder === 'number' ? v.displayOrder : index,
    details: isObj(v.details) ? v.details : {},
  };
}

function toCallout(v: unknown): Callout | undefined {
  if (!isObj(v) || !optStr(v.title)) return undefined;
  return {
    severity: toStatus(v.severity),
    segmentId: str(v.segmentId),
    title: str(v.title),
    description: str(v.description),
    remedy: str(v.remedy),
  };
}

function toPublicIp(v: unknown): PublicIpInfo | undefined {
  if (!isObj(v) || !optStr(v.ipAddress)) return undefined;
  return {
    ipAddress: str(v.ipAddress),
    hostname: optStr(v.hostname),
    asn: optStr(v.asn),
    ispName: optStr(v.ispName),
    port: typeof v.port === 'number' ? v.port : undefined,
  };
}

function toNetworkState(o: Obj): NetworkState {
  const hops = (Array.isArray(o.hops) ? o.hops : []).map(toHop).filter((h): h is Hop => h !== null);
  const segments = (Array.isArray(o.segments) ? o.segments : [])
    .map(toSegment)
    .filter((s): s is Segment => s !== null && s.isVisible)
    .sort((a, b) => a.displayOrder - b.displayOrder);
  return {
    type: 'networkState',
    overallStatus: toStatus(o.overallStatus),
    hops,
    wifiDetails: isObj(o.wifiDetails) ? o.wifiDetails : undefined,
    publicIpInfo: toPublicIp(o.publicIpInfo),
    segments,
    culpritCallout: toCallout(o.culpritCallout),
  };
}

// Accepts what a bridge delivers: an already parsed value (the embedded browser) or the JSON
// text (the headless bridge). Returns null for anything that is not a message we know.
export function parseInbound(data: unknown): Inbound | null {
  let value = data;
  if (typeof data === 'string') {
    try {
      value = JSON.parse(data);
    } catch {
      return null;
    }
  }
  if (!isObj(value)) return null;
  if (value.type === 'networkState') return toNetworkState(value);
  if (typeof value.type === 'string' && OTHER_TYPES.has(value.type)) {
    return { type: value.type as OtherMessage['type'], payload: value.payload };
  }
  return null;
}
