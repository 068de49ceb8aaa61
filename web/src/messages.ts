// Shapes of the messages the application pushes to this page, and the one place that turns
// whatever arrives over a bridge into them. Everything from outside is checked here, so the
// components can trust the types they are given.

import { toHistory, toHistoryExport, type HistoryExportMessage, type HistoryMessage } from './archive';

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

// What set a verdict off.
export type Trigger = 'loss' | 'latency' | 'jitter' | 'unreachable';

export interface Callout {
  severity: Status;
  segmentId: string;
  title: string;
  description: string;
  remedy: string;
  // Why: the hop blamed (when one is), the metric and its figure there (percent for loss, ms
  // otherwise), and since when the verdict has been shown (Unix seconds).
  culpritHopNumber?: number;
  culpritIp?: string;
  trigger?: Trigger;
  triggerValue?: number;
  since?: number;
}

// A destination the application traces, with its own end-to-end figures (absent until it has
// some) and, like a hop, its recent loss.
export interface Destination {
  ip: string;
  name?: string;
  isPrimary: boolean;
  reached: boolean;
  answersPing: boolean;
  rttMs?: number;
  loss?: number;
  jitter?: number;
  recentLoss?: number;
  recentSamples?: number;
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
  destinations: Destination[]; // primary first; empty in older messages
  culpritCallout?: Callout;
}

// Monitored services: what the user asked to have checked, and how each check went.
export type ProbeType = 'icmp' | 'dns' | 'tcp' | 'http' | 'https';
export const PROBE_TYPES: readonly ProbeType[] = ['icmp', 'dns', 'tcp', 'http', 'https'];

export interface ServiceDefinition {
  id: string;
  name: string;
  target: string;
  probeType: ProbeType;
  port: number; // 0: none
  intervalMs: number;
  enabled: boolean;
}

export interface ServiceInfo extends ServiceDefinition {
  probed: boolean; // false when turned off or beyond the services probed at once
}

export interface HttpTiming {
  dnsMs: number;
  connectMs: number;
  ttfbMs: number;
  transferMs: number;
  totalMs: number;
  statusCode: number; // 0: no answer
}

export interface TlsInfo {
  subject: string;
  issuer: string;
  daysUntilExpiry: number; // 0 once expired
}

export interface ServiceResult {
  serviceId: string;
  latencyMs: number;
  lossPercent: number;
  jitterMs: number;
  success: boolean;
  timestamp: number; // Unix seconds when the probe started; 0 when not given
  httpTiming?: HttpTiming;
  tlsInfo?: TlsInfo;
  error?: string;
}

export interface ServiceMetrics {
  type: 'serviceMetrics';
  payload: ServiceResult;
}

export interface ServiceList {
  type: 'serviceList';
  services: ServiceInfo[];
  maxProbed: number;
}

export interface ServiceChange {
  action: 'save' | 'delete';
  id: string;
  ok: boolean;
  error?: string;
}

export interface ServiceChangeResult {
  type: 'serviceChangeResult';
  payload: ServiceChange;
}

// A newer version the application's backend offers.
export interface UpdateOffer {
  version: string;
  urgency: 'optional' | 'recommended' | 'required';
  downloadUrl?: string;
  releaseNotesUrl?: string;
}

export interface UpdateAvailable {
  type: 'updateAvailable';
  payload: UpdateOffer;
}

// The desktop shows no tray icon: closing the window ends the application.
export interface NoTray {
  type: 'noTray';
}

// The replies to the gateway sign-in commands, one for each command. A sign-in either
// succeeds, asks for the one-time code, or says why not; certificateChanged: the gateway showed
// another certificate than at the previous sign-in.
export interface GatewaySignInResult {
  type: 'unifiLoginResult' | 'unifiMfaResult';
  success: boolean;
  requiresMfa: boolean;
  error?: string;
  certificateChanged: boolean;
}

// Whether the saved sign-in still holds. host and username come only when one is saved.
export interface GatewaySessionStatus {
  type: 'unifiSessionStatus';
  authenticated: boolean;
  host?: string;
  username?: string;
  certificateChanged: boolean;
  // The gateway did not answer the check: the saved sign-in may well still hold.
  unreachable: boolean;
}

export interface GatewayForgetResult {
  type: 'unifiForgetResult';
  success: boolean;
}

export type Inbound =
  | NetworkState
  | ServiceMetrics
  | ServiceList
  | ServiceChangeResult
  | UpdateAvailable
  | NoTray
  | HistoryMessage
  | HistoryExportMessage
  | GatewaySignInResult
  | GatewaySessionStatus
  | GatewayForgetResult;

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

