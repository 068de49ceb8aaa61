// What the uPlot charts share: their width from their box, the page's colours from its CSS
// variables, and following the box as it is resized.
import type uPlot from 'uplot';

export function widthOf(el: HTMLElement): number {
  return Math.max(240, Math.floor(el.clientWidth || 600));
}

export function cssVar(el: HTMLElement, name: string, fallback: string): string {
  return getComputedStyle(el).getPropertyValue(name).trim() || fallback;
}

// Keeps the chart as wide as its box; returns what stops it. Resizing inside the observer's
// callback would change the observed box again in the same frame (the browser then reports a
// "ResizeObserver loop" error): the chart is resized on the next frame, and only when the
// width really changed.
export function followWidth(el: HTMLElement, u: uPlot, height: number): () => void {
  let width = widthOf(el);
  let frame = 0;
  const resize = () => {
    frame = 0;
    const now = widthOf(el);
    if (now === width) return;
    width = now;
    u.setSize({ width, height });
  };
  const observer =
    typeof ResizeObserver !== 'undefined'
      ? new ResizeObserver(() => {
          if (!frame) frame = requestAnimationFrame(resize);
        })
      : null;
  observer?.observe(el);
  return () => {
    observer?.disconnect();
    if (frame) cancelAnimationFrame(frame);
  };
}
