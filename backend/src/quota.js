import { createHash } from 'node:crypto';
import Database from 'better-sqlite3';

function utcDay(date) {
  return date.toISOString().slice(0, 10);
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
    this.db.prepare('DELETE FROM usage WHERE day < ?').run(utcDay(this.now()));
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

  static tokenHash(token) {
    return createHash('sha256').update(token).digest('hex');
  }

  // Counts one request; returns a ticket for refund(), or a retry delay.
  take(token, endpoint) {
    const now = this.now();
    const ticket = { tokenHash: QuotaStore.tokenHash(token), endpoint, day: utcDay(now) };
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
    const row = this.usedStatement.get(QuotaStore.tokenHash(token), endpoint, utcDay(now));
    return (row?.count ?? 0) >= this.limits[endpoint]
      ? { retryAfterSeconds: secondsUntilNextUtcDay(now) }
      : undefined;
  }

  close() {
    this.db.close();
  }
}
