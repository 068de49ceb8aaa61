// Prints every message the application posts, one JSON text per line, from the page bridge's
// event stream at the address given (the one quillon prints). Run inside the namespace the
// application listens in; ends when the stream ends.
const page = new URL(process.argv[2]);
const events = new URL('/bridge/events', page);
events.searchParams.set('token', page.searchParams.get('token') ?? '');

const response = await fetch(events);
if (!response.ok) {
  console.error(`event stream refused: ${response.status}`);
  process.exit(1);
}
const decoder = new TextDecoder();
let pending = '';
for await (const chunk of response.body) {
  pending += decoder.decode(chunk, { stream: true });
  let end;
  while ((end = pending.indexOf('\n')) >= 0) {
    const line = pending.slice(0, end);
    pending = pending.slice(end + 1);
    if (line.startsWith('data: ')) process.stdout.write(line.slice(6) + '\n');
  }
}
