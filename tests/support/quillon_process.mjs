// The application as a child process of a node test suite (browser tests, lab tests): started
// with a data folder of its own, found by the page address it prints, stopped like Ctrl-C.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

// Runs `command` with the arguments argsFor(dataDir) returns and resolves, once the page address
// is printed, with { child, dataDir, url, log(), stop() }. A start that fails removes the folder.
export function startQuillon(command, argsFor, { seconds = 20 } = {}) {
  const dataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'quillon-test-'));
  const child = spawn(command, argsFor(dataDir), { stdio: ['ignore', 'pipe', 'pipe'] });
  const app = {
    child,
    dataDir,
    // The diagnostic log, every file in name order.
    log() {
      const folder = path.join(dataDir, 'Logs');
      if (!fs.existsSync(folder)) return '';
      return fs.readdirSync(folder).sort().map((f) => fs.readFileSync(path.join(folder, f), 'utf8')).join('');
    },
    // Ends the program (SIGTERM, then SIGKILL after 5 s) and removes its folder unless keepData.
    async stop({ keepData = false } = {}) {
      if (child.exitCode === null && child.signalCode === null) {
        const exited = new Promise((resolve) => child.once('exit', resolve));
        child.kill('SIGTERM');
        const late = setTimeout(() => child.kill('SIGKILL'), 5_000);
        await exited;
        clearTimeout(late);
      }
      if (!keepData) fs.rmSync(dataDir, { recursive: true, force: true });
    },
  };
  let printed = '';
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no address printed within ${seconds} s:\n${printed}`)), seconds * 1000);
    const look = (chunk) => {
      printed += chunk;
      const m = printed.match(/http:\/\/127\.0\.0\.1:\d+\/\S*/);
      if (m) {
        clearTimeout(timer);
        resolve(Object.assign(app, { url: m[0] }));
      }
    };
    child.stdout.on('data', look);
    child.stderr.on('data', look);
    child.on('error', reject);
    child.on('exit', (code) => reject(new Error(`quillon exited with ${code}:\n${printed}`)));
  }).catch(async (error) => {
    child.kill('SIGKILL');
    fs.rmSync(dataDir, { recursive: true, force: true });
    throw error;
  });
}

// Polls check() until it returns something truthy, which it resolves with.
export async function until(what, check, ms = 30_000, stepMs = 200) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, stepMs));
  }
}
