import { render } from 'preact';
import { connectBridge, type Bridge } from './bridge';
import { createActions } from './actions';
import { describeErrorEvent, describeRejection, encodeJsError } from './commands';
import { PageStore } from './store';
import { App } from './components/App';
import './styles.css';

const store = new PageStore();
let bridge: Bridge | null = null;

// Script errors go to the application's log; a page that keeps failing stops reporting
// after a while rather than flooding it.
let reports = 0;
function report([message, context]: [string, string]): void {
  if (!bridge || reports >= 20) return;
  reports++;
  void bridge.send(encodeJsError(message, context));
}
window.onerror = (message, source, line, column, error) => {
  report(describeErrorEvent(message, source, line, column, error));
  return false;
};
window.addEventListener('unhandledrejection', (event) => report(describeRejection(event.reason)));

bridge = connectBridge(window, {
  onMessage: (data) => store.accept(data, Date.now()),
  onConnection: (state) => store.setConnection(state),
});

const actions = createActions(bridge, store);

// Read by the browser tests and handy in the developer tools.
(window as unknown as { quillon: unknown }).quillon = { store, actions };

const services = {
  saveService: (service: Parameters<typeof actions.saveService>[0]) => void actions.saveService(service),
  deleteService: (id: string, name: string) => void actions.deleteService(id, name),
};

const updates = {
  dismiss: (version: string) => void actions.dismissUpdate(version),
  download: () => void actions.downloadUpdate(),
};

const history = {
  load: (period: Parameters<typeof actions.loadHistory>[0]) => void actions.loadHistory(period),
  exportAs: (format: Parameters<typeof actions.exportHistory>[0]) => void actions.exportHistory(format),
};

const gateway = {
  signIn: (values: Parameters<typeof actions.signInGateway>[0]) => void actions.signInGateway(values),
  sendCode: (values: Parameters<typeof actions.sendGatewayCode>[0], code: string) =>
    void actions.sendGatewayCode(values, code),
  forget: () => void actions.forgetGatewaySignIn(),
  checkSession: () => void actions.checkGatewaySession(),
};

render(
  <App
    store={store}
    onRefresh={() => void actions.rediscover()}
    services={services}
    updates={updates}
    history={history}
    gateway={gateway}
  />,
  document.getElementById('app')!,
);
