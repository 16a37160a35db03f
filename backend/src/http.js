import { createHash } from 'node:crypto';
import { createWriteStream } from 'node:fs';
import http from 'node:http';

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

// A client that takes nothing for `timeoutMs` is dropped, so that it cannot
// hold an upstream stream open for ever.
function waitForDrain(res, timeoutMs) {
  return new Promise((resolve) => {
    if (res.destroyed) {
      resolve();
      return;
    }
    const done = () => {
      clearTimeout(timer);
      res.off('drain', done);
      res.off('close', done);
      resolve();
    };
    const timer = setTimeout(() => res.destroy(), timeoutMs);
    res.on('drain', done);
    res.on('close', done);
  });
}

// Request paths go into the log, so only printable ASCII of bounded length.
function loggablePath(path) {
  const printable = path.replace(/[^\x21-\x7e]/g, '?');
  return printable.length > 100 ? `${printable.slice(0, 100)}...` : printable;
}

function hostName(header) {
  const host = header.trim().toLowerCase();
  const name = host.startsWith('[') ? host.slice(1, host.indexOf(']')) : host.split(':')[0];
  return name.endsWith('.') ? name.slice(0, -1) : name;
}

// A text/event-stream reply whose events have the shape of streamed chat
// completion chunks. While nothing else is written, comment lines keep the
// connection busy so that clients with an idle timeout keep waiting.
class EventStream {
  constructor(res, { heartbeatMs, clientTimeoutMs }) {
    this.res = res;
    this.heartbeatMs = heartbeatMs;
    this.clientTimeoutMs = clientTimeoutMs;
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
      await waitForDrain(this.res, this.clientTimeoutMs);
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
    // On the system's monotonic clock, which the program's latency marks read too.
    this.arrivedAt = process.hrtime.bigint();
    const [path, query] = req.url.split('?');
    this.path = path;
    this.query = new URLSearchParams(query ?? '');
    this.notes = [];
    this.clientGone = new AbortController();
    services.open?.add(this);
    res.on('close', () => {
      if (!res.writableFinished) this.clientGone.abort();
      services.log(this.accessLine());
      services.open?.delete(this);
    });
  }

  // A web page that has its own name resolve to a loopback address reaches
  // this service with that name in the Host header: such requests are refused.
  hostAllowed() {
    const { host } = this.req.headers;
    return host !== undefined && this.services.config.allowedHosts.has(hostName(host));
  }

  get signal() {
    return this.clientGone.signal;
  }

  accessLine() {
    const elapsed = Math.round(performance.now() - this.startedAt);
    const status = this.res.headersSent ? this.res.statusCode : '-';
    const parts = [this.req.method, loggablePath(this.path), status, `${elapsed}ms`];
    if (this.token) parts.push(`token=${tokenTag(this.token)}`);
    if (this.signal.aborted) parts.push('client-disconnected');
    return [...parts, ...this.notes].join(' ');
  }

  // The parsed body goes in as the text it was parsed from: serialising it
  // again could overflow the stack on deep nesting. JSON holds line breaks
  // only between tokens, so they can become spaces to keep one entry a line.
  record(status) {
    const { requestLog } = this.services;
    if (!requestLog) return;
    const line = JSON.stringify({
      time: new Date().toISOString(),
      arrivedMs: Number(this.arrivedAt) / 1e6,
      method: this.req.method,
      path: this.path,
      status,
      authorization: this.req.headers.authorization ?? null,
      contentType: this.req.headers['content-type'] ?? null,
      bodyLength: this.bodyLength ?? null,
      bodySha256: this.bodySha256 ?? null,
    });
    requestLog(this.jsonText === undefined ? line : `${line.slice(0, -1)},"json":${this.jsonText.replace(/[\r\n]/g, ' ')}}`);
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
    return new EventStream(this.res, this.services.config);
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

  // Hands each chunk of the body to `take` (which may return a promise to
  // hold the next one back) and resolves with the size once all has come.
  receiveBody(limit, take) {
    const { req } = this;
    this.bodyDone = false;
    const tooLarge = () => new HttpError(413, `The request body is larger than ${limit} bytes`);
    if (Number(req.headers['content-length']) > limit) return Promise.reject(tooLarge());
    // Clients that asked whether to send the body get their go-ahead only now,
    // after the checks that could refuse it.
    if (/100-continue/i.test(req.headers.expect ?? '')) this.res.writeContinue();
    const hash = this.services.requestLog ? createHash('sha256') : undefined;
    return new Promise((resolve, reject) => {
      let size = 0;
      const stop = () => {
        req.off('data', onData);
        req.off('end', onEnd);
        req.off('close', onClose);
      };
      const fail = (error) => {
        stop();
        req.resume();
        reject(error);
      };
      const onData = (chunk) => {
        size += chunk.length;
        if (size > limit) {
          fail(tooLarge());
          return;
        }
        hash?.update(chunk);
        const held = take(chunk);
        if (held) {
          req.pause();
          held.then(() => req.resume(), fail);
        }
      };
      const onEnd = () => {
        stop();
        this.bodyDone = true;
        this.bodyLength = size;
        this.bodySha256 = hash?.digest('hex');
        resolve(size);
      };
      const onClose = () => fail(new HttpError(400, 'The request body was cut off'));
      req.on('data', onData);
      req.on('end', onEnd);
      req.on('close', onClose);
    });
  }

  async readBody(limit) {
    const chunks = [];
    const size = await this.receiveBody(limit, (chunk) => {
      chunks.push(chunk);
    });
    return Buffer.concat(chunks, size);
  }

  // Writes the body to a new file readable only by this user; resolves with
  // its size once it is all on disk.
  async saveBody(limit, file) {
    const out = createWriteStream(file, { flags: 'wx', mode: 0o600 });
    const failed = new Promise((resolve, reject) => out.once('error', reject));
    failed.catch(() => {});
    try {
      const size = await this.receiveBody(limit, (chunk) =>
        out.write(chunk) ? undefined : Promise.race([new Promise((resolve) => out.once('drain', resolve)), failed]),
      );
      // end() calls back with the error of a failed write, if any.
      await new Promise((resolve, reject) => out.end((error) => (error ? reject(error) : resolve())));
      return size;
    } finally {
      // Opening is asynchronous: only once closed is the file surely on disk
      // for the caller to remove.
      if (!out.closed) await new Promise((resolve) => out.once('close', resolve).destroy());
    }
  }
}

// Every request becomes an Exchange handed to `handle`, which answers it.
export function createServer(handle, services) {
  const onRequest = (req, res) => handle(new Exchange(req, res, services));
  const server = http.createServer(onRequest);
  server.on('checkContinue', onRequest);
  return server;
}
