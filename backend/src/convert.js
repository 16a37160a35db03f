import { spawn, spawnSync } from 'node:child_process';

// The recording could not be read as audio: the client sent something else.
export class AudioError extends Error {}

export function ffmpegAvailable() {
  return spawnSync('ffmpeg', ['-version'], { stdio: 'ignore' }).status === 0;
}

// 16 kHz mono 16-bit WAV is what the whisper.cpp server reads without help.
// The input is read only as MPEG-4 from the file itself: left to guess, ffmpeg
// would also follow a playlist a client uploaded to other files and URLs.
export function convertToWav(input, output, { timeoutMs, signal }) {
  return new Promise((resolve, reject) => {
    const child = spawn(
      'ffmpeg',
      [
        '-nostdin', '-hide_banner', '-loglevel', 'error',
        '-protocol_whitelist', 'file', '-f', 'mov', '-i', input,
        '-vn', '-ar', '16000', '-ac', '1', '-c:a', 'pcm_s16le', '-f', 'wav', '-y', output,
      ],
      { stdio: ['ignore', 'ignore', 'pipe'], signal, timeout: timeoutMs, killSignal: 'SIGKILL' },
    );
    let errors = '';
    child.stderr.setEncoding('utf8').on('data', (text) => {
      if (errors.length < 2000) errors += text;
    });
    child.on('error', (error) => {
      if (error.name !== 'AbortError') reject(new Error(`ffmpeg could not be run: ${error.message}`));
    });
    child.on('close', (code, killedBy) => {
      if (signal?.aborted) reject(new Error('the conversion was cancelled'));
      else if (killedBy) reject(new Error(`ffmpeg took longer than ${timeoutMs} ms`));
      else if (code !== 0) reject(new AudioError(errors.trim().split('\n').at(-1) || `ffmpeg exited with ${code}`));
      else resolve();
    });
  });
}