const TRIGGERS: readonly string[] = ['loss', 'latency', 'jitter', 'unreachable'];
const optFigure = (v: unknown): number | undefined => {
  const n = optNum(v);
  return n !== undefined && n >= 0 ? n : undefined;
};

function toCallout(v: unknown): Callout | undefined {
  if (!isObj(v) || !optStr(v.title)) return undefined;
  const callout: Callout = {
    severity: toStatus(v.severity),
    segmentId: str(v.segmentId),
    title: str(v.title),
    description: str(v.description),
    remedy: str(v.remedy),
  };
  const hop = optNum(v.culpritHopNumber);
  if (hop !== undefined && Number.isInteger(hop) && hop > 0) {
    callout.culpritHopNumber = hop;
    callout.culpritIp = optStr(v.culpritIp);
  }
  if (typeof v.trigger === 'string' && TRIGGERS.includes(v.trigger)) {
    callout.trigger = v.trigger as Trigger;
    callout.triggerValue = optFigure(v.triggerValue);
  }
  const since = optNum(v.since);
  if (since !== undefined && Number.isInteger(since) && since > 0) callout.since = since;
  return callout;
}

function toDestination(v: unknown): Destination | null {
  if (!isObj(v) || !optStr(v.ip)) return null;
  const d: Destination = {
    ip: str(v.ip),
    name: optStr(v.name),
    isPrimary: v.isPrimary === true,
    reached: v.reached === true,
    answersPing: v.answersPing === true,
  };
  // Figures come together or not at all.
  const rtt = optFigure(v.rttMs);
  const loss = optFigure(v.loss);
  const jitter = optFigure(v.jitter);
  if (rtt !== undefined && loss !== undefined && jitter !== undefined && loss <= 100) {
    Object.assign(d, { rttMs: rtt, loss, jitter });
  }
  const recentLoss = optFigure(v.recentLoss);
  const samples = optNum(v.recentSamples);
  if (
    recentLoss !== undefined &&
    recentLoss <= 100 &&
    samples !== undefined &&
    Number.isInteger(samples) &&
    samples > 0
  ) {
    d.recentLoss = recentLoss;
    d.recentSamples = samples;
  }
  return d;
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
    destinations: (Array.isArray(o.destinations) ? o.destinations : [])
      .map(toDestination)
      .filter((d): d is Destination => d !== null),
    culpritCallout: toCallout(o.culpritCallout),
  };
}

// A duration or figure the application measured: finite and not negative, else 0.
const measure = (v: unknown): number => Math.max(0, num(v));
const isInt = (v: unknown): v is number => typeof v === 'number' && Number.isInteger(v);

function toHttpTiming(v: unknown): HttpTiming | undefined {
  if (!isObj(v)) return undefined;
  return {
    dnsMs: measure(v.dnsMs),
    connectMs: measure(v.connectMs),
    ttfbMs: measure(v.ttfbMs),
    transferMs: measure(v.transferMs),
    totalMs: measure(v.totalMs),
    statusCode: isInt(v.statusCode) && v.statusCode >= 100 && v.statusCode <= 999 ? v.statusCode : 0,
  };
}

// Only a certificate that was received is described.
function toTlsInfo(v: unknown): TlsInfo | undefined {
  if (!isObj(v) || v.isValid !== true || !isInt(v.daysUntilExpiry)) return undefined;
  return { subject: str(v.subject), issuer: str(v.issuer), daysUntilExpiry: Math.max(0, v.daysUntilExpiry) };
}

function toServiceMetrics(p: unknown): ServiceMetrics | null {
  if (!isObj(p) || !optStr(p.serviceId) || typeof p.success !== 'boolean') return null;
  const result: ServiceResult = {
    serviceId: str(p.serviceId),
    latencyMs: measure(p.latencyMs),
    lossPercent: Math.min(100, measure(p.lossPercent)),
    jitterMs: measure(p.jitterMs),
    success: p.success,
    timestamp: isInt(p.timestamp) && p.timestamp > 0 ? p.timestamp : 0,
  };
  const timing = toHttpTiming(p.httpTiming);
  if (timing) result.httpTiming = timing;
  const tls = toTlsInfo(p.tlsInfo);
  if (tls) result.tlsInfo = tls;
  const error = optStr(p.error);
  if (error) result.error = error;
  return { type: 'serviceMetrics', payload: result };
}

