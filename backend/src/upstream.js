// Client of OpenAI-compatible APIs (OpenAI, xAI, Ollama, llama.cpp, vLLM)
// and of the whisper.cpp server.

import { randomBytes } from 'node:crypto';
import { createReadStream } from 'node:fs';
import http from 'node:http';
import https from 'node:https';
import { Readable } from 'node:stream';
import { pipeline } from 'node:stream/promises';

export class UpstreamError extends Error {}

// The desktop program gives up on a line of this length too.
export const LINE_MAX_BYTES = 1024 * 1024;
// And on a transcription reply of this size.
export const TRANSCRIPTION_REPLY_MAX_BYTES = 10 * 1024 * 1024;

// Aborts the exchange when the upstream makes no progress for too long; the
// caller restarts the wait on each sign of progress.
class Watchdog {
  constructor(timeoutMs, outerSignal) {
    this.timeoutMs = timeoutMs;
    this.controller = new AbortController();
    this.timedOut = false;
    this.outerSignal = outerSignal;
    this.onOuterAbort = () => this.controller.abort();
    if (outerSignal?.aborted) this.controller.abort();
    outerSignal?.addEventListener('abort', this.onOuterAbort, { once: true });
    this.touch();
  }

  get signal() {
    return this.controller.signal;
  }

  // While the caller is busy with what it was given, the upstream is not
  // being read, so its silence is not its fault.
  pause() {
    clearTimeout(this.timer);
  }

  touch() {
    clearTimeout(this.timer);
    this.timer = setTimeout(() => {
      this.timedOut = true;
      this.controller.abort();
    }, this.timeoutMs);
  }

  stop() {
    clearTimeout(this.timer);
    this.outerSignal?.removeEventListener('abort', this.onOuterAbort);
  }

  explain(error, what) {
    if (error instanceof UpstreamError) return error;
    if (this.timedOut) return new UpstreamError(`${what} timed out after ${this.timeoutMs} ms`);
    if (this.outerSignal?.aborted) return new UpstreamError(`${what} was cancelled`);
    const cause = error?.code ?? error?.cause?.code ?? error?.cause?.message ?? error?.message ?? String(error);
    return new UpstreamError(`${what} failed: ${cause}`);
  }
}

function headers(upstream, fields) {
  return upstream.apiKey ? { ...fields, authorization: `Bearer ${upstream.apiKey}` } : fields;
}

const agents = {
  'http:': new http.Agent({ keepAlive: true }),
  'https:': new https.Agent({ keepAlive: true }),
};

// node:http rather than fetch for the streams: it costs less CPU per
// stream, and CPU is what limits many concurrent explanations.
function postJson(url, fields, body, signal) {
  return new Promise((resolve, reject) => {
    const target = new URL(url);
    const client = target.protocol === 'https:' ? https : http;
    const request = client.request(target, {
      method: 'POST',
      headers: { ...fields, 'content-length': Buffer.byteLength(body) },
      agent: agents[target.protocol],
      signal,
    });
    request.on('error', reject);
    request.once('response', (response) => {
      // Failures while reading surface through the iteration of the body.
      response.on('error', () => {});
      resolve(response);
    });
    request.end(body);
  });
}

function decodeLine(bytes) {
  const end = bytes.length > 0 && bytes[bytes.length - 1] === 0x0d ? bytes.length - 1 : bytes.length;
  return bytes.toString('utf8', 0, end);
}

// Each chunk is searched once for line ends, so a long line costs no more
// than its length; a line longer than LINE_MAX_BYTES ends the stream.
async function* lines(body, what) {
  let pending = [];
  let pendingBytes = 0;
  const tooLong = () => new UpstreamError(`${what} sent a line longer than ${LINE_MAX_BYTES} bytes`);
  // Leaving the loop early must not destroy the body: see drainRest.
  for await (const bytes of body.iterator({ destroyOnReturn: false })) {
    let start = 0;
    for (let end = bytes.indexOf(0x0a); end !== -1; end = bytes.indexOf(0x0a, start)) {
      if (pendingBytes + end - start > LINE_MAX_BYTES) throw tooLong();
      const tail = bytes.subarray(start, end);
      const line = pendingBytes === 0 ? tail : Buffer.concat([...pending, tail]);
      pending = [];
      pendingBytes = 0;
      start = end + 1;
      yield decodeLine(line);
    }
    if (start < bytes.length) {
      pending.push(bytes.subarray(start));
      pendingBytes += bytes.length - start;
      if (pendingBytes > LINE_MAX_BYTES) throw tooLong();
    }
  }
  if (pendingBytes > 0) yield decodeLine(Buffer.concat(pending));
}

