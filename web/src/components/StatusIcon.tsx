import type { Status } from '../messages';
import { STATUS_LOOK } from '../format';

// Colour, shape and word together: readable without colour vision and by screen readers.
export function StatusBadge({ status, label, icon }: { status: Status; label?: string; icon?: string }) {
  const look = STATUS_LOOK[status];
  return (
    <span class={`badge status-${status}`}>
      <span class="badge-icon" aria-hidden="true">
        {icon ?? look.icon}
      </span>
      <span class="badge-text">{label ?? look.label}</span>
    </span>
  );
}
