// What GET /api/models answers: the models this service can actually serve.

function onThisMachine(baseUrl) {
  const host = new URL(baseUrl).hostname;
  return host === 'localhost' || host === '[::1]' || /^127\.\d+\.\d+\.\d+$/.test(host);
}

function entry(id, target, demo) {
  return { id, name: demo ? `${target.name} (demo)` : target.name, local: demo || onThisMachine(target.baseUrl) };
}

// A built-in identifier that a local model answers is not listed: the local
// model is, under its own name.
export function servedModels(config) {
  const models = [...config.chat.values()]
    .filter((target) => target.listed && (config.demo || target.configured))
    .map((target) => entry(target.model, target, config.demo));
  const { transcription } = config;
  return {
    models,
    transcription:
      config.demo || transcription.configured ? entry(transcription.upstreamModel, transcription, config.demo) : null,
  };
}
