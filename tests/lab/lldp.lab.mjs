// Lab test of the wired switch: lldpd in the gateway namespace announces itself on the client's
// link every second (system name lab-switch, port "Gi1/0/7 desk 12", TTL 4 s, see scripts/lab);
// the real program in the client namespace captures the announcements through libpcap and shows
// the switch and port on the wired link. Once the switch goes silent, it is dropped after its
// time-to-live; when it says farewell, at once; at the end the capture stops promptly with the
// program. Root only.
//
//   QUILLON_BIN=build/dev/src/app/quillon node --test tests/lab/lldp.lab.mjs
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { isRoot, lab, startInLab } from './in_lab.mjs';

const linkOf = (state) => state?.segments?.find((s) => s.id === 'connection')?.details;

describe('the wired switch on the lab network', { skip: !isRoot && 'needs root', concurrency: 1, timeout: 120_000 }, () => {
  before(() => lab('up'));
  after(() => {
    if (isRoot) lab('down');
  });

  it('is shown with its port, dropped when it falls silent, and the capture ends with the program', async () => {
    const states = [];
    const app = await startInLab([], (message) => {
      if (message.type === 'networkState') states.push(message);
    });
    try {
      const seen = await app.waitFor(() => states.findLast((s) => linkOf(s)?.lldpSwitch), 30_000, 'the switch on the link');
      const link = linkOf(seen);
      assert.equal(link.adapterType, 'Ethernet', JSON.stringify(link));
      assert.equal(link.interfaceName, 'c0');
      assert.equal(link.lldpSwitch, 'lab-switch');
      assert.equal(link.lldpPort, 'Gi1/0/7 desk 12');
      assert.match(app.log(), /\[INFO\] LLDP: capture started on c0/);
      assert.match(app.log(), /\[INFO\] LLDP: received from switch=lab-switch port=Gi1\/0\/7 desk 12/);

      // Frozen (both its processes), the switch falls silent without a farewell: its last word
      // holds for its 4 s TTL.
      const lldpd = execFileSync('ip', ['netns', 'pids', 'qlab-gateway'], { encoding: 'utf8' })
        .split(/\s+/)
        .filter((pid) => pid && fs.readFileSync(`/proc/${pid}/comm`, 'utf8').trim() === 'lldpd')
        .map(Number);
      const signal = (name) => lldpd.forEach((pid) => process.kill(pid, name));
      const gone = async (what) => {
        const from = states.length;
        const at = Date.now();
        await app.waitFor(() => states.slice(from).some((s) => linkOf(s) && !linkOf(s).lldpSwitch), 30_000, what);
        assert.equal(linkOf(states.at(-1)).lldpPort, undefined);
        return (Date.now() - at) / 1000;
      };
      signal('SIGSTOP');
      const silent = await gone('the switch gone from the link');
      assert.ok(silent >= 3.5, `dropped after ${silent} s, before its time-to-live`);

      // Back, then told to stop: the first of its processes sends the farewell (TTL 0), which
      // takes the switch off at once.
      signal('SIGCONT');
      const from = states.length;
      await app.waitFor(() => states.slice(from).some((s) => linkOf(s)?.lldpSwitch), 30_000, 'the switch back');
      const toldAt = Date.now();
      process.kill(Math.min(...lldpd), 'SIGTERM');
      await gone('the switch gone after its farewell');
      const withdrawn = app.log().match(/\[([^\]]+)\] \[INFO\] LLDP: switch=lab-switch withdrew its advertisement/);
      assert.ok(withdrawn, 'the farewell logged');
      const after = Date.parse(withdrawn[1]) - toldAt;
      assert.ok(after < 1500, `dropped ${after} ms after the farewell was asked for, not at once`);

      await app.stop({ keepData: true });
      assert.equal(app.child.exitCode, 0);
      // The capture ends within its one-second read, whatever else shutdown waits for.
      const at = (pattern) => Date.parse(app.log().match(new RegExp(`\\[([^\\]]+)\\] \\[INFO\\] ${pattern}`))[1]);
      const took = at('LLDP: capture stopped') - at('QlnWin shutting down');
      assert.ok(took >= 0 && took < 1500, `the capture stopped ${took} ms after shutdown began`);
    } finally {
      await app.stop();
    }
  });
});