// Reading what follows the end marker, usually just the end of the chunked
// body, returns the connection to the pool instead of closing it.
function drainRest(response, timeoutMs) {
  const guard = setTimeout(() => response.destroy(), timeoutMs).unref();
  response.once('close', () => clearTimeout(guard));
  response.resume();
}

function deltaOf(payload) {
  let chunk;
  try {
    chunk = JSON.parse(payload);
  } catch {
    return {};
  }
  if (chunk?.error) return { error: true };
  const choice = Array.isArray(chunk?.choices) ? chunk.choices[0] : undefined;
  const content = choice?.delta?.content;
  return { content: typeof content === 'string' ? content : undefined, finished: Boolean(choice?.finish_reason) };
}

// Resolves once the upstream has accepted the request (status 200), so that
// the caller can still answer with an error status; the returned iterable
// then yields each content delta as it arrives and throws if the stream
// breaks off before it is complete.
export async function openChatStream(upstream, messages, { timeoutMs, signal }) {
  const watchdog = new Watchdog(timeoutMs, signal);
  const what = `${upstream.upstreamModel} at ${upstream.displayUrl}`;
  let response;
  try {
    response = await postJson(
      `${upstream.baseUrl}/chat/completions`,
      headers(upstream, { 'content-type': 'application/json', accept: 'text/event-stream' }),
      JSON.stringify({ model: upstream.upstreamModel, messages, stream: true }),
      watchdog.signal,
    );
  } catch (error) {
    watchdog.stop();
    throw watchdog.explain(error, what);
  }
  if (response.statusCode !== 200) {
    watchdog.stop();
    response.resume();
    throw new UpstreamError(`${what} answered HTTP ${response.statusCode}`);
  }

  return (async function* deltas() {
    let finished = false;
    let markerSeen = false;
    try {
      for await (const line of lines(response, what)) {
        if (!line.startsWith('data:')) continue;
        const payload = line.slice(line.startsWith('data: ') ? 6 : 5);
        if (payload.trim() === '[DONE]') {
          markerSeen = true;
          return;
        }
        const delta = deltaOf(payload);
        if (delta.error) throw new UpstreamError(`${what} reported an error in the stream`);
        finished ||= Boolean(delta.finished);
        // Only content proves the upstream is still working: comment lines
        // and empty chunks could hold a stream open for ever.
        if (delta.content) {
          watchdog.pause();
          yield delta.content;
          watchdog.touch();
        }
      }
    } catch (error) {
      throw watchdog.explain(error, what);
    } finally {
      watchdog.stop();
      if (markerSeen) drainRest(response, timeoutMs);
      else if (!response.complete) response.destroy();
    }
    // Some servers close after the final chunk without the end marker.
    if (!finished) throw new UpstreamError(`${what} ended the stream early`);
  })();
}

function multipartField(boundary, name, value) {
  return `--${boundary}\r\nContent-Disposition: form-data; name="${name}"\r\n\r\n${value}\r\n`;
}

async function* multipartBody(head, file, tail, watchdog) {
  yield head;
  for await (const chunk of createReadStream(file)) {
    watchdog.touch();
    yield chunk;
  }
  yield tail;
}

async function readCapped(response, limit, what, watchdog) {
  const chunks = [];
  let size = 0;
  for await (const chunk of response) {
    watchdog?.touch();
    size += chunk.length;
    if (size > limit) {
      response.destroy();
      throw new UpstreamError(`${what} answered with more than ${limit} bytes`);
    }
    chunks.push(chunk);
  }
  return Buffer.concat(chunks, size);
}

