import fs from 'node:fs';
import path from 'node:path';
import { ConfigError, loadConfig, redactUrl } from './config.js';
import { ffmpegAvailable } from './convert.js';
import { createHandler } from './handlers.js';
import { createServer } from './http.js';
import { unconfiguredExplanation, unconfiguredTranscription } from './messages.js';
import { QuotaStore, RedisQuotaStore } from './quota.js';
import { UpstreamError, listModels } from './upstream.js';

const log = (line) => console.log(line);

function fail(message) {
  console.error(`Quillpoint backend cannot start: ${message}`);
  process.exit(1);
}

// Embedding and speech models are listed beside chat models but cannot chat.
const NOT_CHAT = /embed|bge-|minilm|rerank|whisper/i;

// Models a local server offers beyond these are not used.
const LOCAL_MODELS_MAX = 32;

// With no chat upstream configured, a local OpenAI-compatible server that is
// already running answers every model, and each of its chat models can also
// be asked for by its own id.
async function useLocalModel(config) {
  if (config.demo || [...config.chat.values()].some((target) => target.configured)) return;
  const chatModels = (baseUrl) =>
    listModels(baseUrl, 1000).then(
      ({ ids, skipped }) => {
        if (skipped > 0) log(`Local model server at ${redactUrl(baseUrl)}: left out ${skipped} model ids that are not plain names`);
        return ids.filter((id) => !NOT_CHAT.test(id)).slice(0, LOCAL_MODELS_MAX);
      },
      (error) => {
        // Where nothing listens is the usual case, and not worth a line.
        if (error.code !== 'ECONNREFUSED') {
          const reason =
            error instanceof UpstreamError
              ? error.message
              : error.name === 'AbortError'
                ? 'no answer within a second'
                : (error.code ?? error.message);
          log(`Local model server at ${redactUrl(baseUrl)}: not used: ${reason}`);
        }
        return [];
      },
    );
  const found = await Promise.all(config.localModels.map(chatModels));
  const index = found.findIndex((ids) => ids.length > 0);
  if (index < 0) {
    if (config.localModels.length > 0) {
      log(`No chat model found on a local model server at ${config.localModels.map(redactUrl).join(', ')}`);
    }
    return;
  }
  const baseUrl = config.localModels[index];
  const [first] = found[index];
  log(`Local model server at ${redactUrl(baseUrl)}: using its model "${first}" for every model`);
  const local = { configured: true, baseUrl, displayUrl: redactUrl(baseUrl), apiKey: undefined };
  for (const target of config.chat.values()) Object.assign(target, local, { upstreamModel: first, listed: false });
  for (const id of found[index]) {
    if (config.chat.has(id)) continue;
    // Ollama's default tag says nothing.
    const name = id.replace(/:latest$/, '');
    config.chat.set(id, { ...local, model: id, upstreamModel: id, name, listed: true, variables: [] });
  }
}

function describeUpstreams(config) {
  if (config.demo) {
    log('Demo mode: every model and transcription give fixed answers; no upstream is called');
    return;
  }
  for (const target of config.chat.values()) {
    log(
      target.configured
        ? `Model "${target.model}": ${target.upstreamModel} at ${target.displayUrl}`
        : `Model "${target.model}": not configured. ${unconfiguredExplanation(target)}`,
    );
  }
  const { transcription } = config;
  const extras = [
    transcription.convert && `converted to ${transcription.convert} first, at most ${transcription.maxSeconds} s`,
    transcription.language && `language ${transcription.language}`,
  ].filter(Boolean);
  log(
    transcription.configured
      ? `Transcription: ${transcription.upstreamModel} at ${transcription.displayUrl}${transcription.path}` +
          (extras.length > 0 ? ` (${extras.join(', ')})` : '')
      : `Transcription: not configured. ${unconfiguredTranscription(transcription)}`,
  );
}

function openRequestLog(file) {
  const descriptor = fs.openSync(file, 'a', 0o600);
  log(`Request log: ${file} (for tests only: it records full bearer tokens)`);
  return (line) => fs.writeSync(descriptor, `${line}\n`);
}

function urlHost(host) {
  return host.includes(':') ? `[${host}]` : host;
}

const OWN_FILES = /^(quota\.sqlite3(-wal|-shm|-journal)?|uploads)$/;

