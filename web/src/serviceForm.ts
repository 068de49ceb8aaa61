// The add / edit form's rules: what the user typed, checked in plain words before anything is
// sent, and turned into the definition the application stores.

import type { ProbeType, ServiceDefinition } from './messages';

export interface ServiceFormValues {
  name: string;
  kind: ProbeType;
  target: string;
  port: string; // empty: none
  interval: string; // seconds
  enabled: boolean;
}

export type FormField = 'name' | 'target' | 'port' | 'interval';
export type FormErrors = Partial<Record<FormField, string>>;
export type FormCheck = { ok: true; service: ServiceDefinition } | { ok: false; errors: FormErrors };

export const KIND_LABELS: Record<ProbeType, string> = {
  icmp: 'Ping (ICMP)',
  dns: 'DNS look-up',
  tcp: 'TCP port',
  http: 'Web page (HTTP)',
  https: 'Secure web page (HTTPS)',
};

export const TARGET_HINTS: Record<ProbeType, string> = {
  icmp: 'A host name or IPv4 address, e.g. router.home or 192.168.1.1',
  dns: 'A name to look up, e.g. example.com',
  tcp: 'host:port, e.g. game.example.net:25565, or the host with Port filled in',
  http: 'A web address or host, e.g. example.com/status',
  https: 'A web address or host, e.g. example.com',
};

// Kinds whose port field means something: the TCP port, or a port override for web checks.
export const usesPort = (kind: ProbeType): boolean => kind === 'tcp' || kind === 'http' || kind === 'https';

export const MIN_INTERVAL_S = 5;
export const MAX_INTERVAL_S = 3600;
export const MAX_NAME = 100;
const DEFAULT_INTERVAL_S = 30;

export function formValues(service?: ServiceDefinition): ServiceFormValues {
  if (!service)
    return { name: '', kind: 'https', target: '', port: '', interval: String(DEFAULT_INTERVAL_S), enabled: true };
  return {
    name: service.name,
    kind: service.probeType,
    target: service.target,
    port: service.port > 0 ? String(service.port) : '',
    interval: String(service.intervalMs / 1000),
    enabled: service.enabled,
  };
}

// A port typed by the user: a whole number from 1 to 65535, or null.
function portNumber(text: string): number | null {
  if (!/^\d{1,5}$/.test(text)) return null;
  const n = Number(text);
  return n >= 1 && n <= 65535 ? n : null;
}

function checkTarget(kind: ProbeType, target: string, port: number): FormErrors {
  if (!target) {
    return { target: 'Enter what to check: a host name, an address or a web address.' };
  }
  if (/\s/.test(target)) return { target: 'The target cannot contain spaces.' };
  const scheme = target.includes('://') ? target.slice(0, target.indexOf('://')).toLowerCase() : null;
  switch (kind) {
    case 'icmp':
    case 'dns':
      return /[/:]/.test(target)
        ? { target: 'Enter only a host name or an IPv4 address, without http://, a path or a port.' }
        : {};
    case 'tcp': {
      if (scheme !== null) {
        return { target: 'A TCP check takes a host and port (example.com:443), not a web address.' };
      }
      const colon = target.indexOf(':');
      if (colon < 0) {
        return port ? {} : { port: 'A TCP check needs a port: fill in Port, or write the target as host:port.' };
      }
      if (colon === 0) return { target: 'Write the host name or address before the colon.' };
      if (portNumber(target.slice(colon + 1)) === null) {
        return { target: 'The port after the colon must be a number from 1 to 65535.' };
      }
      return port ? { port: 'Give the port once: in the Port field or after the colon in the target, not both.' } : {};
    }
    default:
      if (scheme === null) return {};
      if (scheme !== 'http' && scheme !== 'https') {
        return { target: 'A web address must start with http:// or https://.' };
      }
      if (kind === 'https' && scheme === 'http') {
        return {
          target:
            'This address starts with http://, so it would be checked without encryption. Choose HTTP, or write https://.',
        };
      }
      return target.length > scheme.length + 3 ? {} : { target: `Write the host name after ${scheme}://.` };
  }
}

export function checkServiceForm(values: ServiceFormValues, id: string): FormCheck {
  const errors: FormErrors = {};
  const target = values.target.trim();
  const name = values.name.trim() || target;
  if (name.length > MAX_NAME) errors.name = `Keep the name to ${MAX_NAME} characters or fewer.`;

  // The port field counts only for the kinds that use it (it is greyed out for the others).
  const portText = usesPort(values.kind) ? values.port.trim() : '';
  const port = portText ? portNumber(portText) : 0;
  Object.assign(errors, checkTarget(values.kind, target, port ?? 0));
  if (port === null) errors.port = 'Port must be a whole number from 1 to 65535, or empty for none.';

  const seconds = Number(values.interval.trim());
  if (values.interval.trim() === '' || !Number.isFinite(seconds)) {
    errors.interval = 'Enter how often to check, in seconds.';
  } else if (seconds < MIN_INTERVAL_S) {
    errors.interval = `The interval must be at least ${MIN_INTERVAL_S} seconds.`;
  } else if (seconds > MAX_INTERVAL_S) {
    errors.interval = `The interval can be at most ${MAX_INTERVAL_S} seconds (1 hour).`;
  }

  if (Object.keys(errors).length > 0) return { ok: false, errors };
  return {
    ok: true,
    service: {
      id,
      name,
      target,
      probeType: values.kind,
      port: port ?? 0,
      intervalMs: Math.round(seconds * 1000),
      enabled: values.enabled,
    },
  };
}

// An id for a new service: unique among the ones given, only [a-z0-9-].
export function newServiceId(taken: ReadonlySet<string>, now = Date.now(), random = Math.random): string {
  const base = `svc-${now.toString(36)}-${Math.floor(random() * 36 ** 6)
    .toString(36)
    .padStart(6, '0')}`;
  let id = base;
  for (let n = 2; taken.has(id); n++) id = `${base}-${n}`;
  return id;
}
