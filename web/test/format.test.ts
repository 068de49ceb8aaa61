import { describe, expect, it } from 'vitest';
import { detailRows, headline, hopWhere } from '../src/format';

describe('where a hop is', () => {
  it('follows the part of the path the verdict counts the hop in', () => {
    const cases: [string, string | undefined, string][] = [
      ['LOCAL', 'connection', 'Home'],
      ['LOCAL', 'homeNetwork', 'Home'],
      ['LOCAL', 'isp', 'ISP'], // 100.64.0.0/10 behind the home router
      ['ISP', 'isp', 'ISP'],
      ['?', 'isp', 'ISP'],
      ['TRANS', 'isp', 'Internet'],
      ['DEST', 'services', 'Destination'],
      ['TRANS', 'services', 'Destination'],
    ];
    for (const [segment, segmentId, word] of cases) {
      expect(hopWhere({ segment, segmentId: segmentId as never }), `${segment}/${segmentId}`).toBe(word);
    }
  });

  it('falls back to the traceroute label when the message does not say', () => {
    expect(['LOCAL', 'ISP', 'TRANS', 'DEST', '?', 'NEW'].map((segment) => hopWhere({ segment }))).toEqual([
      'Home',
      'ISP',
      'Internet',
      'Destination',
      'Unknown',
      'Unknown',
    ]);
  });
});

describe('details and headline', () => {
  it('lists facts but not the ping flag', () => {
    expect(detailRows({ hostname: 'dns1.example', answersPing: false, packetLoss: 2.5 })).toEqual([
      { key: 'hostname', label: 'Host name', value: 'dns1.example' },
      { key: 'packetLoss', label: 'Packet loss', value: '2.5 %' },
    ]);
  });

  it('tells "cannot measure" from "still checking" only for an unknown status', () => {
    expect(headline('unknown', false, true).title).toBe("Your connection can't be checked");
    expect(headline('unknown', true, false).title).toBe('Checking your connection…');
    expect(headline('warning', true, true).title).toBe('Your connection is having some trouble');
  });
});
