// Lab tests: the real program on a real network path made of namespaces (scripts/lab). quillon
// runs headless in the client namespace with the Linux adapters; a reader in the same namespace
// follows its messages; mtr traces the same path for comparison. Root only.
//
// The path has seven hops: home gateway, carrier-grade NAT, two ISP routers, a transit router,
// a router that never answers and the far end holding 1.1.1.1. All suites share one lab; each
// impairment that is judged gets a fresh program, whose loss figures no earlier impairment
// has touched.
//
//   QUILLON_BIN=build/dev/src/app/quillon node --test tests/lab/*.lab.mjs
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { inClient, isRoot, lab, startInLab } from './in_lab.mjs';

if (!isRoot) console.log('# lab tests skipped: they need root to build network namespaces');

// The lab path as the program should show it, hop by hop: number, address, name, AS number,
// AS name and the traceroute's label. The carrier-grade NAT hop sits in shared address space
// without AS data, so the traceroute labels it LOCAL (the diagnosis counts it in the ISP's
// segment); the silent router is a gap.
const LAB_PATH = [
  [1, '192.168.1.1', 'router.home.lab', '', '', 'LOCAL'],
  [2, '100.72.0.1', 'cgnat1.lab-isp.net', '', '', 'LOCAL'],
  [3, '203.0.113.1', 'agg1.lab-isp.net', '64500', 'LAB-ISP Lab Broadband, ZZ', 'ISP'],
  [4, '203.0.113.65', 'core1.lab-isp.net', '64500', 'LAB-ISP Lab Broadband, ZZ', 'ISP'],
  [5, '198.51.100.1', 'ae1.edge.lab-carrier.net', '64510', 'LAB-CARRIER Lab Carrier, ZZ', 'TRANS'],
  [6, '*', '', '', '', '?'],
  [7, '1.1.1.1', 'one.one.one.one', '13335', 'LAB-ANYCAST Lab Anycast, ZZ', 'DEST'],
];
const DESTINATION = '1.1.1.1';
const PATH_LENGTH = LAB_PATH.length;

// quillon in the lab with its network states kept as they come in: app.state is the last,
// app.history[i] = { at, state } every one with the time it came. Discovery, measurement and
// hysteresis run in real time here: app.waitFor waits a minute by default.
async function startApp() {
  const history = [];
  const app = await startInLab([], (message, app) => {
    if (message.type !== 'networkState') return;
    app.state = message;
    history.push({ at: Date.now(), state: message });
  });
  return Object.assign(app, { history });
}

const hopOf = (state, n) => state?.hops?.find((h) => h.hopNumber === n);
const segmentOf = (state, id) => state?.segments?.find((s) => s.id === id);
const sameMac = (a, b) => a.toLowerCase().replace(/[-:]/g, '') === b.toLowerCase().replace(/[-:]/g, '');
// Hops that answered: the gap of the silent router carries no figures of its own.
const answeringHops = (state) => (state?.hops ?? []).filter((h) => h.ip !== '*');
// A hop shows loss over the long window or, where the message has it, the recent one.
const losing = (hop) => hop.loss > 0 || hop.recentLoss > 0;
// Every segment a message blames: the callout's and those marked as culprit. A callout that
// names no segment (evidence still being gathered) blames nothing.
const blamed = (state) => [...new Set([
  ...(state?.culpritCallout?.segmentId ? [state.culpritCallout.segmentId] : []),
  ...(state?.segments ?? []).filter((s) => s.isCulprit).map((s) => s.id),
])];
const pathComplete = (state) => state?.hops?.length === PATH_LENGTH && state.hops.at(-1).ip === DESTINATION;
// The whole path with round trips: every hop behind the access line has one (the gateway's,
// over a veth pair, can be below a millisecond and read 0).
const pathMeasured = (state) => pathComplete(state) &&
  answeringHops(state).every((h) => h.hopNumber === 1 || h.rttMs > 0);

