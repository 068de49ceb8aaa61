// The page's only way to talk to the application. Inside the desktop front ends the host
// injects window.chrome.webview (posts strings, delivers parsed values); in a plain browser
// the headless bridge serves this page and speaks Server-Sent Events one way and HTTP POST
// the other. Either way callers see the same small interface.

// 'refused': the application answers but not to this page's token (it was restarted).
export type ConnectionState = 'connecting' | 'connected' | 'unreachable' | 'refused';

export interface BridgeEvents {
  onMessage(data: unknown): void;
  onConnection(state: ConnectionState): void;
}

export interface Bridge {
  readonly kind: 'webview' | 'headless';
  // Resolves false when the text could not be handed over.
  send(text: string): Promise<boolean>;
  close(): void;
}

interface WebViewLike {
  postMessage(message: unknown): void;
  addEventListener(type: 'message', listener: (event: { data: unknown }) => void): void;
  removeEventListener?(type: 'message', listener: (event: { data: unknown }) => void): void;
}

interface EventSourceLike {
  onopen: ((ev: unknown) => void) | null;
  onmessage: ((ev: { data: string }) => void) | null;
  onerror: ((ev: unknown) => void) | null;
  close(): void;
}

export interface HeadlessOptions {
  baseUrl: string; // the page's own address; bridge paths are resolved against it
  token: string;
  createEventSource?: (url: string) => EventSourceLike;
  post?: (url: string, body: string) => Promise<boolean>;
  // HTTP status of a plain request with the token; 0 when nothing answered.
  probe?: (url: string) => Promise<number>;
  setTimer?: (fn: () => void, ms: number) => unknown;
  clearTimer?: (handle: unknown) => void;
}

// Reconnect delays: 0.5 s doubling to at most 10 s.
export function backoffDelay(attempt: number): number {
  return Math.min(10_000, 500 * 2 ** Math.max(0, attempt));
}

export function bridgeUrl(baseUrl: string, path: string, token: string): string {
  const url = new URL(path, baseUrl);
  if (token) url.searchParams.set('token', token);
  return url.toString();
}

export function webviewBridge(webview: WebViewLike, events: BridgeEvents): Bridge {
  const listener = (event: { data: unknown }) => events.onMessage(event.data);
  webview.addEventListener('message', listener);
  events.onConnection('connected');
  return {
    kind: 'webview',
    send(text) {
      try {
        webview.postMessage(text);
        return Promise.resolve(true);
      } catch {
        return Promise.resolve(false);
      }
    },
    close() {
      webview.removeEventListener?.('message', listener);
    },
  };
}

async function defaultProbe(url: string): Promise<number> {
  try {
    return (await fetch(url, { cache: 'no-store' })).status;
  } catch {
    return 0;
  }
}

async function defaultPost(url: string, body: string): Promise<boolean> {
  try {
    const response = await fetch(url, {
      method: 'POST',
      headers: { 'Content-Type': 'text/plain;charset=utf-8' },
      body,
    });
    return response.ok;
  } catch {
    return false;
  }
}

export function headlessBridge(options: HeadlessOptions, events: BridgeEvents): Bridge {
  const create = options.createEventSource ?? ((url: string) => new EventSource(url) as EventSourceLike);
  const post = options.post ?? defaultPost;
  const probe = options.probe ?? defaultProbe;
  const pageUrl = bridgeUrl(options.baseUrl, './', options.token);
  const setTimer = options.setTimer ?? ((fn: () => void, ms: number) => setTimeout(fn, ms));
  const clearTimer = options.clearTimer ?? ((h: unknown) => clearTimeout(h as ReturnType<typeof setTimeout>));
  const eventsUrl = bridgeUrl(options.baseUrl, 'bridge/events', options.token);
  const messageUrl = bridgeUrl(options.baseUrl, 'bridge/message', options.token);

  let source: EventSourceLike | null = null;
  let attempt = 0;
  let timer: unknown = null;
  let closed = false;
  let refused = false;

  const open = () => {
    timer = null;
    if (closed) return;
    if (attempt === 0) events.onConnection('connecting');
    const s = create(eventsUrl);
    source = s;
    s.onopen = () => {
      attempt = 0;
      refused = false;
      events.onConnection('connected');
    };
    s.onmessage = (ev) => events.onMessage(ev.data);
    s.onerror = () => {
      // The browser's own retry has a fixed delay and no notion of giving the user feedback;
      // we close and retry with back-off instead.
      s.close();
      if (source !== s || closed) return;
      source = null;
      if (!refused) events.onConnection('unreachable');
      // An event stream does not tell why it failed; a plain request does.
      void probe(pageUrl).then((status) => {
        if (status === 403 && !closed && !refused) {
          refused = true;
          events.onConnection('refused');
        }
      });
      timer = setTimer(open, backoffDelay(attempt++));
    };
  };
  open();

  return {
    kind: 'headless',
    send: (text) => post(messageUrl, text),
    close() {
      closed = true;
      if (timer !== null) clearTimer(timer);
      source?.close();
      source = null;
    },
  };
}

export function tokenFrom(location: { search: string; hash: string }): string {
  const fromQuery = new URLSearchParams(location.search).get('token');
  if (fromQuery) return fromQuery;
  return new URLSearchParams(location.hash.replace(/^#/, '')).get('token') ?? '';
}

// Picks the bridge for this window.
export function connectBridge(win: Window, events: BridgeEvents): Bridge {
  const webview = (win as unknown as { chrome?: { webview?: WebViewLike } }).chrome?.webview;
  if (webview) return webviewBridge(webview, events);
  return headlessBridge({ baseUrl: win.location.href, token: tokenFrom(win.location) }, events);
}
