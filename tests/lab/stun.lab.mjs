// Lab tests of the public address: the real program in the client namespace asks the lab's STUN
// server (stun.lab.test, tests/lab/lab_stun.mjs) for its public address and shows it on the
// ISP segment of its network state; with no STUN answer it names the ISP from the path alone.
// Nothing in the lab translates addresses, so the address learned is the client's own
// 192.168.1.100, which has no AS data: the provider comes from the path's first ISP hop
// (AS64500, "LAB-ISP Lab Broadband, ZZ") in both cases. Behind stun-nat.lab.test, which answers
// as if the carrier's NAT had translated the client to 203.0.113.2, the address is public and
// the lab's information service (geo.lab.test) places it, the ISP's first router and
// www.lab.test. Root only.
//
//   QUILLON_BIN=build/dev/src/app/quillon node --test tests/lab/stun.lab.mjs
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { isRoot, lab, startInLab } from './in_lab.mjs';

// quillon in the lab asking `stunServer`, with every network state it posts in app.states.
async function startWith(stunServer) {
  const states = [];
  const app = await startInLab(['--stun-server', stunServer], (message) => {
    if (message.type === 'networkState') states.push(message);
  });
  return Object.assign(app, { states });
}

const ispOf = (state) => state?.segments?.find((s) => s.id === 'isp')?.details;

describe('the public address on the lab network', { skip: !isRoot && 'needs root', concurrency: 1, timeout: 120_000 }, () => {
  before(() => lab('up'));
  after(() => {
    if (isRoot) lab('down');
  });

  it('is learned from the lab STUN server and shown with the provider from the path', async () => {
    const app = await startWith('stun.lab.test');
    try {
      const state = await app.waitFor(() => app.states.findLast((s) => ispOf(s)?.publicIp && ispOf(s)?.providerSource),
        60_000, 'the public address on the ISP segment');
      const isp = ispOf(state);
      assert.equal(isp.publicIp, '192.168.1.100', JSON.stringify(isp));
      assert.equal(isp.asn, 'AS64500');
      assert.equal(isp.provider, 'LAB-ISP Lab Broadband, ZZ');
      assert.equal(isp.providerSource, 'path'); // the address itself has no AS data in the lab
      assert.equal(isp.status, undefined);
      assert.equal(state.publicIpInfo.ipAddress, '192.168.1.100');
      assert.ok(state.publicIpInfo.port > 0 && state.publicIpInfo.port < 65536, `port ${state.publicIpInfo.port}`);
      assert.match(app.log(), /\[INFO\] Public address learned: 192\.168\.1\.100 \(port \d+\)/);
      // Once shown, the address stays: no message after it goes back to "discovering".
      const first = app.states.indexOf(app.states.find((s) => ispOf(s)?.publicIp));
      assert.ok(app.states.slice(first).every((s) => ispOf(s)?.publicIp === '192.168.1.100'));
    } finally {
      await app.stop();
    }
  });

  it('names the ISP from the path when no STUN answer comes', async () => {
    // Nothing listens on this port: the request is refused or goes unanswered, as where UDP is
    // blocked.
    const app = await startWith('stun.lab.test:3479');
    try {
      const state = await app.waitFor(() => app.states.findLast((s) => ispOf(s)?.providerSource === 'path'),
        60_000, 'the provider from the path');
      const isp = ispOf(state);
      assert.deepEqual([isp.asn, isp.provider, isp.publicIp], ['AS64500', 'LAB-ISP Lab Broadband, ZZ', undefined]);
      assert.equal(state.publicIpInfo, undefined);
      assert.equal(state.segments.find((s) => s.id === 'isp').displayName, 'LAB-ISP Lab Broadband, ZZ');
    } finally {
      await app.stop();
    }
  });

  it('is placed by the information service, with the ISP router and the destination', async () => {
    const states = [];
    const app = await startInLab(
      ['--stun-server', 'stun-nat.lab.test', '--geoip-server', 'geo.lab.test', '--destination', '198.18.0.10'],
      (message) => {
        if (message.type === 'networkState') states.push(message);
      },
      { env: { SSL_CERT_FILE: '/run/qlab/certs/ca.pem' } },
    );
    const servicesOf = (state) => state?.segments?.find((s) => s.id === 'services')?.details;
    try {
      const state = await app.waitFor(
        () => states.findLast((s) => ispOf(s)?.ispDistanceMiles && servicesOf(s)?.distanceMiles),
        60_000, 'the public address, the ISP router and the destination placed');
      const isp = ispOf(state);
      assert.equal(isp.publicIp, '203.0.113.2');
      assert.equal(isp.publicHostname, 'nat1.lab-isp.net');
      assert.equal(isp.providerSource, 'stun');
      assert.equal(isp.location, 'Labton, Lab Valley, ZZ');
      assert.deepEqual([isp.latitude, isp.longitude], [45.5152, -122.6784]);
      assert.equal(isp.ispDistanceMiles, 165); // Farfield, where AS64500's first router is
      assert.deepEqual([servicesOf(state).destLocation, servicesOf(state).distanceMiles], ['Serverville, Lab Valley', 54]);
    } finally {
      await app.stop({ keepData: true });
    }
    // Kept for the next run: the three places, in the file the program wrote at exit.
    try {
      const cache = JSON.parse(fs.readFileSync(path.join(app.dataDir, 'ip_geolocation_cache.json'), 'utf8'));
      assert.deepEqual(Object.keys(cache).sort(), ['198.18.0.10', '203.0.113.1', '203.0.113.2']);
      assert.equal(cache['203.0.113.2'].geolocation.city, 'Labton');
    } finally {
      fs.rmSync(app.dataDir, { recursive: true, force: true });
    }
  });
});