// One line per message, for failure reports: seconds since `since`, status, callout, culprits,
// then address:loss of every hop (address:loss/recent loss where the message has both).
function brief({ at, state }, since) {
  const callout = state.culpritCallout;
  const said = callout ? `"${callout.title}"(${callout.segmentId || '-'})` : 'no callout';
  const hops = (state.hops ?? []).map((h) =>
    `${h.ip}:${h.loss}${h.recentLoss === undefined ? '' : `/${h.recentLoss}`}`).join(' ');
  return `+${((at - since) / 1000).toFixed(1)}s ${state.overallStatus} ${said} [${blamed(state)}] ${hops}`;
}

// Calls look(entry) on every message from history index `from` on, in order, until it returns
// true; fails when it throws (a broken rule) or after ms. Failures carry the messages seen.
async function follow(app, from, since, ms, look) {
  let next = from;
  try {
    await app.waitFor(() => {
      while (next < app.history.length) {
        if (look(app.history[next++])) return true;
      }
      return false;
    }, ms, 'the end of the observation');
  } catch (error) {
    const seen = app.history.slice(from).map((entry) => brief(entry, since)).join('\n');
    // The report prints the stack, which holds the message as it was made.
    error.stack = `${error.stack}\nmessages since the impairment:\n${seen}`;
    throw error;
  }
}

// Waits until the program shows the whole lab path measured and clean: the baseline an
// impairment is judged against.
function settled(app) {
  return app.waitFor(() => {
    const s = app.state;
    return pathMeasured(s) && s.overallStatus === 'healthy' && !answeringHops(s).some(losing) && s;
  }, 60_000, 'the clean, measured lab path');
}

// Bounds of the impairment tests: the time a 30 % loss may take to be named (a few measurement
// ticks of evidence and the hysteresis entry delay), and how long the verdict is watched after.
const NAMING_BOUND_MS = 60_000;
// The first lost echo is one echo: the verdict may take a few more to call the loss proven.
const REACTION_BOUND_MS = 15_000;
const HOME_WATCH_MS = 15_000;
const STEADY_WATCH_MS = 60_000;

