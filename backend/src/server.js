import http from 'node:http';
import { createHash } from 'node:crypto';
import {
  AUDIO_MAX_BYTES,
  EXPLAIN_BODY_MAX_BYTES,
  EXPLAIN_TEXT_MAX_CHARS,
} from './config.js';
import { demoExplanation, demoTranscription } from './demo.js';
import { explanationMessages } from './prompts.js';
import { openChatStream, transcribeAudio } from './upstream.js';

export const INTERRUPTED_NOTICE =
  '\n\n*The explanation was cut short because the language model stopped answering. Please try again.*';

class HttpError extends Error {
  constructor(status, message, headers = {}) {
    super(message);
    this.status = status;
    this.headers = headers;
  }
}

const DISCARD_MAX_BYTES = 16 * 1024 * 1024;
const DISCARD_MAX_MS = 5000;

const BEARER = /^Bearer ([\x21-\x7e]{1,256})$/i;

function tokenTag(token) {
  return createHash('sha256').update(token).digest('hex').slice(0, 8);
}

export function unconfiguredExplanation(target) {
  const [keyVariable, urlVariable] = target.variables;
  return (
    `No language model is configured for "${target.model}" on this Quillpoint backend, ` +
    `so it cannot explain anything yet. Set ${keyVariable} (or ${urlVariable} for a local ` +
    'OpenAI-compatible server) in the environment of the backend and restart it.'
  );
}

export function unconfiguredTranscription(target) {
  const [keyVariable, urlVariable, fallbackVariable] = target.variables;
  return (
    'No speech-to-text service is configured on this Quillpoint backend. ' +
    `Set ${keyVariable} or ${fallbackVariable} (or ${urlVariable} for a local ` +
    'OpenAI-compatible server) in the environment of the backend and restart it.'
  );
}

function waitForDrain(res) {
  return new Promise((resolve) => {
    if (res.destroyed) {
      resolve();
      return;
    }
    const done = () => {
      res.off('drain', done);
      res.off('close', done);
      resolve();
    };
    res.on('drain', done);
    res.on('close', done);
  });
}

// A text/event-stream reply whose events have the shape of streamed chat
// completion chunks. While nothing else is written, comment lines keep the
// connection busy so that clients with an idle timeout keep waiting.
class EventStream {
  constructor(res, heartbeatMs) {
    this.res = res;
    this.heartbeatMs = heartbeatMs;
    res.writeHead(200, {
      'content-type': 'text/event-stream; charset=utf-8',
      'cache-control': 'no-cache',
      'x-accel-buffering': 'no',
    });
    res.flushHeaders();
    res.once('close', () => clearTimeout(this.heartbeat));
    this.scheduleHeartbeat();
  }

  scheduleHeartbeat() {
    clearTimeout(this.heartbeat);
    this.heartbeat = setTimeout(() => {
      this.res.write(': keep-alive\n\n');
      this.scheduleHeartbeat();
    }, this.heartbeatMs);
  }

  async piece(content) {
    if (this.res.destroyed) return;
    this.scheduleHeartbeat();
    if (!this.res.write(`data: ${JSON.stringify({ choices: [{ delta: { content } }] })}\n\n`)) {
      await waitForDrain(this.res);
    }
  }

  // Without the end marker a client can tell the answer is incomplete.
  end({ complete }) {
    clearTimeout(this.heartbeat);
    this.res.end(complete ? 'data: [DONE]\n\n' : undefined);
  }
}

// One request and its reply, with what the access log and the optional
// request log need to know about them.
class Exchange {
  constructor(req, res, services) {
    this.req = req;
    this.res = res;
    this.services = services;
    this.startedAt = performance.now();
    this.path = req.url.split('?')[0];
    this.notes = [];
    this.clientGone = new AbortController();
    res.on('close', () => {
      if (!res.writableFinished) this.clientGone.abort();
      services.log(this.accessLine());
    });
  }

  get signal() {
    return this.clientGone.signal;
  }

  accessLine() {
    const elapsed = Math.round(performance.now() - this.startedAt);
    const status = this.res.headersSent ? this.res.statusCode : '-';
    const parts = [this.req.method, this.path, status, `${elapsed}ms`];
    if (this.token) parts.push(`token=${tokenTag(this.token)}`);
    if (this.signal.aborted) parts.push('client-disconnected');
    return [...parts, ...this.notes].join(' ');
  }

