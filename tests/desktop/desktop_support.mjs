// What the desktop tests share: a private X server (Xvfb, no window manager) and session bus,
// the desktop's panel played by fake_panel, the program started on a simulated home, and
// looking at its window (xdotool, xwininfo, ImageMagick).
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';
import { until } from '../support/quillon_process.mjs';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const bin = path.resolve(root, process.env.QUILLON_BIN ?? 'build/dev/src/app/quillon');
export const out = path.join(path.resolve(root, process.env.QUILLON_OUT ?? 'build/dev/e2e'), 'desktop');
export const closer = path.resolve(bin, '../../../tests/x_close_window');
export const panel = path.resolve(bin, '../../../tests/fake_panel');
export const world = path.join(root, 'tests/scenario/worlds/healthy_home.json');

// Why the desktop tests cannot run here, or false.
export function whySkip(tools = []) {
  const missing = ['Xvfb', 'xdotool', 'xwininfo', 'import', 'convert', 'dbus-daemon', ...tools].filter(
    (tool) => spawnSync('sh', ['-c', `command -v ${tool}`]).status !== 0,
  );
  if (missing.length > 0) return `not installed: ${missing.join(', ')} (scripts/setup installs them)`;
  const absent = [bin, closer, panel].filter((f) => !fs.existsSync(f));
  if (absent.length > 0) return `not built: ${absent.join(', ')}`;
  const probe = spawnSync(bin, ['--simulate', world], { env: { ...process.env, DISPLAY: '', WAYLAND_DISPLAY: '' } });
  if (/no desktop front end/.test(probe.stderr)) return 'this quillon was built without its desktop front end';
  return false;
}

export function run(command, args, env) {
  const r = spawnSync(command, args, { env, encoding: 'utf8' });
  return r.status === 0 ? r.stdout : null;
}

// A private X server on a free display number, which it reports on file descriptor 3.
export async function startXvfb() {
  const child = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'], {
    stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
  });
  let text = '';
  child.stdio[3].on('data', (chunk) => (text += chunk));
  const number = await until('Xvfb to report its display', () => /^\d+\n/.test(text) && text.trim(), 10_000, 50);
  return { child, display: `:${number}` };
}

// The window's id, size and whether it is shown, found by its title.
export function windowInfo(env) {
  const ids = run('xdotool', ['search', '--name', '^Quillon$'], env);
  for (const id of ids?.trim().split('\n') ?? []) {
    const info = run('xwininfo', ['-id', id], env);
    const width = Number(info?.match(/Width: (\d+)/)?.[1]);
    // GTK also names its hidden leader window; the real one is the 850-wide one.
    if (width > 100) {
      return {
        id,
        width,
        height: Number(info.match(/Height: (\d+)/)[1]),
        shown: /Map State: IsViewable/.test(info),
      };
    }
  }
  return null;
}

// The window's pixels as { width, height, pixels (RGB bytes) }, the picture kept as a PNG.
export function screenshot(env, id, name) {
  const file = path.join(out, name);
  if (run('import', ['-window', id, file], env) === null) return null;
  const size = run('identify', ['-format', '%w %h', file], env);
  const raw = spawnSync('convert', [file, '-depth', '8', 'rgb:-'], { env, maxBuffer: 64 << 20 }).stdout;
  const [width, height] = size.split(' ').map(Number);
  return { width, height, pixels: raw };
}


// A private session bus, so that nothing of the desktop the tests may run on answers; with no
// panel on it the program has no tray icon.
export async function startBus(folder) {
  const address = `unix:path=${path.join(folder, `bus-${Date.now()}`)}`;
  const child = spawn('dbus-daemon', ['--session', '--nofork', '--nopidfile', `--address=${address}`, '--print-address=1'], {
    stdio: ['ignore', 'pipe', 'ignore'],
  });
  let text = '';
  child.stdout.on('data', (chunk) => (text += chunk));
  await until('the session bus', () => text.includes('\n'), 10_000, 20);
  return { child, address: text.trim() };
}

// fake_panel on the bus: its events (tray icons registered, notifications shown) collect in
// `events` as they come.
export async function startPanel(env) {
  const child = spawn(panel, [], { env, stdio: ['ignore', 'pipe', 'inherit'] });
  const events = [];
  readline.createInterface({ input: child.stdout }).on('line', (line) => events.push(JSON.parse(line)));
  await until('the panel on the bus', () => events.some((e) => e.event === 'ready'), 10_000, 20);
  return { child, events };
}

export function desktopEnv(display, bus) {
  return {
    ...process.env,
    DISPLAY: display,
    DBUS_SESSION_BUS_ADDRESS: bus,
    WAYLAND_DISPLAY: '',
    NO_AT_BRIDGE: '1',
    GDK_BACKEND: 'x11',
    LSAN_OPTIONS: `suppressions=${path.join(root, 'tests/desktop/lsan.supp')}`,
  };
}

export function startApp(env, args) {
  const app = spawn(bin, args, { env, stdio: ['ignore', 'pipe', 'pipe'] });
  app.output = '';
  app.stdout.on('data', (c) => (app.output += c));
  app.stderr.on('data', (c) => (app.output += c));
  app.exited = new Promise((resolve) => app.once('exit', (code, signal) => resolve({ code, signal })));
  return app;
}

// SIGTERM, as a session's end sends it: the program must end by itself with code 0.
export async function terminate(app) {
  app.kill('SIGTERM');
  return Promise.race([app.exited, new Promise((r) => setTimeout(() => r('no exit within 15 s'), 15_000))]);
}

export async function stopApp(app) {
  if (app && app.exitCode === null && app.signalCode === null) {
    app.kill('SIGKILL');
    await app.exited;
  }
}

// The diagnostic log, every file in name order.
export function logOf(dataDir) {
  const folder = path.join(dataDir, 'Logs');
  if (!fs.existsSync(folder)) return '';
  return fs.readdirSync(folder).sort().map((f) => fs.readFileSync(path.join(folder, f), 'utf8')).join('');
}
