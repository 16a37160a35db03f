import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { readFileSync } from 'node:fs';
import path from 'node:path';
import { after, describe, test } from 'node:test';
import { chunkLine, startEventStream, startFakeUpstream, streamPieces } from './support/fake-upstream.js';
import { explain, explainBody, killServices, post, sse, startService, temporaryDir, transcribe } from './support/service.js';

after(killServices);

const DONE = 'data: [DONE]\n\n';

describe('service', () => {
  test('without any upstream, explains how to configure one and logs the same', async () => {
    const service = await startService();
    try {
      for (const [model, variable] of [
        ['gpt-5.2', 'OPENAI_API_KEY'],
        ['grok-4-1-fast-non-reasoning-latest', 'XAI_API_KEY'],
      ]) {
        const response = await explain(service, { body: explainBody('Hi', model) });
        assert.equal(response.status, 200);
        const [event, done, ...rest] = response.text.split('\n\n');
        assert.equal(`${done}\n\n`, DONE);
        assert.deepEqual(rest, ['']);
        const message = JSON.parse(event.slice('data: '.length)).choices[0].delta.content;
        assert.match(message, new RegExp(`No language model is configured for "${model}".*${variable}`));
        assert.ok(service.output().includes(message), 'the start-up log names the same variables');
      }
      assert.equal((await transcribe(service)).status, 503);
      assert.match(service.output(), /Transcription: not configured/);
    } finally {
      await service.stop();
    }
  });

  test('demo mode answers predictably and the request log records what arrived', async () => {
    const log = path.join(temporaryDir(), 'requests.jsonl');
    const service = await startService({ QUILLPOINT_DEMO: '1', QUILLPOINT_REQUEST_LOG: log });
    try {
      const secretText = 'secret selection 🙂';
      const body = explainBody(secretText, 'grok-4-1-fast-non-reasoning-latest', true);
      const explained = await explain(service, { token: 'secret-token-1234', body });
      assert.equal(
        explained.text,
        sse('**Demo**', ' explanation', ' (detailed, model grok-4-1-fast-non-reasoning-latest)', ' of 18 characters', '.') +
          DONE,
      );
      const audio = Buffer.from([0, 1, 2, 255]);
      const transcribed = await transcribe(service, { token: 'secret-token-1234', body: audio });
      assert.deepEqual(JSON.parse(transcribed.text), { text: 'Demo transcription of 4 bytes of audio.' });
      assert.equal((await transcribe(service, { token: null })).status, 401);

      const entries = readFileSync(log, 'utf8').trim().split('\n').map(JSON.parse);
      const sha256 = (bytes) => createHash('sha256').update(bytes).digest('hex');
      assert.deepEqual(
        entries.map(({ time, arrivedMs, ...entry }) => entry),
        [
          {
            method: 'POST',
            path: '/api/explain',
            status: 200,
            authorization: 'Bearer secret-token-1234',
            contentType: 'application/json',
            bodyLength: Buffer.byteLength(body),
            bodySha256: sha256(body),
            json: JSON.parse(body),
          },
          {
            method: 'POST',
            path: '/api/transcribe',
            status: 200,
            authorization: 'Bearer secret-token-1234',
            contentType: 'audio/mp4',
            bodyLength: 4,
            bodySha256: sha256(audio),
          },
          {
            method: 'POST',
            path: '/api/transcribe',
            status: 401,
            authorization: null,
            contentType: 'audio/mp4',
            bodyLength: null,
            bodySha256: null,
          },
        ],
      );
      assert.ok(
        entries.every(({ arrivedMs }, i) => arrivedMs > 0 && (i === 0 || arrivedMs >= entries[i - 1].arrivedMs)),
        'each request carries its arrival on the monotonic clock, in order',
      );
      assert.ok(!service.output().includes('secret'), 'the log holds no token and no text');
    } finally {
      await service.stop();
    }
  });

  test('demo mode answers an instruction predictably too', async () => {
    const service = await startService({ QUILLPOINT_DEMO: '1' });
    try {
      const body = JSON.stringify({ text: 'Helo wrld', model: 'gpt-5.2', detailed: false, instruction: 'Fix the spelling.' });
      const answered = await explain(service, { body });
      assert.equal(answered.text, sse('Demo', ' result', ' (instruction of 17 characters, model gpt-5.2)', ' of 9 characters', '.') + DONE);
    } finally {
      await service.stop();
    }
  });

  test('finishes open streams on SIGTERM, then exits', async () => {
    const upstream = await startFakeUpstream();
    upstream.respond = (request, res) => streamPieces(res, ['one', 'two', 'three'], { pauseMs: 150 });
    const service = await startService({ OPENAI_BASE_URL: upstream.url });
    try {
      const response = await fetch(`${service.url}/api/explain`, {
        method: 'POST',
        headers: { authorization: 'Bearer t', 'content-type': 'application/json' },
        body: explainBody(),
      });
      const reader = response.body.getReader();
      let received = new TextDecoder().decode((await reader.read()).value);
      service.child.kill('SIGTERM');
      for (let chunk = await reader.read(); !chunk.done; chunk = await reader.read()) {
        received += new TextDecoder().decode(chunk.value);
      }
      assert.equal(received, sse('one', 'two', 'three') + DONE);
      assert.equal(await service.exited, 0);
      await assert.rejects(fetch(`${service.url}/health`));
    } finally {
      await service.stop();
      await upstream.close();
    }
  });

  test('writes the log line of every request, also of those cut off at shutdown', { timeout: 20_000 }, async () => {
    const upstream = await startFakeUpstream();
    const service = await startService({ OPENAI_BASE_URL: upstream.url, QUILLPOINT_SHUTDOWN_GRACE_MS: '300' });
    try {
      let started = 0;
      upstream.respond = (request, res) => {
        started += 1;
        if (request.json.messages[1].content === 'quick') {
          streamPieces(res, ['a', 'b'], { pauseMs: 100 });
          return;
        }
        startEventStream(res);
        res.write(chunkLine('endless'));
      };
      const replies = [
        explain(service, { body: explainBody('quick') }),
        explain(service, { body: explainBody('endless') }).catch(() => null),
      ];
      while (started < 2) await new Promise((resolve) => setTimeout(resolve, 10));
      service.child.kill('SIGTERM');
      await Promise.all(replies);
      assert.equal(await service.exited, 0);
      const lines = service.output().split('\n').filter((line) => line.startsWith('POST /api/explain 200'));
      assert.equal(lines.length, 2, service.output());
    } finally {
      await service.stop();
      await upstream.close();
    }
  });

  test('GET /api/models lists what is configured, by name, and needs a token', async () => {
    const gpt = { id: 'gpt-5.2', name: 'OpenAI GPT-5.2', local: false };
    const grok = { id: 'grok-4-1-fast-non-reasoning-latest', name: 'xAI Grok 4', local: false };
    const whisper = { id: 'whisper-1', name: 'OpenAI Whisper', local: false };
    const local = {
      OPENAI_BASE_URL: 'http://127.0.0.1:11434/v1',
      OPENAI_MODEL: 'llama3.2',
      XAI_API_KEY: 'xai-test',
      TRANSCRIBE_BASE_URL: 'http://localhost:8081',
      TRANSCRIBE_MODEL: 'ggml-base',
    };
    for (const [env, expected] of [
      [{}, { models: [], transcription: null }],
      [{ OPENAI_API_KEY: 'sk-test' }, { models: [gpt], transcription: whisper }],
      [
        local,
        {
          models: [{ id: 'gpt-5.2', name: 'llama3.2', local: true }, grok],
          transcription: { id: 'ggml-base', name: 'ggml-base', local: true },
        },
      ],
    ]) {
      const service = await startService(env);
      try {
        const models = await fetch(`${service.url}/api/models`, { headers: { authorization: 'Bearer t' } });
        assert.equal(models.status, 200);
        assert.deepEqual(await models.json(), expected);
        assert.equal((await fetch(`${service.url}/api/models`)).status, 401);
      } finally {
        await service.stop();
      }
    }
  });

  test('answers unknown paths and methods with JSON errors', async () => {
    const service = await startService();
    try {
      assert.equal((await post(service, '/api/other')).status, 404);
      const wrongMethod = await fetch(`${service.url}/api/explain`);
      assert.equal(wrongMethod.status, 405);
      assert.equal(wrongMethod.headers.get('allow'), 'POST');
      assert.deepEqual(await wrongMethod.json(), { error: 'Method not allowed' });
    } finally {
      await service.stop();
    }
  });

  for (const [env, message] of [
    [{ PORT: 'eighty' }, /PORT must be a whole number/],
    [{ QUILLPOINT_EXPLAIN_DAILY_LIMIT: '0' }, /QUILLPOINT_EXPLAIN_DAILY_LIMIT must be/],
    [{ XAI_BASE_URL: 'ftp://example.test' }, /XAI_BASE_URL must be an http or https URL/],
    [{ QUILLPOINT_DEMO: 'yes' }, /QUILLPOINT_DEMO must be 0 or 1/],
  ]) {
    test(`refuses to start with ${Object.entries(env)[0].join('=')}`, async () => {
      await assert.rejects(startService(env), (error) => error.code === 1 && message.test(error.output));
    });
  }

  test('refuses to start on a port that is taken', async () => {
    const first = await startService();
    try {
      const { port } = new URL(first.url);
      await assert.rejects(startService({ PORT: port }), (error) => error.code === 1 && /EADDRINUSE/.test(error.output));
    } finally {
      await first.stop();
    }
  });
});