  record(status) {
    const { requestLog } = this.services;
    if (!requestLog) return;
    requestLog({
      time: new Date().toISOString(),
      method: this.req.method,
      path: this.path,
      status,
      authorization: this.req.headers.authorization ?? null,
      contentType: this.req.headers['content-type'] ?? null,
      bodyLength: this.body ? this.body.length : null,
      bodySha256: this.body ? createHash('sha256').update(this.body).digest('hex') : null,
      ...(this.json !== undefined && { json: this.json }),
    });
  }

  sendJson(status, payload, headers = {}) {
    this.record(status);
    const body = JSON.stringify(payload);
    if (!this.bodyDone && this.largeBodyUnread()) this.discardBody();
    this.res.writeHead(status, {
      ...headers,
      'content-type': 'application/json; charset=utf-8',
      'content-length': Buffer.byteLength(body),
    });
    this.res.end(body);
  }

  largeBodyUnread() {
    const { headers } = this.req;
    return headers['transfer-encoding'] !== undefined || Number(headers['content-length']) > 65536;
  }

  // A client that is still sending only sees the error reply if it can finish
  // sending, so a refused body is read and dropped, but only up to a bound:
  // after that the connection is closed.
  discardBody() {
    const { req } = this;
    let budget = DISCARD_MAX_BYTES;
    const giveUp = () => req.socket.destroy();
    const timer = setTimeout(giveUp, DISCARD_MAX_MS);
    req.on('data', (chunk) => {
      budget -= chunk.length;
      if (budget < 0) giveUp();
    });
    req.once('close', () => clearTimeout(timer));
    req.resume();
  }

  startEventStream() {
    this.record(200);
    return new EventStream(this.res, this.services.config.heartbeatMs);
  }

  authenticate() {
    const match = BEARER.exec(this.req.headers.authorization ?? '');
    if (!match) {
      throw new HttpError(401, 'A bearer token is required', { 'www-authenticate': 'Bearer' });
    }
    this.token = match[1];
    return this.token;
  }

  requireContentType(expected) {
    const actual = (this.req.headers['content-type'] ?? '').split(';')[0].trim().toLowerCase();
    if (actual !== expected) {
      throw new HttpError(415, `Content-Type must be ${expected}`);
    }
  }

  readBody(limit) {
    const { req } = this;
    this.bodyDone = false;
    const tooLarge = () => new HttpError(413, `The request body is larger than ${limit} bytes`);
    if (Number(req.headers['content-length']) > limit) return Promise.reject(tooLarge());
    // Clients that asked whether to send the body get their go-ahead only now,
    // after the checks that could refuse it.
    if (/100-continue/i.test(req.headers.expect ?? '')) this.res.writeContinue();
    return new Promise((resolve, reject) => {
      const chunks = [];
      let size = 0;
      const stop = () => {
        req.off('data', onData);
        req.off('end', onEnd);
        req.off('close', onClose);
      };
      const onData = (chunk) => {
        size += chunk.length;
        if (size > limit) {
          stop();
          reject(tooLarge());
          return;
        }
        chunks.push(chunk);
      };
      const onEnd = () => {
        stop();
        this.bodyDone = true;
        this.body = Buffer.concat(chunks, size);
        resolve(this.body);
      };
      const onClose = () => {
        stop();
        reject(new HttpError(400, 'The request body was cut off'));
      };
      req.on('data', onData);
      req.on('end', onEnd);
      req.on('close', onClose);
    });
  }
}

function parseExplainRequest(ex, body) {
  let request;
  try {
    request = JSON.parse(body.toString('utf8'));
  } catch {
    throw new HttpError(400, 'The request body must be JSON');
  }
  ex.json = request;
  if (request === null || typeof request !== 'object' || Array.isArray(request)) {
    throw new HttpError(400, 'The request body must be a JSON object');
  }
  const { text, model, detailed } = request;
  if (typeof text !== 'string') throw new HttpError(400, '"text" must be a string');
  if (typeof model !== 'string') throw new HttpError(400, '"model" must be a string');
  if (typeof detailed !== 'boolean') throw new HttpError(400, '"detailed" must be true or false');
  if (text.trim() === '') throw new HttpError(400, '"text" must not be empty');
  let characters = 0;
  for (const _ of text) {
    if (++characters > EXPLAIN_TEXT_MAX_CHARS) {
      throw new HttpError(413, `"text" is longer than ${EXPLAIN_TEXT_MAX_CHARS} characters`);
    }
  }
  return { text, model, detailed };
}