// Only this user may read the counts and the recordings being uploaded. A
// directory that holds anything else is not ours to change.
function prepareDataDir(dir) {
  fs.mkdirSync(dir, { recursive: true, mode: 0o700 });
  if (fs.readdirSync(dir).every((name) => OWN_FILES.test(name))) fs.chmodSync(dir, 0o700);
  else if ((fs.statSync(dir).mode & 0o077) !== 0) log(`The data directory ${dir} can be read by other users`);
  const uploadDir = path.join(dir, 'uploads');
  fs.mkdirSync(uploadDir, { recursive: true, mode: 0o700 });
  // Left over when a run was killed mid-upload. Another instance may share
  // the directory, so only files too old to be in use go.
  const stale = Date.now() - 3_600_000;
  for (const name of fs.readdirSync(uploadDir)) {
    const file = path.join(uploadDir, name);
    if (fs.statSync(file, { throwIfNoEntry: false })?.mtimeMs < stale) fs.rmSync(file, { force: true });
  }
  for (const name of fs.readdirSync(dir)) {
    if (name.startsWith('quota.sqlite3')) fs.chmodSync(path.join(dir, name), 0o600);
  }
  return uploadDir;
}

process.umask(0o077);

let config;
try {
  config = loadConfig(process.env);
} catch (error) {
  if (error instanceof ConfigError) fail(error.message);
  throw error;
}
if (config.transcription.convert === 'wav' && !ffmpegAvailable()) {
  fail('TRANSCRIBE_CONVERT=wav needs ffmpeg and ffprobe, which are not installed (Debian: apt install ffmpeg)');
}

let uploadDir;
try {
  uploadDir = prepareDataDir(config.dataDir);
} catch (error) {
  fail(`the data directory ${config.dataDir} is not usable: ${error.message}`);
}

let quota;
if (config.redisUrl) {
  try {
    quota = await RedisQuotaStore.connect(config.redisUrl, config.dailyLimits, { log });
  } catch (error) {
    fail(`Redis at ${redactUrl(config.redisUrl)} does not answer: ${error.message}`);
  }
} else {
  try {
    quota = new QuotaStore(path.join(config.dataDir, 'quota.sqlite3'), config.dailyLimits);
  } catch (error) {
    fail(`the data directory ${config.dataDir} is not usable: ${error.message}`);
  }
}

await useLocalModel(config);
describeUpstreams(config);
log(
  `Daily limits per token: ${config.dailyLimits.explain} explanations, ` +
    `${config.dailyLimits.transcribe} transcriptions (counted in ` +
    `${config.redisUrl ? `Redis at ${redactUrl(config.redisUrl)}` : config.dataDir})`,
);
const requestLog = config.requestLogPath ? openRequestLog(config.requestLogPath) : undefined;

const open = new Set();
const services = { config, quota, log, requestLog, uploadDir, open };
const server = createServer(createHandler(services), services);
server.on('error', (error) => fail(`cannot listen on ${config.host}:${config.port}: ${error.message}`));
server.listen(config.port, config.host, () => {
  const { port } = server.address();
  log(`Quillpoint backend listening on http://${urlHost(config.host)}:${port}`);
});

// The server closes once the last connection has; each request's log line is
// written when its reply closes, which can come a moment later.
function exitOnceLogged(deadline) {
  if (open.size > 0 && Date.now() < deadline) {
    setTimeout(() => exitOnceLogged(deadline), 5);
    return;
  }
  quota.close();
  log('Stopped');
  process.exit(0);
}

let stopping = false;
function shutdown(signal) {
  if (stopping) {
    log(`${signal} again: stopping at once`);
    process.exit(1);
  }
  stopping = true;
  log(`${signal}: no longer accepting connections; finishing open requests`);
  server.close(() => exitOnceLogged(Date.now() + 1000));
  // Connections left open by keep-alive go as soon as their last reply is out.
  setInterval(() => server.closeIdleConnections(), 100).unref();
  setTimeout(() => {
    log(`Open requests still running after ${config.shutdownGraceMs} ms: closing them`);
    server.closeAllConnections();
  }, config.shutdownGraceMs).unref();
}
process.on('SIGINT', () => shutdown('SIGINT'));
process.on('SIGTERM', () => shutdown('SIGTERM'));
