import { spawn } from 'node:child_process';
import { existsSync } from 'node:fs';
import path from 'node:path';
import { temporaryDir } from './service.js';

// A private redis-server on a unix socket in a temporary directory, with
// nothing written to disk. Its absence is a failure, not a reason to skip:
// scripts/install-deps.sh installs it.
export async function startRedis(dir = temporaryDir()) {
  const socket = path.join(dir, 'redis.sock');
  const child = spawn(
    'redis-server',
    ['--port', '0', '--unixsocket', socket, '--unixsocketperm', '700', '--save', '', '--appendonly', 'no', '--dir', dir],
    { stdio: ['ignore', 'pipe', 'pipe'] },
  );
  let output = '';
  child.stdout.setEncoding('utf8').on('data', (data) => {
    output += data;
  });
  child.stderr.setEncoding('utf8').on('data', (data) => {
    output += data;
  });
  let failure;
  const exited = new Promise((resolve) => {
    child.on('error', (error) => {
      failure = new Error(`redis-server cannot be run (${error.code}); install it with scripts/install-deps.sh`);
      resolve();
    });
    child.on('exit', (code) => {
      failure ??= new Error(`redis-server exited with ${code}: ${output}`);
      resolve();
    });
  });
  for (let waited = 0; !(existsSync(socket) && /ready to accept connections/i.test(output)); waited += 20) {
    if (failure) throw failure;
    if (waited > 10_000) {
      child.kill('SIGKILL');
      throw new Error(`redis-server did not get ready: ${output}`);
    }
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
  return {
    dir,
    socket,
    url: `unix://${socket}`,
    // A stopped process keeps its connections open but answers nothing.
    freeze: () => child.kill('SIGSTOP'),
    thaw: () => child.kill('SIGCONT'),
    async stop() {
      if (child.exitCode === null && child.signalCode === null) {
        child.kill('SIGCONT');
        child.kill('SIGTERM');
      }
      await exited;
    },
  };
}
