import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import { readFileSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, describe, test } from 'node:test';
import { parseMultipart, startFakeUpstream, streamPieces } from './support/fake-upstream.js';
import { explain, explainBody, killServices, post, sse, startService, temporaryDir, transcribe } from './support/service.js';

after(killServices);

const DONE = 'data: [DONE]\n\n';

// Shaped like Ollama's and the llama.cpp server's OpenAI-compatible APIs.
async function startModelServer(ids) {
  const server = await startFakeUpstream();
  server.respond = (request, res) => {
    if (request.method === 'GET' && request.path === '/v1/models') {
      res.setHeader('content-type', 'application/json');
      res.end(JSON.stringify({ object: 'list', data: ids.map((id) => ({ id, object: 'model', owned_by: 'library' })) }));
    } else if (request.path === '/v1/chat/completions') {
      streamPieces(res, [`answer from ${request.json.model}`]);
    } else {
      res.writeHead(404).end();
    }
  };
  return server;
}

// Audio made by ffmpeg from `source` into the MPEG-4 container.
function makeAudio(name, source, codec) {
  const file = path.join(temporaryDir(), name);
  execFileSync('ffmpeg', ['-nostdin', '-loglevel', 'error', '-f', 'lavfi', '-i', source, ...codec, '-f', 'mp4', file]);
  return file;
}

// The same file with the durations in its headers set to one unit, as a
// file crafted to pass a check of what it declares.
function understated(file) {
  const bytes = readFileSync(file);
  for (const [box, offset] of [['mvhd', 16], ['tkhd', 20], ['mdhd', 16]]) {
    bytes.writeUInt32BE(1, bytes.indexOf(box) + 4 + offset);
  }
  const copy = `${file}.understated.mp4`;
  writeFileSync(copy, bytes);
  return copy;
}

async function closedUrl() {
  const server = await startFakeUpstream();
  await server.close();
  return server.url;
}

describe('local model servers', () => {
  let ollama;
  let llamaCpp;

  before(async () => {
    ollama = await startModelServer(['nomic-embed-text:latest', 'llama3.2:latest', 'qwen2.5:7b']);
    llamaCpp = await startModelServer(['qwen2.5-7b-instruct-q4_k_m.gguf']);
  });

  after(async () => {
    await ollama.close();
    await llamaCpp.close();
  });

  for (const [name, servers, model] of [
    ['Ollama before the llama.cpp server, skipping embedding models', () => [ollama.url, llamaCpp.url], 'llama3.2:latest'],
    ['the llama.cpp server when Ollama is not running', async () => [await closedUrl(), llamaCpp.url], 'qwen2.5-7b-instruct-q4_k_m.gguf'],
  ]) {
    test(`with nothing configured, answer every model: ${name}`, async () => {
      const service = await startService({ QUILLPOINT_LOCAL_MODELS: (await servers()).join(',') });
      try {
        assert.match(service.output(), new RegExp(`Local model server at http://127\\.0\\.0\\.1:\\d+/v1: using its model "${model}"`));
        for (const id of ['gpt-5.2', 'grok-4-1-fast-non-reasoning-latest']) {
          const response = await explain(service, { body: explainBody('Hi', id) });
          assert.equal(response.text, sse(`answer from ${model}`) + DONE);
        }
      } finally {
        await service.stop();
      }
    });
  }

  test('GET /api/models lists the local chat models by their own names, and each answers by its id', async () => {
    const service = await startService({ QUILLPOINT_LOCAL_MODELS: ollama.url });
    try {
      const listed = await fetch(`${service.url}/api/models`, { headers: { authorization: 'Bearer t' } });
      assert.deepEqual(await listed.json(), {
        models: [
          { id: 'llama3.2:latest', name: 'llama3.2', local: true },
          { id: 'qwen2.5:7b', name: 'qwen2.5:7b', local: true },
        ],
        transcription: null,
      });
      const response = await explain(service, { body: explainBody('Hi', 'qwen2.5:7b') });
      assert.equal(response.text, sse('answer from qwen2.5:7b') + DONE);
      assert.equal((await explain(service, { body: explainBody('Hi', 'nomic-embed-text:latest') })).status, 400);
    } finally {
      await service.stop();
    }
  });

  test('a model server is trusted with nothing: a bounded list, no redirect, plain model ids only', async () => {
    const hostile = await startFakeUpstream();
    const elsewhere = await startModelServer(['elsewhere-model']);
    let sent = 0;
    const respond = {
      endless: (request, res) => {
        res.write('{"data":[');
        const more = () => {
          while (!res.destroyed && res.write('{"id":"model"},'.repeat(1000))) sent += 15_000;
        };
        res.on('drain', more);
        more();
      },
      redirect: (request, res) => res.writeHead(302, { location: `${elsewhere.url}/models` }).end(),
      forged: (request, res) => {
        const forged = 'x\nQuillpoint backend listening on http://evil.example:1\n\u001b[2J';
        res.end(JSON.stringify({ data: [{ id: forged }, { id: 'y'.repeat(200_000) }, { id: 'llama3.2:latest' }] }));
      },
    };
    try {
      for (const [name, reason] of [['endless', /it answered with more than 1048576 bytes/], ['redirect', /answered HTTP 302/]]) {
        hostile.respond = respond[name];
        const service = await startService({ QUILLPOINT_LOCAL_MODELS: hostile.url });
        await service.stop();
        assert.match(service.output(), new RegExp(`not used: ${reason.source}[^]*No chat model found`), name);
      }
      assert.ok(sent < 64 * 1024 * 1024, `the service read ${sent} bytes of an endless list`);
      assert.equal(elsewhere.requests.length, 0);

      hostile.respond = respond.forged;
      const service = await startService({ QUILLPOINT_LOCAL_MODELS: hostile.url });
      await service.stop();
      const output = service.output();
      assert.match(output, /left out 2 model ids that are not plain names[^]*using its model "llama3\.2:latest"/);
      assert.ok(!output.includes('\u001b') && !/evil|yyyy/.test(output), output.slice(0, 2000));
    } finally {
      await hostile.close();
      await elsewhere.close();
    }
  });

  test('are not asked once an upstream is configured, and silence keeps the honest answer', async () => {
    const before = ollama.requests.length;
    const configured = await startService({ QUILLPOINT_LOCAL_MODELS: ollama.url, XAI_API_KEY: 'xai-key' });
    await configured.stop();
    assert.equal(ollama.requests.length, before);

    const alone = await startService({ QUILLPOINT_LOCAL_MODELS: await closedUrl() });
    try {
      assert.match(alone.output(), /No chat model found on a local model server at http:\/\/127\.0\.0\.1:\d+\/v1/);
      assert.match((await explain(alone)).text, /No language model is configured for \\"gpt-5\.2\\"/);
    } finally {
      await alone.stop();
    }
  });
});

