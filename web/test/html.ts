// Just enough reading of the markup the views render to a string: cells of table rows, text
// without tags, the class and title of an element.

export interface Cell {
  tag: string;
  classes: string[];
  title?: string;
  text: string;
  html: string;
}

const ENTITIES: Record<string, string> = { amp: '&', lt: '<', gt: '>', quot: '"', apos: "'", '#39': "'" };

export const decode = (s: string): string => s.replace(/&(amp|lt|gt|quot|apos|#39);/g, (_, e: string) => ENTITIES[e]);

export const text = (html: string): string => decode(html.replace(/<[^>]*>/g, ''));

function attr(attrs: string, name: string): string | undefined {
  const m = attrs.match(new RegExp(`\\b${name}="([^"]*)"`));
  return m ? decode(m[1]) : undefined;
}

function cells(rowHtml: string): Cell[] {
  return [...rowHtml.matchAll(/<(td|th)\b([^>]*)>([\s\S]*?)<\/\1>/g)].map(([, tag, attrs, inner]) => ({
    tag,
    classes: (attr(attrs, 'class') ?? '').split(/\s+/).filter(Boolean),
    title: attr(attrs, 'title'),
    text: text(inner).trim(),
    html: inner,
  }));
}

function section(html: string, tag: string): string {
  const m = html.match(new RegExp(`<${tag}\\b[^>]*>([\\s\\S]*?)</${tag}>`));
  return m ? m[1] : '';
}

export const headerCells = (html: string): Cell[] => cells(section(html, 'thead'));

export const bodyRows = (html: string): Cell[][] =>
  [...section(html, 'tbody').matchAll(/<tr\b[^>]*>([\s\S]*?)<\/tr>/g)].map(([, row]) => cells(row));

// The classes of the first element carrying `cls` among its classes, or undefined.
export function classesOf(html: string, cls: string): string[] | undefined {
  for (const [, attrs] of html.matchAll(/<\w+\b([^>]*)>/g)) {
    const classes = (attr(attrs, 'class') ?? '').split(/\s+/);
    if (classes.includes(cls)) return classes;
  }
  return undefined;
}

// The inner markup of the first element with class `cls` (elements of the same tag inside it
// are not expected).
export function inner(html: string, cls: string): string | undefined {
  const m = html.match(new RegExp(`<(\\w+)\\b[^>]*class="(?:[^"]*\\s)?${cls}(?:\\s[^"]*)?"[^>]*>([\\s\\S]*?)</\\1>`));
  return m ? m[2] : undefined;
}
