#pragma once

#include "platform/AccessibilityReader.h"
#include "platform/ActiveWindowInfo.h"
#include "platform/Clipboard.h"
#include "platform/KeyEventPoster.h"

#include <QPointer>
#include <QTimer>
#include <functional>
#include <utility>
#include <vector>

namespace quill::test {

// Stand-ins for the desktop pieces that text capture reads and drives.
class FakeAccessibilityReader final : public AccessibilityReader {
public:
    std::optional<FocusedText> focusedText(std::optional<qint64> pid) override {
        askedPids << pid.value_or(-1);
        return answer;
    }
    std::optional<FocusedText> announcedFocusText(qint64 pid,
                                                  std::chrono::steady_clock::time_point) override {
        askedAnnouncedPids << pid;
        // An application that announces where focus is only some time into the hold.
        if (askedAnnouncedPids.size() <= silentAnnouncedReads)
            return std::nullopt;
        return announcedAnswer;
    }
    std::optional<ActiveApplication> activeApplication() override { return std::nullopt; }
    std::optional<FocusedText> answer;
    std::optional<FocusedText> announcedAnswer;
    qsizetype silentAnnouncedReads = 0;
    QList<qint64> askedPids;
    QList<qint64> askedAnnouncedPids;
};

class FakeWindow final : public ActiveWindowInfo {
public:
    QStringList applicationNames() override { return names; }
    bool holdsPrimarySelection() override { return holdsSelection; }
    QStringList names{"mousepad", "Mousepad"};
    bool holdsSelection = true;
};

// A clipboard owned by other programs: changes made by "them" arrive later, through the event loop.
class FakeClipboard final : public Clipboard {
public:
    ClipboardContents readAll(const ClipboardReadLimits& limits) override {
        ClipboardContents kept{{}, !ownerTimesOut};
        qsizetype total = 0;
        for (const auto& [name, bytes] : contents) {
            if (bytes.isEmpty())
                continue;
            if (bytes.size() > limits.maxFormatBytes || total + bytes.size() > limits.maxTotalBytes) {
                kept.complete = false;
                continue;
            }
            total += bytes.size();
            kept.formats.append({name, bytes});
        }
        return kept;
    }
    std::optional<QString> text() override {
        for (const auto& [name, bytes] : contents) {
            if (name == QLatin1String("text/plain"))
                return QString::fromUtf8(bytes);
        }
        return std::nullopt;
    }
    void clear() override {
        contents.clear();
        emit changed();
    }
    void setText(const QString& text) override { setFormats({{"text/plain", text.toUtf8()}}); }
    void setFormats(const QList<ClipboardFormat>& formats) override {
        if (refuseWrites)
            return;
        contents = formats;
        ++writes;
        takeUpPollsLeft = takeUpPolls;
        emit changed();
    }
    bool desktopTakingUp() const override { return takeUpPollsLeft-- > 0; }
    std::optional<QString> selectionText() override { return selection; }
    void setSelectionText(const QString& text) override {
        if (!refuseWrites)
            selection = text;
    }

    // Another program reads what we put there.
    void readByOtherProgram() { emit contentsRead(); }

    void changeLater(const QList<ClipboardFormat>& formats, int delayMs = 5) {
        QTimer::singleShot(delayMs, this, [this, formats] {
            contents = formats;
            emit changed();
        });
    }

    QList<ClipboardFormat> contents;
    std::optional<QString> selection;
    int writes = 0;
    bool refuseWrites = false;  // another program took the selection with a newer timestamp
    bool ownerTimesOut = false; // the owner does not hand out its contents within the time budget
    int takeUpPolls = 0;        // how often the desktop is seen still taking up new contents
    mutable int takeUpPollsLeft = 0;
};

struct PostedKey {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    bool operator==(const PostedKey&) const = default;
};

class FakeKeys final : public KeyEventPoster {
public:
    bool isAvailable() const override { return available; }
    Qt::KeyboardModifiers heldModifiers() override {
        ++polls;
        if (releaseAfterPolls >= 0 && polls > releaseAfterPolls)
            held &= Qt::ControlModifier;
        return held;
    }
    bool isKeyHeld() override { return keyHeldPolls-- > 0; }
    void postKey(Qt::Key key, Qt::KeyboardModifiers modifiers) override {
        posted.append({key, modifiers});
        if (onPost)
            onPost();
    }
    // A desktop that asks the user for the keyboard: not ready until answerConsent().
    bool isReady() const override { return available && !asking; }
    void prepare(QObject* context, const std::function<void(bool ready)>& done) override {
        if (!asking) {
            done(available);
            return;
        }
        ++prepareCalls;
        waiting.emplace_back(context, done);
    }
    void answerConsent(bool allowed) {
        asking = false;
        available = allowed;
        for (auto& [context, done] : std::exchange(waiting, {})) {
            if (context)
                done(allowed);
        }
    }
    bool asking = false;
    int prepareCalls = 0;
    std::vector<std::pair<QPointer<QObject>, std::function<void(bool)>>> waiting;
    bool available = true;
    int keyHeldPolls = 0; // how many more polls still find the shortcut's key down
    Qt::KeyboardModifiers held;
    int releaseAfterPolls = -1; // never
    int polls = 0;
    QList<PostedKey> posted;
    std::function<void()> onPost;
};

} // namespace quill::test
