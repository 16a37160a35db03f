import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const EXPLAIN_TEXT_MAX_CHARS = 20_000;
export const EXPLAIN_BODY_MAX_BYTES = 1024 * 1024;
export const AUDIO_MAX_BYTES = 10 * 1024 * 1024;

// The identifiers the desktop program offers, each backed by its own
// OpenAI-compatible upstream so that either can point at a local server.
const CHAT_UPSTREAMS = [
  {
    model: 'gpt-5.2',
    prefix: 'OPENAI',
    defaultBaseUrl: 'https://api.openai.com/v1',
    defaultUpstreamModel: 'gpt-5.2',
  },
  {
    model: 'grok-4-1-fast-non-reasoning-latest',
    prefix: 'XAI',
    defaultBaseUrl: 'https://api.x.ai/v1',
    defaultUpstreamModel: 'grok-4-1-fast-non-reasoning-latest',
  },
];

export class ConfigError extends Error {}

const backendDir = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');

function text(env, name) {
  const value = env[name];
  return value === undefined || value.trim() === '' ? undefined : value.trim();
}

function integer(env, name, fallback, min, max) {
  const raw = text(env, name);
  if (raw === undefined) return fallback;
  if (!/^\d+$/.test(raw) || Number(raw) < min || Number(raw) > max) {
    throw new ConfigError(`${name} must be a whole number from ${min} to ${max}, not "${raw}"`);
  }
  return Number(raw);
}

function baseUrl(env, name, fallback) {
  const raw = text(env, name) ?? fallback;
  let url;
  try {
    url = new URL(raw);
  } catch {
    throw new ConfigError(`${name} must be an http or https URL, not "${raw}"`);
  }
  if (url.protocol !== 'http:' && url.protocol !== 'https:') {
    throw new ConfigError(`${name} must be an http or https URL, not "${raw}"`);
  }
  return raw.replace(/\/+$/, '');
}

// An upstream counts as configured once it has a key, or an explicit address:
// local servers (Ollama, llama.cpp, vLLM) usually need no key.
function upstream(env, prefix, defaults) {
  const apiKey = text(env, `${prefix}_API_KEY`) ?? defaults.apiKey;
  const explicitBase = text(env, `${prefix}_BASE_URL`) ?? defaults.explicitBase;
  return {
    configured: apiKey !== undefined || explicitBase !== undefined,
    baseUrl: baseUrl(env, `${prefix}_BASE_URL`, explicitBase ?? defaults.baseUrl),
    apiKey,
    upstreamModel: text(env, `${prefix}_MODEL`) ?? defaults.upstreamModel,
    variables: [`${prefix}_API_KEY`, `${prefix}_BASE_URL`],
  };
}

export function loadConfig(env) {
  const demo = text(env, 'QUILLPOINT_DEMO');
  if (demo !== undefined && demo !== '0' && demo !== '1') {
    throw new ConfigError(`QUILLPOINT_DEMO must be 0 or 1, not "${demo}"`);
  }

  const chat = new Map(
    CHAT_UPSTREAMS.map((entry) => [
      entry.model,
      {
        model: entry.model,
        ...upstream(env, entry.prefix, {
          baseUrl: entry.defaultBaseUrl,
          upstreamModel: entry.defaultUpstreamModel,
        }),
      },
    ]),
  );

  // One OpenAI key is enough for both endpoints; a separate transcription
  // upstream can still be named.
  const transcription = upstream(env, 'TRANSCRIBE', {
    apiKey: text(env, 'OPENAI_API_KEY'),
    explicitBase: text(env, 'OPENAI_BASE_URL'),
    baseUrl: 'https://api.openai.com/v1',
    upstreamModel: 'whisper-1',
  });
  transcription.variables = ['TRANSCRIBE_API_KEY', 'TRANSCRIBE_BASE_URL', 'OPENAI_API_KEY'];

  return {
    host: text(env, 'HOST') ?? '127.0.0.1',
    port: integer(env, 'PORT', 8787, 0, 65535),
    dataDir: path.resolve(text(env, 'QUILLPOINT_DATA_DIR') ?? path.join(backendDir, '.data')),
    dailyLimits: {
      explain: integer(env, 'QUILLPOINT_EXPLAIN_DAILY_LIMIT', 200, 1, 1_000_000_000),
      transcribe: integer(env, 'QUILLPOINT_TRANSCRIBE_DAILY_LIMIT', 50, 1, 1_000_000_000),
    },
    upstreamTimeoutMs: integer(env, 'QUILLPOINT_UPSTREAM_TIMEOUT_MS', 60_000, 1, 3_600_000),
    heartbeatMs: integer(env, 'QUILLPOINT_HEARTBEAT_MS', 15_000, 1, 3_600_000),
    shutdownGraceMs: integer(env, 'QUILLPOINT_SHUTDOWN_GRACE_MS', 10_000, 0, 3_600_000),
    demo: demo === '1',
    requestLogPath: text(env, 'QUILLPOINT_REQUEST_LOG'),
    chat,
    transcription,
  };
}
