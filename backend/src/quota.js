import { createHash } from 'node:crypto';
import Database from 'better-sqlite3';
import Redis from 'ioredis';

function utcDay(date) {
  return date.toISOString().slice(0, 10);
}

function tokenHash(token) {
  return createHash('sha256').update(token).digest('hex');
}

function secondsUntilNextUtcDay(date) {
  const next = Date.UTC(date.getUTCFullYear(), date.getUTCMonth(), date.getUTCDate() + 1);
  return Math.max(1, Math.ceil((next - date.getTime()) / 1000));
}

// Daily request counts per token and endpoint. Tokens are stored hashed, so
// the database never holds a credential.
export class QuotaStore {
  constructor(file, limits, now = () => new Date()) {
    this.limits = limits;
    this.now = now;
    this.db = new Database(file);
    this.db.pragma('journal_mode = WAL');
    this.db.pragma('synchronous = NORMAL');
    this.db.exec(`CREATE TABLE IF NOT EXISTS usage (
      token_hash TEXT NOT NULL,
      endpoint TEXT NOT NULL,
      day TEXT NOT NULL,
      count INTEGER NOT NULL,
      PRIMARY KEY (token_hash, endpoint, day)
    ) WITHOUT ROWID`);
    this.purgeStatement = this.db.prepare('DELETE FROM usage WHERE day < ?');
    this.purge(utcDay(this.now()));
    // The WHERE on the upsert makes check-and-count one atomic step.
    this.takeStatement = this.db.prepare(`INSERT INTO usage (token_hash, endpoint, day, count)
      VALUES (?, ?, ?, 1)
      ON CONFLICT (token_hash, endpoint, day) DO UPDATE SET count = count + 1 WHERE count < ?`);
    this.refundStatement = this.db.prepare(`UPDATE usage SET count = count - 1
      WHERE token_hash = ? AND endpoint = ? AND day = ? AND count > 0`);
    this.usedStatement = this.db.prepare(
      'SELECT count FROM usage WHERE token_hash = ? AND endpoint = ? AND day = ?',
    );
  }

  // Past days are never read again; a long-running service drops them when
  // the first request of a new day comes.
  purge(today) {
    this.purgeStatement.run(today);
    this.purgedBefore = today;
  }

  // Counts one request; returns a ticket for refund(), or a retry delay.
  take(token, endpoint) {
    const now = this.now();
    const ticket = { tokenHash: tokenHash(token), endpoint, day: utcDay(now) };
    if (ticket.day !== this.purgedBefore) this.purge(ticket.day);
    const { changes } = this.takeStatement.run(
      ticket.tokenHash,
      endpoint,
      ticket.day,
      this.limits[endpoint],
    );
    return changes === 1 ? { ticket } : { retryAfterSeconds: secondsUntilNextUtcDay(now) };
  }

  // A request the service could not serve is not held against the token.
  refund(ticket) {
    this.refundStatement.run(ticket.tokenHash, ticket.endpoint, ticket.day);
  }

  exhausted(token, endpoint) {
    const now = this.now();
    const row = this.usedStatement.get(tokenHash(token), endpoint, utcDay(now));
    return (row?.count ?? 0) >= this.limits[endpoint]
      ? { retryAfterSeconds: secondsUntilNextUtcDay(now) }
      : undefined;
  }

  close() {
    this.db.close();
  }
}

// Counts one request if the limit allows, atomically, so that any number of
// service instances can share the counts. A key lives two days: its name
// carries the day, the expiry only clears it away.
const TAKE_SCRIPT = `
local count = redis.call('INCR', KEYS[1])
if count == 1 then redis.call('EXPIRE', KEYS[1], 172800) end
if count > tonumber(ARGV[1]) then
  redis.call('DECR', KEYS[1])
  return 0
end
return 1`;

const REFUND_SCRIPT = `
local count = tonumber(redis.call('GET', KEYS[1]) or '0')
if count > 0 then redis.call('DECR', KEYS[1]) end
return count`;

// The same daily counts as QuotaStore, kept in Redis.
export class RedisQuotaStore {
  static async connect(url, limits, { now = () => new Date(), log = () => {} } = {}) {
    const parsed = new URL(url);
    const options = { lazyConnect: true, enableOfflineQueue: false, commandTimeout: 2000, connectTimeout: 2000 };
    const redis = parsed.protocol === 'unix:' ? new Redis({ ...options, path: parsed.pathname }) : new Redis(url, options);
    let failing = false;
    redis.on('error', (error) => {
      if (!failing) log(`Redis: ${error.message}`);
      failing = true;
    });
    redis.on('ready', () => {
      if (failing) log('Redis: connected again');
      failing = false;
    });
    redis.defineCommand('quotaTake', { numberOfKeys: 1, lua: TAKE_SCRIPT });
    redis.defineCommand('quotaRefund', { numberOfKeys: 1, lua: REFUND_SCRIPT });
    try {
      await redis.connect();
      await redis.ping();
    } catch (error) {
      redis.disconnect();
      throw error;
    }
    return new RedisQuotaStore(redis, limits, now);
  }

  constructor(redis, limits, now) {
    this.redis = redis;
    this.limits = limits;
    this.now = now;
  }

  static key({ tokenHash: hash, endpoint, day }) {
    return `quillpoint:usage:${day}:${endpoint}:${hash}`;
  }

  async take(token, endpoint) {
    const now = this.now();
    const ticket = { tokenHash: tokenHash(token), endpoint, day: utcDay(now) };
    const taken = await this.redis.quotaTake(RedisQuotaStore.key(ticket), this.limits[endpoint]);
    return taken === 1 ? { ticket } : { retryAfterSeconds: secondsUntilNextUtcDay(now) };
  }

  async refund(ticket) {
    await this.redis.quotaRefund(RedisQuotaStore.key(ticket));
  }

  async exhausted(token, endpoint) {
    const now = this.now();
    const key = RedisQuotaStore.key({ tokenHash: tokenHash(token), endpoint, day: utcDay(now) });
    const count = Number((await this.redis.get(key)) ?? 0);
    return count >= this.limits[endpoint] ? { retryAfterSeconds: secondsUntilNextUtcDay(now) } : undefined;
  }

  close() {
    this.redis.disconnect();
  }
}
