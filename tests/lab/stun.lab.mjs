// Lab tests of the public address: the real program in the client namespace asks the lab's STUN
// server (stun.lab.test, tests/lab/lab_stun.mjs) for its public address and shows it on the
// ISP segment of its network state; with no STUN answer it names the ISP from the path alone.
// Nothing in the lab translates addresses, so the address learned is the client's own
// 192.168.1.100, which has no AS data: the provider comes from the path's first ISP hop
// (AS64500, "LAB-ISP Lab Broadband, ZZ") in both cases. Root only.
//
//   QUILLON_BIN=build/dev/src/app/quillon node --test tests/lab/stun.lab.mjs
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { startQuillon, until } from '../support/quillon_process.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const bin = path.resolve(root, process.env.QUILLON_BIN ?? 'build/dev/src/app/quillon');
const labScript = path.join(root, 'scripts/lab');
const client = 'qlab-client';
const isRoot = process.getuid?.() === 0;

const lab = (...args) => execFileSync(labScript, args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });

// quillon in the client namespace asking `stunServer`, with every network state it posts kept
// in app.states.
async function startWith(stunServer) {
  const app = await startQuillon('ip', (dataDir) => ['netns', 'exec', client, bin, '--headless',
    '--interface', 'c0', '--listen', '127.0.0.1:0', '--data-dir', dataDir, '--stun-server', stunServer]);
  const reader = spawn('ip', ['netns', 'exec', client, process.execPath,
    path.join(root, 'tests/lab/read_events.mjs'), app.url], { stdio: ['ignore', 'pipe', 'inherit'] });
  app.states = [];
  let pending = '';
  reader.stdout.on('data', (chunk) => {
    pending += chunk;
    let end;
    while ((end = pending.indexOf('\n')) >= 0) {
      const message = JSON.parse(pending.slice(0, end));
      pending = pending.slice(end + 1);
      if (message.type === 'networkState') app.states.push(message);
    }
  });
  const stop = app.stop;
  app.stop = async () => {
    reader.kill('SIGTERM');
    await stop();
  };
  return app;
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
      const state = await until('the public address on the ISP segment',
        () => app.states.findLast((s) => ispOf(s)?.publicIp && ispOf(s)?.providerSource), 60_000, 250);
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
      const state = await until('the provider from the path',
        () => app.states.findLast((s) => ispOf(s)?.providerSource === 'path'), 60_000, 250);
      const isp = ispOf(state);
      assert.deepEqual([isp.asn, isp.provider, isp.publicIp], ['AS64500', 'LAB-ISP Lab Broadband, ZZ', undefined]);
      assert.equal(state.publicIpInfo, undefined);
      assert.equal(state.segments.find((s) => s.id === 'isp').displayName, 'LAB-ISP Lab Broadband, ZZ');
    } finally {
      await app.stop();
    }
  });
});
