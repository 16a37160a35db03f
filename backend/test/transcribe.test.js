import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import net from 'node:net';
import { after, before, describe, test } from 'node:test';
import { parseMultipart, startFakeUpstream } from './support/fake-upstream.js';
import { killServices, post, startService, transcribe } from './support/service.js';

after(killServices);

const MIB = 1024 * 1024;

function streamed(buffer) {
  return new ReadableStream({
    start(controller) {
      for (let offset = 0; offset < buffer.length; offset += 64 * 1024) {
        controller.enqueue(buffer.subarray(offset, offset + 64 * 1024));
      }
      controller.close();
    },
  });
}

describe('transcribe', () => {
  let upstream;
  let service;
  let impatient;

  before(async () => {
    upstream = await startFakeUpstream();
    service = await startService({
      OPENAI_API_KEY: 'sk-openai-test',
      OPENAI_BASE_URL: upstream.url,
      TRANSCRIBE_MODEL: 'upstream-whisper',
    });
    impatient = await startService({ OPENAI_BASE_URL: upstream.url, QUILLPOINT_UPSTREAM_TIMEOUT_MS: '300' });
  });

  after(async () => {
    await service.stop();
    await impatient.stop();
    await upstream.close();
  });

  test('relays the raw audio as an .m4a upload and answers with its text', async () => {
    upstream.respond = (request, res) => res.end(JSON.stringify({ text: 'Hello "world" ✓' }));
    const audio = randomBytes(300 * 1024);
    const response = await transcribe(service, { body: audio });
    assert.equal(response.status, 200);
    assert.deepEqual(JSON.parse(response.text), { text: 'Hello "world" ✓' });

    const request = upstream.requests.at(-1);
    assert.equal(request.path, '/v1/audio/transcriptions');
    assert.equal(request.headers.authorization, 'Bearer sk-openai-test');
    const form = parseMultipart(request);
    assert.equal(form.model.data.toString(), 'upstream-whisper');
    assert.match(form.file.filename, /\.m4a$/);
    assert.equal(form.file.type, 'audio/mp4');
    assert.ok(form.file.data.equals(audio));
    assert.equal(form.prompt, undefined);
  });

  test('passes the words to recognise upstream as the prompt, and refuses them unbounded', async () => {
    upstream.respond = (request, res) => res.end('{"text":"ok"}');
    const words = 'Quillpoint, Kubernetes,\nMüller, Dvořák, 東京';
    for (const query of [`prompt=${encodeURIComponent(words)}`, `language=de&prompt=${encodeURIComponent(words)}`]) {
      assert.equal((await post(service, `/api/transcribe?${query}`, { type: 'audio/mp4', body: Buffer.from('m4a') })).status, 200);
      assert.equal(parseMultipart(upstream.requests.at(-1)).prompt.data.toString('utf8'), words);
    }
    const before = upstream.requests.length;
    for (const [prompt, status] of [
      ['Quill\u0000point', 400],
      ['Quill\u001b[2Jpoint', 400],
      ['😀'.repeat(1001), 413],
    ]) {
      const response = await post(service, `/api/transcribe?prompt=${encodeURIComponent(prompt)}`, {
        type: 'audio/mp4',
        body: Buffer.from('m4a'),
      });
      assert.equal(response.status, status);
      assert.match(JSON.parse(response.text).error, /"prompt"/);
    }
    assert.equal(upstream.requests.length, before);
  });

  test('accepts exactly 10 MiB, sent with or without a length', async () => {
    upstream.respond = (request, res) => res.end('{"text":""}');
    for (const body of [Buffer.alloc(10 * MIB, 7), streamed(Buffer.alloc(10 * MIB, 7))]) {
      const response = await transcribe(service, { body });
      assert.equal(response.status, 200);
      assert.equal(response.text, '{"text":""}');
      assert.equal(parseMultipart(upstream.requests.at(-1)).file.data.length, 10 * MIB);
    }
  });

  for (const [name, options, status, message] of [
    ['audio over 10 MiB with a length', { body: Buffer.alloc(10 * MIB + 1) }, 413, /larger than/],
    ['audio over 10 MiB streamed without a length', { body: streamed(Buffer.alloc(12 * MIB)) }, 413, /larger than/],
    ['an empty body', { body: Buffer.alloc(0) }, 400, /no audio/],
    ['a WAV upload', { type: 'audio/wav' }, 415, /audio\/mp4/],
  ]) {
    test(`refuses ${name} with ${status}, without calling the upstream`, async () => {
      const before = upstream.requests.length;
      const response = await transcribe(service, options);
      assert.equal(response.status, status);
      assert.match(JSON.parse(response.text).error, message);
      assert.equal(upstream.requests.length, before);
    });
  }

  test('answers 413 to an upload that does not end, then stops reading it', { timeout: 30_000 }, async () => {
    const { hostname, port } = new URL(service.url);
    const socket = net.connect(Number(port), hostname);
    let reply = '';
    socket.setEncoding('latin1').on('data', (data) => {
      reply += data;
    });
    const closed = new Promise((resolve) => socket.on('close', resolve));
    socket.on('error', () => {});
    socket.write(
      'POST /api/transcribe HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer t\r\n' +
        'Content-Type: audio/mp4\r\nTransfer-Encoding: chunked\r\n\r\n',
    );
    const chunk = Buffer.concat([Buffer.from('10000\r\n'), Buffer.alloc(0x10000), Buffer.from('\r\n')]);
    let sent = 0;
    while (!socket.destroyed && sent < 256 * MIB) {
      sent += 0x10000;
      if (!socket.write(chunk)) {
        await Promise.race([new Promise((resolve) => socket.once('drain', resolve)), closed]);
      }
    }
    await closed;
    assert.match(reply, /^HTTP\/1\.1 413 /);
    assert.ok(sent < 64 * MIB, `the service took ${sent} bytes`);
  });

  for (const [name, respond, silent] of [
    ['an error status', (request, res) => res.writeHead(500).end('{"text":"ignored"}')],
    ['a reply without text', (request, res) => res.end('{"transcript":"x"}')],
    ['no reply within the timeout', () => {}, true],
  ]) {
    test(`answers 502 when the upstream gives ${name}`, async () => {
      upstream.respond = respond;
      const response = await transcribe(silent ? impatient : service);
      assert.equal(response.status, 502);
      assert.match(JSON.parse(response.text).error, /upstream/);
    });
  }

  test('answers 503 naming the variables when no speech-to-text service is set', async () => {
    const bare = await startService({ XAI_API_KEY: 'only-xai' });
    try {
      const response = await post(bare, '/api/transcribe', { type: 'audio/mp4', body: Buffer.from('x') });
      assert.equal(response.status, 503);
      assert.match(JSON.parse(response.text).error, /TRANSCRIBE_API_KEY.*OPENAI_API_KEY/);
    } finally {
      await bare.stop();
    }
  });
});
