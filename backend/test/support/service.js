import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const mainScript = fileURLToPath(new URL('../../src/main.js', import.meta.url));

const temporaryDirs = [];
process.on('exit', () => {
  for (const dir of temporaryDirs) rmSync(dir, { recursive: true, force: true });
});

// A failed test may leave its service running, which would keep the test
// file's process alive for ever: each test file ends with this.
const children = new Set();
export function killServices() {
  for (const child of children) child.kill('SIGKILL');
}

export function temporaryDir() {
  const dir = mkdtempSync(path.join(tmpdir(), 'quillpoint-backend-'));
  temporaryDirs.push(dir);
  return dir;
}

// Runs the real service as a child process on an ephemeral loopback port,
// with nothing from the caller's environment but what `env` names.
export function startService(env = {}) {
  const child = spawn(process.execPath, [mainScript], {
    env: { PATH: process.env.PATH, PORT: '0', QUILLPOINT_DATA_DIR: temporaryDir(), QUILLPOINT_LOCAL_MODELS: 'off', ...env },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  children.add(child);
  child.on('close', () => children.delete(child));
  let output = '';
  // 'close' rather than 'exit': by then all the output has been read.
  const exited = new Promise((resolve) => child.on('close', (code) => resolve(code)));
  const collect = (data) => {
    output += data;
  };
  child.stdout.setEncoding('utf8').on('data', collect);
  child.stderr.setEncoding('utf8').on('data', collect);

  const service = {
    child,
    exited,
    output: () => output,
    async stop(signal = 'SIGTERM') {
      if (child.exitCode === null) child.kill(signal);
      return exited;
    },
  };
  return new Promise((resolve, reject) => {
    const onData = () => {
      const match = /Quillpoint backend listening on (http:\/\/\S+)/.exec(output);
      if (!match) return;
      child.stdout.off('data', onData);
      service.url = match[1];
      resolve(service);
    };
    child.stdout.on('data', onData);
    exited.then((code) => reject(Object.assign(new Error(`service exited with ${code}: ${output}`), { code, output })));
  });
}

export async function post(service, endpoint, { token = 'device-token-1', type, body, signal } = {}) {
  const headers = {};
  if (token !== null) headers.authorization = `Bearer ${token}`;
  if (type) headers['content-type'] = type;
  const response = await fetch(`${service.url}${endpoint}`, { method: 'POST', headers, body, signal, duplex: 'half' });
  return { status: response.status, headers: response.headers, text: await response.text() };
}

export function explainBody(text = 'Hello', model = 'gpt-5.2', detailed = false) {
  return JSON.stringify({ text, model, detailed });
}

export const explain = (service, options = {}) =>
  post(service, '/api/explain', { type: 'application/json', body: explainBody(), ...options });

export const transcribe = (service, options = {}) =>
  post(service, '/api/transcribe', { type: 'audio/mp4', body: Buffer.from('fake m4a bytes'), ...options });

export function sse(...pieces) {
  return pieces.map((content) => `data: ${JSON.stringify({ choices: [{ delta: { content } }] })}\n\n`).join('');
}
