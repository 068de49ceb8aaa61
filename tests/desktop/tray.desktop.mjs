// The desktop front end with a panel that shows tray icons (fake_panel on a private session bus):
// quillon started hidden (--minimized), before the panel, on a simulated home whose backend
// offers an update shows its icon once the panel is up, whose menu — read and clicked through its D-Bus menu, as a panel does — shows and
// hides the window and turns launch at startup on and off with its check mark; a second start
// on the same data shows the running one's window and ends; the close box hides the window to
// the tray, a middle click on the icon brings it back, the update offer is a desktop
// notification, and Exit ends the program.
//
//   QUILLON_BIN=build/dev/src/app/quillon QUILLON_OUT=build/dev/e2e node --test tests/desktop/tray.desktop.mjs
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
  run,
  startApp,
  startBus,
  startPanel,
  startXvfb,
  stopApp,
  whySkip,
  windowInfo,
  world,
} from './desktop_support.mjs';

const skip = whySkip(['gdbus']);

// The healthy home plus a backend whose check-in offers version 9.9.0.
function worldWithBackend(folder) {
  const scenario = JSON.parse(fs.readFileSync(world, 'utf8'));
  const answer = { update: { available: true, targetVersion: '9.9.0', urgency: 'recommended' } };
  scenario.serviceHosts.push({
    name: 'backend.test',
    address: '198.51.100.90',
    tcpPorts: [80],
    web: [{ path: '/v1/check-in', body: JSON.stringify(answer) }],
  });
  const file = path.join(folder, 'home_with_backend.json');
  fs.writeFileSync(file, JSON.stringify(scenario));
  return file;
}

// gdbus's text form of a menu layout as [{ id, label, type, toggle, state }], top level only.
function parseLayout(text) {
  const items = [];
  for (const m of text.matchAll(/<\((\d+), \{([^}]*)\}, @av \[\]\)>/g)) {
    const props = m[2];
    items.push({
      id: Number(m[1]),
      label: props.match(/'label': <'([^']*)'>/)?.[1] ?? '',
      type: props.match(/'type': <'([^']*)'>/)?.[1] ?? 'standard',
      toggle: props.match(/'toggle-type': <'([^']*)'>/)?.[1] ?? '',
      state: Number(props.match(/'toggle-state': <(-?\d+)>/)?.[1] ?? -1),
    });
  }
  return items;
}

