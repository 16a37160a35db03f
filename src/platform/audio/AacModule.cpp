// The AAC encoder as a loadable module: FFmpeg and everything it pulls in (codecs, network and
// image libraries) is mapped only once the program records for the first time.

#include "AacFileWriter.h"
#include "AudioEncoderModule.h"

// The loader looks this symbol up by its C name (AudioEncoderModule::factorySymbol).
// NOLINTBEGIN(readability-identifier-naming)
extern "C" __attribute__((visibility("default"))) quill::AudioFileWriter*
quillpoint_create_audio_file_writer() {
    return new quill::AacFileWriter();
}
// NOLINTEND(readability-identifier-naming)
