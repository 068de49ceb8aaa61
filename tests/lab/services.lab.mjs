// Lab tests of service probes: the real program in the client namespace probes the lab's far
// end (scripts/lab: www.lab.test over HTTP and HTTPS, a self-signed and an expired certificate,
// a game server's TCP port, the lab's DNS), trusting the lab's CA through SSL_CERT_FILE, and its
// "serviceMetrics" messages are read from the page bridge. Root only.
//
//   QUILLON_BIN=build/dev/src/app/quillon node --test tests/lab/services.lab.mjs
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { isRoot, lab, startInLab } from './in_lab.mjs';

// quillon with these services (id -> [kind, target]), trusting the lab's CA; the last
// serviceMetrics payload of each service is in app.metrics.
async function startWith(services) {
  const files = {};
  for (const [id, [probeType, target]] of Object.entries(services)) {
    files[`services.d/${id}.json`] = JSON.stringify({ id, target, probeType, intervalMs: 2000 });
  }
  const metrics = {};
  const app = await startInLab([], (message) => {
    if (message.type === 'serviceMetrics') metrics[message.payload.serviceId] = message.payload;
  }, { env: { SSL_CERT_FILE: '/run/qlab/certs/ca.pem' }, files });
  app.metrics = metrics;
  try {
    await app.waitFor(() => Object.keys(services).every((id) => metrics[id]), 30_000, 'a result of every service');
  } catch (error) {
    await app.stop();
    throw error;
  }
  return app;
}

const days = (from, to) => Math.floor((to - from) / 86_400_000);

describe('service probes on the lab network', { skip: !isRoot && 'needs root', concurrency: 1, timeout: 120_000 }, () => {
  before(() => lab('up'));
  after(() => {
    if (isRoot) lab('down');
  });

  it('measures a ping, a name, a game port and a web site, with its certificate', async () => {
    const app = await startWith({
      a_icmp: ['icmp', '1.1.1.1'],
      b_dns: ['dns', 'www.lab.test'],
      c_tcp: ['tcp', 'game.lab.test:27015'],
      d_closed: ['tcp', 'game.lab.test:27016'],
      e_web: ['https', 'www.lab.test/'],
    });
    try {
      const m = app.metrics;
      const list = app.messages.find((message) => message.type === 'serviceList').payload;
      assert.equal(list.services.length, 5);
      assert.ok(list.services.every((s) => s.probed));

      assert.equal(m.a_icmp.success, true);
      assert.equal(m.a_icmp.lossPercent, 0);
      // Behind the access line (5 ± 1 ms each way) and six routers.
      assert.ok(m.a_icmp.latencyMs >= 7 && m.a_icmp.latencyMs < 40, `icmp ${m.a_icmp.latencyMs}`);

      assert.equal(m.b_dns.success, true, JSON.stringify(m.b_dns));
      assert.ok(m.b_dns.latencyMs > 0);

      assert.equal(m.c_tcp.success, true, JSON.stringify(m.c_tcp));
      assert.ok(m.c_tcp.latencyMs >= 7, `tcp ${m.c_tcp.latencyMs}`);
      assert.equal(m.d_closed.success, false);
      assert.equal(m.d_closed.error, 'Connection failed');

      const web = m.e_web;
      assert.equal(web.success, true, JSON.stringify(web));
      const t = web.httpTiming;
      assert.equal(t.statusCode, 200);
      // Each phase crosses the access line at least once: a look-up at the gateway is local.
      assert.ok(t.dnsMs > 0, `dns ${t.dnsMs}`);
      assert.ok(t.connectMs >= 14, `connect (TCP and TLS: two round trips at least) ${t.connectMs}`);
      assert.ok(t.ttfbMs >= 7, `first byte ${t.ttfbMs}`);
      assert.ok(t.transferMs >= 0);
      assert.ok(Math.abs(t.totalMs - (t.dnsMs + t.connectMs + t.ttfbMs + t.transferMs)) <= 0.2, JSON.stringify(t));
      assert.equal(web.latencyMs, t.totalMs);
      assert.equal(web.tlsInfo.subject, 'www.lab.test');
      assert.equal(web.tlsInfo.issuer, 'Quillon Lab CA');
      const pem = fs.readFileSync('/run/qlab/certs/www.pem', 'utf8');
      const notAfter = new Date(execFileSync('openssl', ['x509', '-noout', '-enddate'], { input: pem, encoding: 'utf8' })
        .trim().replace('notAfter=', ''));
      assert.equal(web.tlsInfo.daysUntilExpiry, days(web.timestamp * 1000, notAfter));
    } finally {
      await app.stop();
    }
  });

  it('reports what failed: a status, a self-signed or expired certificate, a loop, an unknown name', async () => {
    const app = await startWith({
      a_404: ['http', 'www.lab.test/status/404'],
      b_self: ['https', 'selfsigned.lab.test'],
      c_expired: ['https', 'https://expired.lab.test/'],
      d_loop: ['http', 'http://www.lab.test/loop'],
      e_nosuch: ['dns', 'nosuch.lab.test'],
    });
    try {
      const m = app.metrics;
      assert.deepEqual([m.a_404.success, m.a_404.error, m.a_404.httpTiming.statusCode], [false, 'HTTP 404', 404]);
      assert.equal(m.b_self.success, false);
      assert.equal(m.b_self.error, 'Failed to send request');
      assert.equal(m.b_self.tlsInfo.subject, 'selfsigned.lab.test');
      assert.equal(m.b_self.tlsInfo.issuer, 'selfsigned.lab.test');
      assert.equal(m.c_expired.error, 'Failed to send request');
      assert.equal(m.c_expired.tlsInfo.subject, 'expired.lab.test');
      assert.equal(m.c_expired.tlsInfo.daysUntilExpiry, 0);
      assert.equal(m.d_loop.success, false);
      assert.equal(m.d_loop.error, 'Failed to receive response');
      assert.equal(m.e_nosuch.error, 'DNS query failed');
      // The program goes on probing after failures.
      const first = m.b_self.timestamp;
      await app.waitFor(() => app.metrics.b_self.timestamp > first, 15_000, 'a second round of results');
    } finally {
      await app.stop();
    }
  });
});
