// Commands from the page to the application. The application reads fields by plain text
// search, so a command must be compact JSON and every text must arrive exactly as written:
// a text that JSON would have to escape (a double quote above all) is refused, not mangled.
// The exceptions are members the application decodes as JSON: the service of "saveEndpoint",
// and the user name and password of a gateway sign-in (a password may hold any character).
// Their texts may hold anything, escaped by JSON.stringify.

export type CommandValue = string | number | boolean | CommandObject;
export interface CommandObject {
  [key: string]: CommandValue;
}

export type Encoded = { ok: true; text: string } | { ok: false; error: string };

// Why a text cannot be sent unchanged, or null when it can.
function textProblem(text: string): string | null {
  if (text.includes('"')) return 'contains a double quote (")';
  if (text.includes('\\')) return 'contains a backslash (\\)';
  // eslint-disable-next-line no-control-regex -- control characters are what this looks for
  if (/[\u0000-\u001f]/.test(text)) return 'contains a control character';
  return null;
}

// Commands whose named members the application decodes as JSON.
const PARSED_MEMBERS: Record<string, readonly string[]> = {
  saveEndpoint: ['service'],
  unifi_login: ['username', 'password'],
  unifi_mfa: ['username', 'password'],
};

function findProblem(value: CommandValue, path: string, escaped: boolean): string | null {
  if (typeof value === 'string') {
    if (escaped) return null;
    const p = textProblem(value);
    return p ? `The value of "${path}" ${p}, which cannot be sent to the application.` : null;
  }
  if (typeof value === 'number') {
    return Number.isFinite(value) ? null : `The value of "${path}" is not a finite number.`;
  }
  if (typeof value === 'boolean') return null;
  for (const [key, inner] of Object.entries(value)) {
    const keyProblem = escaped ? null : textProblem(key);
    if (keyProblem) return `The field name "${key}" ${keyProblem}.`;
    const p = findProblem(inner, path ? `${path}.${key}` : key, escaped);
    if (p) return p;
  }
  return null;
}

// Encodes one command: {"action":NAME, ...fields} without any blanks.
export function encodeCommand(action: string, fields: CommandObject = {}): Encoded {
  const command: CommandObject = { action, ...fields };
  let problem: string | null = null;
  for (const [key, value] of Object.entries(command)) {
    problem = findProblem({ [key]: value }, '', PARSED_MEMBERS[action]?.includes(key) ?? false);
    if (problem) break;
  }
  if (problem) return { ok: false, error: problem };
  return { ok: true, text: JSON.stringify(command) };
}

const MAX_ERROR_TEXT = 500;

// Makes any text safe for an error report: the receiver cuts a value at the first double quote
// and unescapes nothing, so quotes become apostrophes and escapes become plain characters.
export function cleanErrorText(text: string): string {
  return (
    text
      .replace(/"/g, "'")
      .replace(/\\/g, '/')
      // eslint-disable-next-line no-control-regex -- control characters are what this replaces
      .replace(/[\u0000-\u001f\u007f]/g, ' ')
      .replace(/\s{2,}/g, ' ')
      .trim()
      .slice(0, MAX_ERROR_TEXT)
  );
}

export function encodeJsError(message: string, context: string): string {
  return JSON.stringify({
    type: 'jsError',
    message: cleanErrorText(message) || 'Unknown error',
    context: cleanErrorText(context) || 'unknown',
  });
}

// Describes an uncaught error event as (message, context).
export function describeErrorEvent(
  message: unknown,
  source?: string,
  line?: number,
  column?: number,
  error?: unknown,
): [string, string] {
  const text = error instanceof Error ? `${error.name}: ${error.message}` : String(message ?? 'Unknown error');
  const file = source ? source.replace(/^.*\//, '') : 'page';
  return [text, `window.onerror ${file}:${line ?? 0}:${column ?? 0}`];
}

export function describeRejection(reason: unknown): [string, string] {
  const text =
    reason instanceof Error
      ? `${reason.name}: ${reason.message}`
      : typeof reason === 'string'
        ? reason
        : safeJson(reason);
  return [text, 'unhandledrejection'];
}

function safeJson(value: unknown): string {
  try {
    return JSON.stringify(value) ?? String(value);
  } catch {
    return String(value);
  }
}