// Streams the recording from its file as a multipart upload, so that no
// upload is ever held in memory whole. `prompt` is the field, in the
// OpenAI-compatible API and the whisper.cpp server's, for words the model
// should expect.
export async function transcribeAudio(upstream, audio, { timeoutMs, signal, language, prompt }) {
  const watchdog = new Watchdog(timeoutMs, signal);
  const what = `${upstream.upstreamModel} at ${upstream.displayUrl}`;
  const boundary = `quillpoint-${randomBytes(16).toString('hex')}`;
  const head = Buffer.from(
    multipartField(boundary, 'model', upstream.upstreamModel) +
      multipartField(boundary, 'response_format', 'json') +
      (language ? multipartField(boundary, 'language', language) : '') +
      (prompt ? multipartField(boundary, 'prompt', prompt) : '') +
      `--${boundary}\r\nContent-Disposition: form-data; name="file"; filename="${audio.filename}"\r\n` +
      `Content-Type: ${audio.type}\r\n\r\n`,
  );
  const tail = Buffer.from(`\r\n--${boundary}--\r\n`);
  const target = new URL(`${upstream.baseUrl}${upstream.path}`);
  try {
    const request = (target.protocol === 'https:' ? https : http).request(target, {
      method: 'POST',
      headers: headers(upstream, {
        accept: 'application/json',
        'content-type': `multipart/form-data; boundary=${boundary}`,
        'content-length': head.length + audio.bytes + tail.length,
      }),
      agent: agents[target.protocol],
      signal: watchdog.signal,
    });
    const responded = new Promise((resolve, reject) => {
      request.once('response', resolve);
      request.once('error', reject);
    });
    responded.catch(() => {});
    // An upstream may answer (an error, say) before it has taken the whole
    // upload; its answer then counts, not the broken upload.
    const sent = pipeline(Readable.from(multipartBody(head, audio.file, tail, watchdog)), request);
    const response = await Promise.race([responded, sent.then(() => responded)]);
    sent.catch(() => {});
    const body = await readCapped(response, TRANSCRIPTION_REPLY_MAX_BYTES, what, watchdog);
    if (response.statusCode !== 200) throw new UpstreamError(`${what} answered HTTP ${response.statusCode}`);
    let reply;
    try {
      reply = JSON.parse(body.toString('utf8'));
    } catch {
      throw new UpstreamError(`${what} answered with something other than JSON`);
    }
    if (typeof reply?.text !== 'string') throw new UpstreamError(`${what} answered without a text`);
    return reply.text;
  } catch (error) {
    throw watchdog.explain(error, what);
  } finally {
    watchdog.stop();
  }
}

// A model list is a few kilobytes; a server that sends more is not one to use.
const MODEL_LIST_MAX_BYTES = 1024 * 1024;
// Model ids go into requests, answers and the log: plain names only.
const MODEL_ID = /^[A-Za-z0-9._:/-]{1,128}$/;

function getOnce(url, signal) {
  return new Promise((resolve, reject) => {
    const target = new URL(url);
    // node:http follows no redirect: a model server answers for itself.
    const request = (target.protocol === 'https:' ? https : http).get(target, {
      headers: { accept: 'application/json' },
      agent: false,
      signal,
    });
    request.once('response', resolve);
    request.once('error', reject);
  });
}

// Asks a local OpenAI-compatible server which models it serves, within
// `timeoutMs` for the whole exchange. Resolves with the ids that are plain
// names, in the server's order, and how many others were left out.
export async function listModels(baseUrl, timeoutMs) {
  const signal = AbortSignal.timeout(timeoutMs);
  const response = await getOnce(`${baseUrl}/models`, signal);
  let body;
  try {
    if (response.statusCode !== 200) throw new UpstreamError(`answered HTTP ${response.statusCode}`);
    body = await readCapped(response, MODEL_LIST_MAX_BYTES, 'it', undefined);
  } finally {
    response.destroy();
  }
  let reply;
  try {
    reply = JSON.parse(body.toString('utf8'));
  } catch {
    throw new UpstreamError('answered with something other than JSON');
  }
  if (!Array.isArray(reply?.data)) throw new UpstreamError('answered without a model list');
  const ids = reply.data.map((entry) => entry?.id);
  const plain = ids.filter((id) => typeof id === 'string' && MODEL_ID.test(id));
  return { ids: plain, skipped: ids.length - plain.length };
}
