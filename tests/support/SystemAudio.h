#pragma once

#include "capture/AudioCaptureService.h"
#include "capture/AudioRecorder.h"
#include "platform/audio/AacFileWriter.h"
#include "platform/audio/PulsePcmSource.h"

namespace quill::test {

// Recorders on the test desktop's sound server and the real encoder.
inline AudioCaptureService::RecorderFactory soundServerRecorders() {
    return [] {
        return std::make_unique<AudioRecorder>(std::make_unique<PulsePcmSource>(),
                                               std::make_unique<AacFileWriter>());
    };
}

} // namespace quill::test
