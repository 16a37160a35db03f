import { randomUUID } from 'node:crypto';
import { rm } from 'node:fs/promises';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import {
  AUDIO_MAX_BYTES,
  EXPLAIN_BODY_MAX_BYTES,
  EXPLAIN_TEXT_MAX_CHARS,
  INSTRUCTION_MAX_CHARS,
  VOCABULARY_MAX_CHARS,
  isLanguageCode,
} from './config.js';
import { AudioError, TooLongError, convertToWav } from './convert.js';
import { demoExplanation, demoTranscription } from './demo.js';
import { HttpError } from './http.js';
import { servedModels } from './models.js';
import {
  BUSY,
  DAILY_LIMIT_REACHED,
  INTERRUPTED_NOTICE,
  QUOTA_UNAVAILABLE,
  STORAGE_FULL,
  TOO_MANY_STREAMS,
  UPSTREAM_FAILED,
  unconfiguredExplanation,
  unconfiguredTranscription,
} from './messages.js';
import { actionMessages, explanationMessages } from './prompts.js';
import { UpstreamError, openChatStream, transcribeAudio } from './upstream.js';

// An explain body needs one level; anything much deeper is not a request.
export const JSON_MAX_DEPTH = 32;

function nestingExceeds(text, limit) {
  let depth = 0;
  let inString = false;
  for (let i = 0; i < text.length; i += 1) {
    const c = text.charCodeAt(i);
    if (inString) {
      if (c === 0x5c) i += 1;
      else if (c === 0x22) inString = false;
    } else if (c === 0x22) {
      inString = true;
    } else if (c === 0x5b || c === 0x7b) {
      if (++depth > limit) return true;
    } else if (c === 0x5d || c === 0x7d) {
      depth -= 1;
    }
  }
  return false;
}

function parseExplainRequest(ex, body) {
  const source = body.toString('utf8');
  if (nestingExceeds(source, JSON_MAX_DEPTH)) {
    throw new HttpError(400, `The request body is nested more than ${JSON_MAX_DEPTH} levels deep`);
  }
  let request;
  try {
    request = JSON.parse(source);
  } catch {
    throw new HttpError(400, 'The request body must be JSON');
  }
  ex.jsonText = source;
  if (request === null || typeof request !== 'object' || Array.isArray(request)) {
    throw new HttpError(400, 'The request body must be a JSON object');
  }
  const { text, model, detailed, instruction } = request;
  if (typeof text !== 'string') throw new HttpError(400, '"text" must be a string');
  if (typeof model !== 'string') throw new HttpError(400, '"model" must be a string');
  if (typeof detailed !== 'boolean') throw new HttpError(400, '"detailed" must be true or false');
  if (text.trim() === '') throw new HttpError(400, '"text" must not be empty');
  checkLength('text', text, EXPLAIN_TEXT_MAX_CHARS);
  if (instruction !== undefined) checkUserText('instruction', instruction, INSTRUCTION_MAX_CHARS);
  return { text, model, detailed, instruction };
}

// Counts code points, the characters a person sees.
function checkLength(name, value, limit) {
  let characters = 0;
  for (const _ of value) {
    if (++characters > limit) throw new HttpError(413, `"${name}" is longer than ${limit} characters`);
  }
}

// eslint-disable-next-line no-control-regex
const CONTROL = /[\u0000-\u0008\u000b-\u001f\u007f-\u009f]/;

// Text a person wrote for the upstream: line breaks and tabs, but no other
// control characters.
function checkUserText(name, value, limit) {
  if (typeof value !== 'string') throw new HttpError(400, `"${name}" must be a string`);
  if (value.trim() === '') throw new HttpError(400, `"${name}" must not be empty`);
  if (CONTROL.test(value)) {
    throw new HttpError(400, `"${name}" must not hold control characters other than line breaks and tabs`);
  }
  checkLength(name, value, limit);
}

function requestLanguage(ex) {
  const language = ex.query.get('language');
  if (language === null) return undefined;
  if (!isLanguageCode(language)) {
    throw new HttpError(400, '"language" must be a two-letter ISO 639-1 code such as "en"');
  }
  return language;
}

// Names and jargon the speech-to-text model should expect; empty is none.
function requestVocabulary(ex) {
  const prompt = ex.query.get('prompt');
  if (prompt === null || prompt.trim() === '') return undefined;
  checkUserText('prompt', prompt, VOCABULARY_MAX_CHARS);
  return prompt;
}

