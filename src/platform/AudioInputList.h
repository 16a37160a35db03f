#pragma once

#include <QList>
#include <QObject>
#include <QString>

namespace quill {

// One of the sound server's inputs: its stable name and the description people know it by.
struct AudioInput {
    QString name;
    QString description;
    friend bool operator==(const AudioInput&, const AudioInput&) = default;
};

// The inputs a recording can come from (microphones, headsets; never the monitor of an output),
// kept current while watched. Main thread only.
class AudioInputList : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Starts following the sound server; `changed` announces the first list and every change.
    virtual void watch() = 0;
    virtual QList<AudioInput> inputs() const = 0;

signals:
    void changed();
};

} // namespace quill
