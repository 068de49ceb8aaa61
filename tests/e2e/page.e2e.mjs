// Browser tests of the page against the real application: quillon runs headless on a
// simulated network, Debian's Chromium opens the address it prints. Nothing leaves loopback.
//
//   QUILLON_BIN=build/dev/src/app/quillon QUILLON_OUT=build/dev/e2e node --test tests/e2e/*.e2e.mjs
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { startQuillon, until } from '../support/quillon_process.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const { chromium } = createRequire(path.join(root, 'web/package.json'))('playwright-core');
const bin = path.resolve(root, process.env.QUILLON_BIN ?? 'build/dev/src/app/quillon');
const out = path.resolve(root, process.env.QUILLON_OUT ?? 'build/dev/e2e');
const worlds = path.join(root, 'tests/scenario/worlds');
const ownWorlds = path.join(root, 'tests/e2e/worlds');

const CHROMIUM_ARGS = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-dev-shm-usage',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
  '--no-first-run',
];

// The application on a scenario, its page address printed.
function startApp(world) {
  return startQuillon(bin, (dataDir) => ['--headless', '--listen', '127.0.0.1:0', '--simulate', world, '--data-dir', dataDir]);
}

// The two worlds run side by side; the steps within each run in order on one page.
describe('the page in a browser', { concurrency: 2 }, () => {
  describe('page on a simulated healthy home with fifteen hops', { concurrency: 1 }, () => {
    let browser;
    let app;
    let page;

    before(async () => {
      fs.mkdirSync(out, { recursive: true });
      app = await startApp(path.join(ownWorlds, 'long_path.json'));
      browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: CHROMIUM_ARGS });
      page = await browser.newPage({ viewport: { width: 850, height: 750 } });
      await page.goto(app.url);
    });

    after(async () => {
      await browser?.close();
      await app?.stop();
    });

    it('shows the hops and the five segments of the path', async () => {
      await page.waitForSelector('table.hops tbody tr', { timeout: 60_000 });
      await until('fifteen hops', () => page.$$eval('table.hops tbody tr', (rows) => rows.length === 15));
      const last = await page.textContent('table.hops tbody tr:last-child .col-addr');
      assert.match(last, /1\.1\.1\.1\s*dns1\.anycast\.example/);
      await until('five segments', () => page.$$eval('.path-list .segment:not([disabled])', (b) => b.length === 5));
      const categories = await page.$$eval('.segment-category', (els) => els.map((e) => e.textContent.trim().replace(/^\S+\s/, '')));
      assert.deepEqual(categories, ['Client', 'Link', 'Gateway', 'ISP', 'Destination']);
      await until('a healthy verdict', async () => (await page.textContent('#overall-title')) === 'Your connection looks good');
      // Each hop is placed as the verdict counts it: the carrier-grade NAT hop (100.64.0.1,
      // private-looking) belongs to the ISP; the transit routers are the wider internet.
      const where = await page.$$eval('table.hops tbody tr', (rows) =>
        rows.map((r) => [r.querySelector('.col-addr').firstChild.textContent, r.querySelector('.col-where').textContent]));
      assert.deepEqual(where.slice(0, 5), [
        ['192.168.1.1', 'Home'],
        ['100.64.0.1', 'ISP'],
        ['203.0.113.1', 'ISP'],
        ['203.0.113.65', 'ISP'],
        ['198.51.100.9', 'Internet'],
      ]);
      assert.deepEqual(where.at(-1), ['1.1.1.1', 'Destination']);
      // The loss over the most recent echoes stands beside the long-window loss, with its echo count.
      await until('recent loss on every hop', () =>
        page.$$eval('table.hops tbody .col-loss-now', (cells) => cells.length === 15 && cells.every((c) => /^0 % of \d+ echoes$/.test(c.textContent))));
      // Let updates arrive so the histories fill and the render times settle.
      await until('twelve updates', () => page.evaluate(() => window.quillon.store.messages >= 12), 90_000);
      await page.click('table.hops tbody tr:nth-child(2) .hop-button');
      await page.waitForSelector('.hop-chart .uplot');
      await page.screenshot({ path: path.join(out, 'healthy.png'), fullPage: true });
      // Render cost of one network state with fifteen hops and their histories: the last real
      // message again, fifty times, each rendered before the next (after screenshots, so
      // nothing a person looks at is changed by it).
      const times = await page.evaluate(async () => {
        const store = window.quillon.store;
        const message = JSON.parse(JSON.stringify(store.state));
        for (let k = 0; k < 50; k++) {
          store.accept(message, Date.now());
          await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0)));
        }
        return store.renderTimes.slice(-50).sort((a, b) => a - b);
      });
      assert.equal(times.length, 50);
      const median = times[Math.floor(times.length / 2)];
      console.log(`render time of a 15-hop network state: median ${median.toFixed(2)} ms, 90th percentile ${times[44].toFixed(2)} ms`);
    });

    it('reports a script error to the application log', async () => {
      await page.evaluate(() => setTimeout(() => {
        throw new Error('e2e "probe" error');
      }));
      const line = await until('the error in the log', () =>
        app.log().split('\n').find((l) => l.includes('JavaScript error') && l.includes('probe')));
      assert.match(line, /JavaScript error \[window\.onerror [^\]]+\]: Error: e2e 'probe' error/);
      // The page itself has raised nothing so far (resizing the chart once did).
      assert.equal(app.log().split('\n').filter((l) => l.includes('JavaScript error')).length, 1);
    });

    it('asks the application to rediscover the path', async () => {
      await page.click('text=Rediscover path');
      await until('the reset in the log', () => app.log().includes('Resetting path discovery'));
      await until('feedback', async () => /rediscover/i.test(await page.textContent('#notice')));
    });
  });

  describe('page on a computer that does not permit ping', { concurrency: 1 }, () => {
    let browser;
    let app;
    let world;

    before(async () => {
      fs.mkdirSync(out, { recursive: true });
      // The healthy home, but opening an ICMP handle fails.
      const healthy = JSON.parse(fs.readFileSync(path.join(worlds, 'healthy_home.json'), 'utf8'));
      world = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'quillon-e2e-')), 'no_icmp.json');
      fs.writeFileSync(world, JSON.stringify({ ...healthy, icmpAvailable: false }));
      app = await startApp(world);
      browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: CHROMIUM_ARGS });
    });

    after(async () => {
      await browser?.close();
      await app?.stop();
      if (world) fs.rmSync(path.dirname(world), { recursive: true, force: true });
    });

    it('says so in a neutral callout that blames no part of the path', async () => {
      const page = await browser.newPage({ viewport: { width: 850, height: 750 } });
      await page.goto(app.url);
      await until('the callout', () => page.$('.callout'), 60_000);
      assert.equal(await page.textContent('.callout h2'), 'Not checked: Ping Not Permitted');
      assert.equal(await page.getAttribute('.callout', 'class'), 'callout status-unknown');
      assert.equal(await page.$('.callout-where'), null);
      assert.match(await page.textContent('.callout-remedy'), /^What you can do: \S/);
      assert.equal(await page.textContent('#overall-title'), "Your connection can't be checked");
      assert.match(await page.textContent('.hops-section'), /cannot measure the path/);
      await page.screenshot({ path: path.join(out, 'no-icmp.png'), fullPage: true });
    });
  });

  describe('page on the simulated WiFi loss', { concurrency: 1 }, () => {
    let browser;
    let app;

    before(async () => {
      fs.mkdirSync(out, { recursive: true });
      app = await startApp(path.join(worlds, 'wifi_loss.json'));
      browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: CHROMIUM_ARGS });
    });

    after(async () => {
      await browser?.close();
      await app?.stop();
    });

    it('shows the callout and marks its segment once the impairment has lasted', async () => {
      const page = await browser.newPage({ viewport: { width: 850, height: 750 } });
      await page.goto(app.url);
      await page.waitForSelector('table.hops tbody tr', { timeout: 60_000 });
      // Loss starts 30 s into the scenario and must last 10 s before it is shown; the verdict
      // may say it is still checking before it names a segment.
      await until('the callout naming a segment', () => page.$('.callout .callout-where'), 120_000);
      const title = await page.textContent('.callout h2');
      assert.match(title, /^(Degraded|Problem): \S/);
      // The segment the callout names is the one marked on the path, and only that one.
      const where = await page.textContent('.callout-where strong');
      const culprit = await page.$$eval('.path-item.culprit .segment-category', (els) => els.map((e) => e.textContent));
      assert.equal(culprit.length, 1);
      assert.ok(culprit[0].endsWith(where), `callout names ${where}, path marks ${culprit[0]}`);
      assert.match(await page.textContent('#overall-title'), /trouble|problem/);
      // The table agrees with the verdict: the first hop, behind the lossy WiFi, shows its
      // recent loss marked, while the long-window figure, diluted by the healthy start, may not.
      const first = await page.$eval('table.hops tbody tr:first-child', (r) => ({
        now: r.querySelector('.col-loss-now').textContent,
        marked: r.querySelector('.col-loss-now .figure').classList.contains('bad'),
        where: r.querySelector('.col-where').textContent,
      }));
      assert.ok(first.marked, `recent loss of hop 1: ${first.now}`);
      assert.equal(first.where, 'Home');
      await page.screenshot({ path: path.join(out, 'impaired.png'), fullPage: true });
      await page.setViewportSize({ width: 400, height: 750 });
      await page.screenshot({ path: path.join(out, 'impaired-narrow.png'), fullPage: true });
      await page.close();
    });

    it('says why, lists both destinations and what lies beyond the problem', async () => {
      const page = await browser.newPage({ viewport: { width: 1280, height: 900 } });
      await page.goto(app.url);
      // The WiFi link (hop 1) is blamed, with the loss measured there and the time it was first shown.
      const why = await until('the reason under the callout', async () => {
        const t = await page.textContent('.callout-why').catch(() => null);
        return t && /^Why: loss/.test(t) ? t : null;
      }, 60_000);
      assert.match(why, /^Why: loss \d+(\.\d)? % at hop 1 \(192\.168\.1\.1\) since \d\d:\d\d$/);
      // Both destinations with their own figures, the main one first.
      const destinations = await page.$$eval('.destination', (els) => els.map((e) => e.textContent));
      assert.equal(destinations.length, 2);
      assert.match(destinations[0], / 1\.1\.1\.1MainAnswers pingResponse time\d+\.\d ms/);
      assert.match(destinations[1], / 8\.8\.8\.8Answers pingResponse time\d+\.\d ms/);
      // The parts after the link are measured, not "not checked".
      const words = await page.$$eval('.path-list .badge-text', (els) => els.map((e) => e.textContent));
      assert.deepEqual(words.slice(2), ['Beyond the problem', 'Beyond the problem', 'Beyond the problem']);
      // At this width no AS name is cut off.
      const cut = await page.$$eval('.hops .as-name', (els) => els.filter((e) => e.scrollWidth > e.clientWidth).length);
      assert.equal(cut, 0);
      await page.screenshot({ path: path.join(out, 'impaired-why.png'), fullPage: true });
      await page.close();
    });
    it('shows the WiFi link card with the weaker signal and the access points around', async () => {
      const page = await browser.newPage({ viewport: { width: 1280, height: 900 } });
      await page.goto(app.url);
      // From 30 s the signal is 41 % and two more access points share channel 36.
      await until('the weaker signal', async () => (await page.getAttribute('.wifi-card .signal-bar', 'aria-valuenow').catch(() => null)) === '41', 60_000);
      assert.equal(await page.textContent('.wifi-card .wifi-name'), 'Maple Street');
      assert.ok(await page.$('.wifi-card .signal-fair'), 'a fair signal is marked so');
      assert.equal(await page.textContent('.wifi-card .wifi-radio'), 'Channel 36 · 5 GHz · 80 MHz');
      assert.equal(await page.textContent('.wifi-card .wifi-neighbours'), '2 on this channel, 4 heard in all');
      assert.match(await page.textContent('.wifi-card'), /WPA2-Personal/);
      // The path names the link after its network.
      assert.match(await page.textContent('.path-list'), /Maple Street/);
      const card = await page.$('.wifi-card');
      await card.screenshot({ path: path.join(out, 'wifi-card.png') });
      await page.close();
    });
    it('copies a report and keeps the trouble in the history, which it exports', async () => {
      const context = await browser.newContext({ viewport: { width: 850, height: 750 } });
      await context.grantPermissions(['clipboard-read', 'clipboard-write']);
      const page = await context.newPage();
      await page.goto(app.url);
      await until('the callout naming a segment', () => page.$('.callout .callout-where'), 120_000);
      await page.click('text=Copy report');
      await until('the report copied', async () => /copied/i.test(await page.textContent('.report-status')));
      const report = await page.evaluate(() => navigator.clipboard.readText());
      assert.match(report, /192\.168\.1\.1/);
      assert.match(report, new RegExp(await page.textContent('.callout-where strong')));

      // The History view reads the archive, so a reload loses nothing.
      await page.reload();
      await page.click('#tab-history');
      await until('the WiFi trouble in the history',
        async () => /WiFi Connection Issue/.test((await page.textContent('.history-verdicts').catch(() => '')) ?? ''), 30_000);
      // The charts are drawn a frame after the list they follow.
      await page.waitForSelector('.history-charts .uplot', { timeout: 10_000 });
      await page.screenshot({ path: path.join(out, 'history.png'), fullPage: true });

      await page.click('text=Export CSV');
      await until('the export saved', async () => /Saved/.test(await page.textContent('.export-status')), 30_000);
      const downloads = path.join(app.dataDir, 'Downloads');
      const [file] = fs.readdirSync(downloads);
      assert.match(file, /^quillon-history-\d{8}-\d{4}\.csv$/);
      const lines = fs.readFileSync(path.join(downloads, file), 'utf8').trim().split('\n');
      assert.equal(lines[0], 'ts,hop,ttl,rtt_ms,timeout');
      const said = (await page.textContent('.export-status')).match(/Saved ([\d,]+) records/);
      assert.equal(Number(said[1].replace(/,/g, '')), lines.length - 1);
      // The WiFi link loses one echo in five, and every hop behind it shares the loss: over
      // the regular echoes of all hops, some are lost (any single hop may have been lucky).
      assert.ok(lines.some((l) => /,,true$/.test(l)), 'lost echoes in the export');
      await context.close();
    });

  });

  describe('gateway sign-in on the simulated healthy home, whose router is a console', { concurrency: 1 }, () => {
    let browser;
    let app;

    before(async () => {
      fs.mkdirSync(out, { recursive: true });
      app = await startApp(path.join(worlds, 'healthy_home.json'));
      browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: CHROMIUM_ARGS });
    });

    after(async () => {
      await browser?.close();
      await app?.stop();
    });

    it('signs in with the one-time code, stays signed in across a reload and forgets', async () => {
      const page = await browser.newPage({ viewport: { width: 1280, height: 900 } });
      await page.goto(app.url);
      const card = '.gateway-card';
      const said = async () => (await page.textContent(card).catch(() => '')) ?? '';
      await until('the console recognised', async () => /Not signed in/.test(await said()), 60_000);
      assert.match(await said(), /Model UDR at 192\.168\.1\.1/);
      assert.match(await page.textContent('.path-list'), /UDR/);

      await page.click(`${card} button:has-text("Sign in to your gateway")`);
      assert.equal(await page.getAttribute('#gw-password', 'type'), 'password');
      await page.fill('#gw-username', 'admin');
      await page.fill('#gw-password', 'not-the-password');
      await page.click(`${card} button[type=submit]`);
      await until('the wrong password said', async () => /user name or password is not right/.test(await said()));
      assert.equal(await page.inputValue('#gw-password'), '', 'a refused password is typed again');
      await page.fill('#gw-password', 'maple-street');
      await page.click(`${card} button[type=submit]`);
      await page.waitForSelector('#gw-code');
      await page.fill('#gw-code', '123456');
      await page.screenshot({ path: path.join(out, 'gateway-code.png'), fullPage: true });
      await page.click(`${card} button[type=submit]`);
      await until('signed in', async () => /Signed in as admin/.test(await said()));
      // The password stays nowhere: not in the page's state, not on the page, not in the log.
      assert.ok(!(await page.evaluate(() => JSON.stringify(window.quillon.store.gateway))).includes('maple-street'));
      assert.ok(!(await page.content()).includes('maple-street'));
      assert.ok(!app.log().includes('maple-street'));
      await page.screenshot({ path: path.join(out, 'gateway-signed-in.png'), fullPage: true });
      await page.setViewportSize({ width: 400, height: 800 });
      await page.screenshot({ path: path.join(out, 'gateway-signed-in-narrow.png'), fullPage: true });

      // The saved session holds across a reload; forgetting it signs out.
      await page.reload();
      await until('still signed in', async () => /Signed in as admin/.test(await said()), 60_000);
      await page.click(`${card} button:has-text("Forget sign-in")`);
      await until('signed out', async () => /Not signed in/.test(await said()));
      assert.ok(await page.$(`${card} button:has-text("Sign in to your gateway")`));
      await page.close();
    });
  });

  describe('a program that is killed', { concurrency: 1 }, () => {
    it('keeps every measurement but the last minute', { timeout: 120_000 }, async () => {
      const app = await startApp(path.join(worlds, 'healthy_home.json'));
      try {
        await new Promise((resolve) => setTimeout(resolve, 75_000));
        const killedAt = Date.now();
        app.child.kill('SIGKILL');
        await new Promise((resolve) => app.child.once('exit', resolve));
        const folder = path.join(app.dataDir, 'Data');
        const text = fs.readdirSync(folder).filter((f) => f.startsWith('ping_samples_'))
          .map((f) => fs.readFileSync(path.join(folder, f), 'utf8')).join('');
        assert.ok(text.endsWith('\n'), 'only whole lines');
        const times = text.trim().split('\n').map((line) => Date.parse(JSON.parse(line).ts));
        assert.ok(killedAt - Math.max(...times) <= 65_000, `newest kept ${killedAt - Math.max(...times)} ms before the kill`);
        assert.ok(killedAt - Math.min(...times) >= 60_000, 'the first minute is kept');
      } finally {
        await app.stop();
      }
    });

  });

  describe('services on the simulated healthy home', { concurrency: 1 }, () => {
    let browser;
    let app;

    before(async () => {
      fs.mkdirSync(out, { recursive: true });
      app = await startApp(path.join(worlds, 'healthy_home.json'));
      browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: CHROMIUM_ARGS });
    });

    after(async () => {
      await browser?.close();
      await app?.stop();
    });

    it('names the makers, the provider and where the public address is', async () => {
      const page = await browser.newPage({ viewport: { width: 850, height: 750 } });
      await page.goto(app.url);
      // The places arrive a while after the address: the information service is asked for the
      // address, and once it is placed, for the ISP's first router.
      const card = '[aria-labelledby="card-public"]';
      await until('the public address and the ISP router placed',
        async () => /entry point distance/.test((await page.textContent(card).catch(() => '')) ?? ''), 30_000);
      const facts = await page.textContent(card);
      for (const fact of ['Public address203.0.113.45', 'ProviderEXAMPLE-NET, ZZ', 'AS numberAS64500',
        'LocationPortland, Oregon, US', 'ISP entry point distance145 mi']) {
        assert.ok(facts.includes(fact), `${fact} in ${facts}`);
      }
      assert.match(await page.textContent('.path-list'), /Made by Example Laptop Company/);
      assert.match(await page.textContent('.path-list'), /Example Router Works/);
      await page.screenshot({ path: path.join(out, 'public-address-placed.png'), fullPage: true });
      await page.close();
    });

    it('adds, edits and deletes a service and shows its results', async () => {
      const page = await browser.newPage({ viewport: { width: 850, height: 750 } });
      await page.goto(app.url);
      await page.click('#tab-services');
      await page.click('.services-empty button');
      await page.selectOption('#svc-kind', 'https');
      await page.fill('#svc-target', 'www.example.com');
      await page.fill('#svc-name', 'Example shop');
      await page.fill('#svc-interval', '5');
      await page.click('.service-form button[type=submit]');

      // Saved as a file, probed at once: up, with the phases and the certificate of the site.
      const card = 'article.service';
      await until('the shop up', () => page.$(`${card}.status-healthy`), 30_000);
      assert.equal(await page.textContent(`${card} h3`), 'Example shop');
      assert.match(await page.getAttribute(`${card} .phase-bar`, 'aria-label'), /Time taken: .*DNS.*connect.*first byte/i);
      assert.match(await page.textContent(`${card} .service-cert`), /www\.example\.com/);
      const files = () => fs.readdirSync(path.join(app.dataDir, 'services.d'));
      assert.equal(files().length, 1);
      const saved = JSON.parse(fs.readFileSync(path.join(app.dataDir, 'services.d', files()[0]), 'utf8'));
      assert.deepEqual([saved.name, saved.probeType, saved.target, saved.intervalMs], ['Example shop', 'https', 'www.example.com', 5000]);
      await page.screenshot({ path: path.join(out, 'services.png'), fullPage: true });

      // An edit to a closed port is probed straight away and fails with the reason.
      await page.click(`${card} button[aria-label^="Edit"]`);
      await page.selectOption('#svc-kind', 'tcp');
      await page.fill('#svc-target', 'www.example.com:8080');
      await page.click('.service-form button[type=submit]');
      await until('the closed port failing', () => page.$(`${card}.status-critical`), 30_000);
      assert.match(await page.textContent(card), /Connection failed/);

      await page.click(`${card} button[aria-label^="Delete"]`);
      await page.click('.confirm button:has-text("Delete")');
      await until('no service left', async () => (await page.$(card)) === null && files().length === 0, 10_000);
      await page.screenshot({ path: path.join(out, 'services-deleted.png'), fullPage: true });
      await until('the empty list again', () => page.$('.services-empty'), 10_000);
    });
  });
});
