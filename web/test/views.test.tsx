import { describe, expect, it } from 'vitest';
import { render } from 'preact-render-to-string';
import { parseInbound, type Hop, type NetworkState } from '../src/messages';
import { HistoryStore } from '../src/history';
import { HopTable } from '../src/components/HopTable';
import { Overview } from '../src/components/Overview';
import { InfoCards } from '../src/components/InfoCards';
import { PathView } from '../src/components/PathView';
import { App } from '../src/components/App';
import { PageStore } from '../src/store';
import { HEALTHY, PING_NOT_PERMITTED, PING_REMEDY, RECENT } from './fixtures';
import { bodyRows, classesOf, headerCells, inner, text, type Cell } from './html';

const state = (message: string): NetworkState => parseInbound(message) as NetworkState;

function table(hops: Hop[]): { headers: string[]; rows: Record<string, Cell>[]; html: string } {
  const html = render(<HopTable hops={hops} history={new HistoryStore()} selected={null} onSelect={() => {}} />);
  const headers = headerCells(html).map((c) => c.text);
  // Each row's cells by the heading of their column.
  const rows = bodyRows(html).map((cells) => Object.fromEntries(cells.map((c, i) => [headers[i], c])));
  return { headers, rows, html };
}

describe('hop table', () => {
  it('says where a hop is as the verdict counts it, the carrier-grade NAT hop at the ISP', () => {
    const hops = state(RECENT).hops;
    const { rows } = table(hops);
    expect(rows.map((r, i) => [hops[i].ip, r.Where.text])).toEqual([
      ['192.168.1.1', 'Home'],
      ['100.64.0.1', 'ISP'], // traced as LOCAL: a private-looking address
      ['203.0.113.1', 'ISP'],
      ['*', 'ISP'],
      ['198.51.100.9', 'Internet'],
      ['1.1.1.1', 'Destination'],
    ]);
    // Older messages without segment ids keep the traceroute's labels.
    expect(table(state(HEALTHY).hops).rows.map((r) => r.Where.text)).toEqual(['Home', 'ISP', 'Internet', 'Unknown']);
  });

  it('shows the recent loss beside the long-window loss, with the echoes behind it', () => {
    const { headers, rows, html } = table(state(RECENT).hops);
    expect(headers).toEqual([
      'Hop',
      'Address and name',
      'Network (AS)',
      'RTT',
      'Loss now',
      'Loss 30 min',
      'Jitter',
      'Where',
      'History',
    ]);
    expect(classesOf(html, 'hops')).toContain('with-recent');
    const [link, , isp, silent, quiet, dest] = rows;
    expect(link['Loss now'].text).toBe('20 % of 40 echoes');
    expect(link['Loss now'].title).toBe('20 % of the last 40 echoes lost');
    expect(link['Loss 30 min'].text).toBe('0.7 %');
    expect(dest['Loss now'].title).toMatch(/^20 % of the last 39 echoes lost/);
    // Nothing recent to show: a dash, and for an answering hop the reason on hover.
    expect(silent['Loss now'].text).toBe('–');
    expect(silent['Loss 30 min'].text).toBe('–');
    expect(quiet['Loss now'].text).toBe('–');
    expect(quiet['Loss now'].title).toBe('No recent echoes');
    expect(quiet['Loss 30 min'].text).toBe('0 %');
    // Each figure is marked against the same threshold on its own: the link's recent loss is
    // high, its long-window loss is not; the ISP router is high on both.
    expect(classesOf(link['Loss now'].html, 'figure')).toContain('bad');
    expect(link['Loss 30 min'].classes).not.toContain('bad');
    expect(classesOf(isp['Loss now'].html, 'figure')).toContain('bad');
    expect(isp['Loss 30 min'].classes).toContain('bad');
  });

  it('marks recent loss from 3 % on and reads one echo in the singular', () => {
    const base = state(RECENT).hops[0];
    const { rows } = table([
      { ...base, hopNumber: 1, recentLoss: 2.9, recentSamples: 40 },
      { ...base, hopNumber: 2, recentLoss: 3, recentSamples: 40 },
      { ...base, hopNumber: 3, recentLoss: 100, recentSamples: 1 },
      { ...base, hopNumber: 4, recentLoss: 0, recentSamples: undefined },
    ]);
    expect(rows.map((r) => classesOf(r['Loss now'].html, 'figure')?.includes('bad'))).toEqual([
      false,
      true,
      true,
      false,
    ]);
    expect(rows[2]['Loss now'].title).toBe('100 % of the last 1 echo lost');
    expect(rows[3]['Loss now'].text).toBe('0 %');
    expect(rows[3]['Loss now'].title).toBe('0 % of the recent echoes lost');
  });

  it('keeps a single loss column for messages without recent figures', () => {
    const { headers, rows, html } = table(state(HEALTHY).hops);
    expect(headers).toContain('Loss');
    expect(headers).not.toContain('Loss now');
    expect(classesOf(html, 'hops')).not.toContain('with-recent');
    expect(rows[1].Loss).toMatchObject({ text: '13 %', classes: expect.arrayContaining(['bad']) });
  });
});

