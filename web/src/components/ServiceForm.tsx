import { useRef, useState } from 'preact/hooks';
import { PROBE_TYPES, type ServiceDefinition } from '../messages';
import {
  KIND_LABELS,
  MAX_INTERVAL_S,
  MAX_NAME,
  MIN_INTERVAL_S,
  TARGET_HINTS,
  checkServiceForm,
  formValues,
  usesPort,
  type FormErrors,
  type FormField,
  type ServiceFormValues,
} from '../serviceForm';

interface Props {
  service?: ServiceDefinition; // absent: a new service
  id: string; // the service's id, or the one a new service gets
  saving: boolean;
  error?: string; // why the last save failed
  onSave(service: ServiceDefinition): void;
  onCancel(): void;
}

const PORT_HINTS = {
  icmp: 'Not used for this kind',
  dns: 'Not used for this kind',
  tcp: 'Needed unless the target ends in :port',
  http: 'Empty: the address’s own port',
  https: 'Empty: the address’s own port',
};

const FIELD_ORDER: FormField[] = ['target', 'name', 'port', 'interval'];

// One form adds and edits. Nothing is sent until the rules are met; the problems are said
// beside the fields they concern, and once shown they follow the typing.
export function ServiceForm({ service, id, saving, error, onSave, onCancel }: Props) {
  const [values, setValues] = useState<ServiceFormValues>(() => formValues(service));
  const [errors, setErrors] = useState<FormErrors>({});
  const [tried, setTried] = useState(false);
  const form = useRef<HTMLFormElement>(null);

  const update = (change: Partial<ServiceFormValues>) => {
    const next = { ...values, ...change };
    setValues(next);
    if (tried) {
      const check = checkServiceForm(next, id);
      setErrors(check.ok ? {} : check.errors);
    }
  };

  const submit = (e: Event) => {
    e.preventDefault();
    setTried(true);
    const check = checkServiceForm(values, id);
    if (check.ok) {
      setErrors({});
      onSave(check.service);
      return;
    }
    setErrors(check.errors);
    const first = FIELD_ORDER.find((f) => check.errors[f]);
    form.current?.querySelector<HTMLElement>(`#svc-${first}`)?.focus();
  };

  const described = (field: FormField) =>
    [`svc-${field}-hint`, errors[field] ? `svc-${field}-error` : ''].filter(Boolean).join(' ');
  const problem = (field: FormField) =>
    errors[field] ? (
      <span class="field-error" id={`svc-${field}-error`}>
        {errors[field]}
      </span>
    ) : null;
  const portUsed = usesPort(values.kind);

  return (
    <form ref={form} class="service-form" onSubmit={submit} noValidate aria-labelledby="svc-form-title">
      <h3 id="svc-form-title">{service ? `Edit “${service.name}”` : 'Add a service'}</h3>
      <div class="form-grid">
        <div class="field">
          <label for="svc-kind">Kind of check</label>
          <select
            id="svc-kind"
            value={values.kind}
            onChange={(e) => update({ kind: (e.target as HTMLSelectElement).value as ServiceFormValues['kind'] })}
          >
            {PROBE_TYPES.map((k) => (
              <option key={k} value={k}>
                {KIND_LABELS[k]}
              </option>
            ))}
          </select>
        </div>
        <div class="field field-wide">
          <label for="svc-target">Target</label>
          <input
            id="svc-target"
            type="text"
            value={values.target}
            autoComplete="off"
            spellcheck={false}
            aria-invalid={errors.target ? true : undefined}
            aria-describedby={described('target')}
            onInput={(e) => update({ target: (e.target as HTMLInputElement).value })}
          />
          <span class="hint" id="svc-target-hint">
            {TARGET_HINTS[values.kind]}
          </span>
          {problem('target')}
        </div>
        <div class="field field-wide">
          <label for="svc-name">Name</label>
          <input
            id="svc-name"
            type="text"
            value={values.name}
            maxLength={MAX_NAME}
            placeholder={values.target.trim() || 'Web site, game server…'}
            aria-invalid={errors.name ? true : undefined}
            aria-describedby={described('name')}
            onInput={(e) => update({ name: (e.target as HTMLInputElement).value })}
          />
          <span class="hint" id="svc-name-hint">
            Empty: the target is shown
          </span>
          {problem('name')}
        </div>
        <div class="field">
          <label for="svc-port">Port</label>
          <input
            id="svc-port"
            type="text"
            inputMode="numeric"
            value={portUsed ? values.port : ''}
            disabled={!portUsed}
            aria-invalid={errors.port ? true : undefined}
            aria-describedby={described('port')}
            onInput={(e) => update({ port: (e.target as HTMLInputElement).value })}
          />
          <span class="hint" id="svc-port-hint">
            {PORT_HINTS[values.kind]}
          </span>
          {problem('port')}
        </div>
        <div class="field">
          <label for="svc-interval">Check every (seconds)</label>
          <input
            id="svc-interval"
            type="text"
            inputMode="decimal"
            value={values.interval}
            aria-invalid={errors.interval ? true : undefined}
            aria-describedby={described('interval')}
            onInput={(e) => update({ interval: (e.target as HTMLInputElement).value })}
          />
          <span class="hint" id="svc-interval-hint">
            {MIN_INTERVAL_S} to {MAX_INTERVAL_S} (1 hour)
          </span>
          {problem('interval')}
        </div>
        <div class="field field-check">
          <label>
            <input
              type="checkbox"
              checked={values.enabled}
              onChange={(e) => update({ enabled: (e.target as HTMLInputElement).checked })}
            />{' '}
            Check this service
          </label>
          <span class="hint">Turn off to pause the checks and keep the service</span>
        </div>
      </div>
      {error && (
        <p class="form-error" role="alert">
          {error}
        </p>
      )}
      <div class="form-actions">
        <button type="submit" class="primary" disabled={saving}>
          {saving ? 'Saving…' : service ? 'Save changes' : 'Add service'}
        </button>
        <button type="button" onClick={onCancel}>
          Cancel
        </button>
      </div>
    </form>
  );
}
