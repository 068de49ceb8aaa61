// The desktop front end on a virtual X server (Xvfb, no window manager): quillon on a simulated
// healthy home opens its window, the page in it shows the network's state and its commands reach
// the application; with no tray icon (Xvfb has none) the close box ends the program and a
// hidden start still shows the window, which SIGTERM ends cleanly. The page says once that
// closing ends the program, and remembers across runs that this was read. Screenshots are kept in QUILLON_OUT/desktop/.
//
//   QUILLON_BIN=build/dev/src/app/quillon QUILLON_OUT=build/dev/e2e node --test tests/desktop/
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { until } from '../support/quillon_process.mjs';
import {
  closer,
  desktopEnv,
  logOf,
  out,
  run,
  screenshot,
  startApp,
  startBus,
  startXvfb,
  stopApp,
  terminate,
  whySkip,
  windowInfo,
  world,
} from './desktop_support.mjs';

// The page's colours (web/src/styles.css, light theme): a healthy verdict and the primary button.
const HEALTHY = [0x00, 0x7a, 0x5a];
const ACCENT = [0x0b, 0x5c, 0xad];

function near(pixels, i, [r, g, b]) {
  return Math.abs(pixels[i] - r) + Math.abs(pixels[i + 1] - g) + Math.abs(pixels[i + 2] - b) < 30;
}

// Pixels of a colour in rows [top, bottom).
function countColour(shot, colour, top, bottom) {
  let n = 0;
  for (let i = top * shot.width * 3; i < Math.min(bottom, shot.height) * shot.width * 3; i += 3) {
    if (near(shot.pixels, i, colour)) n++;
  }
  return n;
}

// The right-most button in the top bar drawn in the primary colour: "Rediscover path".
function primaryButtonCentre(shot) {
  let right = -1;
  const band = Math.min(shot.height, 90);
  for (let y = 0; y < band; y++) {
    for (let x = 0; x < shot.width; x++) {
      if (near(shot.pixels, (y * shot.width + x) * 3, ACCENT) && x > right) right = x;
    }
  }
  if (right < 0) return null;
  const x = right - 12;
  const rows = [];
  for (let y = 0; y < band; y++) if (near(shot.pixels, (y * shot.width + x) * 3, ACCENT)) rows.push(y);
  return rows.length ? { x, y: Math.round((rows[0] + rows.at(-1)) / 2) } : null;
}

// Rows of a notice's accent edge at the page's left margin, under the top bar: the no-tray
// notice, the only one on a healthy simulated home.
function noticeEdgeRows(shot) {
  const rows = [];
  for (let y = 50; y < Math.min(shot.height, 200); y++) {
    if (near(shot.pixels, (y * shot.width + 18) * 3, ACCENT)) rows.push(y);
  }
  return rows;
}

// The healthy verdict on screen: the verdict's card turns the healthy colour (its icon and edge)
// only once the page has the network's state and it is judged healthy; until then it is grey.
function healthyShot(env, id, name) {
  return until(
    'the healthy verdict on screen',
    () => {
      const s = screenshot(env, id, name);
      return s && countColour(s, HEALTHY, 60, 260) > 1000 && s;
    },
    120_000,
    1000,
  );
}

const skip = whySkip();
// Both runs share the data folder: the page's storage outlives a run.
let dataDir;