describe('verdict and callout', () => {
  const overview = (s: NetworkState) => render(<Overview state={s} />);

  it('names the part of the path a callout blames', () => {
    const html = overview(state(RECENT));
    expect(classesOf(html, 'callout')).toContain('status-critical');
    expect(text(inner(html, 'callout-where') ?? '')).toBe('Where: Link (HomeNet)');
  });

  it('shows a callout that blames nothing without a Where line, neutral when nothing can be measured', () => {
    const html = overview(state(PING_NOT_PERMITTED));
    expect(text(inner(html, 'callout') ?? '')).toContain('Ping Not Permitted');
    expect(classesOf(html, 'callout')).toEqual(['callout', 'status-unknown']);
    expect(html).not.toContain('callout-where');
    // Not "still checking": the page would wait for ever.
    expect(text(inner(html, 'overview-body') ?? '')).toMatch(/^Your connection can't be checked/);
    // The commands arrive as text, every space and line break kept for copying.
    expect(text(inner(html, 'remedy-text') ?? '')).toBe(PING_REMEDY);

    const checking = state(PING_NOT_PERMITTED);
    checking.culpritCallout = {
      severity: 'warning',
      segmentId: '',
      title: 'Checking Your Connection',
      description: 'Gathering evidence.',
      remedy: '',
    };
    const checkingHtml = overview(checking);
    expect(classesOf(checkingHtml, 'callout')).toEqual(['callout', 'status-warning']);
    expect(checkingHtml).not.toContain('callout-where');
    expect(checkingHtml).not.toContain('What you can do');
    expect(text(inner(checkingHtml, 'overview-body') ?? '')).toMatch(/^Checking your connection…/);
  });

  it('does not promise a trace while nothing can be measured', () => {
    const page = (message: string) => {
      const store = new PageStore();
      store.accept(message, 1);
      return text(render(<App store={store} onRefresh={() => {}} />));
    };
    const blocked = page(PING_NOT_PERMITTED);
    expect(blocked).toContain('cannot measure the path until the problem above is solved');
    expect(blocked).not.toContain('Tracing the route');
    const waiting = JSON.parse(PING_NOT_PERMITTED);
    waiting.culpritCallout.severity = 'warning';
    expect(page(JSON.stringify(waiting))).toContain('Tracing the route');
  });

  it('renders markup in a remedy as text', () => {
    const s = state(PING_NOT_PERMITTED);
    s.culpritCallout!.remedy = 'Run <b>this</b> & "that" <img src=x onerror=alert(1)>';
    const html = overview(s);
    expect(html).not.toContain('<img');
    expect(html).not.toContain('<b>');
    expect(text(inner(html, 'remedy-text') ?? '')).toBe(s.culpritCallout!.remedy);
  });
});

describe('a destination that does not answer ping', () => {
  const withoutPing = () => {
    const s = state(RECENT);
    s.segments.find((seg) => seg.id === 'services')!.details.answersPing = false;
    return s;
  };

  it('says so on its card and on the path, and lists no flag for it', () => {
    const s = withoutPing();
    const cards = render(<InfoCards state={s} />);
    expect(text(cards)).toMatch(/does not answer ping/i);
    expect(text(cards)).not.toMatch(/answers ping/i);
    const path = render(<PathView segments={s.segments} selected="services" onSelect={() => {}} />);
    expect(text(inner(path, 'segment-details') ?? '')).toContain('does not answer ping');
    expect(path).toMatch(/class="segment-note">Does not answer ping</);
    expect(path).toMatch(/aria-label="Destination: Cloudflare DNS\. Status: Good\. Does not answer ping\./);
  });

  it('says nothing of ping when the destination answers', () => {
    const s = state(RECENT);
    for (const html of [
      render(<InfoCards state={s} />),
      render(<PathView segments={s.segments} selected="services" onSelect={() => {}} />),
    ]) {
      expect(text(html)).not.toMatch(/ping/i);
    }
  });
});

describe('makers of the computer and the router', () => {
  it('are noted under them, unless the name shown is the maker already', () => {
    const s = state(HEALTHY);
    const seg = (id: string) => s.segments.find((x) => x.id === id)!;
    seg('device').details.clientManufacturer = 'Example Laptop Company';
    seg('homeNetwork').details.gatewayManufacturer = 'Example Networks';
    let path = render(<PathView segments={s.segments} selected={null} onSelect={() => {}} />);
    expect(path).toMatch(/aria-label="Client: SIM-PC\. Made by Example Laptop Company\. Status: Good\./);
    expect(path.match(/class="segment-note">Made by [^<]*</g)).toEqual([
      'class="segment-note">Made by Example Laptop Company<',
    ]);

    seg('homeNetwork').displayName = 'Console 7';
    path = render(<PathView segments={s.segments} selected={null} onSelect={() => {}} />);
    expect(path).toContain('class="segment-note">Made by Example Networks<');
    expect(path).toMatch(/aria-label="Gateway: Console 7\. Made by Example Networks\. Status:/);
  });
});

describe('the provider', () => {
  // The healthy home's message with the ISP segment's details (and the public address) replaced.
  const withIsp = (details: Record<string, unknown>, publicIp = false): NetworkState => {
    const s = state(HEALTHY);
    if (!publicIp) delete s.publicIpInfo;
    s.segments.find((seg) => seg.id === 'isp')!.details = details;
    return s;
  };
  // The text of the public address card, or undefined without one.
  const publicCard = (s: NetworkState) => {
    const m = render(<InfoCards state={s} />).match(
      /<article[^>]*aria-labelledby="card-public"[^>]*>([\s\S]*?)<\/article>/,
    );
    return m ? text(m[1]) : undefined;
  };
  const card = (s: NetworkState) => publicCard(s) ?? '';
  const path = (s: NetworkState) => render(<PathView segments={s.segments} selected="isp" onSelect={() => {}} />);

  it('is named from the route while the public address is not known, and says so', () => {
    const s = withIsp({ asn: 'AS64500', provider: 'EXAMPLE-NET, ZZ', providerSource: 'path', latencyMs: 10 });
    expect(card(s)).toContain('Your ISP');
    expect(card(s)).toMatch(/Named from the route to the internet; your public address is not known yet/);
    expect(card(s)).toMatch(/ProviderEXAMPLE-NET, ZZ/);
    expect(card(s)).toMatch(/AS numberAS64500/);
    expect(card(s)).toMatch(/Provider found fromThe route to the internet/);
    expect(card(s)).not.toMatch(/Public address/);
    expect(path(s)).not.toContain('Finding your provider');
  });

  it('shows the public address, its name and AS once STUN answered', () => {
    const s = withIsp(
      {
        publicIp: '203.0.113.45',
        publicHostname: 'cpe-45.example-cable.net',
        asn: 'AS64500',
        provider: 'EXAMPLE-CABLE',
        providerSource: 'stun',
        location: 'Springfield, ZZ',
        satelliteProvider: 'Starlink',
        ispDistanceMiles: 145,
      },
      true,
    );
    const shown = card(s);
    expect(shown).toContain('Public address and ISP');
    expect(shown).not.toMatch(/not known yet/);
    for (const fact of [
      'Public address203.0.113.45',
      'Public host namecpe-45.example-cable.net',
      'ProviderEXAMPLE-CABLE',
      'AS numberAS64500',
      'Provider found fromYour public address',
      'LocationSpringfield, ZZ',
      'Satellite serviceStarlink',
      'ISP entry point distance145 mi',
    ]) {
      expect(shown).toContain(fact);
    }
  });

  it('is still being found only while neither source knows it', () => {
    const s = withIsp({ status: 'discovering' });
    expect(publicCard(s)).toBeUndefined();
    expect(path(s)).toMatch(/class="segment-note">Finding your provider…</);
  });
});

describe('update offer', () => {
  const banner = (urgency: string) => {
    const store = new PageStore();
    store.accept({ type: 'updateAvailable', payload: { version: '1.2.0', urgency, releaseNotesUrl: 'https://n/' } }, 1);
    return text(render(<App store={store} onRefresh={() => {}} />));
  };
  it('offers the download and the notes, and lets an optional one wait', () => {
    expect(banner('recommended')).toMatch(
      /Quillon v1\.2\.0 is available\. This update is recommended\.What's newDownloadNot now/,
    );
  });
  it('cannot be put off when required', () => {
    expect(banner('required')).toMatch(/This update is required\.What's newDownload/);
    expect(banner('required')).not.toMatch(/Not now/);
  });
});

describe('no tray icon on the desktop', () => {
  it('says that closing ends the program until read, and not again on later runs', () => {
    const saved = new Map<string, string>();
    const storage = {
      getItem: (k: string) => saved.get(k) ?? null,
      setItem: (k: string, v: string) => void saved.set(k, v),
    };
    const page = (store: PageStore) => text(render(<App store={store} onRefresh={() => {}} />));
    const first = new PageStore({}, {}, storage);
    expect(page(first)).not.toMatch(/no tray icon/);
    first.accept({ type: 'noTray' }, 1);
    expect(page(first)).toMatch(/This desktop shows no tray icon for Quillon\. Closing this window ends Quillon/);
    first.dismissNoTrayNotice();
    expect(page(first)).not.toMatch(/no tray icon/);
    // A reconnecting page is told again; the person has read it.
    first.accept({ type: 'noTray' }, 2);
    expect(page(first)).not.toMatch(/no tray icon/);
    const next = new PageStore({}, {}, storage);
    next.accept(JSON.stringify({ type: 'noTray' }), 3);
    expect(page(next)).not.toMatch(/no tray icon/);
  });
});

describe('the wired link card', () => {
  const wiredCard = (details: Record<string, unknown>) => {
    const s = state(HEALTHY);
    s.segments.find((seg) => seg.id === 'connection')!.details = details;
    const m = render(<InfoCards state={s} />).match(
      /<article[^>]*aria-labelledby="card-wired"[^>]*>([\s\S]*?)<\/article>/,
    );
    return m?.[1] ?? '';
  };
  const base = { adapterType: 'Ethernet', interfaceName: 'eth0', linkSpeed: '1 Gbps' };

  it('says which switch and port the cable goes into, once, above the link facts', () => {
    const html = wiredCard({ ...base, lldpSwitch: 'core-sw1 <b>', lldpPort: 'Gi1/0/7' });
    expect(inner(html, 'card-switch')).toBeDefined();
    expect(text(inner(html, 'card-switch') ?? '')).toBe('Plugged into core-sw1 <b>, port Gi1/0/7');
    expect(html).not.toContain('<b>');
    expect(text(html).match(/core-sw1/g)).toHaveLength(1);
    expect(text(html)).toMatch(/Link speed1 Gbps/);
    expect(text(wiredCard({ ...base, lldpPort: 'ge-0/0/3' }))).toContain('Plugged into a switch, port ge-0/0/3');
    expect(text(wiredCard({ ...base, lldpSwitch: 'edge' }))).toMatch(/Plugged into edge(?!,)/);
  });

  it('says nothing of a switch when none announced itself', () => {
    const html = wiredCard(base);
    expect(html).toContain('eth0');
    expect(html).not.toContain('card-switch');
    expect(text(html)).not.toMatch(/switch|plugged/i);
  });
});
