import { useEffect, useRef } from 'preact/hooks';
import uPlot from 'uplot';
import 'uplot/dist/uPlot.min.css';
import { cssVar, followWidth, widthOf } from '../chartSize';
import type { Series } from '../history';
import { ms } from '../format';

interface Props {
  title: string;
  series: Series;
  revision: number; // changes whenever the series has new points
}

function chartData(series: Series): uPlot.AlignedData {
  return [series.times, series.rtt, series.loss];
}

// The larger chart for one selected hop: response time and loss over the time this page has
// been open.
export function HopChart({ title, series, revision }: Props) {
  const box = useRef<HTMLDivElement>(null);
  const plot = useRef<uPlot | null>(null);

  useEffect(() => {
    const el = box.current;
    if (!el) return;
    const rttColour = cssVar(el, '--chart-rtt', '#0072b2');
    const lossColour = cssVar(el, '--chart-loss', '#d55e00');
    const axisColour = cssVar(el, '--fg-muted', '#666');
    const gridColour = cssVar(el, '--grid', '#ddd');
    const axis = { stroke: axisColour, grid: { stroke: gridColour, width: 1 }, ticks: { stroke: gridColour } };
    const u = new uPlot(
      {
        width: widthOf(el),
        height: 200,
        legend: { show: true },
        cursor: { drag: { x: false, y: false } },
        scales: {
          x: { time: true },
          ms: { auto: true, range: (_u, _min, max) => [0, Math.max(1, max * 1.1)] },
          loss: { range: [0, 100] },
        },
        series: [
          {},
          {
            label: 'RTT (ms)',
            scale: 'ms',
            stroke: rttColour,
            width: 2,
            spanGaps: false,
            points: { show: false },
            value: (_u, v) => (v == null ? '–' : ms(v)),
          },
          {
            label: 'Loss (%)',
            scale: 'loss',
            stroke: lossColour,
            width: 1.5,
            dash: [6, 4],
            points: { show: false },
            value: (_u, v) => (v == null ? '–' : `${v.toFixed(1)} %`),
          },
        ],
        axes: [
          axis,
          { ...axis, scale: 'ms', label: 'ms', size: 50 },
          { ...axis, scale: 'loss', side: 1, label: 'loss %', size: 50, grid: { show: false } },
        ],
      },
      chartData(series),
      el,
    );
    plot.current = u;
    const stopFollowing = followWidth(el, u, 200);
    return () => {
      stopFollowing();
      u.destroy();
      plot.current = null;
    };
  }, [series]);

  useEffect(() => {
    plot.current?.setData(chartData(series));
  }, [series, revision]);

  return (
    <figure class="hop-chart" aria-label={title}>
      <figcaption>{title}</figcaption>
      <div
        ref={box}
        class="chart-box"
        role="img"
        aria-label={`${title}: response time as a solid line, loss as a dashed line`}
      />
    </figure>
  );
}
