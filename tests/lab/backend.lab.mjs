// Lab test of the whole program against the reference backend (backend/, quillon-backend) as a
// real process on the client namespace's loopback: the check-in hands out a token, an update
// offer reaches the page, the start and the exit arrive as telemetry, and the token is nowhere
// in clear. Root only.
//
//   QUILLON_BIN=build/dev/src/app/quillon node --test tests/lab/backend.lab.mjs
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { inClient, isRoot, lab, startInLab } from './in_lab.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const bin = path.resolve(root, process.env.QUILLON_BIN ?? 'build/dev/src/app/quillon');
const server = path.join(path.dirname(path.dirname(path.dirname(bin))), 'backend/quillon-backend');
const port = 8787;

describe('the program and the reference backend', { skip: !isRoot && 'needs root', concurrency: 1, timeout: 120_000 }, () => {
  let folder;
  let backend;
  before(async () => {
    lab('up');
    folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quillon-backend-'));
    const db = path.join(folder, 'backend.db');
    inClient(server, 'publish-update', '--db', db, '--version', '1.2.0', '--artifact', 'linux=https://example.test/q.tar.gz');
    backend = spawn('ip', ['netns', 'exec', 'qlab-client', server, 'serve', '--db', db, '--listen', `127.0.0.1:${port}`],
      { stdio: ['ignore', 'pipe', 'pipe'] });
    await new Promise((resolve) => setTimeout(resolve, 500));
  });
  after(() => {
    backend?.kill('SIGTERM');
    if (isRoot) lab('down');
    if (folder) fs.rmSync(folder, { recursive: true, force: true });
  });

  it('checks in, shows the offer and sends its telemetry', async () => {
    const app = await startInLab([], () => {}, {
      files: { 'config.json': JSON.stringify({ c2: { c2_base_url: `http://127.0.0.1:${port}` } }) },
    });
    let offer;
    try {
      offer = await app.waitFor(() => app.messages.find((m) => m.type === 'updateAvailable'), 60_000, 'the update offer');
      // The first path measurement is reported once the trace is done.
      await app.waitFor(() => /Check-in successful, telemetry enabled/.test(app.log())
        && app.messages.some((m) => m.type === 'networkState' && m.hops.length > 3), 60_000, 'a traced path');
    } finally {
      await app.stop({ keepData: true });
    }
    try {
      assert.deepEqual(offer.payload, { version: '1.2.0', urgency: 'recommended', downloadUrl: 'https://example.test/q.tar.gz' });
      const events = inClient(server, 'events', '--db', path.join(folder, 'backend.db'))
        .trim().split('\n').map((line) => JSON.parse(line));
      const types = events.map((e) => e.type ?? e.event?.type);
      assert.ok(types.includes('app.startup'), JSON.stringify(events));
      assert.ok(types.includes('app.shutdown'), JSON.stringify(types));
      // The token (64 hex digits) is kept sealed: no file of the program holds it in clear.
      const settings = fs.readdirSync(app.dataDir).map((f) => path.join(app.dataDir, f))
        .filter((f) => fs.statSync(f).isFile()).map((f) => fs.readFileSync(f, 'latin1')).join('\n');
      assert.ok(!/[0-9a-f]{64}/.test(settings), 'no clear token in the data folder');
    } finally {
      fs.rmSync(app.dataDir, { recursive: true, force: true });
    }
  });
});
