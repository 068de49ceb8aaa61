// Puts text on the clipboard. The asynchronous clipboard API is missing from pages that are not
// a secure context (a custom scheme of an embedded browser may not count as one) and may be
// refused by permission; the old way (select a hidden text box, "copy") still works there.

export interface ClipboardHost {
  clipboard?: { writeText(text: string): Promise<void> };
  document?: Pick<Document, 'createElement' | 'execCommand' | 'body' | 'activeElement'>;
}

function defaultHost(): ClipboardHost {
  return {
    clipboard: typeof navigator !== 'undefined' ? navigator.clipboard : undefined,
    document: typeof document !== 'undefined' ? document : undefined,
  };
}

function copyBySelection(text: string, doc: NonNullable<ClipboardHost['document']>): boolean {
  const box = doc.createElement('textarea');
  box.value = text;
  box.setAttribute('readonly', '');
  // Off screen but selectable: a hidden or display:none box cannot be selected.
  box.style.position = 'fixed';
  box.style.top = '-1000px';
  box.style.opacity = '0';
  const focused = doc.activeElement as HTMLElement | null;
  doc.body.appendChild(box);
  try {
    box.select();
    return doc.execCommand('copy');
  } catch {
    return false;
  } finally {
    box.remove();
    focused?.focus?.();
  }
}

export async function copyText(text: string, host: ClipboardHost = defaultHost()): Promise<boolean> {
  if (host.clipboard) {
    try {
      await host.clipboard.writeText(text);
      return true;
    } catch {
      // Refused: try the old way.
    }
  }
  return host.document ? copyBySelection(text, host.document) : false;
}
