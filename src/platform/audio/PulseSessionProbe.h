#pragma once

#include "platform/SessionProbe.h"

namespace quill::audio {

// Asks the sound server (PulseAudio, or PipeWire's PulseAudio service) for its name and default
// source; never starts a server. Gives up after `timeoutMs`.
SoundFacts probe(int timeoutMs);

} // namespace quill::audio