function createHandlers({ config, quota, log }) {
  const knownModels = [...config.chat.keys()].map((model) => `"${model}"`).join(', ');

  function takeQuota(ex, endpoint) {
    const result = quota.take(ex.token, endpoint);
    if (!result.ticket) throw rateLimited(result);
    return result.ticket;
  }

  function rateLimited({ retryAfterSeconds }) {
    return new HttpError(429, 'Daily limit reached. Try again tomorrow.', {
      'retry-after': String(retryAfterSeconds),
    });
  }

  function upstreamFailure(ex, endpoint, error) {
    log(`${endpoint}: ${error.message}`);
    ex.notes.push('upstream-failed');
    return new HttpError(502, 'The upstream AI service failed; please try again later');
  }

  async function explain(ex) {
    ex.authenticate();
    ex.requireContentType('application/json');
    const body = await ex.readBody(EXPLAIN_BODY_MAX_BYTES);
    const { text, model, detailed } = parseExplainRequest(ex, body);
    ex.notes.push(`model=${model}`, `detailed=${detailed}`);
    const target = config.chat.get(model);
    if (!target) throw new HttpError(400, `Unknown model "${model}"; known models are ${knownModels}`);

    if (!config.demo && !target.configured) {
      const stream = ex.startEventStream();
      await stream.piece(unconfiguredExplanation(target));
      stream.end({ complete: true });
      return;
    }

    const ticket = takeQuota(ex, 'explain');
    let pieces;
    try {
      pieces = config.demo
        ? demoExplanation({ text, model, detailed }, ex.signal)
        : await openChatStream(target, explanationMessages(text, detailed), {
            timeoutMs: config.upstreamTimeoutMs,
            signal: ex.signal,
          });
    } catch (error) {
      quota.refund(ticket);
      throw upstreamFailure(ex, 'explain', error);
    }

    const stream = ex.startEventStream();
    let delivered = 0;
    try {
      for await (const piece of pieces) {
        await stream.piece(piece);
        delivered += 1;
      }
      stream.end({ complete: true });
    } catch (error) {
      if (delivered === 0) quota.refund(ticket);
      if (ex.signal.aborted) return;
      log(`explain: ${error.message}`);
      ex.notes.push('upstream-failed');
      await stream.piece(INTERRUPTED_NOTICE);
      stream.end({ complete: false });
    }
  }

  async function transcribe(ex) {
    ex.authenticate();
    ex.requireContentType('audio/mp4');
    if (!config.demo && !config.transcription.configured) {
      throw new HttpError(503, unconfiguredTranscription(config.transcription));
    }
    // Checked before the upload is read, counted once it has been.
    const exhausted = quota.exhausted(ex.token, 'transcribe');
    if (exhausted) throw rateLimited(exhausted);
    const audio = await ex.readBody(AUDIO_MAX_BYTES);
    if (audio.length === 0) throw new HttpError(400, 'The request body holds no audio');
    ex.notes.push(`bytes=${audio.length}`);

    const ticket = takeQuota(ex, 'transcribe');
    let text;
    try {
      text = config.demo
        ? demoTranscription(audio)
        : await transcribeAudio(config.transcription, audio, {
            timeoutMs: config.upstreamTimeoutMs,
            signal: ex.signal,
          });
    } catch (error) {
      quota.refund(ticket);
      throw upstreamFailure(ex, 'transcribe', error);
    }
    ex.sendJson(200, { text });
  }

  const routes = {
    '/api/explain': { POST: explain },
    '/api/transcribe': { POST: transcribe },
    '/health': { GET: (ex) => ex.sendJson(200, { status: 'ok' }) },
  };

  return async function handle(ex) {
    try {
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

export function createServer(services) {
  const handle = createHandlers(services);
  const onRequest = (req, res) => handle(new Exchange(req, res, services));
  const server = http.createServer(onRequest);
  server.on('checkContinue', onRequest);
  return server;
}
