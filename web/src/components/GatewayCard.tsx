import { useEffect, useRef, useState } from 'preact/hooks';
import {
  CERTIFICATE_CHANGED_TEXT,
  checkCode,
  checkSignIn,
  type FieldProblem,
  type GatewayFacts,
  type GatewayStore,
  type SignInField,
  type SignInValues,
} from '../gateway';

export interface GatewayCommands {
  signIn(values: SignInValues): void;
  sendCode(values: SignInValues, code: string): void;
  forget(): void;
}

interface Props {
  facts: GatewayFacts;
  gateway: GatewayStore;
  commands: GatewayCommands;
}

const BUSY_TEXT = { login: 'Signing in…', mfa: 'Checking the code…', forget: 'Forgetting…' };

const hasSaved = (gateway: GatewayStore) =>
  gateway.session === 'signedIn' || gateway.session === 'expired' || gateway.session === 'unreachable';

// Shown when the gateway is a console one can sign in to, or a sign-in is saved for it.
export const showsGatewayCard = (facts: GatewayFacts, gateway: GatewayStore): boolean =>
  facts.isConsole || hasSaved(gateway);

// The gateway's model, whether the saved sign-in holds, and the sign-in itself, with the
// one-time code when the gateway asks for one.
export function GatewayCard({ facts, gateway, commands }: Props) {
  if (!showsGatewayCard(facts, gateway)) return null;
  const saved = hasSaved(gateway);
  const busy = gateway.busy;
  return (
    <article class="card gateway-card" aria-labelledby="card-gateway" aria-busy={busy ? true : undefined}>
      <h3 id="card-gateway">Your gateway</h3>
      {facts.model && (
        <p class="gateway-model">
          <span class="muted">Model</span> <strong>{facts.model}</strong>
          {facts.address && <span class="muted"> at {facts.address}</span>}
        </p>
      )}
      <SessionLine gateway={gateway} gatewayAddress={facts.address} />
      {gateway.certificateChanged && saved && (
        <p class="gateway-warning" role="alert">
          {CERTIFICATE_CHANGED_TEXT}
        </p>
      )}
      {gateway.step !== 'closed' ? (
        <SignInForm gateway={gateway} commands={commands} />
      ) : (
        <>
          {gateway.error && (
            <p class="form-error" role="alert">
              {gateway.error}
            </p>
          )}
          <div class="form-actions">
            {gateway.session !== 'signedIn' && (
              <button type="button" class="primary" onClick={() => gateway.openForm()} disabled={busy !== null}>
                {gateway.session === 'expired' ? 'Sign in again' : 'Sign in to your gateway'}
              </button>
            )}
            {saved && (
              <button type="button" onClick={() => commands.forget()} disabled={busy !== null}>
                {busy === 'forget' ? BUSY_TEXT.forget : 'Forget sign-in'}
              </button>
            )}
          </div>
        </>
      )}
    </article>
  );
}

// The address signed in to is said only when it is not the gateway's own.
function SessionLine({ gateway, gatewayAddress }: { gateway: GatewayStore; gatewayAddress: string }) {
  const elsewhere = gateway.host && gateway.host !== gatewayAddress ? gateway.host : '';
  switch (gateway.session) {
    case 'signedIn':
      return (
        <p class="gateway-session signed-in" role="status">
          <span aria-hidden="true">✓ </span>Signed in as {gateway.username || 'you'}
          {elsewhere && <span class="muted"> at {elsewhere}</span>}
        </p>
      );
    case 'expired':
      return (
        <p class="gateway-session expired" role="status">
          <span aria-hidden="true">! </span>Session expired - sign in again
          {gateway.username && <span class="muted"> (as {gateway.username})</span>}
        </p>
      );
    case 'unreachable':
      return (
        <p class="gateway-session expired" role="status">
          <span aria-hidden="true">! </span>Your gateway is not answering right now - the sign-in is kept
          {gateway.username && <span class="muted"> (as {gateway.username})</span>}
        </p>
      );
    case 'none':
      return (
        <p class="gateway-session muted" role="status">
          Not signed in.
        </p>
      );
    default:
      return gateway.checking ? (
        <p class="gateway-session muted" role="status">
          Checking the saved sign-in…
        </p>
      ) : null;
  }
}

