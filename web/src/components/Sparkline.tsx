import type { Series } from '../history';

export interface SparkSize {
  width: number;
  height: number;
  points: number; // the most recent ones drawn
}

const HOP_SIZE: SparkSize = { width: 72, height: 24, points: 60 };

// RTT as a line, lost probes as marks along the bottom. Plain SVG: fifteen of these per
// message cost next to nothing, unlike fifteen chart instances.
export function sparkPaths(
  series: Series | undefined,
  { width: W, height: H, points: POINTS }: SparkSize = HOP_SIZE,
): { line: string; loss: string; max: number } {
  if (!series || series.times.length === 0) return { line: '', loss: '', max: 0 };
  const n = series.times.length;
  const from = Math.max(0, n - POINTS);
  let max = 0;
  for (let i = from; i < n; i++) max = Math.max(max, series.rtt[i] ?? 0);
  const scale = max > 0 ? (H - 6) / max : 0;
  // Few points spread over part of the width and grow leftwards as history accumulates.
  const slots = Math.max(20, n - from);
  // Inset by a pixel so the newest point's round cap is not cut off at the edge.
  const step = (W - 2) / (slots - 1);
  let line = '';
  let loss = '';
  let pen = false;
  for (let i = from; i < n; i++) {
    const x = 1 + (i - from + (slots - (n - from))) * step;
    const rtt = series.rtt[i];
    if (rtt === null || rtt === undefined) {
      pen = false;
    } else {
      const y = H - 4 - rtt * scale;
      // A stroke starts with a zero-length segment: with round caps a lone point shows as a dot.
      line += pen ? `L${x.toFixed(1)} ${y.toFixed(1)}` : `M${x.toFixed(1)} ${y.toFixed(1)}h0`;
      pen = true;
    }
    const l = series.loss[i];
    if (l > 0) loss += `M${x.toFixed(1)} ${H}V${(H - 1 - Math.min(1, l / 100) * 8).toFixed(1)}`;
  }
  return { line, loss, max };
}

export function Sparkline({
  series,
  label,
  size = HOP_SIZE,
}: {
  series: Series | undefined;
  label: string;
  size?: SparkSize;
}) {
  const { line, loss } = sparkPaths(series, size);
  const { width, height } = size;
  return (
    <svg class="spark" width={width} height={height} viewBox={`0 0 ${width} ${height}`} role="img" aria-label={label}>
      {line && <path class="spark-rtt" d={line} />}
      {loss && <path class="spark-loss" d={loss} />}
    </svg>
  );
}