function toServiceInfo(v: unknown): ServiceInfo | null {
  if (!isObj(v) || !optStr(v.id) || typeof v.target !== 'string') return null;
  if (typeof v.probeType !== 'string' || !PROBE_TYPES.includes(v.probeType as ProbeType)) return null;
  const enabled = v.enabled !== false;
  return {
    id: str(v.id),
    name: optStr(v.name) ?? v.target,
    target: v.target,
    probeType: v.probeType as ProbeType,
    port: isInt(v.port) && v.port >= 0 && v.port <= 65535 ? v.port : 0,
    // The application pauses 5 s for anything below 1 ms.
    intervalMs: isInt(v.intervalMs) && v.intervalMs >= 1 ? v.intervalMs : 5000,
    enabled,
    probed: typeof v.probed === 'boolean' ? v.probed : enabled,
  };
}

function toServiceList(p: unknown): ServiceList | null {
  if (!isObj(p) || !Array.isArray(p.services)) return null;
  const seen = new Set<string>();
  const services: ServiceInfo[] = [];
  for (const entry of p.services) {
    const service = toServiceInfo(entry);
    if (!service || seen.has(service.id)) continue;
    seen.add(service.id);
    services.push(service);
  }
  const maxProbed = isInt(p.maxProbed) && p.maxProbed > 0 ? p.maxProbed : 5;
  return { type: 'serviceList', services, maxProbed };
}

function toServiceChangeResult(p: unknown): ServiceChangeResult | null {
  if (!isObj(p) || (p.action !== 'save' && p.action !== 'delete') || typeof p.id !== 'string') return null;
  if (typeof p.ok !== 'boolean') return null;
  const change: ServiceChange = { action: p.action, id: p.id, ok: p.ok };
  if (!p.ok) change.error = optStr(p.error) ?? 'Quillon could not make the change.';
  return { type: 'serviceChangeResult', payload: change };
}

// Accepts what a bridge delivers: an already parsed value (the embedded browser) or the JSON
// text (the headless bridge). Returns null for anything that is not a message we know.
// Only web addresses become links: anything else in an offer is dropped.
const webUrl = (v: unknown): string | undefined =>
  typeof v === 'string' && /^https?:\/\/[^\s"]+$/i.test(v) ? v : undefined;

function toUpdateAvailable(v: unknown): UpdateAvailable | null {
  if (!isObj(v) || typeof v.version !== 'string' || v.version === '') return null;
  const urgency = v.urgency === 'required' || v.urgency === 'recommended' ? v.urgency : 'optional';
  return {
    type: 'updateAvailable',
    payload: {
      version: v.version,
      urgency,
      downloadUrl: webUrl(v.downloadUrl),
      releaseNotesUrl: webUrl(v.releaseNotesUrl),
    },
  };
}

function toSignInResult(v: Obj, type: GatewaySignInResult['type']): GatewaySignInResult | null {
  if (typeof v.success !== 'boolean') return null;
  const result: GatewaySignInResult = {
    type,
    success: v.success,
    requiresMfa: !v.success && v.requiresMfa === true,
    certificateChanged: v.success && v.certificateChanged === true,
  };
  // A failure always says why, unless it asks for the code.
  if (!v.success && !result.requiresMfa) result.error = optStr(v.error) ?? 'Login failed';
  return result;
}

function toSessionStatus(v: Obj): GatewaySessionStatus | null {
  if (typeof v.authenticated !== 'boolean') return null;
  return {
    type: 'unifiSessionStatus',
    authenticated: v.authenticated,
    host: optStr(v.host),
    username: optStr(v.username),
    certificateChanged: v.certificateChanged === true,
    unreachable: !v.authenticated && v.reachable === false,
  };
}

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
  switch (value.type) {
    case 'networkState':
      return toNetworkState(value);
    case 'serviceMetrics':
      return toServiceMetrics(value.payload);
    case 'serviceList':
      return toServiceList(value.payload);
    case 'serviceChangeResult':
      return toServiceChangeResult(value.payload);
    case 'updateAvailable':
      return toUpdateAvailable(value.payload);
    case 'noTray':
      return { type: 'noTray' };
    case 'history':
      return toHistory(value.payload);
    case 'historyExport':
      return toHistoryExport(value.payload);
    case 'unifiLoginResult':
    case 'unifiMfaResult':
      return toSignInResult(value, value.type);
    case 'unifiSessionStatus':
      return toSessionStatus(value);
    case 'unifiForgetResult':
      return typeof value.success === 'boolean' ? { type: 'unifiForgetResult', success: value.success } : null;
  }
  return null;
}
