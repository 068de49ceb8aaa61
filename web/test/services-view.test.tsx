import { describe, expect, it } from 'vitest';
import { render } from 'preact-render-to-string';
import { ServicesView } from '../src/components/ServicesView';
import { ServiceForm } from '../src/components/ServiceForm';
import { App } from '../src/components/App';
import { PageStore } from '../src/store';
import { classesOf, inner, text } from './html';

const svc = (id: string, probeType: string, target: string, extra: Record<string, unknown> = {}) => ({
  enabled: true,
  id,
  intervalMs: 30000,
  name: id,
  port: 0,
  probeType,
  target,
  probed: true,
  ...extra,
});
const metrics = (payload: Record<string, unknown>) =>
  JSON.stringify({
    type: 'serviceMetrics',
    payload: { latencyMs: 0, lossPercent: 0, jitterMs: 0, success: true, timestamp: 1_700_000_000, ...payload },
  });
const timing = { dnsMs: 10, connectMs: 20, ttfbMs: 60, transferMs: 10, totalMs: 100, statusCode: 200 };

function page(services: ReturnType<typeof svc>[] | null, results: string[] = [], maxProbed = 5) {
  const store = new PageStore();
  if (services) store.accept(JSON.stringify({ type: 'serviceList', payload: { services, maxProbed } }), 0);
  for (const r of results) store.accept(r, 0);
  const commands = { saveService: () => {}, deleteService: () => {} };
  return { store, html: render(<ServicesView services={store.services} commands={commands} onFormOpen={() => {}} />) };
}

// Each service card's markup by the service's name.
function cards(html: string): Record<string, string> {
  const out: Record<string, string> = {};
  for (const [body] of html.matchAll(/<article\b[\s\S]*?<\/article>/g)) {
    const name = text(body.match(/<h3[^>]*>([\s\S]*?)<\/h3>/)?.[1] ?? '');
    out[name] = body;
  }
  return out;
}

