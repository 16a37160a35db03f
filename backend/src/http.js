import http from 'node:http';
import { createHash } from 'node:crypto';

export class HttpError extends Error {
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

// Every request becomes an Exchange handed to `handle`, which answers it.
export function createServer(handle, services) {
  const onRequest = (req, res) => handle(new Exchange(req, res, services));
  const server = http.createServer(onRequest);
  server.on('checkContinue', onRequest);
  return server;
}
