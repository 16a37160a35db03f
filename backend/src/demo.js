import { setTimeout as sleep } from 'node:timers/promises';

// Fixed answers for end-to-end tests of the desktop program: they depend only
// on the request, so a test can predict them exactly.
const PIECE_DELAY_MS = 30;

export async function* demoExplanation({ text, model, detailed, instruction }, signal) {
  const pieces =
    instruction === undefined
      ? ['**Demo**', ' explanation', ` (${detailed ? 'detailed' : 'short'}, model ${model})`]
      : ['Demo', ' result', ` (instruction of ${[...instruction].length} characters, model ${model})`];
  pieces.push(` of ${[...text].length} characters`, '.');
  for (const piece of pieces) {
    await sleep(PIECE_DELAY_MS, undefined, { signal });
    yield piece;
  }
}

export function demoTranscription(bytes) {
  return `Demo transcription of ${bytes} bytes of audio.`;
}
