import { describe, expect, it } from 'vitest';
import { checkServiceForm, formValues, newServiceId, type ServiceFormValues } from '../src/serviceForm';

const values = (v: Partial<ServiceFormValues>): ServiceFormValues => ({ ...formValues(), ...v });

describe('service form rules', () => {
  it('refuses what the application could not probe, saying which field is wrong', () => {
    const cases: [Partial<ServiceFormValues>, string, RegExp][] = [
      [{ target: '  ' }, 'target', /Enter what to check/],
      [{ target: 'my host' }, 'target', /spaces/],
      [{ kind: 'icmp', target: 'http://router' }, 'target', /only a host name/],
      [{ kind: 'dns', target: 'example.com:53' }, 'target', /only a host name/],
      [{ kind: 'tcp', target: 'nas.home' }, 'port', /needs a port/],
      [{ kind: 'tcp', target: 'nas.home:' }, 'target', /after the colon/],
      [{ kind: 'tcp', target: 'nas.home:70000' }, 'target', /after the colon/],
      [{ kind: 'tcp', target: ':22' }, 'target', /before the colon/],
      [{ kind: 'tcp', target: 'nas.home:22', port: '22' }, 'port', /once/],
      [{ kind: 'tcp', target: 'https://nas.home' }, 'target', /not a web address/],
      [{ kind: 'tcp', target: 'nas.home', port: '0' }, 'port', /1 to 65535/],
      [{ kind: 'http', target: 'x.example', port: '65536' }, 'port', /1 to 65535/],
      [{ kind: 'https', target: 'x.example', port: '44a' }, 'port', /1 to 65535/],
      [{ kind: 'http', target: 'ftp://x.example' }, 'target', /http:\/\/ or https:\/\//],
      [{ kind: 'https', target: 'http://x.example' }, 'target', /without encryption/],
      [{ kind: 'https', target: 'https://' }, 'target', /host name after https:\/\//],
      [{ target: 'x.example', interval: '4.9' }, 'interval', /at least 5 seconds/],
      [{ target: 'x.example', interval: '3601' }, 'interval', /at most 3600 seconds/],
      [{ target: 'x.example', interval: 'often' }, 'interval', /how often/],
      [{ target: 'x.example', interval: '' }, 'interval', /how often/],
      [{ target: 'x.example', name: 'n'.repeat(101) }, 'name', /100 characters/],
    ];
    for (const [input, field, message] of cases) {
      const check = checkServiceForm(values(input), 'svc-1');
      expect(check.ok, JSON.stringify(input)).toBe(false);
      if (!check.ok) expect(check.errors[field as keyof typeof check.errors], JSON.stringify(input)).toMatch(message);
    }
    // Every problem at once, not one per attempt.
    const many = checkServiceForm(values({ kind: 'tcp', target: 'a b', port: 'x', interval: '1' }), 'i');
    expect(!many.ok && Object.keys(many.errors).sort()).toEqual(['interval', 'port', 'target']);
  });

  it('builds the definition to send: trimmed, the name from the target, seconds as ms', () => {
    const cases: [Partial<ServiceFormValues>, Record<string, unknown>][] = [
      [
        { kind: 'https', target: ' example.com ', interval: '30' },
        { name: 'example.com', target: 'example.com', port: 0, intervalMs: 30000 },
      ],
      [
        { kind: 'tcp', target: 'nas.home:445', interval: '5' },
        { port: 0, intervalMs: 5000 },
      ],
      [
        { kind: 'tcp', target: 'nas.home', port: '22', name: ' NAS ' },
        { name: 'NAS', port: 22 },
      ],
      [
        { kind: 'http', target: 'HTTP://x.example/status', port: '8080', interval: '3600' },
        { port: 8080, intervalMs: 3600000 },
      ],
      [{ kind: 'https', target: 'x.example/a?b=c', interval: '7.5' }, { intervalMs: 7500 }],
      // The port field is greyed out for these kinds and not sent.
      [
        { kind: 'icmp', target: '192.168.1.1', port: '99', enabled: false },
        { port: 0, enabled: false },
      ],
    ];
    for (const [input, expected] of cases) {
      const check = checkServiceForm(values(input), 'svc-1');
      expect(check.ok && check.service, JSON.stringify(input)).toMatchObject({
        id: 'svc-1',
        probeType: input.kind,
        ...expected,
      });
    }
  });

  it('round-trips a saved service and makes fresh ids of the agreed characters', () => {
    const saved = {
      id: 's',
      name: 'NAS',
      target: 'nas.home',
      probeType: 'tcp' as const,
      port: 22,
      intervalMs: 60000,
      enabled: false,
    };
    const check = checkServiceForm(formValues(saved), 's');
    expect(check.ok && check.service).toEqual(saved);
    const id = newServiceId(new Set(), 1_700_000_000_000, () => 0.5);
    expect(id).toMatch(/^svc-[a-z0-9-]+$/);
    expect(newServiceId(new Set([id]), 1_700_000_000_000, () => 0.5)).not.toBe(id);
  });
});
