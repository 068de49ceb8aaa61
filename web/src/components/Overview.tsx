import type { NetworkState, Segment } from '../messages';
import { STATUS_LOOK, cannotMeasure, headline, whyText } from '../format';

// The verdict first, in plain words, then where the trouble is and what to do about it. A
// callout need not name a part of the path: one says the verdict is still gathering evidence,
// another that this computer does not let Quillon measure at all.
export function Overview({ state }: { state: NetworkState }) {
  const callout = state.culpritCallout;
  const { title, text } = headline(state.overallStatus, state.hops.length > 0, cannotMeasure(state));
  const culprit: Segment | undefined = callout?.segmentId
    ? state.segments.find((s) => s.id === callout.segmentId)
    : undefined;
  const look = STATUS_LOOK[state.overallStatus];
  const why = callout ? whyText(callout) : undefined;
  return (
    <section class={`overview status-${state.overallStatus}`} aria-labelledby="overall-title">
      <div class="overview-icon" aria-hidden="true">
        {look.icon}
      </div>
      <div class="overview-body">
        <h1 id="overall-title" aria-live="polite">
          {title}
        </h1>
        <p class="overview-text">{text}</p>
        {callout && (
          <div class={`callout status-${callout.severity}`} role="status" aria-label="What we found">
            <h2>
              <span class="visually-hidden">{STATUS_LOOK[callout.severity].label}: </span>
              {callout.title}
            </h2>
            <p>{callout.description}</p>
            {culprit && (
              <p class="callout-where">
                Where: <strong>{culprit.categoryLabel}</strong>
                {culprit.displayName && culprit.displayName !== culprit.categoryLabel
                  ? ` (${culprit.displayName})`
                  : ''}
              </p>
            )}
            {why && <p class="callout-why">{why}</p>}
            {callout.remedy && (
              <p class="callout-remedy">
                <strong>What you can do: </strong>
                {/* As sent, line breaks and all: it may hold commands to copy. */}
                <span class="remedy-text">{callout.remedy}</span>
              </p>
            )}
          </div>
        )}
      </div>
    </section>
  );
}
