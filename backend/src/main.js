import fs from 'node:fs';
import path from 'node:path';
import { ConfigError, loadConfig } from './config.js';
import { QuotaStore } from './quota.js';
import { createHandler } from './handlers.js';
import { createServer } from './http.js';
import { unconfiguredExplanation, unconfiguredTranscription } from './messages.js';

const log = (line) => console.log(line);

function fail(message) {
  console.error(`Quillpoint backend cannot start: ${message}`);
  process.exit(1);
}

function describeUpstreams(config) {
  if (config.demo) {
    log('Demo mode: every model and transcription give fixed answers; no upstream is called');
    return;
  }
  for (const target of config.chat.values()) {
    log(
      target.configured
        ? `Model "${target.model}": ${target.upstreamModel} at ${target.baseUrl}`
        : `Model "${target.model}": not configured. ${unconfiguredExplanation(target)}`,
    );
  }
  const { transcription } = config;
  log(
    transcription.configured
      ? `Transcription: ${transcription.upstreamModel} at ${transcription.baseUrl}`
      : `Transcription: not configured. ${unconfiguredTranscription(transcription)}`,
  );
}

function openRequestLog(file) {
  const descriptor = fs.openSync(file, 'a');
  log(`Request log: ${file} (for tests only: it records full bearer tokens)`);
  return (entry) => fs.writeSync(descriptor, `${JSON.stringify(entry)}\n`);
}

function urlHost(host) {
  return host.includes(':') ? `[${host}]` : host;
}

let config;
try {
  config = loadConfig(process.env);
} catch (error) {
  if (error instanceof ConfigError) fail(error.message);
  throw error;
}

let quota;
try {
  fs.mkdirSync(config.dataDir, { recursive: true });
  quota = new QuotaStore(path.join(config.dataDir, 'quota.sqlite3'), config.dailyLimits);
} catch (error) {
  fail(`the data directory ${config.dataDir} is not usable: ${error.message}`);
}

describeUpstreams(config);
log(
  `Daily limits per token: ${config.dailyLimits.explain} explanations, ` +
    `${config.dailyLimits.transcribe} transcriptions (counted in ${config.dataDir})`,
);
const requestLog = config.requestLogPath ? openRequestLog(config.requestLogPath) : undefined;

const services = { config, quota, log, requestLog };
const server = createServer(createHandler(services), services);
server.on('error', (error) => fail(`cannot listen on ${config.host}:${config.port}: ${error.message}`));
server.listen(config.port, config.host, () => {
  const { port } = server.address();
  log(`Quillpoint backend listening on http://${urlHost(config.host)}:${port}`);
});

let stopping = false;
function shutdown(signal) {
  if (stopping) {
    log(`${signal} again: stopping at once`);
    process.exit(1);
  }
  stopping = true;
  log(`${signal}: no longer accepting connections; finishing open requests`);
  server.close(() => {
    quota.close();
    log('Stopped');
    process.exit(0);
  });
  // Connections left open by keep-alive go as soon as their last reply is out.
  setInterval(() => server.closeIdleConnections(), 100).unref();
  setTimeout(() => {
    log(`Open requests still running after ${config.shutdownGraceMs} ms: closing them`);
    server.closeAllConnections();
  }, config.shutdownGraceMs).unref();
}
process.on('SIGINT', () => shutdown('SIGINT'));
process.on('SIGTERM', () => shutdown('SIGTERM'));
