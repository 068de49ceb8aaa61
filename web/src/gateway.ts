// The sign-in to the home gateway as the page sees it: what the network state says about the
// gateway, whether a saved sign-in holds, which step of the sign-in form is showing, the
// requests awaiting their replies and why the last one failed. The password is never held
// here: the form keeps it while it is open and hands it to the command.

import type { GatewayForgetResult, GatewaySessionStatus, GatewaySignInResult, NetworkState } from './messages';

// unknown: not asked yet (or the gateway changed); none: no saved sign-in; expired: one is
// saved but the gateway no longer takes it; unreachable: one is saved but the gateway did not
// answer the check.
export type GatewaySession = 'unknown' | 'none' | 'signedIn' | 'expired' | 'unreachable';
export type GatewayRequest = 'login' | 'mfa' | 'check' | 'forget';
export type GatewayStep = 'closed' | 'credentials' | 'code';

export const CERTIFICATE_CHANGED_TEXT =
  "The gateway's certificate changed since you last signed in — if you did not replace or reset the gateway, someone else may be answering in its place";

// The application's reasons, in words for the person at the keyboard.
const ERROR_TEXTS: Record<string, string> = {
  'No gateway found':
    'This computer has no gateway right now. Check that it is connected to your network, or give the gateway’s address under “Other address”.',
  'Failed to connect to gateway':
    'Quillon could not open a connection to that address. Check the address under “Other address”.',
  'Invalid username or password': 'The user name or password is not right.',
  'Network error - check connection':
    'The gateway did not answer. Check that this computer is connected to your network, then try again.',
  'Too many sign-in attempts - the gateway refuses for a while':
    'Too many sign-in attempts: the gateway refuses new ones for a while. Wait a few minutes, then try again.',
  'Username or password too long':
    'The user name or the password is too long for the gateway (at most 255 bytes each).',
  'Login failed': 'The gateway refused the sign-in without saying why. Try again in a moment.',
  'Invalid MFA code': 'That code is not right, or it has run out. Enter the code your authenticator app shows now.',
};

export const gatewayErrorText = (error: string): string => ERROR_TEXTS[error] ?? error;

export interface GatewayFacts {
  key: string; // the gateway's hardware address, else its address; '' without a gateway
  address: string;
  isConsole: boolean; // recognised as a console one can sign in to
  model?: string;
}

const str = (v: unknown): string => (typeof v === 'string' ? v : '');

export function gatewayFacts(state: NetworkState | null): GatewayFacts {
  const details = state?.segments.find((s) => s.id === 'homeNetwork')?.details ?? {};
  const address = str(details.gatewayIP);
  return {
    key: str(details.gatewayMAC) || address,
    address,
    isConsole: details.isUniFi === true,
    model: str(details.unifiModel) || undefined,
  };
}

export interface SignInValues {
  username: string;
  password: string;
  host: string; // '' for the default gateway
}

const MAX_TEXT_BYTES = 255;
const MAX_CODE_BYTES = 15;
const bytes = (text: string): number => new TextEncoder().encode(text).length;

export type SignInField = 'username' | 'password' | 'host' | 'code';
export interface FieldProblem {
  field: SignInField;
  text: string;
}

// What stops the sign-in from being sent, field by field, or null.
export function checkSignIn({ username, password, host }: SignInValues): FieldProblem | null {
  if (!username.trim()) return { field: 'username', text: 'Enter the user name.' };
  if (bytes(username) > MAX_TEXT_BYTES) return { field: 'username', text: 'The user name is too long.' };
  if (!password) return { field: 'password', text: 'Enter the password.' };
  if (bytes(password) > MAX_TEXT_BYTES) return { field: 'password', text: 'The password is too long.' };
  if (host && !/^[A-Za-z0-9.-]{1,253}$/.test(host)) {
    return { field: 'host', text: 'Give a name or an IPv4 address, like 192.168.1.1.' };
  }
  return null;
}

export function checkCode(code: string): FieldProblem | null {
  if (!code) return { field: 'code', text: 'Enter the code your authenticator app shows.' };
  if (/\s/.test(code) || bytes(code) > MAX_CODE_BYTES) {
    return { field: 'code', text: 'A code is a few digits, without spaces.' };
  }
  return null;
}

interface Pending {
  id: number;
  request: GatewayRequest;
  username: string;
  host: string;
}