describe('local speech-to-text servers', () => {
  let recording;
  let whisper;
  let service;

  // One second of tone, recorded the way the desktop program records.
  before(async () => {
    recording = path.join(temporaryDir(), 'recording.m4a');
    execFileSync('ffmpeg', [
      '-nostdin', '-loglevel', 'error', '-f', 'lavfi', '-i', 'sine=frequency=440:duration=1',
      '-ar', '16000', '-ac', '1', '-c:a', 'aac', '-b:a', '32k', '-f', 'ipod', recording,
    ]);
    // Shaped like whisper.cpp's server, which reads only WAV unless it was
    // started with --convert.
    whisper = await startFakeUpstream();
    whisper.respond = (request, res) => {
      const { file } = parseMultipart(request);
      const wav = file.data;
      const isWav = wav.toString('latin1', 0, 4) === 'RIFF' && wav.toString('latin1', 8, 12) === 'WAVE';
      if (request.path !== '/inference' || !isWav) {
        res.writeHead(400).end('{"error":"failed to read WAV file"}');
        return;
      }
      const format = { channels: wav.readUInt16LE(22), rate: wav.readUInt32LE(24), bits: wav.readUInt16LE(34) };
      res.end(JSON.stringify({ text: ` ${JSON.stringify(format)} ${wav.length}\n` }));
    };
    service = await startService({
      TRANSCRIBE_BASE_URL: whisper.url.replace(/\/v1$/, ''),
      TRANSCRIBE_PATH: '/inference',
      TRANSCRIBE_CONVERT: 'wav',
      TRANSCRIBE_LANGUAGE: 'de',
      QUILLPOINT_TRANSCRIBE_DAILY_LIMIT: '3',
    });
  });

  after(async () => {
    await service.stop();
    await whisper.close();
  });

  test('whisper.cpp: the recording goes as 16 kHz mono WAV, in the configured or requested language', async () => {
    for (const [query, language] of [
      ['', 'de'],
      ['?language=fr', 'fr'],
    ]) {
      const response = await post(service, `/api/transcribe${query}`, { type: 'audio/mp4', body: readFileSync(recording) });
      assert.equal(response.status, 200, response.text);
      const [format, size] = JSON.parse(response.text).text.trim().split(' ');
      assert.deepEqual(JSON.parse(format), { channels: 1, rate: 16000, bits: 16 });
      // A second of 16-bit samples, give or take the encoder's padding.
      assert.ok(Math.abs(Number(size) - 44 - 32_000) < 2_000, `${size} bytes of WAV`);
      const form = parseMultipart(whisper.requests.at(-1));
      assert.equal(form.language.data.toString(), language);
      assert.equal(form.response_format.data.toString(), 'json');
      assert.match(form.file.filename, /\.wav$/);
    }
  });

  test('refuses a language that is not an ISO 639-1 code, and audio that cannot be read', async () => {
    const before = whisper.requests.length;
    for (const language of ['xx', 'EN', 'deu', 'de-AT', '']) {
      const response = await post(service, `/api/transcribe?language=${language}`, {
        type: 'audio/mp4',
        body: readFileSync(recording),
      });
      assert.equal(response.status, 400, language);
      assert.match(JSON.parse(response.text).error, /ISO 639-1/);
    }
    // A playlist naming a file on the server must not make ffmpeg read it.
    const playlist = `#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nfile://${recording}\n#EXT-X-ENDLIST\n`;
    for (const body of [randomBytes(4096), Buffer.from(playlist), Buffer.alloc(1000)]) {
      const refused = await transcribe(service, { body });
      assert.equal(refused.status, 400);
      assert.match(JSON.parse(refused.text).error, /not audio/);
    }
    assert.equal(whisper.requests.length, before);
    // None of the refused ones counted: one transcription of three is left.
    assert.equal((await post(service, '/api/transcribe', { type: 'audio/mp4', body: readFileSync(recording) })).status, 200);
    assert.equal((await transcribe(service)).status, 429);
  });

  test('refuses recordings over TRANSCRIBE_MAX_SECONDS before they reach the disk or the upstream', async () => {
    // Ten minutes of silence in a few kilobytes would be 19 MB of WAV.
    const silence = makeAudio('silence.mp4', 'anullsrc=r=8000:cl=mono:d=600', ['-c:a', 'flac', '-frame_size', '65535', '-strict', '-2']);
    const before = whisper.requests.length;
    for (const file of [silence, understated(silence)]) {
      const response = await post(service, '/api/transcribe', { token: 'long', type: 'audio/mp4', body: readFileSync(file) });
      assert.equal(response.status, 413, response.text);
      assert.equal(JSON.parse(response.text).error, 'The recording is longer than 60 seconds');
    }
    assert.equal(whisper.requests.length, before);
    // The longest recording the desktop program makes is well within the bound.
    const longest = makeAudio('longest.m4a', 'sine=frequency=440:duration=30', ['-ar', '16000', '-ac', '1', '-c:a', 'aac', '-b:a', '32k']);
    const response = await post(service, '/api/transcribe', { token: 'long', type: 'audio/mp4', body: readFileSync(longest) });
    assert.equal(response.status, 200, response.text);
  });

  test('a full disk is a 507 that is not counted, whether it meets the upload or the conversion', async () => {
    const bin = temporaryDir();
    const ffmpeg = execFileSync('sh', ['-c', 'command -v ffmpeg'], { encoding: 'utf8' }).trim();
    // The last argument of a conversion is its output file.
    const wrapper = `#!/bin/bash\n[ $# -gt 1 ] && set -- "\${@:1:$#-1}" /dev/full\nexec ${ffmpeg} "$@"\n`;
    writeFileSync(path.join(bin, 'ffmpeg'), wrapper, { mode: 0o755 });
    const preload = fileURLToPath(new URL('./support/full-disk.js', import.meta.url));
    const env = { TRANSCRIBE_BASE_URL: whisper.url, TRANSCRIBE_CONVERT: 'wav', QUILLPOINT_TRANSCRIBE_DAILY_LIMIT: '1' };
    for (const full of [{ PATH: `${bin}:${process.env.PATH}` }, { NODE_OPTIONS: `--import=${preload}` }]) {
      const cramped = await startService({ ...env, ...full });
      try {
        for (let attempt = 0; attempt < 2; attempt += 1) {
          const response = await post(cramped, '/api/transcribe', { type: 'audio/mp4', body: readFileSync(recording) });
          assert.equal(response.status, 507, cramped.output());
          assert.match(JSON.parse(response.text).error, /no room left/);
        }
        assert.match(cramped.output(), /the data directory is full: .*(No space left on device|ENOSPC)/);
      } finally {
        await cramped.stop();
      }
    }
  });

  test('an OpenAI-compatible speech server gets the .m4a unchanged, with the language', async () => {
    const speech = await startFakeUpstream();
    speech.respond = (request, res) => res.end('{"text":"Hallo"}');
    const openai = await startService({ TRANSCRIBE_BASE_URL: speech.url, TRANSCRIBE_MODEL: 'Systran/faster-whisper-small' });
    try {
      const audio = readFileSync(recording);
      const response = await post(openai, '/api/transcribe?language=de', { type: 'audio/mp4', body: audio });
      assert.deepEqual(JSON.parse(response.text), { text: 'Hallo' });
      const request = speech.requests.at(-1);
      assert.equal(request.path, '/v1/audio/transcriptions');
      const form = parseMultipart(request);
      assert.equal(form.model.data.toString(), 'Systran/faster-whisper-small');
      assert.equal(form.language.data.toString(), 'de');
      assert.ok(form.file.data.equals(audio));
    } finally {
      await openai.stop();
      await speech.close();
    }
  });

  for (const [env, message] of [
    [{ TRANSCRIBE_LANGUAGE: 'german' }, /TRANSCRIBE_LANGUAGE must be a two-letter ISO 639-1 language code/],
    [{ TRANSCRIBE_CONVERT: 'mp3' }, /TRANSCRIBE_CONVERT must be "wav" or unset/],
    [{ TRANSCRIBE_PATH: 'inference' }, /TRANSCRIBE_PATH must start with "\/"/],
  ]) {
    test(`refuses to start with ${Object.entries(env)[0].join('=')}`, async () => {
      await assert.rejects(startService(env), (error) => error.code === 1 && message.test(error.output));
    });
  }
});
