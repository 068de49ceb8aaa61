// Words, icons and number formats shared by the views. Plain words for people at home first;
// the exact figures stay available for whoever helps them.

import type { Status } from './messages';

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

export function headline(status: Status, hasPath: boolean): { title: string; text: string } {
  switch (status) {
    case 'healthy':
      return { title: 'Your connection looks good', text: 'Every part of the path to the internet is working normally.' };
    case 'warning':
      return { title: 'Your connection is having some trouble', text: 'Things work, but something along the way is slower or less reliable than it should be.' };
    case 'critical':
      return { title: 'Your connection has a problem', text: 'Something along the way is seriously slowing down or dropping your traffic.' };
    default:
      return hasPath
        ? { title: 'Checking your connection…', text: 'Measurements are coming in.' }
        : { title: 'Checking your connection…', text: 'Finding the path from this computer to the internet. This takes up to a minute.' };
  }
}

export const ms = (v: number): string => `${v.toFixed(1)} ms`;
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

function humanise(key: string): string {
  const spaced = key.replace(/([a-z0-9])([A-Z])/g, '$1 $2').toLowerCase();
  return spaced.charAt(0).toUpperCase() + spaced.slice(1);
}

function formatValue(key: string, value: unknown, unit?: string): string {
  if (typeof value === 'boolean') return value ? 'Yes' : 'No';
  if (typeof value === 'number') {
    const text = (unit === 'ms' || unit === '%') && !Number.isInteger(value) ? value.toFixed(1) : String(value);
    return unit ? `${text} ${unit}` : text;
  }
  if (typeof value === 'string') return key === 'status' && value === 'discovering' ? 'Still being discovered…' : value;
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
  return Object.entries(details).map(([key, value]) => {
    const [label, unit] = DETAIL_LABELS[key] ?? [humanise(key)];
    return { key, label, value: formatValue(key, value, unit) };
  });
}

// Where a hop sits, in words; the labels come from the path discovery.
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
