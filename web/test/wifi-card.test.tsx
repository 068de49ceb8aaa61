import { describe, expect, it } from 'vitest';
import { render } from 'preact-render-to-string';
import { WifiCard, safeName, signalLevel } from '../src/components/WifiCard';
import { text } from './html';

const LINK = {
  ssid: 'Maple Street',
  bssid: '00:11:22:33:44:56',
  signalStrength: -71,
  signalQuality: 41,
  channel: 36,
  bandwidth: '80 MHz',
  security: 'WPA2-Personal',
  band: '5 GHz',
  phyType: '802.11ax',
  coChannelAPs: 2,
  neighborAPs: 4,
};

describe('WiFi card', () => {
  it('shows the name, a signal bar at its level, the radio, security and neighbours', () => {
    const html = render(<WifiCard wifi={LINK} />);
    const shown = text(html);
    expect(shown).toContain('WiFi Maple Street');
    expect(html).toMatch(/class="signal signal-fair"/);
    expect(html).toContain('aria-valuenow="41"');
    expect(html).toContain('width:41%');
    expect(shown).toContain('41% (-71 dBm) · Fair signal');
    expect(shown).toContain('Channel 36 · 5 GHz · 80 MHz');
    expect(shown).toContain('WPA2-Personal');
    expect(shown).toContain('2 on this channel, 4 heard in all');
    // The remaining facts are listed once, below; the ones shown above are not repeated.
    expect(shown).toContain('802.11ax');
    expect(shown.match(/Maple Street/g)).toHaveLength(1);
  });

  it('never passes control or direction characters of a name through', () => {
    expect(safeName('a\u001b[2Jb\u202eevil')).toBe('a\ufffd[2Jb\ufffdevil');
    expect(safeName(42)).toBe('');
    const html = render(<WifiCard wifi={{ ssid: '<b>x</b>', signalQuality: 10 }} />);
    expect(html).toContain('&lt;b>x&lt;/b>');
    expect(html).toMatch(/signal-poor/);
    expect(text(render(<WifiCard wifi={{ ssid: '' }} />))).toContain('Hidden network');
    expect([signalLevel(29), signalLevel(30), signalLevel(49), signalLevel(50)]).toEqual([
      'poor',
      'fair',
      'fair',
      'good',
    ]);
  });
});