// Counts what runs at once, overall or per key; acquire() returns a release
// function, or undefined when the limit is reached.
class Slots {
  constructor(limit) {
    this.limit = limit;
    this.used = new Map();
  }

  acquire(key = '') {
    const used = this.used.get(key) ?? 0;
    if (used >= this.limit) return undefined;
    this.used.set(key, used + 1);
    let released = false;
    return () => {
      if (released) return;
      released = true;
      const left = this.used.get(key) - 1;
      if (left === 0) this.used.delete(key);
      else this.used.set(key, left);
    };
  }
}

const WAITING = Symbol('waiting');

function diskFull(error) {
  return error?.code === 'ENOSPC' || error?.code === 'EDQUOT';
}

export function createHandler({ config, quota, log, uploadDir }) {
  const knownModels = [...config.chat.keys()].map((model) => `"${model}"`).join(', ');
  const streams = new Slots(config.streamsPerToken);
  const uploads = new Slots(config.maxUploads);

  async function takeQuota(ex, endpoint) {
    const result = await quotaCall(() => quota.take(ex.token, endpoint));
    if (!result.ticket) throw rateLimited(result);
    return result.ticket;
  }

  async function quotaCall(call) {
    try {
      return await call();
    } catch (error) {
      log(`quota store: ${error.message}`);
      throw new HttpError(503, QUOTA_UNAVAILABLE, { 'retry-after': '10' });
    }
  }

  async function refund(ticket) {
    try {
      await quota.refund(ticket);
    } catch (error) {
      log(`quota store: the refund failed: ${error.message}`);
    }
  }

  function rateLimited({ retryAfterSeconds }) {
    return new HttpError(429, DAILY_LIMIT_REACHED, { 'retry-after': String(retryAfterSeconds) });
  }

  function storageFull(error) {
    log(`transcribe: the data directory is full: ${error.message}`);
    return new HttpError(507, STORAGE_FULL);
  }

  function upstreamFailure(ex, endpoint, error) {
    log(`${endpoint}: ${error.message}`);
    ex.notes.push('upstream-failed');
    return new HttpError(502, UPSTREAM_FAILED);
  }

  // The first piece is awaited before the reply starts, so that an upstream
  // that fails or answers nothing can still be reported with a status; but
  // not for longer than a heartbeat, so that the client hears from us in time.
  async function firstPiece(next) {
    const patience = new AbortController();
    try {
      return await Promise.race([next, sleep(config.heartbeatMs, WAITING, { signal: patience.signal })]);
    } finally {
      patience.abort();
    }
  }

  async function explain(ex) {
    ex.authenticate();
    ex.requireContentType('application/json');
    const body = await ex.readBody(EXPLAIN_BODY_MAX_BYTES);
    const { text, model, detailed, instruction } = parseExplainRequest(ex, body);
    const target = config.chat.get(model);
    if (!target) throw new HttpError(400, `Unknown model "${model}"; known models are ${knownModels}`);
    ex.notes.push(`model=${model}`, `detailed=${detailed}`);
    if (instruction !== undefined) ex.notes.push(`instruction=${[...instruction].length}`);

    if (!config.demo && !target.configured) {
      const stream = ex.startEventStream();
      await stream.piece(unconfiguredExplanation(target));
      stream.end({ complete: true });
      return;
    }

    const release = streams.acquire(ex.token);
    if (!release) throw new HttpError(503, TOO_MANY_STREAMS, { 'retry-after': '1' });
    try {
      await relayExplanation(ex, target, { text, model, detailed, instruction });
    } finally {
      release();
    }
  }

  function messagesFor({ text, detailed, instruction }) {
    return instruction === undefined ? explanationMessages(text, detailed) : actionMessages(text, instruction);
  }

  async function relayExplanation(ex, target, request) {
    const ticket = await takeQuota(ex, 'explain');
    let iterator;
    let next;
    let first;
    try {
      const pieces = config.demo
        ? demoExplanation(request, ex.signal)
        : await openChatStream(target, messagesFor(request), {
            timeoutMs: config.upstreamTimeoutMs,
            signal: ex.signal,
          });
      iterator = pieces[Symbol.asyncIterator]();
      next = iterator.next();
      first = await firstPiece(next);
      if (first.done) throw new UpstreamError(`${target.upstreamModel} answered with nothing`);
    } catch (error) {
      await refund(ticket);
      throw upstreamFailure(ex, 'explain', error);
    }

    const stream = ex.startEventStream();
    let delivered = 0;
    try {
      for (let result = first === WAITING ? await next : first; !result.done; result = await iterator.next()) {
        await stream.piece(result.value);
        delivered += 1;
      }
      if (delivered === 0) throw new UpstreamError(`${target.upstreamModel} answered with nothing`);
      stream.end({ complete: true });
    } catch (error) {
      if (delivered === 0) await refund(ticket);
      if (ex.signal.aborted) return;
      log(`explain: ${error.message}`);
      ex.notes.push('upstream-failed');
      await stream.piece(INTERRUPTED_NOTICE);
      stream.end({ complete: false });
    } finally {
      if (delivered > 0) quota.settle(ticket);
    }
  }

  async function transcribe(ex) {
    ex.authenticate();
    ex.requireContentType('audio/mp4');
    const language = requestLanguage(ex) ?? config.transcription.language;
    const prompt = requestVocabulary(ex);
    if (!config.demo && !config.transcription.configured) {
      throw new HttpError(503, unconfiguredTranscription(config.transcription));
    }
    // Checked before the upload is read, counted once it has been.
    const exhausted = await quotaCall(() => quota.exhausted(ex.token, 'transcribe'));
    if (exhausted) throw rateLimited(exhausted);
    const release = uploads.acquire();
    if (!release) throw new HttpError(503, BUSY, { 'retry-after': '5' });
    const file = path.join(uploadDir, `${randomUUID()}.m4a`);
    let text;
    try {
      const bytes = await ex.saveBody(AUDIO_MAX_BYTES, file).catch((error) => {
        throw diskFull(error) ? storageFull(error) : error;
      });
      if (bytes === 0) throw new HttpError(400, 'The request body holds no audio');
      ex.notes.push(`bytes=${bytes}`);
      if (language) ex.notes.push(`language=${language}`);
      if (prompt) ex.notes.push(`prompt=${[...prompt].length}`);
      const ticket = await takeQuota(ex, 'transcribe');
      try {
        text = config.demo ? demoTranscription(bytes) : await transcribeFile(ex, file, bytes, { language, prompt });
        quota.settle(ticket);
      } catch (error) {
        await refund(ticket);
        if (error instanceof TooLongError) throw new HttpError(413, error.message);
        if (diskFull(error)) throw storageFull(error);
        if (!(error instanceof AudioError)) throw upstreamFailure(ex, 'transcribe', error);
        log(`transcribe: ffmpeg: ${error.message}`);
        throw new HttpError(400, 'The request body is not audio that can be read');
      }
    } finally {
      release();
      await rm(file, { force: true });
    }
    // Only now, so that a client may send its next recording at once.
    ex.sendJson(200, { text });
  }

  async function transcribeFile(ex, file, bytes, { language, prompt }) {
    const upstream = config.transcription;
    const options = { timeoutMs: config.upstreamTimeoutMs, signal: ex.signal, language, prompt };
    if (upstream.convert !== 'wav') {
      return transcribeAudio(upstream, { file, bytes, filename: 'recording.m4a', type: 'audio/mp4' }, options);
    }
    const wav = `${file}.wav`;
    try {
      const size = await convertToWav(file, wav, { ...options, maxSeconds: upstream.maxSeconds });
      return await transcribeAudio(upstream, { file: wav, bytes: size, filename: 'recording.wav', type: 'audio/wav' }, options);
    } finally {
      await rm(wav, { force: true });
    }
  }

  const models = servedModels(config);

  const routes = {
    '/api/explain': { POST: explain },
    '/api/models': {
      GET: (ex) => {
        ex.authenticate();
        ex.sendJson(200, models);
      },
    },
    '/api/transcribe': { POST: transcribe },
    '/health': { GET: (ex) => ex.sendJson(200, { status: 'ok' }) },
  };

  return async function handle(ex) {
    try {
      if (!ex.hostAllowed()) {
        throw new HttpError(421, 'This service does not answer for the host name in the request');
      }
      const methods = routes[ex.path];
      if (!methods) throw new HttpError(404, 'Not found');
      const handler = methods[ex.req.method];
      if (!handler) {
        throw new HttpError(405, 'Method not allowed', { allow: Object.keys(methods).join(', ') });
      }
      await handler(ex);
    } catch (error) {
      if (ex.res.headersSent || ex.signal.aborted) {
        if (!(error instanceof HttpError)) log(`internal error: ${error.stack}`);
        ex.res.destroy();
        return;
      }
      if (error instanceof HttpError) {
        ex.sendJson(error.status, { error: error.message }, error.headers);
      } else {
        log(`internal error: ${error.stack}`);
        ex.sendJson(500, { error: 'Internal server error' });
      }
    }
  };
}
