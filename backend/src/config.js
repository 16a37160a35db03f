import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const EXPLAIN_TEXT_MAX_CHARS = 20_000;
export const INSTRUCTION_MAX_CHARS = 2_000;
export const VOCABULARY_MAX_CHARS = 1_000;
export const EXPLAIN_BODY_MAX_BYTES = 1024 * 1024;
export const AUDIO_MAX_BYTES = 10 * 1024 * 1024;

// ISO 639-1, the codes speech-to-text services take for `language`.
const LANGUAGES = new Set(
  (
    'aa ab ae af ak am an ar as av ay az ba be bg bi bm bn bo br bs ca ce ch co cr cs cu cv cy da de dv dz ' +
    'ee el en eo es et eu fa ff fi fj fo fr fy ga gd gl gn gu gv ha he hi ho hr ht hu hy hz ia id ie ig ii ik ' +
    'io is it iu ja jv ka kg ki kj kk kl km kn ko kr ks ku kv kw ky la lb lg li ln lo lt lu lv mg mh mi mk ml ' +
    'mn mr ms mt my na nb nd ne ng nl nn no nr nv ny oc oj om or os pa pi pl ps pt qu rm rn ro ru rw sa sc sd ' +
    'se sg si sk sl sm sn so sq sr ss st su sv sw ta te tg th ti tk tl tn to tr ts tt tw ty ug uk ur uz ve vi ' +
    'vo wa wo xh yi yo za zh zu'
  ).split(' '),
);

export function isLanguageCode(value) {
  return LANGUAGES.has(value);
}

// Where a local OpenAI-compatible server usually listens: Ollama, then the
// llama.cpp server.
export const LOCAL_MODEL_SERVERS = ['http://127.0.0.1:11434/v1', 'http://127.0.0.1:8080/v1'];

// The identifiers the desktop program offers, each backed by its own
// OpenAI-compatible upstream so that either can point at a local server.
const CHAT_UPSTREAMS = [
  {
    model: 'gpt-5.2',
    label: 'OpenAI GPT-5.2',
    prefix: 'OPENAI',
    defaultBaseUrl: 'https://api.openai.com/v1',
    defaultUpstreamModel: 'gpt-5.2',
  },
  {
    model: 'grok-4-1-fast-non-reasoning-latest',
    label: 'xAI Grok 4',
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
    url = undefined;
  }
  if (url?.protocol !== 'http:' && url?.protocol !== 'https:') {
    throw new ConfigError(`${name} must be an http or https URL, not "${redactUrl(raw)}"`);
  }
  return raw.replace(/\/+$/, '');
}

// For logs and error messages: the address without its credentials. Of a
// value that does not parse, whatever stands before its last "@" may be one.
export function redactUrl(raw) {
  let url;
  try {
    url = new URL(raw);
  } catch {
    const at = raw.lastIndexOf('@');
    if (at < 0) return raw;
    const scheme = /^[a-z][a-z0-9+.-]*:\/\//i.exec(raw)?.[0] ?? '';
    return `${scheme}***@${raw.slice(at + 1)}`;
  }
  const hasUser = url.username !== '' || url.password !== '';
  if (!hasUser && !url.searchParams.has('password')) return raw;
  if (url.searchParams.has('password')) url.searchParams.set('password', '***');
  url.username = '';
  url.password = '';
  const href = url.href.replace(/\/+$/, '');
  return hasUser ? href.replace('//', '//***@') : href;
}

function list(env, name, fallback) {
  const raw = text(env, name);
  if (raw === undefined) return fallback;
  return raw
    .split(',')
    .map((item) => item.trim())
    .filter((item) => item !== '');
}

function language(env, name) {
  const raw = text(env, name);
  if (raw !== undefined && !isLanguageCode(raw)) {
    throw new ConfigError(`${name} must be a two-letter ISO 639-1 language code such as "en", not "${raw}"`);
  }
  return raw;
}

function redisUrl(env, name) {
  const raw = text(env, name);
  if (raw === undefined) return undefined;
  let url;
  try {
    url = new URL(raw);
  } catch {
    url = undefined;
  }
  if (!url || !['redis:', 'rediss:', 'unix:'].includes(url.protocol)) {
    throw new ConfigError(`${name} must be a redis://, rediss:// or unix:// URL, not "${redactUrl(raw)}"`);
  }
  return raw;
}

