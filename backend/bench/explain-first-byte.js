// Opens many concurrent explanation streams through the service against a
// fake upstream on loopback, and measures how much later than the upstream's
// first content chunk the client receives the relayed one.
//
//   node bench/explain-first-byte.js [--streams 200] [--rounds 3] [--pieces 20] [--piece-ms 10]

import { readFileSync } from 'node:fs';
import { monitorEventLoopDelay } from 'node:perf_hooks';
import { parseArgs } from 'node:util';
import { chunkLine, startEventStream, startFakeUpstream } from '../test/support/fake-upstream.js';
import { explainBody, startService } from '../test/support/service.js';
import { mib, watchRss } from './rss.js';

const { values } = parseArgs({
  options: {
    streams: { type: 'string', default: '200' },
    rounds: { type: 'string', default: '3' },
    pieces: { type: 'string', default: '20' },
    'piece-ms': { type: 'string', default: '10' },
  },
});
const streams = Math.min(Number(values.streams), 1000);
const rounds = Math.min(Number(values.rounds), 20);
const pieces = Math.min(Number(values.pieces), 200);
const pieceMs = Number(values['piece-ms']);
const expected = `${Array.from({ length: pieces }, (_, i) => `data: {"choices":[{"delta":{"content":"piece ${i} "}}]}\n\n`).join('')}data: [DONE]\n\n`;

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

const upstream = await startFakeUpstream();
const firstWrite = new Map();
upstream.respond = async (request, res) => {
  const id = request.json.messages[1].content;
  startEventStream(res);
  for (let i = 0; i < pieces; i += 1) {
    if (i > 0) await sleep(pieceMs);
    res.write(chunkLine(`piece ${i} `));
    if (i === 0) firstWrite.set(id, performance.now());
  }
  res.write(chunkLine(undefined, 'stop'));
  res.end('data: [DONE]\n\n');
};

const service = await startService({
  OPENAI_BASE_URL: upstream.url,
  QUILLPOINT_EXPLAIN_DAILY_LIMIT: '1000000',
});

// Each of the concurrent streams has a token of its own, as each desktop
// program does.
async function stream(slot, id) {
  const started = performance.now();
  const response = await fetch(`${service.url}/api/explain`, {
    method: 'POST',
    headers: { authorization: `Bearer bench-token-${slot}`, 'content-type': 'application/json' },
    body: explainBody(id),
  });
  if (response.status !== 200) throw new Error(`status ${response.status}`);
  const decoder = new TextDecoder();
  let body = '';
  let firstByte;
  for await (const bytes of response.body) {
    firstByte ??= performance.now();
    body += decoder.decode(bytes, { stream: true });
  }
  if (body !== expected) throw new Error('the relayed stream differs from the upstream one');
  return { added: firstByte - firstWrite.get(id), total: firstByte - started };
}

// User plus system time of the service process, from Linux's /proc.
function serviceCpuMs() {
  const fields = readFileSync(`/proc/${service.child.pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return ((Number(fields[11]) + Number(fields[12])) * 1000) / 100;
}

function percentile(sorted, p) {
  return sorted[Math.min(sorted.length - 1, Math.ceil((p / 100) * sorted.length) - 1)];
}

const added = [];
const total = [];
const errors = new Map();
let next = 0;
// The client and the fake upstream share this process; its own event-loop
// delay is part of every figure above, so it is shown beside them.
const loopDelay = monitorEventLoopDelay({ resolution: 5 });
let cpuAtStart;
let cpuAtEnd;
let rss;
try {
  for (let round = 0; round <= rounds; round += 1) {
    const results = await Promise.allSettled(Array.from({ length: streams }, (_, slot) => stream(slot, `bench-${next++}`)));
    if (round === 0) {
      cpuAtStart = serviceCpuMs();
      rss = watchRss(service.child.pid);
      loopDelay.enable();
      continue; // warm-up
    }
    for (const result of results) {
      if (result.status === 'fulfilled') {
        added.push(result.value.added);
        total.push(result.value.total);
      } else {
        const message = result.reason.message;
        errors.set(message, (errors.get(message) ?? 0) + 1);
      }
    }
  }
  cpuAtEnd = serviceCpuMs();
  rss = rss.stop();
} finally {
  await service.stop();
  await upstream.close();
}

added.sort((a, b) => a - b);
total.sort((a, b) => a - b);
const ms = (value) => (value === undefined ? 'n/a' : `${value.toFixed(2)} ms`);
console.log(`${rounds} rounds of ${streams} concurrent explain streams, ${pieces} pieces each, ${pieceMs} ms apart`);
console.log(`added latency to first byte: median ${ms(percentile(added, 50))}, p99 ${ms(percentile(added, 99))}, max ${ms(added.at(-1))}`);
console.log(`request to first byte:       median ${ms(percentile(total, 50))}, p99 ${ms(percentile(total, 99))}`);
console.log(`service CPU time:            ${ms((cpuAtEnd - cpuAtStart) / (rounds * streams))} per stream`);
console.log(`service RSS:                 ${mib(rss.baseline)} after warm-up, peak ${mib(rss.peak)} sampled, ${mib(rss.highWater)} high-water mark`);
console.log(`bench process loop delay:    median ${ms(loopDelay.percentile(50) / 1e6)}, p99 ${ms(loopDelay.percentile(99) / 1e6)}`);
console.log(`upstream connections opened: ${upstream.connections} for ${(rounds + 1) * streams} streams`);
console.log(`completed ${added.length}, errors ${[...errors.values()].reduce((a, b) => a + b, 0)}`);
for (const [message, count] of errors) console.log(`  ${count} x ${message}`);
process.exitCode = errors.size === 0 ? 0 : 1;
