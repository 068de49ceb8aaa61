import { describe, expect, it } from 'vitest';
import { createActions } from '../src/actions';
import { PageStore } from '../src/store';
import { HEALTHY } from './fixtures';

function setup(delivered = true) {
  const sent: string[] = [];
  const timers: (() => void)[] = [];
  const store = new PageStore();
  const actions = createActions({ send: async (t) => (sent.push(t), delivered) }, store, (fn) => timers.push(fn));
  return { sent, timers, store, actions };
}

describe('page actions', () => {
  it('refuses a value with a double quote visibly and sends nothing', async () => {
    const { sent, store, actions } = setup();
    expect(await actions.send('deleteEndpoint', { id: 'a"b' })).toBe(false);
    expect(sent).toEqual([]);
    expect(store.notice).toMatchObject({ kind: 'error' });
    expect(store.notice?.text).toMatch(/id.*double quote/);
  });

  it('rediscovers: sends the command and gives feedback until the new state arrives', async () => {
    const { sent, timers, store, actions } = setup();
    expect(await actions.rediscover()).toBe(true);
    expect(sent).toEqual(['{"action":"triggerRefresh"}']);
    expect(store.refreshing).toBe(true);
    store.accept(HEALTHY, 1);
    expect(store.refreshing).toBe(false);
    timers.forEach((t) => t()); // the fallback timer no longer changes anything
    expect(store.notice?.text).toMatch(/started/);
  });

  it('releases the button and says so when the application cannot be reached', async () => {
    const { store, actions, timers } = setup(false);
    expect(await actions.rediscover()).toBe(false);
    expect(store.refreshing).toBe(false);
    expect(store.notice).toMatchObject({ kind: 'error' });
    expect(timers).toHaveLength(0);
  });

  it('stops waiting when no new state comes', async () => {
    const { store, actions, timers } = setup();
    await actions.rediscover();
    timers.forEach((t) => t());
    expect(store.refreshing).toBe(false);
    expect(store.notice?.kind).toBe('info');
  });

  it('shows an update offer until it is dismissed, and asks Quillon to remember that', async () => {
    const { sent, store, actions } = setup();
    const offer = (payload: object) => JSON.stringify({ type: 'updateAvailable', payload });
    expect(
      store.accept(
        offer({ version: '1.2.0', urgency: 'bogus', downloadUrl: 'file:///x', releaseNotesUrl: 'https://n/' }),
        1,
      ),
    ).toBe(true);
    // Only web addresses become links; an unknown urgency is optional.
    expect(store.update).toEqual({
      version: '1.2.0',
      urgency: 'optional',
      downloadUrl: undefined,
      releaseNotesUrl: 'https://n/',
    });
    expect(store.accept(offer({ urgency: 'required' }), 2)).toBe(false);
    expect(await actions.downloadUpdate()).toBe(true);
    expect(await actions.dismissUpdate('1.2.0')).toBe(true);
    expect(sent).toEqual(['{"action":"download_update"}', '{"action":"dismiss_update","version":"1.2.0"}']);
    expect(store.update).toBeNull();
  });
});
