// Lab tests: the real program on a real network path made of namespaces (scripts/lab). quillon
// runs headless in the client namespace with the Linux adapters; a reader in the same namespace
// follows its messages; mtr traces the same path for comparison. Root only.
//
//   QUILLON_BIN=build/dev/src/app/quillon node --test tests/lab/*.lab.mjs
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
if (!isRoot) console.log('# lab tests skipped: they need root to build network namespaces');

// Discovery, measurement and hysteresis run in real time here: waits are a minute by default.
const waitFor = (what, check, ms = 60_000) => until(what, check, ms, 250);

function lab(...args) {
  return execFileSync(labScript, args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
}

function inClient(...args) {
  return execFileSync('ip', ['netns', 'exec', client, ...args], { encoding: 'utf8' });
}

// quillon in the client namespace, pinned to the lab interface, plus a reader of its messages.
async function startApp() {
  const app = await startQuillon('ip', (dataDir) => ['netns', 'exec', client, bin, '--headless',
    '--interface', 'c0', '--listen', '127.0.0.1:0', '--data-dir', dataDir]);
  const reader = spawn('ip', ['netns', 'exec', client, process.execPath,
    path.join(root, 'tests/lab/read_events.mjs'), app.url], { stdio: ['ignore', 'pipe', 'inherit'] });
  Object.assign(app, { state: null, states: 0, unreadable: [] });
  let pending = '';
  reader.stdout.on('data', (chunk) => {
    pending += chunk;
    let end;
    while ((end = pending.indexOf('\n')) >= 0) {
      const line = pending.slice(0, end);
      pending = pending.slice(end + 1);
      let message;
      try {
        message = JSON.parse(line);
      } catch {
        app.unreadable.push(line);
        continue;
      }
      if (message.type === 'networkState') {
        app.state = message;
        app.states += 1;
      }
    }
  });
  const stopApp = app.stop;
  app.stop = async () => {
    reader.kill('SIGTERM');
    await stopApp();
  };
  return app;
}

const hopOf = (state, n) => state?.hops?.find((h) => h.hopNumber === n);
const segmentOf = (state, id) => state?.segments?.find((s) => s.id === id);
const sameMac = (a, b) => a.toLowerCase().replace(/[-:]/g, '') === b.toLowerCase().replace(/[-:]/g, '');

describe('the real program on the lab network', { skip: !isRoot && 'needs root', concurrency: 1, timeout: 300_000 }, () => {
  let app;

  before(async () => {
    lab('up');
    app = await startApp();
  });

  after(async () => {
    await app?.stop();
    if (isRoot) lab('down');
  });

  it('discovers the path with names, AS numbers, labels and the gateway, as mtr sees it', async () => {
    const state = await waitFor('the four measured hops of the lab path', () => {
      const s = app.state;
      return s?.hops?.length === 4 && app.states >= 3 ? s : null;
    });
    const seen = state.hops.map((h) => [h.hopNumber, h.ip, h.hostname, h.asn ?? '', h.asnName ?? '', h.segment]);
    assert.deepEqual(seen, [
      [1, '192.168.1.1', 'router.home.lab', '', '', 'LOCAL'],
      [2, '203.0.113.1', 'bras1.lab-isp.net', '64500', 'LAB-ISP Lab Broadband, ZZ', 'ISP'],
      [3, '198.51.100.1', 'ae1.edge.lab-carrier.net', '64510', 'LAB-CARRIER Lab Carrier, ZZ', 'TRANS'],
      [4, '1.1.1.1', 'one.one.one.one', '13335', 'LAB-ANYCAST Lab Anycast, ZZ', 'DEST'],
    ]);
    // The gateway answers over a veth pair at once; behind the access line (5 ± 1 ms each
    // way) every hop answers in about 10 ms.
    assert.ok(state.hops[0].rttMs < 3, `gateway rtt ${state.hops[0].rttMs}`);
    for (const hop of state.hops.slice(1)) {
      assert.ok(hop.rttMs >= 7 && hop.rttMs < 30, `hop ${hop.hopNumber} rtt ${hop.rttMs}`);
    }
    for (const hop of state.hops) assert.equal(hop.loss, 0, `hop ${hop.hopNumber} loss`);
    const device = segmentOf(state, 'device').details;
    assert.equal(device.interfaceName, 'c0');
    assert.equal(device.localIP, '192.168.1.100');
    const home = segmentOf(state, 'homeNetwork').details;
    assert.equal(home.gatewayIP, '192.168.1.1');
    assert.ok(sameMac(home.gatewayMAC, '02:5a:00:00:00:01'), home.gatewayMAC);
    assert.equal(state.culpritCallout, undefined);

    const report = inClient('mtr', '-n', '-r', '-c', '3', '1.1.1.1');
    const mtrHops = [...report.matchAll(/^\s*\d+\.\|--\s+(\S+)/gm)].map((m) => m[1]);
    assert.deepEqual(mtrHops, state.hops.map((h) => h.ip), report);

    assert.match(app.log(), /Primary path discovered: 4 nodes in registry/);
    assert.deepEqual(app.unreadable, [], 'every message the page gets is JSON');
  });

  it('blames the ISP for loss on its link, after the hysteresis delay', async () => {
    lab('impair', 'wan', 'loss', '40');
    const impairedAt = Date.now();
    try {
      const state = await waitFor('loss from the second hop on', () => {
        const s = app.state;
        return [2, 3, 4].every((n) => hopOf(s, n)?.loss > 0) ? s : null;
      });
      assert.equal(hopOf(state, 1).loss, 0, 'the gateway before the impaired link loses nothing');
      const callout = await waitFor('the ISP callout', () => app.state?.culpritCallout?.segmentId === 'isp' && app.state.culpritCallout, 90_000);
      assert.ok(Date.now() - impairedAt >= 10_000, 'the callout waits for the entry delay');
      assert.equal(segmentOf(app.state, 'isp').isCulprit, true);
      assert.ok(callout.title.length > 0 && callout.remedy.length > 0);
    } finally {
      lab('impair', 'wan', 'loss', '0');
    }
  });

  it('sees the default route go and come back, and discovers the path again', async () => {
    const before = app.log().length;
    inClient('ip', 'route', 'del', 'default');
    const gone = await waitFor('the lost gateway handled', () => {
      const text = app.log().slice(before);
      return text.includes('Gateway changed — full path reset') && text;
    });
    assert.match(gone, /Route change detected: delete[\s\S]*Handling network change notification/);

    const back = app.log().length;
    inClient('ip', 'route', 'add', 'default', 'via', '192.168.1.1', 'dev', 'c0');
    const log = await waitFor('the path discovered again', () => {
      const text = app.log().slice(back);
      return /Running traceroute to primary destination[\s\S]*Primary path discovered: 4 nodes/.test(text) && text;
    });
    // The gateway was forgotten when it vanished: its return counts as a new one.
    assert.match(log, /Route change detected: add[\s\S]*Gateway changed — full path reset[\s\S]*Running traceroute/);
    await waitFor('the path back on the page', () => app.state?.hops?.length === 4);
  });
});
