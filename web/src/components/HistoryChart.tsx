import { useEffect, useRef } from 'preact/hooks';
import uPlot from 'uplot';
import 'uplot/dist/uPlot.min.css';
import { cssVar, followWidth, widthOf } from '../chartSize';

export interface ChartLine {
  label: string;
  values: (number | null)[]; // one per time; null draws a gap
}

interface Props {
  title: string;
  description: string; // what the chart shows, for those who cannot see it
  times: number[]; // Unix seconds; the axis shows them in local time
  lines: ChartLine[];
  unit: 'ms' | '%';
}

// Distinguishable with the common colour-vision deficiencies, on light and dark backgrounds;
// past the eighth hop the colours repeat with a dash.
const COLOURS = ['#0072b2', '#d55e00', '#009e73', '#cc79a7', '#e69f00', '#56b4e9', '#b8a800', '#8c8c8c'];
const HEIGHT = 220;

// One figure for every hop over a period of the archive.
// Indices of the figures with no figure on either side, which a line cannot show.
export function isolatedPoints(values: (number | null)[]): number[] {
  const out: number[] = [];
  values.forEach((v, i) => {
    if (v !== null && (values[i - 1] ?? null) === null && (values[i + 1] ?? null) === null) out.push(i);
  });
  return out;
}

export function HistoryChart({ title, description, times, lines, unit }: Props) {
  const box = useRef<HTMLDivElement>(null);

  useEffect(() => {
    const el = box.current;
    if (!el) return;
    const axisColour = cssVar(el, '--fg-muted', '#666');
    const gridColour = cssVar(el, '--grid', '#ddd');
    const axis = { stroke: axisColour, grid: { stroke: gridColour, width: 1 }, ticks: { stroke: gridColour } };
    const format = (v: number | null) => (v == null ? '–' : `${v.toFixed(1)} ${unit}`);
    const u = new uPlot(
      {
        width: widthOf(el),
        height: HEIGHT,
        legend: { show: true },
        cursor: { drag: { x: false, y: false } },
        scales: {
          x: { time: true },
          y:
            unit === '%'
              ? { range: [0, 100] }
              : { auto: true, range: (_u, _min, max) => [0, Math.max(1, (max ?? 0) * 1.1)] },
        },
        series: [
          {},
          ...lines.map((line, i) => ({
            label: line.label,
            stroke: COLOURS[i % COLOURS.length],
            width: 1.5,
            dash: i >= COLOURS.length ? [6, 4] : undefined,
            spanGaps: false,
            // A figure between gaps has no line to be part of: it is drawn as a dot.
            points: { show: true, size: 5, filter: () => isolatedPoints(line.values) },
            value: (_u: uPlot, v: number | null) => format(v),
          })),
        ],
        axes: [axis, { ...axis, label: unit === '%' ? 'loss %' : 'ms', size: 50 }],
      },
      [times, ...lines.map((l) => l.values)] as uPlot.AlignedData,
      el,
    );
    const stopFollowing = followWidth(el, u, HEIGHT);
    return () => {
      stopFollowing();
      u.destroy();
    };
  }, [times, lines, unit]);

  return (
    <figure class="history-chart" aria-label={title}>
      <figcaption>{title}</figcaption>
      <div ref={box} class="chart-box" role="img" aria-label={description} />
    </figure>
  );
}
