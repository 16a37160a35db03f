import { createHash, randomBytes } from 'node:crypto';
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

  // Only a refund changes a count once taken.
  settle() {}

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

// Each token's count of a day is a hash: the count under "#", and one field
// per request in progress, "1" while it counts and "0" once it was refunded
// before its count arrived. Requests are counted and refunded by id, so that
// a refund can be sent behind a count whose answer never came (Redis frozen,
// the connection lost), repeated, or arrive first, and still leave exactly
// the requests that were served. Any number of service instances share the
// counts. A key lives two days: its name carries the day, the expiry only
// clears it away.
const TAKE_SCRIPT = `
local state = redis.call('HGET', KEYS[1], ARGV[2])
if state then return state == '1' and 1 or -1 end
local count = tonumber(redis.call('HGET', KEYS[1], '#') or '0')
if count >= tonumber(ARGV[1]) then return 0 end
redis.call('HSET', KEYS[1], '#', count + 1, ARGV[2], '1')
if redis.call('TTL', KEYS[1]) < 0 then redis.call('EXPIRE', KEYS[1], 172800) end
return 1`;

const REFUND_SCRIPT = `
local state = redis.call('HGET', KEYS[1], ARGV[1])
if state == '1' then
  redis.call('HDEL', KEYS[1], ARGV[1])
  redis.call('HINCRBY', KEYS[1], '#', -1)
  return 1
end
if not state then
  redis.call('HSET', KEYS[1], ARGV[1], '0')
  if redis.call('TTL', KEYS[1]) < 0 then redis.call('EXPIRE', KEYS[1], 172800) end
end
return 0`;

// Refunds Redis could not be reached for are sent again once it can; beyond
// this many, the oldest are given up.
const UNSENT_REFUNDS_MAX = 10_000;

// Passwords from the Redis URL, replaced in every message that leaves the store.
function scrubber(url) {
  const decoded = (secret) => {
    try {
      return decodeURIComponent(secret);
    } catch {
      return secret;
    }
  };
  const parsed = new URL(url);
  const secrets = [parsed.password, parsed.searchParams.get('password')]
    .filter(Boolean)
    .flatMap((secret) => [secret, decoded(secret)]);
  return (text) => secrets.reduce((scrubbed, secret) => scrubbed.replaceAll(secret, '***'), text);
}

// The same daily counts as QuotaStore, kept in Redis.
export class RedisQuotaStore {
  static async connect(url, limits, { now = () => new Date(), log = () => {} } = {}) {
    const parsed = new URL(url);
    const scrub = scrubber(url);
    const options = { lazyConnect: true, enableOfflineQueue: false, commandTimeout: 2000, connectTimeout: 2000 };
    const redis = parsed.protocol === 'unix:' ? new Redis({ ...options, path: parsed.pathname }) : new Redis(url, options);
    let failing = false;
    redis.on('error', (error) => {
      if (!failing) log(`Redis: ${scrub(error.message)}`);
      failing = true;
    });
    redis.defineCommand('quotaTake', { numberOfKeys: 1, lua: TAKE_SCRIPT });
    redis.defineCommand('quotaRefund', { numberOfKeys: 1, lua: REFUND_SCRIPT });
    try {
      await redis.connect();
      await redis.ping();
    } catch (error) {
      redis.disconnect();
      throw new Error(scrub(error.message));
    }
    const store = new RedisQuotaStore(redis, limits, now, scrub);
    redis.on('ready', () => {
      if (failing) log('Redis: connected again');
      failing = false;
      store.sendUnsentRefunds();
    });
    return store;
  }

  constructor(redis, limits, now, scrub) {
    this.redis = redis;
    this.limits = limits;
    this.now = now;
    this.scrub = scrub;
    this.unsentRefunds = new Set();
  }

  static key({ tokenHash: hash, endpoint, day }) {
    return `quillpoint:quota:${day}:${endpoint}:${hash}`;
  }

  async take(token, endpoint) {
    const now = this.now();
    const ticket = { tokenHash: tokenHash(token), endpoint, day: utcDay(now), id: randomBytes(12).toString('base64url') };
    let taken;
    try {
      taken = await this.redis.quotaTake(RedisQuotaStore.key(ticket), this.limits[endpoint], ticket.id);
    } catch (error) {
      // The count may still be made once Redis answers; its refund goes out
      // now, behind it on the same connection.
      this.refund(ticket).catch(() => {});
      throw new Error(this.scrub(error.message));
    }
    if (this.unsentRefunds.size > 0) this.sendUnsentRefunds();
    return taken === 1 ? { ticket } : { retryAfterSeconds: secondsUntilNextUtcDay(now) };
  }

  async refund(ticket) {
    try {
      await this.redis.quotaRefund(RedisQuotaStore.key(ticket), ticket.id);
      this.unsentRefunds.delete(ticket);
    } catch (error) {
      this.unsentRefunds.add(ticket);
      if (this.unsentRefunds.size > UNSENT_REFUNDS_MAX) {
        this.unsentRefunds.delete(this.unsentRefunds.values().next().value);
      }
      throw new Error(this.scrub(error.message));
    }
  }

  sendUnsentRefunds() {
    for (const ticket of this.unsentRefunds) this.refund(ticket).catch(() => {});
  }

  // A served request keeps its count; only its id is no longer needed.
  settle(ticket) {
    this.redis.hdel(RedisQuotaStore.key(ticket), ticket.id).catch(() => {});
  }

  async exhausted(token, endpoint) {
    const now = this.now();
    const key = RedisQuotaStore.key({ tokenHash: tokenHash(token), endpoint, day: utcDay(now) });
    let count;
    try {
      count = Number((await this.redis.hget(key, '#')) ?? 0);
    } catch (error) {
      throw new Error(this.scrub(error.message));
    }
    return count >= this.limits[endpoint] ? { retryAfterSeconds: secondsUntilNextUtcDay(now) } : undefined;
  }

  close() {
    this.redis.disconnect();
  }
}
