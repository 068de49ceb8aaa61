import { describe, expect, it } from 'vitest';
import { render } from 'preact-render-to-string';
import { parseInbound, type NetworkState } from '../src/messages';
import { clockTime, ms, titled } from '../src/format';
import { staleAfterMs } from '../src/store';
import { HistoryStore } from '../src/history';
import { Overview } from '../src/components/Overview';
import { PathView } from '../src/components/PathView';
import { Destinations } from '../src/components/Destinations';
import { HopTable } from '../src/components/HopTable';
import { RECENT } from './fixtures';
import { bodyRows, inner, text } from './html';

const SINCE = 1_796_456_519;

// The WiFi loss as the application sends it: the parts after the blamed link unjudged, the
// reason with the callout, and both destinations, the main one silent.
function lossyWorld(): NetworkState {
  const raw = JSON.parse(RECENT);
  for (const seg of raw.segments) if (seg.displayOrder > 1) seg.status = 'unknown';
  Object.assign(raw.culpritCallout, {
    culpritHopNumber: 1,
    culpritIp: '192.168.1.1',
    trigger: 'loss',
    triggerValue: 20.0,
    since: SINCE,
  });
  raw.destinations = [
    { ip: '1.1.1.1', name: 'Resolver one', isPrimary: true, reached: false, answersPing: false },
    {
      ip: '8.8.8.8',
      isPrimary: false,
      reached: true,
      answersPing: true,
      rttMs: 16.0,
      loss: 0.5,
      jitter: 3.0,
      recentLoss: 20.0,
      recentSamples: 40,
    },
    { ip: 'bad' }, // no flags: read as not answering
    'junk',
  ];
  return parseInbound(JSON.stringify(raw)) as NetworkState;
}

describe('the reason behind a verdict', () => {
  it('is read from the callout and said in plain words under it', () => {
    const state = lossyWorld();
    expect(state.culpritCallout).toMatchObject({
      culpritHopNumber: 1,
      trigger: 'loss',
      triggerValue: 20,
      since: SINCE,
    });
    const why = (callout: object) =>
      text(
        inner(
          render(<Overview state={{ ...state, culpritCallout: { ...state.culpritCallout!, ...callout } }} />),
          'callout-why',
        ) ?? '',
      );
    expect(why({})).toBe(`Why: loss 20 % at hop 1 (192.168.1.1) since ${clockTime(SINCE)}`);
    expect(why({ trigger: 'latency', triggerValue: 180 })).toMatch(/^Why: response time 180\.0 ms at hop 1/);
    expect(why({ culpritHopNumber: undefined, culpritIp: undefined })).toMatch(
      /^Why: loss 20 % \(where it starts is still/,
    );
    expect(why({ trigger: 'unreachable', triggerValue: undefined })).toMatch(
      /^Why: the destination could not be reached since/,
    );
    expect(why({ trigger: undefined })).toBe(`Shown since ${clockTime(SINCE)}`);
    // Nothing to say for "nothing can be measured"; an unknown trigger is dropped.
    expect(why({ trigger: undefined, severity: 'unknown' })).toBe('');
    const odd = JSON.parse(RECENT);
    Object.assign(odd.culpritCallout, { trigger: 'gremlins', culpritHopNumber: -2, since: 'soon' });
    const parsed = (parseInbound(JSON.stringify(odd)) as NetworkState).culpritCallout!;
    expect([parsed.trigger, parsed.culpritHopNumber, parsed.since]).toEqual([undefined, undefined, undefined]);
  });

  it('lets the path say what the unjudged parts are instead of "not checked"', () => {
    const state = lossyWorld();
    const path = (s: NetworkState) =>
      render(<PathView segments={s.segments} callout={s.culpritCallout} selected="homeNetwork" onSelect={() => {}} />);
    const html = path(state);
    const words = [...html.matchAll(/class="badge-text">([^<]*)</g)].map((m) => m[1]);
    expect(words).toEqual(['Good', 'Problem', 'Beyond the problem', 'Beyond the problem', 'Beyond the problem']);
    // The blame further down: the parts before it were found cleaner.
    const later = lossyWorld();
    later.culpritCallout!.segmentId = 'isp';
    for (const seg of later.segments)
      seg.status = seg.id === 'isp' ? 'critical' : seg.displayOrder > 1 ? 'unknown' : 'healthy';
    expect([...path(later).matchAll(/class="badge-text">([^<]*)</g)].map((m) => m[1])).toEqual([
      'Good',
      'Good',
      'Not the cause',
      'Problem',
      'Beyond the problem',
    ]);
    // A heading never repeats its label.
    expect(text(html.match(/<h3>[\s\S]*?<\/h3>/)![0])).toBe('Gateway');
    expect(titled('Destination', 'Resolver one')).toBe('Destination: Resolver one');
  });
});

describe('destinations', () => {
  it('shows every traced destination, one that ignores ping beside one that answers', () => {
    const state = lossyWorld();
    expect(state.destinations.map((d) => [d.ip, d.answersPing])).toEqual([
      ['1.1.1.1', false],
      ['8.8.8.8', true],
      ['bad', false],
    ]);
    const html = render(<Destinations destinations={state.destinations.slice(0, 2)} />);
    const items = [...html.matchAll(/<li\b[^>]*>([\s\S]*?)<\/li>/g)].map((m) => text(m[1]));
    expect(items).toEqual([
      'Resolver one 1.1.1.1MainDoes not answer ping',
      '8.8.8.8Answers pingResponse time16.0 msLoss20 %Jitter3.0 ms',
    ]);
    expect(render(<Destinations destinations={[]} />)).toBe('');
  });
});

describe('figures', () => {
  it('writes milliseconds one way everywhere', () => {
    expect([ms(0), ms(0.4), ms(1), ms(12.34)]).toEqual(['<1 ms', '<1 ms', '1.0 ms', '12.3 ms']);
  });

  it('greys figures that are old and leaves hops not measured yet without figures', () => {
    const hops = lossyWorld().hops;
    hops[0] = { ...hops[0], rttMs: 0, loss: 0, jitter: 0, recentLoss: undefined, recentSamples: undefined };
    const html = render(
      <HopTable
        hops={hops}
        history={new HistoryStore()}
        selected={null}
        onSelect={() => {}}
        staleSince={SINCE * 1000}
      />,
    );
    const rows = html.slice(html.indexOf('<tbody'));
    const classes = [...rows.matchAll(/<tr\b([^>]*)>/g)].map((m) => m[1].match(/class="([^"]*)"/)?.[1].trim() ?? '');
    // Hop 1 not measured, hop 4 silent, hop 5 without recent echoes while the others have them.
    expect(classes).toEqual(['unmeasured', '', '', 'silent', 'old', '']);
    expect(bodyRows(html)[0][3].text).toBe('–');
    expect(text(inner(html, 'stale-note') ?? '')).toMatch(
      /^No update since \d\d:\d\d: these figures may be out of date/,
    );
    expect(html).toContain('class="hops with-recent stale"');
    // Stale after twice the usual gap between updates, never under 12 s, 30 s without a gap.
    expect(staleAfterMs([0, 5_000, 10_000, 15_000])).toBe(12_000);
    expect(staleAfterMs([0, 15_000, 15_100, 30_000, 45_000])).toBe(30_000);
    expect(staleAfterMs([0])).toBe(30_000);
  });
});
