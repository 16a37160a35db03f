#include "AudioEncoderModule.h"

#include "ElfImageCheck.h"
#include "platform/Log.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

namespace quill {

AudioEncoderModule::AudioEncoderModule(QStringList candidates) : m_candidates(std::move(candidates)) {}

QStringList AudioEncoderModule::defaultLocations(const QString& executableDir) {
    const QDir dir(executableDir);
    QStringList locations;
    // Programs of the build tree other than quillpoint itself (tests, benchmarks) name the
    // directory the module was built in.
    const QString chosen = qEnvironmentVariable("QUILLPOINT_MODULE_DIR");
    if (!chosen.isEmpty())
        locations << QDir(chosen).filePath(QLatin1String(fileName));
    return locations +
           QStringList{
               dir.filePath(QLatin1String(fileName)),
               QDir::cleanPath(dir.filePath(QStringLiteral(QUILLPOINT_MODULE_DIR_FROM_BINDIR "/") +
                                            QLatin1String(fileName))),
               QStringLiteral(QUILLPOINT_MODULE_DIR "/") + QLatin1String(fileName),
           };
}

QString AudioEncoderModule::path() const {
    for (const QString& candidate : m_candidates) {
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return {};
}

bool AudioEncoderModule::isLoaded() const {
    std::lock_guard lock(m_mutex);
    return m_factory != nullptr;
}

bool AudioEncoderModule::answersAtOnce() const {
    std::lock_guard lock(m_mutex);
    return m_factory || !m_loadError.isEmpty() || path().isEmpty();
}

std::unique_ptr<AudioFileWriter> AudioEncoderModule::createWriter(QString& error) {
    std::lock_guard lock(m_mutex);
    if (!m_factory && m_loadError.isEmpty()) {
        const QString found = path();
        if (found.isEmpty()) {
            error = QStringLiteral("the audio encoder module %1 is missing (looked for %2)")
                        .arg(QLatin1String(fileName), m_candidates.join(QStringLiteral(", ")));
            return nullptr;
        }
        // A module that would fault while loading, like one that fails to load, stays broken
        // until the program restarts.
        if (const auto problem = audio::elfImageProblem(found)) {
            m_loadError =
                QStringLiteral("the audio encoder module %1 %2; reinstall Quillpoint").arg(found, *problem);
            error = m_loadError;
            return nullptr;
        }
        QElapsedTimer clock;
        clock.start();
        m_library.setFileName(found);
        m_factory = reinterpret_cast<Factory>(m_library.resolve(factorySymbol));
        if (m_factory) {
            logLine(lcPlatform(), QStringLiteral("AudioEncoderModule"),
                    QStringLiteral("loaded %1 in %2 ms").arg(found).arg(clock.elapsed()));
        } else {
            // A module that is there but does not load (a library behind it is missing) stays
            // broken until the program restarts: it is not tried again for every recording.
            m_loadError =
                QStringLiteral("the audio encoder module cannot be loaded: ") + m_library.errorString();
        }
    }
    if (!m_factory) {
        error = m_loadError;
        return nullptr;
    }
    return std::unique_ptr<AudioFileWriter>(m_factory());
}

} // namespace quill