// The form keeps the password itself, for the code step, and drops it when it closes or the
// password turned out wrong; it never goes to the page's store.
function SignInForm({ gateway, commands }: { gateway: GatewayStore; commands: GatewayCommands }) {
  const [values, setValues] = useState<SignInValues>({ username: gateway.username, password: '', host: '' });
  const [code, setCode] = useState('');
  const [problem, setProblem] = useState<FieldProblem | null>(null);
  const [otherAddress, setOtherAddress] = useState(false);
  const form = useRef<HTMLFormElement>(null);
  const step = gateway.step;
  const busy = gateway.busy;

  // A new outcome: a refused password or code is typed again; the next step takes the focus.
  const seen = useRef(gateway.replies);
  useEffect(() => {
    if (seen.current === gateway.replies) return;
    seen.current = gateway.replies;
    if (gateway.error && step === 'credentials') setValues((v) => ({ ...v, password: '' }));
    if (gateway.error && step === 'code') setCode('');
  }, [gateway.replies, gateway.error, step]);
  useEffect(() => {
    const first = step === 'code' ? '#gw-code' : values.username ? '#gw-password' : '#gw-username';
    form.current?.querySelector<HTMLElement>(first)?.focus();
    // Only when the step changes.
    // eslint-disable-next-line react-hooks/exhaustive-deps
  }, [step]);

  const submit = (e: Event) => {
    e.preventDefault();
    if (busy) return;
    const found = step === 'code' ? checkCode(code.trim()) : checkSignIn(values);
    setProblem(found);
    if (found?.field === 'host') setOtherAddress(true);
    if (found) {
      form.current?.querySelector<HTMLElement>(`#gw-${found.field}`)?.focus();
      return;
    }
    if (step === 'code') commands.sendCode(values, code.trim());
    else commands.signIn(values);
  };
  const cancel = () => {
    setValues({ username: '', password: '', host: '' });
    gateway.closeForm();
  };

  const invalid = (field: SignInField) => (problem?.field === field ? true : undefined);
  const described = (field: SignInField) => (problem?.field === field ? 'gw-problem' : undefined);
  const message = problem?.text ?? gateway.error;

  return (
    <form ref={form} class="gateway-form" onSubmit={submit} noValidate aria-label="Sign in to your gateway">
      {step === 'credentials' ? (
        <>
          <div class="field">
            <label for="gw-username">User name</label>
            <input
              id="gw-username"
              type="text"
              autoComplete="username"
              spellcheck={false}
              value={values.username}
              disabled={busy !== null}
              aria-invalid={invalid('username')}
              aria-describedby={described('username')}
              onInput={(e) => setValues({ ...values, username: (e.target as HTMLInputElement).value })}
            />
          </div>
          <div class="field">
            <label for="gw-password">Password</label>
            <input
              id="gw-password"
              type="password"
              autoComplete="current-password"
              value={values.password}
              disabled={busy !== null}
              aria-invalid={invalid('password')}
              aria-describedby={described('password')}
              onInput={(e) => setValues({ ...values, password: (e.target as HTMLInputElement).value })}
            />
          </div>
          <details
            class="other-address"
            open={otherAddress}
            onToggle={(e) => setOtherAddress((e.target as HTMLDetailsElement).open)}
          >
            <summary>Other address</summary>
            <div class="field">
              <label for="gw-host">Gateway address</label>
              <input
                id="gw-host"
                type="text"
                inputMode="url"
                spellcheck={false}
                placeholder="The default gateway"
                value={values.host}
                disabled={busy !== null}
                aria-invalid={invalid('host')}
                aria-describedby={described('host') ?? 'gw-host-hint'}
                onInput={(e) => setValues({ ...values, host: (e.target as HTMLInputElement).value.trim() })}
              />
              <span class="hint" id="gw-host-hint">
                Only when the console is not this computer’s gateway
              </span>
            </div>
          </details>
        </>
      ) : (
        <div class="field">
          <label for="gw-code">One-time code</label>
          <span class="hint" id="gw-code-hint">
            Your gateway asks for the code your authenticator app shows for it.
          </span>
          <input
            id="gw-code"
            type="text"
            inputMode="numeric"
            autoComplete="one-time-code"
            spellcheck={false}
            value={code}
            disabled={busy !== null}
            aria-invalid={invalid('code')}
            aria-describedby={described('code') ?? 'gw-code-hint'}
            onInput={(e) => setCode((e.target as HTMLInputElement).value)}
          />
        </div>
      )}
      {message && (
        <p class="form-error" id="gw-problem" role="alert">
          {message}
        </p>
      )}
      {busy && busy !== 'check' && (
        <p class="hint gateway-wait" role="status">
          Waiting for the gateway. If it does not answer, this takes up to a minute.
        </p>
      )}
      <div class="form-actions">
        <button type="submit" class="primary" disabled={busy !== null}>
          {busy === 'login' || busy === 'mfa' ? BUSY_TEXT[busy] : step === 'code' ? 'Confirm code' : 'Sign in'}
        </button>
        <button type="button" onClick={cancel}>
          Cancel
        </button>
      </div>
    </form>
  );
}
