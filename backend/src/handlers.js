import {
  AUDIO_MAX_BYTES,
  EXPLAIN_BODY_MAX_BYTES,
  EXPLAIN_TEXT_MAX_CHARS,
} from './config.js';
import { demoExplanation, demoTranscription } from './demo.js';
import { HttpError } from './http.js';
import {
  DAILY_LIMIT_REACHED,
  INTERRUPTED_NOTICE,
  UPSTREAM_FAILED,
  unconfiguredExplanation,
  unconfiguredTranscription,
} from './messages.js';
import { explanationMessages } from './prompts.js';
import { openChatStream, transcribeAudio } from './upstream.js';

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

export function createHandler({ config, quota, log }) {
  const knownModels = [...config.chat.keys()].map((model) => `"${model}"`).join(', ');

  function takeQuota(ex, endpoint) {
    const result = quota.take(ex.token, endpoint);
    if (!result.ticket) throw rateLimited(result);
    return result.ticket;
  }

  function rateLimited({ retryAfterSeconds }) {
    return new HttpError(429, DAILY_LIMIT_REACHED, {
      'retry-after': String(retryAfterSeconds),
    });
  }

  function upstreamFailure(ex, endpoint, error) {
    log(`${endpoint}: ${error.message}`);
    ex.notes.push('upstream-failed');
    return new HttpError(502, UPSTREAM_FAILED);
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
