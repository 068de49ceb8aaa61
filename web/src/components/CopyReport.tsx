import { useEffect, useRef, useState } from 'preact/hooks';
import { copyText } from '../clipboard';
import type { NetworkState } from '../messages';
import { buildReport } from '../report';

interface Props {
  state: NetworkState;
  copy?: (text: string) => Promise<boolean>;
}

type Outcome = { ok: true } | { ok: false; report: string };

// The connection as text for a support ticket. Where the clipboard refuses, the text is shown
// selected instead, to be copied by hand.
export function CopyReport({ state, copy = copyText }: Props) {
  const [outcome, setOutcome] = useState<Outcome | null>(null);
  const box = useRef<HTMLTextAreaElement>(null);
  useEffect(() => {
    box.current?.select();
    if (!outcome?.ok) return;
    const t = setTimeout(() => setOutcome(null), 5000);
    return () => clearTimeout(t);
  }, [outcome]);

  const onCopy = async () => {
    const report = buildReport(state, new Date());
    setOutcome((await copy(report)) ? { ok: true } : { ok: false, report });
  };

  return (
    <div class="report-bar">
      <button type="button" onClick={() => void onCopy()}>
        Copy report
      </button>
      <span class={`report-status${outcome && !outcome.ok ? ' failed' : ''}`} role="status" aria-live="polite">
        {outcome ? (outcome.ok ? 'Report copied' : 'Could not copy the report. Copy the text below instead.') : ''}
      </span>
      {outcome && !outcome.ok && (
        <textarea
          class="report-text mono"
          readOnly
          aria-label="Connection report"
          rows={Math.min(20, outcome.report.split('\n').length)}
          value={outcome.report}
          ref={box}
        />
      )}
    </div>
  );
}