describe('the real program on the lab network', { skip: !isRoot && 'needs root', concurrency: 1 }, () => {
  before(() => lab('up'));
  after(() => {
    if (isRoot) lab('down');
  });

  describe('a clean path, then loss on the access line and a default route that goes', { concurrency: 1, timeout: 240_000 }, () => {
    let app;

    before(async () => {
      app = await startApp();
    });

    after(async () => {
      await app?.stop();
    });

    it('discovers the path with names, AS numbers, labels and the gateway, as mtr sees it', async () => {
      const state = await app.waitFor(() => {
        const s = app.state;
        return pathMeasured(s) && app.history.length >= 3 ? s : null;
      }, 60_000, 'the seven hops of the lab path, measured');
      const seen = state.hops.map((h) =>
        [h.hopNumber, h.ip, h.hostname ?? '', h.asn ?? '', h.asnName ?? '', h.segment]);
      assert.deepEqual(seen, LAB_PATH);
      // The gateway answers over a veth pair at once; behind the access line (5 ± 1 ms each
      // way) every hop answers in about 10 ms.
      assert.ok(state.hops[0].rttMs < 3, `gateway rtt ${state.hops[0].rttMs}`);
      for (const hop of answeringHops(state).slice(1)) {
        assert.ok(hop.rttMs >= 7 && hop.rttMs < 30, `hop ${hop.hopNumber} rtt ${hop.rttMs}`);
      }
      for (const hop of answeringHops(state)) assert.equal(hop.loss, 0, `hop ${hop.hopNumber} loss`);
      const device = segmentOf(state, 'device').details;
      assert.equal(device.interfaceName, 'c0');
      assert.equal(device.localIP, '192.168.1.100');
      const home = segmentOf(state, 'homeNetwork').details;
      assert.equal(home.gatewayIP, '192.168.1.1');
      assert.ok(sameMac(home.gatewayMAC, '02:5a:00:00:00:01'), home.gatewayMAC);
      assert.equal(state.overallStatus, 'healthy');
      assert.equal(state.culpritCallout, undefined);

      // mtr shows the silent router as ???, the program as *.
      const report = inClient('mtr', '-n', '-r', '-c', '3', '-i', '0.3', DESTINATION);
      const mtrHops = [...report.matchAll(/^\s*\d+\.\|--\s+(\S+)/gm)].map((m) => (m[1] === '???' ? '*' : m[1]));
      assert.deepEqual(mtrHops, state.hops.map((h) => h.ip), report);

      assert.match(app.log(), /Primary path discovered: 6 nodes in registry/);
      assert.deepEqual(app.unreadable, [], 'every message the page gets is JSON');

      // Where the verdict counts each hop that answers: the gateway is the client's connection,
      // the carrier-grade NAT hop the ISP's despite its LOCAL label, the far end the services.
      assert.deepEqual(answeringHops(state).map((h) => [h.ip, h.segmentId]), [
        ['192.168.1.1', 'connection'],
        ['100.72.0.1', 'isp'],
        ['203.0.113.1', 'isp'],
        ['203.0.113.65', 'isp'],
        ['198.51.100.1', 'isp'],
        ['1.1.1.1', 'services'],
      ]);
    });

    it('blames the ISP for loss on the access line, whose first hop is the carrier-grade NAT, after the hysteresis delay', async () => {
      lab('impair', 'wan', 'loss', '40');
      const impairedAt = Date.now();
      try {
        const state = await app.waitFor(() => {
          const s = app.state;
          return pathComplete(s) && answeringHops(s).every((h) => h.hopNumber === 1 || losing(h)) ? s : null;
        }, 60_000, 'loss from the second hop on');
        assert.ok(!losing(hopOf(state, 1)), 'the gateway before the impaired link loses nothing');
        const callout = await app.waitFor(() => app.state?.culpritCallout?.segmentId === 'isp' && app.state.culpritCallout, 90_000, 'the ISP callout');
        assert.ok(Date.now() - impairedAt >= 10_000, 'the callout waits for the entry delay');
        assert.equal(segmentOf(app.state, 'isp').isCulprit, true);
        assert.equal(segmentOf(app.state, 'homeNetwork').isCulprit, false);
        assert.ok(callout.title.length > 0 && callout.remedy.length > 0);
      } finally {
        lab('impair', 'wan', 'loss', '0');
      }
    });

    it('sees the default route go and come back, and discovers the path again', async () => {
      const before = app.log().length;
      inClient('ip', 'route', 'del', 'default');
      const gone = await app.waitFor(() => {
        const text = app.log().slice(before);
        return text.includes('Gateway changed — full path reset') && text;
      }, 60_000, 'the lost gateway handled');
      assert.match(gone, /Route change detected: delete[\s\S]*Handling network change notification/);

      const back = app.log().length;
      inClient('ip', 'route', 'add', 'default', 'via', '192.168.1.1', 'dev', 'c0');
      // The gateway was forgotten when it vanished: whoever sees it back first (the network
      // change handler or a discovery cycle) resets, and the path is traced again at once.
      await app.waitFor(() => {
        const text = app.log().slice(back);
        return /Route change detected: add/.test(text) &&
          /Resetting path discovery[\s\S]*Running traceroute to primary destination[\s\S]*Primary path discovered: [1-9]/.test(text);
      }, 60_000, 'the path discovered again');
      await app.waitFor(() => pathComplete(app.state), 60_000, 'the path back on the page');
    });
  });

  // The home link (client to gateway) loses 30 % of what the client sends: every hop shows it,
  // the gateway first, so the client's own connection is to blame and nothing beyond it. The
  // verdict reacts within seconds of the first lost echo and from then on never says healthy.
  it('names the client\'s connection for 30 % loss on the home link, and never calls the path healthy meanwhile', { timeout: 180_000 }, async () => {
    const app = await startApp();
    try {
      await settled(app);
      const from = app.history.length;
      lab('impair', 'lan', 'loss', '30');
      const impairedAt = Date.now();
      let lossSeenAt = null;
      let reactedAt = null;
      let namedAt = null;
      await follow(app, from, impairedAt, NAMING_BOUND_MS + HOME_WATCH_MS + 10_000, (entry) => {
        const { at, state } = entry;
        const when = `at +${((at - impairedAt) / 1000).toFixed(1)} s: ${brief(entry, impairedAt)}`;
        if (lossSeenAt === null && answeringHops(state).some(losing)) lossSeenAt = at;
        assert.deepEqual(blamed(state).filter((id) => id !== 'connection'), [],
          `only the connection may be blamed, ${when}`);
        if (reactedAt === null && state.overallStatus !== 'healthy') reactedAt = at;
        if (reactedAt !== null) {
          assert.notEqual(state.overallStatus, 'healthy', `healthy again while the loss lasts, ${when}`);
        } else if (lossSeenAt !== null) {
          assert.ok(at - lossSeenAt <= REACTION_BOUND_MS,
            `still healthy ${REACTION_BOUND_MS / 1000} s after the first lost echo, ${when}`);
        }
        const callout = state.culpritCallout;
        if (namedAt === null && callout?.segmentId === 'connection') {
          assert.equal(callout.title, 'WiFi Connection Issue', when);
          assert.equal(segmentOf(state, 'connection').isCulprit, true, when);
          namedAt = at;
        }
        if (namedAt === null) {
          assert.ok(at - impairedAt <= NAMING_BOUND_MS,
            `the connection is not named within ${NAMING_BOUND_MS / 1000} s, ${when}`);
        }
        return namedAt !== null && at - namedAt >= HOME_WATCH_MS;
      });
      assert.ok(lossSeenAt !== null && lossSeenAt <= namedAt, 'the loss shows before the verdict');
    } finally {
      lab('impair', 'lan', 'loss', '0');
      await app.stop();
    }
  });

  // The link just past the carrier-grade NAT (100.72.0.1 to 203.0.113.1) loses 30 %: the NAT
  // hop stays clean, everything from the first ISP router on loses. The verdict is the ISP and
  // stays the ISP: one named segment for a minute, no other ever, and the hop list keeps to
  // the path (nothing after the destination, however many answers are lost on the way).
  it('names the ISP for 30 % loss just past the carrier-grade NAT and holds that verdict for a minute', { timeout: 210_000 }, async () => {
    const app = await startApp();
    try {
      await settled(app);
      const from = app.history.length;
      lab('impair', 'backhaul', 'loss', '30');
      const impairedAt = Date.now();
      let namedAt = null;
      await follow(app, from, impairedAt, NAMING_BOUND_MS + STEADY_WATCH_MS + 10_000, (entry) => {
        const { at, state } = entry;
        const when = `at +${((at - impairedAt) / 1000).toFixed(1)} s: ${brief(entry, impairedAt)}`;
        const hops = state.hops ?? [];
        assert.ok(hops.length <= PATH_LENGTH, `more than ${PATH_LENGTH} rows, ${when}`);
        const destination = hops.findIndex((h) => h.ip === DESTINATION);
        assert.ok(destination === -1 || destination === hops.length - 1,
          `rows after the destination, ${when}`);
        assert.deepEqual(blamed(state).filter((id) => id !== 'isp'), [],
          `only the ISP may be blamed, ${when}`);
        const named = state.culpritCallout?.segmentId === 'isp' && segmentOf(state, 'isp')?.isCulprit === true;
        if (namedAt === null) {
          if (named) namedAt = at;
          else {
            assert.ok(at - impairedAt <= NAMING_BOUND_MS,
              `the ISP is not named within ${NAMING_BOUND_MS / 1000} s, ${when}`);
          }
        } else {
          assert.ok(named, `the verdict changed ${((at - namedAt) / 1000).toFixed(1)} s after naming the ISP, ${when}`);
        }
        return namedAt !== null && at - namedAt >= STEADY_WATCH_MS;
      });
      // The whole path is on the page at the end (a trace being repeated may show part of it
      // for a few seconds), and the NAT hop before the impaired link has lost nothing.
      const last = await app.waitFor(() => pathComplete(app.state) && app.state, 15_000, 'the whole path on the page');
      assert.ok(!losing(hopOf(last, 2)), 'the carrier-grade NAT hop before the impaired link loses nothing');
    } finally {
      lab('impair', 'backhaul', 'loss', '0');
      await app.stop();
    }
  });
});
