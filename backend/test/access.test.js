import assert from 'node:assert/strict';
import { readdirSync, readFileSync } from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { startFakeUpstream, streamPieces } from './support/fake-upstream.js';
import { explain, killServices, post, startService, temporaryDir, transcribe } from './support/service.js';

after(killServices);

describe('bearer tokens', () => {
  let service;
  before(async () => {
    service = await startService({ QUILLPOINT_DEMO: '1' });
  });
  after(() => service.stop());

  for (const [name, authorization] of [
    ['no Authorization header', undefined],
    ['another scheme', 'Basic dXNlcjpwYXNz'],
    ['an empty token', 'Bearer '],
    ['a token with a space', 'Bearer two words'],
    ['a token of 257 characters', `Bearer ${'t'.repeat(257)}`],
    ['a token with a non-ASCII character', 'Bearer caf\u00e9'],
  ]) {
    test(`refuses ${name} with 401 on both endpoints`, async () => {
      for (const [endpoint, type] of [
        ['/api/explain', 'application/json'],
        ['/api/transcribe', 'audio/mp4'],
      ]) {
        const response = await fetch(`${service.url}${endpoint}`, {
          method: 'POST',
          headers: { 'content-type': type, ...(authorization && { authorization }) },
          body: '{"text":"a","model":"gpt-5.2","detailed":false}',
        });
        assert.equal(response.status, 401);
        assert.equal(response.headers.get('www-authenticate'), 'Bearer');
        assert.match((await response.json()).error, /bearer token/);
      }
    });
  }

  test('accepts a token of 256 printable characters', async () => {
    const token = `${'~'.repeat(128)}${'!'.repeat(128)}`;
    assert.equal((await explain(service, { token })).status, 200);
    assert.equal((await transcribe(service, { token })).status, 200);
  });
});

describe('daily limits', () => {
  const dataDir = temporaryDir();
  let upstream;
  let service;
  const start = () =>
    startService({
      OPENAI_BASE_URL: upstream.url,
      QUILLPOINT_DATA_DIR: dataDir,
      QUILLPOINT_EXPLAIN_DAILY_LIMIT: '2',
      QUILLPOINT_TRANSCRIBE_DAILY_LIMIT: '1',
    });

  before(async () => {
    upstream = await startFakeUpstream();
    service = await start();
  });
  after(async () => {
    await service.stop();
    await upstream.close();
  });

  test('count per token and endpoint, refuse with 429, and survive a restart', async () => {
    const working = (request, res) =>
      request.path.endsWith('/chat/completions') ? streamPieces(res, ['ok']) : res.end('{"text":"ok"}');
    upstream.respond = working;
    const statuses = async (token) => [
      (await explain(service, { token })).status,
      (await transcribe(service, { token })).status,
    ];

    assert.deepEqual(await statuses('alice'), [200, 200]);
    assert.deepEqual(await statuses('alice'), [200, 429]);
    const refused = await explain(service, { token: 'alice' });
    assert.equal(refused.status, 429);
    assert.equal(JSON.parse(refused.text).error, 'Daily limit reached. Try again tomorrow.');
    const retryAfter = Number(refused.headers.get('retry-after'));
    assert.ok(retryAfter > 0 && retryAfter <= 86_400, `Retry-After ${retryAfter}`);

    // What the upstream failed to deliver is not counted.
    upstream.respond = (request, res) => res.writeHead(500).end();
    assert.deepEqual(await statuses('bob'), [502, 502]);
    upstream.respond = working;
    assert.deepEqual(await statuses('bob'), [200, 200]);

    await service.stop();
    service = await start();
    assert.deepEqual(await statuses('alice'), [429, 429]);
    assert.deepEqual(await statuses('bob'), [200, 429]);
    assert.deepEqual(await statuses('carol'), [200, 200]);
  });

  test('an explanation with an instruction counts against the same limit', async () => {
    upstream.respond = (request, res) => streamPieces(res, ['ok']);
    const act = () =>
      post(service, '/api/explain', {
        token: 'dave',
        type: 'application/json',
        body: JSON.stringify({ text: 'Helo', model: 'gpt-5.2', detailed: false, instruction: 'Fix the spelling.' }),
      });
    assert.equal((await act()).status, 200);
    assert.equal((await explain(service, { token: 'dave' })).status, 200);
    assert.equal((await act()).status, 429);
  });

  test('refuses a transcription over the limit without calling the upstream', async () => {
    const before = upstream.requests.length;
    const response = await post(service, '/api/transcribe', {
      token: 'alice',
      type: 'audio/mp4',
      body: Buffer.alloc(5 * 1024 * 1024),
    });
    assert.equal(response.status, 429);
    assert.equal(upstream.requests.length, before);
  });

  test('the database holds no token', () => {
    for (const entry of readdirSync(dataDir, { recursive: true, withFileTypes: true })) {
      if (!entry.isFile()) continue;
      const file = path.relative(dataDir, path.join(entry.parentPath ?? entry.path, entry.name));
      const bytes = readFileSync(path.join(dataDir, file));
      for (const token of ['alice', 'bob', 'carol']) assert.ok(!bytes.includes(token), `${token} in ${file}`);
    }
  });
});
