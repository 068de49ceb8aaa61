// What the page's controls do: every command goes through here, so a refused value always
// becomes a visible message and never reaches the bridge.

import type { Bridge } from './bridge';
import { encodeCommand, type CommandObject } from './commands';
import type { PageStore } from './store';

export interface Actions {
  send(action: string, fields?: CommandObject): Promise<boolean>;
  rediscover(): Promise<boolean>;
}

export function createActions(
  bridge: Pick<Bridge, 'send'>,
  store: PageStore,
  setTimer: (fn: () => void, ms: number) => unknown = (fn, ms) => setTimeout(fn, ms),
): Actions {
  const send = async (action: string, fields: CommandObject = {}): Promise<boolean> => {
    const command = encodeCommand(action, fields);
    if (!command.ok) {
      store.setNotice({ kind: 'error', text: `Not sent: ${command.error}` });
      return false;
    }
    const sent = await bridge.send(command.text);
    if (!sent) store.setNotice({ kind: 'error', text: 'Could not reach Quillon. Is it still running?' });
    return sent;
  };

  const rediscover = async (): Promise<boolean> => {
    store.setNotice({ kind: 'info', text: 'Asking Quillon to rediscover the path…' });
    store.setRefreshing(true);
    const sent = await send('triggerRefresh');
    if (!sent) {
      store.setRefreshing(false);
      return false;
    }
    // The application answers with a fresh state; if none comes the button must not stay stuck.
    setTimer(() => {
      if (!store.refreshing) return;
      store.setRefreshing(false);
      store.setNotice({ kind: 'info', text: 'Rediscovery requested. New measurements will appear shortly.' });
    }, 5000);
    return true;
  };

  return { send, rediscover };
}
