// Uploads many 10 MiB recordings at once through the service to a fake
// transcription upstream on loopback, and reports the service's resident
// memory meanwhile.
//
//   node bench/upload-memory.js [--uploads 40] [--rounds 3] [--mib 10]

import http from 'node:http';
import { parseArgs } from 'node:util';
import { startService } from '../test/support/service.js';
import { mib, watchRss } from './rss.js';

const { values } = parseArgs({
  options: {
    uploads: { type: 'string', default: '40' },
    rounds: { type: 'string', default: '3' },
    mib: { type: 'string', default: '10' },
  },
});
const uploads = Math.min(Number(values.uploads), 200);
const rounds = Math.min(Number(values.rounds), 10);
const size = Math.min(Number(values.mib), 10) * 1024 * 1024;

// Takes each upload and forgets it, so that only the service holds memory
// for what is in flight.
let received = 0;
const upstream = http.createServer((req, res) => {
  req.on('data', (chunk) => {
    received += chunk.length;
  });
  req.on('end', () => res.end('{"text":"ok"}'));
});
await new Promise((resolve) => upstream.listen(0, '127.0.0.1', resolve));

const service = await startService({
  OPENAI_BASE_URL: `http://127.0.0.1:${upstream.address().port}/v1`,
  QUILLPOINT_TRANSCRIBE_DAILY_LIMIT: '1000000',
  QUILLPOINT_MAX_UPLOADS: String(uploads),
});

const audio = Buffer.alloc(size, 7);
async function upload(id) {
  const response = await fetch(`${service.url}/api/transcribe`, {
    method: 'POST',
    headers: { authorization: `Bearer bench-upload-${id}`, 'content-type': 'audio/mp4' },
    body: audio,
  });
  const text = await response.text();
  if (response.status !== 200) throw new Error(`status ${response.status}: ${text}`);
}

const errors = new Map();
let completed = 0;
let rss;
const started = performance.now();
try {
  rss = watchRss(service.child.pid);
  for (let round = 0; round < rounds; round += 1) {
    const results = await Promise.allSettled(Array.from({ length: uploads }, (_, i) => upload(i)));
    for (const result of results) {
      if (result.status === 'fulfilled') completed += 1;
      else errors.set(result.reason.message, (errors.get(result.reason.message) ?? 0) + 1);
    }
  }
  rss = rss.stop();
} finally {
  await service.stop();
  upstream.close();
}

const seconds = (performance.now() - started) / 1000;
console.log(`${rounds} rounds of ${uploads} concurrent uploads of ${mib(size / 1024 / 1024)} each`);
console.log(`service RSS: ${mib(rss.baseline)} before, peak ${mib(rss.peak)} sampled, ${mib(rss.highWater)} high-water mark`);
console.log(`relayed ${mib(received / 1024 / 1024)} to the upstream in ${seconds.toFixed(1)} s`);
console.log(`completed ${completed}, errors ${[...errors.values()].reduce((a, b) => a + b, 0)}`);
for (const [message, count] of errors) console.log(`  ${count} x ${message}`);
process.exitCode = errors.size === 0 ? 0 : 1;
