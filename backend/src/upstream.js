// Client of OpenAI-compatible APIs (OpenAI, xAI, Ollama, llama.cpp, vLLM).

import http from 'node:http';
import https from 'node:https';

export class UpstreamError extends Error {}

// Aborts the exchange when the upstream stays silent for too long; every
// arrival of data restarts the wait.
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

async function* lines(body, watchdog) {
  const decoder = new TextDecoder();
  let pending = '';
  // Leaving the loop early must not destroy the body: see drainRest.
  for await (const bytes of body.iterator({ destroyOnReturn: false })) {
    watchdog.touch();
    pending += decoder.decode(bytes, { stream: true });
    const parts = pending.split('\n');
    pending = parts.pop();
    for (const line of parts) yield line.endsWith('\r') ? line.slice(0, -1) : line;
  }
  pending += decoder.decode();
  if (pending !== '') yield pending;
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
  const what = `${upstream.upstreamModel} at ${upstream.baseUrl}`;
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
      for await (const line of lines(response, watchdog)) {
        if (!line.startsWith('data:')) continue;
        const payload = line.slice(line.startsWith('data: ') ? 6 : 5);
        if (payload.trim() === '[DONE]') {
          markerSeen = true;
          return;
        }
        const delta = deltaOf(payload);
        if (delta.error) throw new UpstreamError(`${what} reported an error in the stream`);
        if (delta.content) yield delta.content;
        finished ||= Boolean(delta.finished);
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

export async function transcribeAudio(upstream, audio, { timeoutMs, signal }) {
  const watchdog = new Watchdog(timeoutMs, signal);
  const what = `${upstream.upstreamModel} at ${upstream.baseUrl}`;
  const form = new FormData();
  form.append('model', upstream.upstreamModel);
  form.append('response_format', 'json');
  form.append('file', new Blob([audio], { type: 'audio/mp4' }), 'recording.m4a');
  try {
    const response = await fetch(`${upstream.baseUrl}/audio/transcriptions`, {
      method: 'POST',
      headers: headers(upstream, { accept: 'application/json' }),
      body: form,
      signal: watchdog.signal,
    });
    const body = await response.text();
    if (response.status !== 200) throw new UpstreamError(`${what} answered HTTP ${response.status}`);
    let reply;
    try {
      reply = JSON.parse(body);
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
