// Texts that reach a person: the desktop program shows them in its overlay,
// and the start-up log repeats the configuration advice.

export const INTERRUPTED_NOTICE =
  '\n\n*The explanation was cut short because the language model stopped answering. Please try again.*';

export const DAILY_LIMIT_REACHED = 'Daily limit reached. Try again tomorrow.';

export const UPSTREAM_FAILED = 'The upstream AI service failed; please try again later';

export function unconfiguredExplanation(target) {
  const [keyVariable, urlVariable] = target.variables;
  return (
    `No language model is configured for "${target.model}" on this Quillpoint backend, ` +
    `so it cannot explain anything yet. Set ${keyVariable} (or ${urlVariable} for a local ` +
    'OpenAI-compatible server) in the environment of the backend and restart it.'
  );
}

export function unconfiguredTranscription(target) {
  const [keyVariable, urlVariable, fallbackVariable] = target.variables;
  return (
    'No speech-to-text service is configured on this Quillpoint backend. ' +
    `Set ${keyVariable} or ${fallbackVariable} (or ${urlVariable} for a local ` +
    'OpenAI-compatible server) in the environment of the backend and restart it.'
  );
}

export const QUOTA_UNAVAILABLE = 'Daily limits cannot be checked right now; please try again shortly';

export const TOO_MANY_STREAMS = 'Too many explanations are running for this token; wait until one has finished';

export const BUSY = 'Too many recordings are being transcribed right now; please try again shortly';

export const STORAGE_FULL = 'The backend has no room left to store the recording; please try again later';
