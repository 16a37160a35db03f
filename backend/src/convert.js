import { spawn, spawnSync } from 'node:child_process';
import { stat } from 'node:fs/promises';

// The recording could not be read as audio: the client sent something else.
export class AudioError extends Error {}

// The recording lasts longer than the service accepts.
export class TooLongError extends Error {}

// 16 kHz mono 16-bit samples.
const WAV_BYTES_PER_SECOND = 32_000;
// Room for the WAV header and its optional chunks.
const WAV_HEADER_MAX_BYTES = 4096;
// Decoding a minute of audio takes a fraction of a second; a file that keeps
// ffmpeg busy much longer is built to do so.
const CONVERT_TIMEOUT_MS = 15_000;
const OUTPUT_MAX_CHARS = 2000;

export function ffmpegAvailable() {
  return ['ffmpeg', 'ffprobe'].every((tool) => spawnSync(tool, ['-version'], { stdio: 'ignore' }).status === 0);
}

// ffmpeg reports a failed write only by the system's text for the error,
// and may still exit with 0: the service answers a full disk as such, never
// with a truncated file or as unreadable audio.
function diskError(stderr) {
  if (/No space left on device/i.test(stderr)) return 'ENOSPC';
  if (/Disk quota exceeded/i.test(stderr)) return 'EDQUOT';
  return undefined;
}

function run(tool, args, { timeoutMs, signal }) {
  return new Promise((resolve, reject) => {
    const child = spawn(tool, args, {
      stdio: ['ignore', 'pipe', 'pipe'],
      signal,
      timeout: timeoutMs,
      killSignal: 'SIGKILL',
    });
    const output = { stdout: '', stderr: '' };
    for (const stream of ['stdout', 'stderr']) {
      // The end holds the reason a run failed.
      child[stream].setEncoding('utf8').on('data', (text) => {
        output[stream] = (output[stream] + text).slice(-OUTPUT_MAX_CHARS);
      });
    }
    child.on('error', (error) => {
      if (error.name !== 'AbortError') reject(new Error(`${tool} could not be run: ${error.message}`));
    });
    child.on('close', (code, killedBy) => {
      if (signal?.aborted) reject(new Error(`${tool} was cancelled`));
      else if (killedBy) reject(new Error(`${tool} took longer than ${timeoutMs} ms`));
      else resolve({ code, ...output });
    });
  });
}

function checkResult(tool, { code, stderr }) {
  const reason = stderr.trim().split('\n').at(-1) || `${tool} exited with ${code}`;
  const diskCode = diskError(stderr);
  if (diskCode) throw Object.assign(new Error(`${tool}: ${reason}`), { code: diskCode });
  if (code !== 0) throw new AudioError(reason);
}

// The input is read only as MPEG-4 from the file itself: left to guess,
// ffmpeg would also follow a playlist a client uploaded to other files and URLs.
const INPUT = ['-protocol_whitelist', 'file', '-f', 'mov', '-i'];

// The duration the file declares; undefined when it declares none. A file
// may understate it, so the conversion is bounded as well.
async function declaredSeconds(input, options) {
  const result = await run(
    'ffprobe',
    ['-v', 'error', '-show_entries', 'format=duration', '-of', 'default=noprint_wrappers=1:nokey=1', ...INPUT, input],
    options,
  );
  checkResult('ffprobe', result);
  const seconds = Number.parseFloat(result.stdout);
  return Number.isFinite(seconds) ? seconds : undefined;
}

// 16 kHz mono 16-bit WAV is what the whisper.cpp server reads without help.
// Recordings over `maxSeconds` are refused before and, should their header
// understate them, while they are decoded: the output stops one second past
// the bound, so that no upload can turn into gigabytes on disk and upstream.
// Resolves with the size of the WAV file.
export async function convertToWav(input, output, { maxSeconds, timeoutMs, signal }) {
  const options = { timeoutMs: Math.min(timeoutMs, CONVERT_TIMEOUT_MS), signal };
  const tooLong = () => new TooLongError(`The recording is longer than ${maxSeconds} seconds`);
  const declared = await declaredSeconds(input, options);
  if (declared > maxSeconds) throw tooLong();
  const sizeLimit = WAV_HEADER_MAX_BYTES + (maxSeconds + 1) * WAV_BYTES_PER_SECOND;
  const result = await run(
    'ffmpeg',
    [
      '-nostdin', '-hide_banner', '-loglevel', 'error', ...INPUT, input,
      '-vn', '-t', String(maxSeconds + 1), '-ar', '16000', '-ac', '1', '-c:a', 'pcm_s16le',
      '-fs', String(sizeLimit), '-f', 'wav', '-y', output,
    ],
    options,
  );
  checkResult('ffmpeg', result);
  const { size } = await stat(output);
  if (size > WAV_HEADER_MAX_BYTES + maxSeconds * WAV_BYTES_PER_SECOND) throw tooLong();
  return size;
}
