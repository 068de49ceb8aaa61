// What every lab suite needs: the lab script, commands in the client namespace, and quillon
// started headless in that namespace, pinned to the lab interface, with a reader of the
// messages it posts to the page (read_events.mjs in the same namespace). A new suite:
//
//   const app = await startInLab(['--stun-server', 'stun.lab.test']);
//   const state = await app.waitFor(() => app.messages.findLast((m) => m.type === 'networkState'));
//   await app.stop();
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { startQuillon, until } from '../support/quillon_process.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const bin = path.resolve(root, process.env.QUILLON_BIN ?? 'build/dev/src/app/quillon');
const labScript = path.join(root, 'scripts/lab');
const reader = path.join(root, 'tests/lab/read_events.mjs');
const client = 'qlab-client';

export const isRoot = process.getuid?.() === 0;

// scripts/lab with these arguments (up, down, impair ...); its output.
export function lab(...args) {
  return execFileSync(labScript, args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
}

// A command in the client namespace; its output.
export function inClient(...args) {
  return execFileSync('ip', ['netns', 'exec', client, ...args], { encoding: 'utf8' });
}

// Starts quillon with `args` after the common ones and resolves, once it prints its address,
// with the handle of quillon_process.mjs plus:
//   messages     every message posted to the page, parsed, in order
//   unreadable   lines of the event stream that were not JSON
//   waitFor(check, ms = 60_000, what)   polls check() until truthy and resolves with its value
//   send(message)   posts one page message (a compact JSON text) once the reader is connected;
//                   resolves to the HTTP status
// and a stop() that also ends the reader. onMessage(message, app) sees each message as it
// comes. Options: env (variables for quillon), files ({ 'services.d/x.json': text } written
// into its data folder before it starts).
export async function startInLab(args = [], onMessage = () => {}, { env = {}, files = {} } = {}) {
  const app = await startQuillon('ip', (dataDir) => {
    for (const [name, text] of Object.entries(files)) {
      fs.mkdirSync(path.dirname(path.join(dataDir, name)), { recursive: true });
      fs.writeFileSync(path.join(dataDir, name), text);
    }
    const vars = Object.entries(env).map(([k, v]) => `${k}=${v}`);
    return ['netns', 'exec', client, 'env', ...vars, bin, '--headless', '--interface', 'c0',
      '--listen', '127.0.0.1:0', '--data-dir', dataDir, ...args];
  });
  const events = spawn('ip', ['netns', 'exec', client, process.execPath, reader, app.url],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  Object.assign(app, { messages: [], unreadable: [] });
  let pending = '';
  events.stdout.setEncoding('utf8');
  events.stdout.on('data', (chunk) => {
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
      app.messages.push(message);
      onMessage(message, app);
    }
  });
  app.waitFor = async (check, ms = 60_000, what = 'the condition') => {
    try {
      return await until(what, check, ms, 250);
    } catch (error) {
      error.message += ` (${app.messages.length} messages seen)`;
      throw error;
    }
  };
  // Posts one page message (a compact JSON text) as the page does; the HTTP status. Replies go
  // to a connected page only: it waits for the reader's first message.
  app.send = async (message) => {
    await app.waitFor(() => app.messages.length > 0, 30_000, 'the event stream');
    const url = new URL('/bridge/message', app.url);
    return Number(inClient('curl', '-s', '-o', '/dev/null', '-w', '%{http_code}', '-H', 'Content-Type: text/plain',
      '-H', `X-Quillon-Token: ${new URL(app.url).searchParams.get('token')}`, '--data-binary', message, url.href));
  };
  const stopApp = app.stop;
  app.stop = async (options) => {
    events.kill('SIGTERM');
    await stopApp(options);
  };
  return app;
}