describe('the desktop application with a tray', { skip, concurrency: 1 }, () => {
  let folder;
  let dataDir;
  let xvfb;
  let bus;
  let panel;
  let env;
  let app;
  let item;
  const log = () => logOf(dataDir);

  const gdbus = (objectPath, method, ...args) =>
    run('gdbus', ['call', '--session', '--dest', item.sender, '--object-path', objectPath, '--method', method, ...args], env);
  const menuPath = () => `${item.name}/Menu`;
  const menu = () => parseLayout(gdbus(menuPath(), 'com.canonical.dbusmenu.GetLayout', '0', 'int32 -1', '[]') ?? '');
  const entry = (label) => menu().find((i) => i.label === label);
  // A click as the panel reports it; the menu is asked for again, as the ids change with it.
  const click = (label) => {
    const target = entry(label);
    assert.ok(target, `no "${label}" in the menu: ${JSON.stringify(menu())}`);
    assert.notEqual(gdbus(menuPath(), 'com.canonical.dbusmenu.Event', String(target.id), 'clicked', '<0>', '0'), null);
  };
  const shown = () => windowInfo(env)?.shown === true;

  before(async () => {
    folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quillon-tray-'));
    dataDir = path.join(folder, 'data');
    fs.mkdirSync(dataDir);
    fs.writeFileSync(path.join(dataDir, 'config.json'), JSON.stringify({ c2: { c2_base_url: 'http://backend.test' } }));
    xvfb = await startXvfb();
    bus = await startBus(folder);
    env = desktopEnv(xvfb.display, bus.address);
    // Started from the startup entry at log-on, before the panel is up.
    app = startApp(env, ['--minimized', '--simulate', worldWithBackend(folder), '--data-dir', dataDir]);
    await new Promise((r) => setTimeout(r, 2000));
    panel = await startPanel(env);
  });

  after(async () => {
    await stopApp(app);
    panel?.child.kill();
    bus?.child.kill();
    xvfb?.child.kill();
    if (folder) fs.rmSync(folder, { recursive: true, force: true });
  });

  it('starts hidden with an icon whose menu shows and hides the window', async () => {
    item = await until('the tray icon registered', () => panel.events.find((e) => e.event === 'item'), 60_000);
    assert.match(item.name, /^\/org\/ayatana\/NotificationItem\/quillon$/);
    const items = await until('the menu', () => menu().length === 5 && menu(), 10_000);
    assert.equal(shown(), false);
    assert.deepEqual(
      items.map(({ label, type, toggle, state }) => ({ label, type, toggle, state })),
      [
        { label: 'Show', type: 'standard', toggle: '', state: -1 },
        { label: '', type: 'separator', toggle: '', state: -1 },
        { label: 'Launch at startup', type: 'standard', toggle: 'checkmark', state: 0 },
        { label: '', type: 'separator', toggle: '', state: -1 },
        { label: 'Exit', type: 'standard', toggle: '', state: -1 },
      ],
    );
    assert.doesNotMatch(log(), /No tray icon/);

    click('Show');
    await until('the window shown', shown, 10_000);
    await until('the menu offering Hide', () => entry('Hide'), 10_000);
    click('Hide');
    await until('the window hidden', () => !shown(), 10_000);
    await until('the menu offering Show', () => entry('Show'), 10_000);
    click('Show');
    await until('the window shown again', shown, 10_000);
    await until('the menu offering Hide again', () => entry('Hide'), 10_000);
  });

  it('answers a second start on the same data by showing its window', async () => {
    click('Hide');
    await until('the window hidden', () => !shown(), 10_000);
    const second = startApp(env, ['--simulate', worldWithBackend(folder), '--data-dir', dataDir]);
    assert.deepEqual(await Promise.race([second.exited, new Promise((r) => setTimeout(() => r('still running'), 20_000))]), {
      code: 0,
      signal: null,
    });
    assert.match(second.output, /Quillon is already running: its window is shown\./);
    await until('the window shown by the first run', shown, 10_000);
    await until('the menu offering Hide', () => entry('Hide'), 10_000);
    assert.equal(panel.events.filter((e) => e.event === 'item' && e.sender !== item.sender).length, 0);
  });

  it('turns launch at startup on and off with its check mark', async () => {
    click('Launch at startup');
    await until('the mark set', () => entry('Launch at startup')?.state === 1, 10_000);
    assert.match(log(), /Launch at startup enabled/);
    click('Launch at startup');
    await until('the mark cleared', () => entry('Launch at startup')?.state === 0, 10_000);
    assert.match(log(), /Launch at startup disabled/);
  });

  it('hides to the tray on close and comes back on a middle click', async () => {
    const window = windowInfo(env);
    assert.notEqual(run(closer, [window.id], env), null);
    await until('the window hidden', () => !shown(), 10_000);
    assert.equal(app.exitCode, null, app.output);
    await until('the menu offering Show', () => entry('Show'), 10_000);
    assert.notEqual(gdbus(item.name, 'org.kde.StatusNotifierItem.SecondaryActivate', '0', '0'), null);
    await until('the window shown again', shown, 10_000);
  });

  it('shows the update offer as a desktop notification', async () => {
    const note = await until('the notification', () => panel.events.find((e) => e.event === 'notify'), 60_000);
    assert.equal(note.summary, 'Update Available');
    assert.equal(note.body, 'Quillon v9.9.0 is available. This update is recommended.');
    assert.match(note.icon, /quillon\.svg$/);
    // Shown there, not printed as the fallback.
    assert.doesNotMatch(app.output, /Update Available:/);
  });

  it('ends the program from Exit', async () => {
    click('Exit');
    await until('the program ended', () => app.exitCode !== null, 20_000);
    assert.equal(app.exitCode, 0, app.output);
    assert.match(log(), /shutting down/);
  });
});
