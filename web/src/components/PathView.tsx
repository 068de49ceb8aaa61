import { useRef } from 'preact/hooks';
import type { Callout, Segment, Status } from '../messages';
import { NO_PING_NOTE, NO_PING_TEXT, STATUS_LOOK, answersPing, detailRows, segmentStatusWord, titled } from '../format';
import { StatusBadge } from './StatusIcon';

// The five places along the way, always in this order; ones not known yet are shown waiting.
const SLOTS: { id: string; category: string; waiting: string }[] = [
  { id: 'device', category: 'Client', waiting: 'This computer' },
  { id: 'connection', category: 'Link', waiting: 'Looking for a link…' },
  { id: 'homeNetwork', category: 'Gateway', waiting: 'Looking for a router…' },
  { id: 'isp', category: 'ISP', waiting: 'Discovering…' },
  { id: 'services', category: 'Destination', waiting: 'Waiting for the path…' },
];

const ICONS: Record<string, string> = {
  device: '▣',
  connection: '⇄',
  homeNetwork: '⌂',
  isp: '☁',
  services: '◎',
};

// Who made the computer's adapter and the router (from their hardware addresses), when known
// and not already the name shown.
function makerNote(segment: Segment | undefined): string | undefined {
  if (!segment) return undefined;
  const key =
    segment.id === 'device' ? 'clientManufacturer' : segment.id === 'homeNetwork' ? 'gatewayManufacturer' : undefined;
  const maker = key ? segment.details[key] : undefined;
  if (typeof maker !== 'string' || maker === '' || maker === segment.displayName) return undefined;
  return `Made by ${maker}`;
}

interface Props {
  segments: Segment[];
  callout?: Callout; // says what the parts the verdict left unjudged are
  selected: string | null;
  onSelect(id: string | null): void;
}

// Unjudged parts that are measured get a shape of their own, not the question mark of "not checked".
const WORD_ICONS: Record<string, string> = { 'Beyond the problem': '→', 'Not the cause': '–', 'Being checked': '…' };

export function PathView({ segments, callout, selected, onSelect }: Props) {
  const buttons = useRef<(HTMLButtonElement | null)[]>([]);
  const byId = new Map(segments.map((s) => [s.id, s]));
  // Known slots in their order, then anything new the application may add.
  const extra = segments.filter((s) => !SLOTS.some((slot) => slot.id === s.id));
  const items = [
    ...SLOTS.map((slot) => ({ slot, segment: byId.get(slot.id) })),
    ...extra.map((s) => ({ slot: { id: s.id, category: s.categoryLabel, waiting: '' }, segment: s })),
  ];
  const chosen = selected ? byId.get(selected) : undefined;

  const onKey = (e: KeyboardEvent, index: number) => {
    const step =
      e.key === 'ArrowRight' || e.key === 'ArrowDown' ? 1 : e.key === 'ArrowLeft' || e.key === 'ArrowUp' ? -1 : 0;
    if (e.key === 'Escape') onSelect(null);
    if (!step) return;
    e.preventDefault();
    for (let i = index + step; i >= 0 && i < items.length; i += step) {
      const b = buttons.current[i];
      if (b && !b.disabled) {
        b.focus();
        break;
      }
    }
  };

  return (
    <section class="path" aria-labelledby="path-title">
      <h2 id="path-title">The path to the internet</h2>
      <ol class="path-list">
        {items.map(({ slot, segment }, index) => {
          const status: Status = segment ? segment.status : 'unknown';
          const word = segment ? segmentStatusWord(segment, segments, callout) : STATUS_LOOK[status].label;
          const discovering = segment?.details.status === 'discovering';
          const noPing = !!segment && !answersPing(segment.details);
          const name = segment ? segment.displayName : slot.waiting;
          const maker = makerNote(segment);
          const isSelected = selected === slot.id && !!segment;
          return (
            <li class={`path-item${segment?.isCulprit ? ' culprit' : ''}${segment ? '' : ' waiting'}`} key={slot.id}>
              <button
                type="button"
                ref={(el) => {
                  buttons.current[index] = el;
                }}
                class={`segment status-${status}${isSelected ? ' selected' : ''}`}
                disabled={!segment}
                aria-expanded={segment ? isSelected : undefined}
                aria-controls={segment ? 'segment-details' : undefined}
                aria-label={`${segment?.categoryLabel || slot.category}: ${name}.${maker ? ` ${maker}.` : ''} Status: ${word}.${discovering ? ' Provider still being discovered.' : ''}${noPing ? ` ${NO_PING_NOTE}.` : ''}${segment?.isCulprit ? ' Likely cause of the problem.' : ''}${segment ? ' Show details.' : ''}`}
                onClick={() => onSelect(isSelected ? null : slot.id)}
                onKeyDown={(e) => onKey(e, index)}
              >
                <span class="segment-category">
                  <span aria-hidden="true">{ICONS[slot.id] ?? '•'} </span>
                  {segment?.categoryLabel || slot.category}
                </span>
                <span class="segment-name">{name}</span>
                {maker && <span class="segment-note">{maker}</span>}
                {discovering && <span class="segment-note">Finding your provider…</span>}
                {noPing && <span class="segment-note">{NO_PING_NOTE}</span>}
                {segment ? (
                  <StatusBadge status={status} label={word} icon={WORD_ICONS[word]} />
                ) : (
                  <span class="badge-placeholder">Waiting</span>
                )}
                {segment?.isCulprit && <span class="culprit-mark">Likely cause</span>}
              </button>
              {index < items.length - 1 && (
                <span class="path-arrow" aria-hidden="true">
                  →
                </span>
              )}
            </li>
          );
        })}
      </ol>
      {chosen && (
        <div id="segment-details" class="segment-details" role="region" aria-label={`${chosen.categoryLabel} details`}>
          <h3>{titled(chosen.categoryLabel, chosen.displayName)}</h3>
          {!answersPing(chosen.details) && <p class="card-note">{NO_PING_TEXT}</p>}
          <DetailList details={chosen.details} empty="No further details for this part of the path." />
        </div>
      )}
    </section>
  );
}

export function DetailList({ details, empty }: { details: Record<string, unknown>; empty?: string }) {
  const rows = detailRows(details);
  if (!rows.length) return empty ? <p class="muted">{empty}</p> : null;
  return (
    <dl class="details">
      {rows.map((r) => (
        <div class="detail" key={r.key}>
          <dt>{r.label}</dt>
          <dd>{r.value}</dd>
        </div>
      ))}
    </dl>
  );
}