describe('services view', () => {
  it('explains services before there are any, and waits for the list', () => {
    const empty = text(page([]).html);
    expect(empty).toMatch(/No services yet/);
    expect(empty).toMatch(/A service is something you rely on/);
    expect(empty).toMatch(/Add a service/);
    expect(text(page(null).html)).toMatch(/Waiting for the list of services/);
  });

  it('shows each service in its state with the figures of its kind', () => {
    const { html } = page(
      [
        svc('web', 'https', 'example.com'),
        svc('game', 'tcp', 'game.example:25565'),
        svc('router', 'icmp', '192.168.1.1'),
        svc('new', 'dns', 'example.org'),
        svc('off', 'icmp', 'printer.home', { enabled: false, probed: false }),
        svc('sixth', 'icmp', 'cam.home', { probed: false }),
      ],
      [
        metrics({
          serviceId: 'web',
          latencyMs: 100,
          httpTiming: timing,
          tlsInfo: { isValid: true, subject: 'example.com', issuer: 'Example CA', daysUntilExpiry: 41 },
        }),
        metrics({ serviceId: 'game', latencyMs: 5000, success: false, error: 'Connection timed out' }),
        metrics({ serviceId: 'router', latencyMs: 3, lossPercent: 0, jitterMs: 0.4 }),
        metrics({ serviceId: 'router', latencyMs: 4.5, lossPercent: 33.3, jitterMs: 1.2 }),
      ],
      4,
    );
    const c = cards(html);
    const state = (name: string) => text(inner(c[name], 'service-state') ?? '');
    expect(Object.keys(c).map(state)).toEqual([
      '✓Up',
      '✕FailingConnection timed out',
      '✓Up',
      '?Waitingfor the first result…',
      '?Not probedturned off',
      '?Not probedonly the first 4 services turned on are checked',
    ]);
    expect(classesOf(c.game, 'service')).toContain('status-critical');
    // The phase bar: widths in proportion, the figures in words for screen readers.
    expect([...c.web.matchAll(/class="phase phase-(\w+)" style="width: ?([\d.]+)%/g)].map((m) => [m[1], m[2]])).toEqual(
      [
        ['dnsMs', '10.00'],
        ['connectMs', '20.00'],
        ['ttfbMs', '60.00'],
        ['transferMs', '10.00'],
      ],
    );
    expect(c.web).toContain(
      'aria-label="Time taken: dns 10.0 ms, connect 20.0 ms, first byte 60.0 ms, transfer 10.0 ms; total 100.0 ms"',
    );
    expect(text(c.web)).toMatch(/Latency100\.0 msHTTP status200/);
    expect(text(inner(c.web, 'service-cert') ?? '')).toBe(
      'Certificate example.com · issued by Example CA · expires in 41 days',
    );
    // A failed connect has no latency worth showing; an echo check shows loss and jitter.
    expect(c.game).not.toContain('service-figures');
    expect(text(inner(c.router, 'service-figures') ?? '')).toBe(
      'Latency4.5 msLoss33 %Jitter1.2 msLoss over 2 checks17 %',
    );
    expect(c.router).toMatch(/<path class="spark-rtt" d="M[^"]+L/);
    expect(c.off).not.toContain('class="spark"');
    expect(text(html)).toMatch(/6 services: 2 up, 1 failing, 1 waiting, 2 not probed/);
    expect(text(html)).toMatch(/checks up to 4 services at a time/);
  });

  it('warns of a certificate about to expire and says when it has', () => {
    const cert = (days: number, success: boolean) => {
      const { html } = page(
        [svc('s', 'https', 's.example')],
        [
          metrics({
            serviceId: 's',
            success,
            httpTiming: timing,
            tlsInfo: { isValid: true, subject: 's', issuer: 'CA', daysUntilExpiry: days },
          }),
        ],
      );
      const expiry = inner(html, 'service-cert') ?? '';
      return [text(expiry).replace(/^.*· /, ''), classesOf(expiry, 'cert-expiry')?.[1]];
    };
    expect(cert(14, true)).toEqual(['expires in 14 days', 'cert-ok']);
    expect(cert(13, true)).toEqual(['expires in 13 days', 'cert-warn']);
    expect(cert(1, true)).toEqual(['expires in 1 day', 'cert-warn']);
    expect(cert(0, true)).toEqual(['expires within a day', 'cert-warn']);
    expect(cert(0, false)).toEqual(['expired', 'cert-bad']);
  });

  it('shows a failed delete on its service and a failed save in the form', () => {
    const { store } = page([svc('s', 'icmp', 'h')]);
    store.beginServiceChange({ action: 'delete', id: 's', name: 's' });
    store.accept(
      '{"type":"serviceChangeResult","payload":{"action":"delete","id":"s","ok":false,"error":"Could not delete"}}',
      0,
    );
    const commands = { saveService: () => {}, deleteService: () => {} };
    const html = render(<ServicesView services={store.services} commands={commands} onFormOpen={() => {}} />);
    expect(text(inner(cards(html).s, 'form-error') ?? '')).toBe('Could not delete');

    const form = render(
      <ServiceForm
        service={{ id: 's', name: 'Router', target: 'h', probeType: 'icmp', port: 0, intervalMs: 5000, enabled: true }}
        id="s"
        saving={false}
        error="The service could not be saved: disk full"
        onSave={() => {}}
        onCancel={() => {}}
      />,
    );
    expect(text(form)).toMatch(/Edit “Router”/);
    expect(form).toMatch(/role="alert">The service could not be saved: disk full</);
    expect(form).toMatch(/<input id="svc-port"[^>]*disabled/); // not used by ping
    expect(form).toMatch(/<input id="svc-interval"[^>]*value="5"/);
  });

  it('counts failing services on the tab', () => {
    const { store } = page(
      [svc('a', 'tcp', 'a:1'), svc('b', 'tcp', 'b:1')],
      [metrics({ serviceId: 'a', success: false })],
    );
    const tab = (s: PageStore) =>
      text(render(<App store={s} onRefresh={() => {}} />).match(/<button[^>]*id="tab-services"[\s\S]*?<\/button>/)![0]);
    expect(tab(store)).toBe('Services1 failing');
    store.accept(metrics({ serviceId: 'a', success: true }), 0);
    expect(tab(store)).toBe('Services2 services');
  });
});
