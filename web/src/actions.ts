// What the page's controls do: every command goes through here, so a refused value always
// becomes a visible message and never reaches the bridge.

import type { ExportFormat, Period } from './archive';
import type { Bridge } from './bridge';
import { encodeCommand, type CommandObject } from './commands';
import type { SignInValues } from './gateway';
import type { ServiceDefinition } from './messages';
import type { PageStore } from './store';

export interface Actions {
  send(action: string, fields?: CommandObject): Promise<boolean>;
  rediscover(): Promise<boolean>;
  saveService(service: ServiceDefinition): Promise<boolean>;
  deleteService(id: string, name: string): Promise<boolean>;
  dismissUpdate(version: string): Promise<boolean>;
  downloadUpdate(): Promise<boolean>;
  loadHistory(period: Period): Promise<boolean>;
  exportHistory(format: ExportFormat): Promise<boolean>;
  signInGateway(values: SignInValues): Promise<boolean>;
  sendGatewayCode(values: SignInValues, code: string): Promise<boolean>;
  checkGatewaySession(): Promise<boolean>;
  forgetGatewaySignIn(): Promise<boolean>;
}

// How long a save or delete may go unanswered before the page stops waiting.
export const SERVICE_CHANGE_TIMEOUT_MS = 15_000;
// A week of the archive takes the application a few seconds to read; well beyond that it is not
// coming. The History view asks again every minute in any case.
export const HISTORY_TIMEOUT_MS = 30_000;
export const EXPORT_TIMEOUT_MS = 60_000;
// A gateway that does not answer holds a sign-in for up to half a minute per request, and the
// requests queue behind each other; well beyond that the reply is not coming.
export const GATEWAY_TIMEOUT_MS = 75_000;
const UNREACHABLE = 'Could not reach Quillon. Is it still running?';

export function createActions(
  bridge: Pick<Bridge, 'send'>,
  store: PageStore,
  setTimer: (fn: () => void, ms: number) => unknown = (fn, ms) => setTimeout(fn, ms),
): Actions {
  // The command text, or why it cannot be sent.
  const deliver = async (action: string, fields: CommandObject): Promise<string | null> => {
    const command = encodeCommand(action, fields);
    if (!command.ok) return `Not sent: ${command.error}`;
    return (await bridge.send(command.text)) ? null : UNREACHABLE;
  };

  const send = async (action: string, fields: CommandObject = {}): Promise<boolean> => {
    const problem = await deliver(action, fields);
    if (problem) store.setNotice({ kind: 'error', text: problem });
    return problem === null;
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

  // A save or delete is answered by a change result; its outcome shows where it was asked for.
  const change = async (
    action: 'save' | 'delete',
    id: string,
    name: string,
    command: string,
    fields: CommandObject,
  ): Promise<boolean> => {
    const pending = { action, id, name };
    store.beginServiceChange(pending);
    const problem = await deliver(command, fields);
    if (problem) {
      store.finishServiceChange({ action, id, ok: false, error: problem });
      return false;
    }
    // Only this very change: a later save of the same service has its own time-out.
    setTimer(() => {
      if (store.services.pending !== pending) return;
      store.finishServiceChange({
        action,
        id,
        ok: false,
        error: 'Quillon did not answer. The change may not have been made.',
      });
    }, SERVICE_CHANGE_TIMEOUT_MS);
    return true;
  };

  const saveService = ({ id, name, target, probeType, port, intervalMs, enabled }: ServiceDefinition) =>
    change('save', id, name, 'saveEndpoint', { service: { id, name, target, probeType, port, intervalMs, enabled } });

  const deleteService = (id: string, name: string) => change('delete', id, name, 'deleteEndpoint', { id });

  // Quillon remembers the dismissed version; the banner goes at once.
  const dismissUpdate = async (version: string): Promise<boolean> => {
    const sent = await send('dismiss_update', { version });
    if (sent) store.clearUpdate();
    return sent;
  };

  // Quillon opens the download in the browser.
  const downloadUpdate = async (): Promise<boolean> => {
    const sent = await send('download_update');
    if (sent) store.setNotice({ kind: 'info', text: 'Opening the download in your browser…' });
    return sent;
  };

  // The reply is a history message; what went wrong shows in the History view, not at the top.
  const loadHistory = async (period: Period): Promise<boolean> => {
    const request = store.archive.beginLoad();
    const problem = await deliver('get_history', { period });
    if (problem) {
      store.archive.failLoad(request, problem);
      return false;
    }
    setTimer(
      () => store.archive.failLoad(request, 'Quillon did not send the history. It will be asked again.'),
      HISTORY_TIMEOUT_MS,
    );
    return true;
  };

  // Quillon writes the file itself and says where.
  const exportHistory = async (format: ExportFormat): Promise<boolean> => {
    const request = store.archive.beginExport(format);
    const problem = await deliver('export_history', { period: store.archive.period, format });
    if (problem) {
      store.archive.failExport(request, problem);
      return false;
    }
    setTimer(
      () => store.archive.failExport(request, 'Quillon did not answer. The file may not have been written.'),
      EXPORT_TIMEOUT_MS,
    );
    return true;
  };

  // One gateway request: the command, the reply the store waits for, and a time-out so that
  // the form is never left waiting.
  const gatewayRequest = async (
    request: 'login' | 'mfa' | 'check' | 'forget',
    command: string,
    fields: CommandObject,
    attempt: { username?: string; host?: string } = {},
  ): Promise<boolean> => {
    const id = store.gateway.begin(request, attempt);
    if (id === null) return false;
    const problem = await deliver(command, fields);
    if (problem) {
      store.gateway.giveUp(id, problem);
      return false;
    }
    setTimer(
      () => store.gateway.giveUp(id, 'Quillon did not answer. The gateway may still be busy; try again in a minute.'),
      GATEWAY_TIMEOUT_MS,
    );
    return true;
  };

  const signInGateway = ({ username, password, host }: SignInValues) =>
    gatewayRequest('login', 'unifi_login', { host, username, password }, { username, host });

  const sendGatewayCode = ({ username, password, host }: SignInValues, code: string) =>
    gatewayRequest('mfa', 'unifi_mfa', { host, username, password, totpCode: code }, { username, host });

  const checkGatewaySession = () => gatewayRequest('check', 'unifi_check_session', {});
  const forgetGatewaySignIn = () => gatewayRequest('forget', 'unifi_forget', {});

  return {
    send,
    rediscover,
    saveService,
    deleteService,
    dismissUpdate,
    downloadUpdate,
    loadHistory,
    exportHistory,
    signInGateway,
    sendGatewayCode,
    checkGatewaySession,
    forgetGatewaySignIn,
  };
}
