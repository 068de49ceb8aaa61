// A day of the archive as the application sends it: three buckets, two hops, a healthy stretch
// and then a problem at the ISP.

// Unix seconds of a local wall-clock time, so that the texts read the same in every time zone.
export const at = (day: number, h: number, m: number) => new Date(2024, 5, day, h, m).getTime() / 1000;

export const historyPayload = (extra: Record<string, unknown> = {}) => ({
  period: 'day',
  from: at(2, 12, 0),
  to: at(3, 12, 0),
  bucketSeconds: 300,
  times: [at(3, 10, 0), at(3, 10, 5), at(3, 10, 10)],
  hops: [
    { hopNumber: 1, ip: '192.168.1.1', rttMs: [1.2, null, 1.4], loss: [0, null, 0] },
    { hopNumber: 3, ip: '203.0.113.1', rttMs: [12, 14, null], loss: [0, 12, 100] },
  ],
  verdicts: [
    { from: at(3, 9, 0), to: at(3, 10, 2), status: 'healthy', segmentId: '' },
    {
      from: at(3, 10, 2),
      to: at(3, 10, 14),
      status: 'critical',
      segmentId: 'isp',
      title: 'ISP Issue',
      culpritHopNumber: 3,
      culpritIp: '203.0.113.1',
      trigger: 'loss',
      triggerValue: 12,
    },
  ],
  records: 1234,
  skipped: 2,
  ...extra,
});