export class GatewayStore {
  session: GatewaySession = 'unknown';
  username = ''; // of the saved or new sign-in
  host = ''; // the address it was made at
  certificateChanged = false;
  step: GatewayStep = 'closed';
  error: string | null = null; // why the last request failed
  // Sign-in replies so far, so the form can tell a new outcome from the one it has shown.
  replies = 0;
  private key = '';
  private nextId = 1;
  // Requests sent and not answered yet, oldest first: the application answers each in turn.
  private readonly pending: Pending[] = [];

  constructor(private readonly changed: () => void) {}

  // The request the person is waiting for; while there is one, another is not started.
  get busy(): GatewayRequest | null {
    return this.pending.find((p) => p.request !== 'check')?.request ?? null;
  }

  get checking(): boolean {
    return this.pending.some((p) => p.request === 'check');
  }

  // A new network state: whether the gateway is another than before (then what was known of
  // the sign-in no longer holds, and it should be asked again).
  observe(key: string): boolean {
    if (key === this.key) return false;
    const hadOne = this.key !== '';
    this.key = key;
    if (hadOne) {
      this.session = 'unknown';
      this.username = '';
      this.host = '';
      this.certificateChanged = false;
    }
    return key !== '';
  }

  openForm(): void {
    this.step = 'credentials';
    this.error = null;
    this.changed();
  }

  closeForm(): void {
    this.step = 'closed';
    this.error = null;
    this.changed();
  }

  // Starts a request: its id, or null when another is in hand (a second click does nothing;
  // a second check is not needed).
  begin(request: GatewayRequest, attempt: { username?: string; host?: string } = {}): number | null {
    if (request === 'check' ? this.checking : this.busy !== null) return null;
    const id = this.nextId++;
    this.pending.push({ id, request, username: attempt.username ?? '', host: attempt.host ?? '' });
    if (request !== 'check') this.error = null;
    this.changed();
    return id;
  }

  // The page's own ending of a request: it could not be sent, or no reply came in time.
  giveUp(id: number, error: string): void {
    const at = this.pending.findIndex((p) => p.id === id);
    if (at < 0) return;
    const [gone] = this.pending.splice(at, 1);
    if (gone.request !== 'check') this.error = error;
    this.changed();
  }

  private take(request: GatewayRequest): Pending | null {
    const at = this.pending.findIndex((p) => p.request === request);
    return at < 0 ? null : this.pending.splice(at, 1)[0];
  }

  // A reply; false when it answers nothing this page asked and says nothing of the state.
  accept(message: GatewaySignInResult | GatewaySessionStatus | GatewayForgetResult): boolean {
    switch (message.type) {
      case 'unifiLoginResult':
      case 'unifiMfaResult': {
        // Another page's sign-in: this one learns of it with its next check.
        const asked = this.take(message.type === 'unifiLoginResult' ? 'login' : 'mfa');
        if (!asked) return false;
        this.replies++;
        if (message.success) {
          this.signedIn(asked.username, asked.host, message.certificateChanged);
          this.step = 'closed';
          this.error = null;
        } else if (message.requiresMfa) {
          this.step = 'code';
          this.error = null;
        } else if (this.step !== 'closed') {
          this.error = gatewayErrorText(message.error ?? 'Login failed');
        }
        break;
      }
      case 'unifiSessionStatus':
        this.take('check');
        if (message.authenticated) {
          this.signedIn(message.username ?? this.username, message.host ?? this.host, message.certificateChanged);
        } else {
          const saved = message.username !== undefined || message.host !== undefined;
          this.session = !saved ? 'none' : message.unreachable ? 'unreachable' : 'expired';
          this.username = message.username ?? '';
          this.host = message.host ?? '';
          this.certificateChanged = message.certificateChanged;
        }
        break;
      case 'unifiForgetResult':
        this.take('forget');
        if (message.success) {
          this.session = 'none';
          this.username = '';
          this.host = '';
          this.certificateChanged = false;
          this.error = null;
        } else {
          this.error = 'Quillon could not forget the sign-in. Try again.';
        }
        break;
    }
    this.changed();
    return true;
  }

  private signedIn(username: string, host: string, certificateChanged: boolean): void {
    this.session = 'signedIn';
    this.username = username;
    this.host = host;
    this.certificateChanged = certificateChanged;
  }
}