describe('the desktop window on a simulated healthy home', { skip, concurrency: 1 }, () => {
  let xvfb;
  let bus;
  let app;
  let env;
  let window;
  const log = () => logOf(dataDir);

  before(async () => {
    fs.mkdirSync(out, { recursive: true });
    xvfb = await startXvfb();
    dataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'quillon-desktop-'));
    bus = await startBus(dataDir);
    env = desktopEnv(xvfb.display, bus.address);
    app = startApp(env, ['--simulate', world, '--data-dir', dataDir]);
  });

  after(async () => {
    await stopApp(app);
    xvfb?.child.kill();
    bus?.child.kill();
  });

  it('opens an 850 x 750 window titled Quillon showing the healthy verdict', async () => {
    window = await until('the window', () => windowInfo(env)?.shown && windowInfo(env), 60_000);
    assert.equal(window.width, 850);
    assert.equal(window.height, 750);
    assert.equal(run('xdotool', ['getwindowname', window.id], env).trim(), 'Quillon');
    // The application's icon, for the window list and the task switcher.
    assert.match(run('xprop', ['-id', window.id, '_NET_WM_ICON'], env) ?? '', /_NET_WM_ICON\(CARDINAL\) =\s+Icon \(\d+ x \d+\)/);
    const shot = await healthyShot(env, window.id, 'healthy.png');
    assert.equal(shot.width, 850);
  });

  it('says once that closing the window ends the program, having no tray icon', async () => {
    const edge = noticeEdgeRows(screenshot(env, window.id, 'no-tray-notice.png'));
    assert.ok(edge.length > 20, 'no notice under the top bar (see no-tray-notice.png)');
    // Its "Got it" button sits at the notice's right end.
    const y = Math.round((edge[0] + edge.at(-1)) / 2);
    run('xdotool', ['mousemove', '--window', window.id, String(window.width - 60), String(y), 'click', '1'], env);
    await until('the notice gone', () => noticeEdgeRows(screenshot(env, window.id, 'notice-read.png')).length === 0, 10_000, 500);
  });

  it('delivers a click on Rediscover path to the application', async () => {
    const shot = screenshot(env, window.id, 'before-click.png');
    const button = primaryButtonCentre(shot);
    assert.ok(button, 'no primary button in the top bar (see before-click.png)');
    assert.doesNotMatch(log(), /Resetting path discovery/);
    run('xdotool', ['mousemove', '--window', window.id, String(button.x), String(button.y), 'click', '1'], env);
    await until('the rediscovery in the log', () => log().includes('Resetting path discovery'), 20_000);
    screenshot(env, window.id, 'after-click.png');
  });

  it('ends the program on close, as no tray icon could bring the window back', async () => {
    assert.notEqual(run(closer, [window.id], env), null);
    await until('the program ended', () => app.exitCode !== null, 20_000);
    assert.equal(app.exitCode, 0, app.output);
    assert.match(log(), /No tray icon: closing the window ends the program/);
    assert.match(log(), /shutting down/);
  });
});

describe('the desktop window started with --minimized', { skip }, () => {
  let xvfb;
  let bus;
  let app;

  before(async () => {
    xvfb = await startXvfb();
    dataDir ??= fs.mkdtempSync(path.join(os.tmpdir(), 'quillon-desktop-'));
    bus = await startBus(dataDir);
    app = startApp(desktopEnv(xvfb.display, bus.address), ['--minimized', '--simulate', world, '--data-dir', dataDir]);
  });

  after(async () => {
    await stopApp(app);
    xvfb?.child.kill();
    bus?.child.kill();
    if (dataDir) fs.rmSync(dataDir, { recursive: true, force: true });
  });

  it('shows the window anyway, having no tray icon, and runs on until SIGTERM', async () => {
    const env = desktopEnv(xvfb.display, bus.address);
    await until('the page ready', () => /WebView2 ready/.test(logOf(dataDir)), 60_000);
    // The engine's idle clean-ups come some seconds after the page has loaded.
    await new Promise((r) => setTimeout(r, 12_000));
    assert.equal(app.exitCode, null, `quillon ended:\n${app.output}`);
    const window = windowInfo(env);
    assert.equal(window?.shown, true);
    assert.match(logOf(dataDir), /No tray icon: the window is shown although a hidden start was asked for/);
    // The page remembers, from the run before, that the notice was read.
    assert.deepEqual(noticeEdgeRows(await healthyShot(env, window.id, 'minimized.png')), []);
    assert.deepEqual(await terminate(app), { code: 0, signal: null }, app.output);
  });
});