function allowedHosts(env, listenHost) {
  const hosts = new Set(['localhost', '127.0.0.1', '::1']);
  if (listenHost !== '0.0.0.0' && listenHost !== '::') hosts.add(listenHost.toLowerCase());
  for (const host of list(env, 'QUILLPOINT_ALLOWED_HOSTS', [])) hosts.add(host.toLowerCase().replace(/^\[(.*)\]$/, '$1'));
  return hosts;
}

// An upstream counts as configured once it has a key, or an explicit address:
// local servers (Ollama, llama.cpp, vLLM) usually need no key.
function upstream(env, prefix, defaults) {
  const apiKey = text(env, `${prefix}_API_KEY`) ?? defaults.apiKey;
  const explicitBase = text(env, `${prefix}_BASE_URL`) ?? defaults.explicitBase;
  const url = baseUrl(env, `${prefix}_BASE_URL`, explicitBase ?? defaults.baseUrl);
  const upstreamModel = text(env, `${prefix}_MODEL`) ?? defaults.upstreamModel;
  return {
    configured: apiKey !== undefined || explicitBase !== undefined,
    baseUrl: url,
    displayUrl: redactUrl(url),
    apiKey,
    upstreamModel,
    // A model other than the default is named as its upstream names it.
    name: upstreamModel === defaults.upstreamModel ? defaults.label : upstreamModel,
    listed: true,
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
          label: entry.label,
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
    label: 'OpenAI Whisper',
  });
  transcription.variables = ['TRANSCRIBE_API_KEY', 'TRANSCRIBE_BASE_URL', 'OPENAI_API_KEY'];
  transcription.path = text(env, 'TRANSCRIBE_PATH') ?? '/audio/transcriptions';
  if (!transcription.path.startsWith('/')) {
    throw new ConfigError(`TRANSCRIBE_PATH must start with "/", not "${transcription.path}"`);
  }
  const convert = text(env, 'TRANSCRIBE_CONVERT');
  if (convert !== undefined && convert !== 'wav') {
    throw new ConfigError(`TRANSCRIBE_CONVERT must be "wav" or unset, not "${convert}"`);
  }
  transcription.convert = convert;
  transcription.maxSeconds = integer(env, 'TRANSCRIBE_MAX_SECONDS', 60, 1, 3600);
  transcription.language = language(env, 'TRANSCRIBE_LANGUAGE');

  const localModels = list(env, 'QUILLPOINT_LOCAL_MODELS', LOCAL_MODEL_SERVERS);
  const host = text(env, 'HOST') ?? '127.0.0.1';

  return {
    host,
    allowedHosts: allowedHosts(env, host),
    port: integer(env, 'PORT', 8787, 0, 65535),
    dataDir: path.resolve(text(env, 'QUILLPOINT_DATA_DIR') ?? path.join(backendDir, '.data')),
    dailyLimits: {
      explain: integer(env, 'QUILLPOINT_EXPLAIN_DAILY_LIMIT', 200, 1, 1_000_000_000),
      transcribe: integer(env, 'QUILLPOINT_TRANSCRIBE_DAILY_LIMIT', 50, 1, 1_000_000_000),
    },
    upstreamTimeoutMs: integer(env, 'QUILLPOINT_UPSTREAM_TIMEOUT_MS', 60_000, 1, 3_600_000),
    heartbeatMs: integer(env, 'QUILLPOINT_HEARTBEAT_MS', 15_000, 1, 3_600_000),
    clientTimeoutMs: integer(env, 'QUILLPOINT_CLIENT_TIMEOUT_MS', 60_000, 1, 3_600_000),
    streamsPerToken: integer(env, 'QUILLPOINT_STREAMS_PER_TOKEN', 4, 1, 10_000),
    maxUploads: integer(env, 'QUILLPOINT_MAX_UPLOADS', 64, 1, 10_000),
    redisUrl: redisUrl(env, 'QUILLPOINT_REDIS_URL'),
    localModels:
      localModels.join() === 'off'
        ? []
        : localModels.map((url) => baseUrl({ QUILLPOINT_LOCAL_MODELS: url }, 'QUILLPOINT_LOCAL_MODELS', url)),
    shutdownGraceMs: integer(env, 'QUILLPOINT_SHUTDOWN_GRACE_MS', 10_000, 0, 3_600_000),
    demo: demo === '1',
    requestLogPath: text(env, 'QUILLPOINT_REQUEST_LOG'),
    chat,
    transcription,
  };
}
