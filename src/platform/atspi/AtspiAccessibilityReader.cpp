#include "AtspiAccessibilityReader.h"

#include "platform/Log.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <atomic>
#include <atspi/atspi.h>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quill {
namespace {

// Bounds of one read's walk of the tree (see Budget).
constexpr int kMaxWalkedNodes = 4000;
constexpr int kMaxWalkDepth = 64;
// GTK 4's tree, walked at the first read of a window that announced no focus, takes 60 ms on a
// quiet machine and has taken over 600 on a loaded one. It stays below the second the capture
// waits for the reader's answer, so that the read, not the wait, is what gives up.
constexpr qint64 kWalkTimeMs = 800;
// Objects embedded in objects embedded in text: a web page nests blocks a few levels deep.
constexpr int kMaxEmbedDepth = 16;
// Where an embedded object (a paragraph, a link, an image) sits in its parent's text.
constexpr QChar kPlaceholder(0xFFFC);
// How many of the objects that last announced focus are remembered (see announcedFocus).
constexpr std::size_t kRememberedAnnouncements = 4;
// An application can tell it lost focus to the shortcut's keyboard grab before this program has
// seen the key held, the more so on a loaded machine, where seeing it can take a few hundred
// milliseconds: a loss announced this long before counts as the grab's.
constexpr std::chrono::milliseconds kGrabLossSlack{500};

using Clock = std::chrono::steady_clock;

// Owns one reference to a GObject-derived libatspi object.
template <typename T> class Ref {
public:
    Ref() = default;
    explicit Ref(T* object) : m_object(object) {}
    ~Ref() { reset(); }
    Ref(Ref&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            reset();
            m_object = std::exchange(other.m_object, nullptr);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* get() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    void reset() {
        if (m_object)
            g_object_unref(m_object);
        m_object = nullptr;
    }

private:
    T* m_object = nullptr;
};

// Runs a libatspi call with a GError and reports whether it failed.
class Error {
public:
    ~Error() { clear(); }
    GError** out() {
        clear();
        return &m_error;
    }
    bool failed() const { return m_error != nullptr; }

private:
    void clear() {
        if (m_error)
            g_error_free(m_error);
        m_error = nullptr;
    }
    GError* m_error = nullptr;
};

QString takeString(gchar* text) {
    QString result = QString::fromUtf8(text);
    g_free(text);
    return result;
}

bool hasState(AtspiAccessible* node, AtspiStateType state) {
    Ref<AtspiStateSet> states(atspi_accessible_get_state_set(node));
    return states && atspi_state_set_contains(states.get(), state);
}

// What one read may spend on the tree: a huge document or a deep tree is cut off rather than
// walked for seconds while the user waits for the panel.
class Budget {
public:
    Budget() { m_clock.start(); }
    // Whether one more object may be visited.
    bool spend() { return --m_nodes >= 0 && !m_clock.hasExpired(kWalkTimeMs); }

private:
    int m_nodes = kMaxWalkedNodes;
    QElapsedTimer m_clock;
};

// A reference of its own to `object`, which the caller keeps.
Ref<AtspiAccessible> referenceTo(AtspiAccessible* object) {
    return Ref<AtspiAccessible>(static_cast<AtspiAccessible*>(g_object_ref(object)));
}

int childCount(AtspiAccessible* node) {
    Error error;
    const int count = atspi_accessible_get_child_count(node, error.out());
    return error.failed() ? 0 : count;
}

Ref<AtspiAccessible> childAt(AtspiAccessible* node, int index) {
    Error error;
    Ref<AtspiAccessible> child(atspi_accessible_get_child_at_index(node, index, error.out()));
    return error.failed() ? Ref<AtspiAccessible>() : std::move(child);
}

std::vector<Ref<AtspiAccessible>> children(AtspiAccessible* node) {
    std::vector<Ref<AtspiAccessible>> result;
    const int count = childCount(node);
    for (int i = 0; i < count; ++i) {
        if (auto child = childAt(node, i))
            result.push_back(std::move(child));
    }
    return result;
}

std::optional<qint64> processId(AtspiAccessible* app) {
    Error error;
    const guint pid = atspi_accessible_get_process_id(app, error.out());
    if (error.failed())
        return std::nullopt;
    return static_cast<qint64>(pid);
}

// An object that announced it took focus, and its application's process.
struct Announcement {
    Ref<AtspiAccessible> object;
    qint64 processId = 0;
    std::optional<Clock::time_point> lostAt; // when it then announced losing focus
};
using Announcements = std::vector<Announcement>;

struct Application {
    Ref<AtspiAccessible> app;
    Ref<AtspiAccessible> activeWindow; // empty when none of its windows is active
};

std::optional<Application> findApplication(std::optional<qint64> pid) {
    const qint64 self = getpid();
    if (pid && *pid == self)
        return std::nullopt;
    Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop)
        return std::nullopt;
    for (auto& app : children(desktop.get())) {
        const auto appPid = processId(app.get());
        if (!appPid || *appPid == self)
            continue;
        if (pid && *appPid != *pid)
            continue;
        for (auto& window : children(app.get())) {
            if (hasState(window.get(), ATSPI_STATE_ACTIVE))
                return Application{std::move(app), std::move(window)};
        }
        if (pid)
            return Application{std::move(app), {}};
    }
    return std::nullopt;
}

// GTK 4 never reports SHOWING: inside the active window VISIBLE stands in for it.
bool isOnScreen(AtspiStateSet* states, bool windowActive) {
    return atspi_state_set_contains(states, ATSPI_STATE_SHOWING) ||
           (windowActive && atspi_state_set_contains(states, ATSPI_STATE_VISIBLE));
}

// GTK answers a Collection query for the FOCUSED state in one round trip.
Ref<AtspiAccessible> focusedByCollection(AtspiAccessible* root) {
    Ref<AtspiCollection> collection(atspi_accessible_get_collection_iface(root));
    if (!collection)
        return {};
    Ref<AtspiStateSet> states(atspi_state_set_new(nullptr));
    atspi_state_set_add(states.get(), ATSPI_STATE_FOCUSED);
    Ref<AtspiMatchRule> rule(atspi_match_rule_new(
        states.get(), ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_NONE, nullptr,
        ATSPI_Collection_MATCH_NONE, nullptr, ATSPI_Collection_MATCH_NONE, FALSE));
    Error error;
    GArray* matches = atspi_collection_get_matches(
        collection.get(), rule.get(), ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, error.out());
    if (!matches)
        return {};
    Ref<AtspiAccessible> found;
    for (guint i = 0; i < matches->len; ++i) {
        auto* node = g_array_index(matches, AtspiAccessible*, i);
        if (!found)
            found = Ref<AtspiAccessible>(node);
        else
            g_object_unref(node);
    }
    g_array_free(matches, TRUE);
    return found;
}

// Qt has no Collection interface: walk the visible part of the tree, depth first. Qt and KDE
// mark the containers above an editor FOCUSED as well, so the deepest focused object wins.
Ref<AtspiAccessible> focusedByWalk(AtspiAccessible* node, int depth, bool windowActive, Budget& budget) {
    const int count = childCount(node);
    for (int i = 0; i < count && budget.spend(); ++i) {
        Ref<AtspiAccessible> child = childAt(node, i);
        if (!child)
            continue;
        Ref<AtspiStateSet> states(atspi_accessible_get_state_set(child.get()));
        if (!states || !isOnScreen(states.get(), windowActive))
            continue;
        Ref<AtspiAccessible> deeper;
        if (depth < kMaxWalkDepth)
            deeper = focusedByWalk(child.get(), depth + 1, windowActive, budget);
        if (deeper)
            return deeper;
        if (atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED))
            return child;
    }
    return {};
}

Ref<AtspiAccessible> focusedElement(const Application& application, Budget& budget) {
    AtspiAccessible* root = application.activeWindow ? application.activeWindow.get() : application.app.get();
    if (auto found = focusedByCollection(root))
        return found;
    return focusedByWalk(root, 0, static_cast<bool>(application.activeWindow), budget);
}

// Qt counts text offsets in UTF-16 units, GTK and the rest in code points.
qsizetype utf16Position(const QString& text, int offset, bool countsUtf16) {
    if (countsUtf16)
        return std::clamp<qsizetype>(offset, 0, text.size());
    qsizetype position = 0;
    for (int i = 0; i < offset && position < text.size(); ++i)
        position += (text.at(position).isHighSurrogate() && position + 1 < text.size()) ? 2 : 1;
    return position;
}

qsizetype graphemesBefore(const QString& text, qsizetype utf16Pos) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    for (qsizetype next = finder.toNextBoundary(); next != -1 && next <= utf16Pos;
         next = finder.toNextBoundary())
        ++count;
    return count;
}

struct Range {
    int start = 0;
    int end = 0;
    bool isEmpty() const { return end <= start; }
};

int characterCount(AtspiText* text) {
    Error error;
    const int count = atspi_text_get_character_count(text, error.out());
    return error.failed() ? 0 : count;
}

// The first selection of a text object; none when it has none or cannot say. GTK 4 answers
// with garbage offsets for a label without a selection, so a range must lie inside the text.
std::optional<Range> firstSelection(AtspiText* text) {
    Error error;
    const int selections = atspi_text_get_n_selections(text, error.out());
    if (!error.failed() && selections < 1)
        return std::nullopt;
    AtspiRange* selection = atspi_text_get_selection(text, 0, error.out());
    if (error.failed() || !selection)
        return std::nullopt;
    const Range range{std::min(selection->start_offset, selection->end_offset),
                      std::max(selection->start_offset, selection->end_offset)};
    g_free(selection);
    if (range.start < 0 || range.end > characterCount(text))
        return std::nullopt;
    return range;
}

QString textBetween(AtspiText* text, Range range) {
    Error error;
    QString result = takeString(atspi_text_get_text(text, range.start, range.end, error.out()));
    return error.failed() ? QString() : result;
}

// Web content lays its objects out as blocks (paragraphs, list items, cells) or within a line
// (links, emphasis); browsers say which in the "display" attribute, other toolkits by the role.
bool isBlock(AtspiAccessible* node) {
    Error error;
    GHashTable* attributes = atspi_accessible_get_attributes(node, error.out());
    if (attributes) {
        const auto* display = static_cast<const char*>(g_hash_table_lookup(attributes, "display"));
        const std::optional<bool> block =
            display ? std::optional<bool>(!g_str_has_prefix(display, "inline")) : std::nullopt;
        g_hash_table_unref(attributes);
        if (block)
            return *block;
    }
    switch (atspi_accessible_get_role(node, error.out())) {
    case ATSPI_ROLE_LINK:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_MARK:
    case ATSPI_ROLE_SUBSCRIPT:
    case ATSPI_ROLE_SUPERSCRIPT:
    case ATSPI_ROLE_CONTENT_DELETION:
    case ATSPI_ROLE_CONTENT_INSERTION:
        return false;
    default:
        return true;
    }
}

// Joins what a person reads: blocks start a new paragraph, inline pieces continue the line.
class ReadingText {
public:
    void addCharacters(const QString& characters) {
        // White space that only stands between two blocks is layout, not text.
        if (m_breakPending && characters.trimmed().isEmpty())
            return;
        flushBreak();
        m_text += characters;
    }
    void addBlock(const QString& block) {
        if (block.trimmed().isEmpty())
            return;
        m_breakPending = !m_text.isEmpty();
        flushBreak();
        m_text += block;
        m_breakPending = true;
    }
    void addInline(const QString& piece) { addCharacters(piece); }
    QString text() const { return m_text; }

private:
    void flushBreak() {
        if (!m_breakPending || m_text.isEmpty()) {
            m_breakPending = false;
            return;
        }
        while (!m_text.isEmpty() && m_text.back().isSpace())
            m_text.chop(1);
        m_text += QStringLiteral("\n\n");
        m_breakPending = false;
    }

    QString m_text;
    bool m_breakPending = false;
};

// Where an embedded object's placeholder lies in the selected part of its parent's text.
enum class Span {
    end,    // at one end, among other characters: the object is touched, its selection says how far
    only,   // all of it: the selection lies in the object, or covers it
    inside, // between selected characters: all of the object is selected, whatever it reports
};

QString readableText(AtspiAccessible* node, Range range, const QString& raw, bool whole, int depth,
                     Budget& budget);

// The text an embedded object contributes to its parent's selection.
std::optional<QString> embeddedText(AtspiHypertext* hypertext, int offset, Span span, int depth,
                                    Budget& budget, bool* block) {
    if (!budget.spend())
        return std::nullopt;
    Error error;
    const int index = atspi_hypertext_get_link_index(hypertext, offset, error.out());
    if (error.failed() || index < 0)
        return std::nullopt;
    Ref<AtspiHyperlink> link(atspi_hypertext_get_link(hypertext, index, error.out()));
    if (error.failed() || !link)
        return std::nullopt;
    Ref<AtspiAccessible> child(atspi_hyperlink_get_object(link.get(), 0, error.out()));
    if (error.failed() || !child)
        return std::nullopt;
    Ref<AtspiText> childText(atspi_accessible_get_text_iface(child.get()));
    if (!childText)
        return std::nullopt;
    *block = isBlock(child.get());
    // A whole object costs two calls, its own selection four: a selection over many paragraphs
    // asks only the two at its ends.
    std::optional<Range> selection = span == Span::inside ? std::nullopt : firstSelection(childText.get());
    const bool whole = !selection || selection->isEmpty();
    if (whole) {
        if (span == Span::end)
            return std::nullopt;
        selection = Range{0, characterCount(childText.get())};
    }
    return readableText(child.get(), *selection, textBetween(childText.get(), *selection), whole, depth + 1,
                        budget);
}

// `raw`, the characters of `range` of `node`'s text, with each U+FFFC, an embedded object's place,
// replaced by that object's selected text, recursively; `whole` when all of the node is selected.
// Placeholders that lead nowhere are dropped.
QString readableText(AtspiAccessible* node, Range range, const QString& raw, bool whole, int depth,
                     Budget& budget) {
    if (!raw.contains(kPlaceholder))
        return raw;
    Ref<AtspiHypertext> hypertext(atspi_accessible_get_hypertext_iface(node));
    ReadingText reading;
    int offset = range.start;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < raw.size(); ++offset) {
        const qsizetype width = (raw.at(i).isHighSurrogate() && i + 1 < raw.size()) ? 2 : 1;
        if (raw.at(i) == kPlaceholder) {
            reading.addCharacters(raw.mid(runStart, i - runStart));
            bool block = false;
            Span span = Span::inside;
            if (!whole && raw.size() == 1)
                span = Span::only;
            else if (!whole && (i == 0 || i == raw.size() - 1))
                span = Span::end;
            const std::optional<QString> piece =
                hypertext && depth < kMaxEmbedDepth
                    ? embeddedText(hypertext.get(), offset, span, depth, budget, &block)
                    : std::nullopt;
            if (piece && block)
                reading.addBlock(*piece);
            else if (piece)
                reading.addInline(*piece);
            runStart = i + 1;
        }
        i += width;
    }
    reading.addCharacters(raw.mid(runStart));
    return reading.text();
}

bool isPlaceholderOnly(const QString& text) {
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c == kPlaceholder || c.isSpace(); });
}

// The selection found in one text object, with that object for the log, its selected range and
// whether the toolkit returned that range's characters as nothing.
struct Selection {
    QString text;
    Ref<AtspiAccessible> holder;
    Range range;
    bool charactersMissing = false;
};

// How many characters `node` holds; none without text.
int textLength(AtspiAccessible* node) {
    Ref<AtspiText> text(atspi_accessible_get_text_iface(node));
    return text ? characterCount(text.get()) : 0;
}

// The selected text at or below `node`: the node's own selection, else the first run of
// neighbouring text objects inside it with selections, in reading order (a document whose
// paragraphs are objects of their own).
// None when no text object there has a selection; an empty text when the focused text object
// has a caret and nothing selected.
std::optional<Selection> selectionBelow(Ref<AtspiAccessible> node, int depth, bool windowActive,
                                        Budget& budget) {
    Ref<AtspiText> text(atspi_accessible_get_text_iface(node.get()));
    if (text) {
        const std::optional<Range> range = firstSelection(text.get());
        if (range && !range->isEmpty()) {
            const QString raw = textBetween(text.get(), *range);
            return Selection{readableText(node.get(), *range, raw, false, 0, budget), std::move(node), *range,
                             raw.isEmpty()};
        }
        // A caret in the focused text, or an empty field: nothing is selected.
        if (depth == 0 && (characterCount(text.get()) > 0 || childCount(node.get()) == 0))
            return Selection{QString(), std::move(node), {}, false};
    }
    if (depth >= kMaxWalkDepth)
        return std::nullopt;
    std::optional<Selection> found;
    QStringList pieces;
    const int count = childCount(node.get());
    for (int i = 0; i < count && budget.spend(); ++i) {
        Ref<AtspiAccessible> child = childAt(node.get(), i);
        if (!child)
            continue;
        Ref<AtspiStateSet> states(atspi_accessible_get_state_set(child.get()));
        if (!states || !isOnScreen(states.get(), windowActive))
            continue;
        auto below = selectionBelow(referenceTo(child.get()), depth + 1, windowActive, budget);
        if (!below || below->text.isEmpty()) {
            // A selection is one run: it ends at the first text with characters outside it.
            if (found && textLength(child.get()) > 0)
                break;
            continue;
        }
        pieces << below->text;
        const bool deeper = below->holder.get() != child.get();
        if (!found)
            found = std::move(below);
        // Found further down, the run was read there with its neighbours. The rest of the window
        // is none of it: tool bars cost a walk, and a search field's selection is another one.
        if (deeper)
            break;
    }
    if (found)
        found->text = pieces.join(u'\n');
    return found;
}

QString roleName(AtspiAccessible* node) {
    Error error;
    QString role = takeString(atspi_accessible_get_role_name(node, error.out()));
    return error.failed() ? QStringLiteral("unknown object") : role;
}

QString applicationName(AtspiAccessible* app) {
    Error error;
    QString name = takeString(atspi_accessible_get_name(app, error.out()));
    return error.failed() ? QString() : name;
}

// When a toolkit returns the selected characters as nothing, they are cut from the whole value.
std::optional<FocusedText> rangeInValue(AtspiAccessible* app, AtspiText* text, Range range) {
    FocusedText result;
    Error error;
    const int count = characterCount(text);
    QString value = takeString(atspi_text_get_text(text, 0, count, error.out()));
    if (error.failed())
        return result;
    const QString toolkit = takeString(atspi_accessible_get_toolkit_name(app, error.out()));
    const bool countsUtf16 = toolkit.compare(QLatin1String("Qt"), Qt::CaseInsensitive) == 0;
    const qsizetype from = graphemesBefore(value, utf16Position(value, range.start, countsUtf16));
    const qsizetype to = graphemesBefore(value, utf16Position(value, range.end, countsUtf16));
    result.range = TextRange{from, to - from};
    result.value = std::move(value);
    return result;
}

// The selection at the element that has focus. LibreOffice makes each paragraph of a document
// an object of its own, in a container without text, and a selection across paragraphs covers a
// run of neighbours with the focused one (where the cursor is) at one end. The run is read
// outward from there, one paragraph further while the last one read is selected to its edge, so
// that a long document costs no more than the paragraphs selected; empty paragraphs hold no text
// to select and are passed over. Anything else is read from the container, as a whole.
std::optional<Selection> selectionAtFocus(Ref<AtspiAccessible> focused, bool windowActive, Budget& budget) {
    Error error;
    if (atspi_accessible_get_role(focused.get(), error.out()) != ATSPI_ROLE_PARAGRAPH)
        return selectionBelow(std::move(focused), 0, windowActive, budget);
    Ref<AtspiAccessible> container(atspi_accessible_get_parent(focused.get(), error.out()));
    if (error.failed() || !container || Ref<AtspiText>(atspi_accessible_get_text_iface(container.get())))
        return selectionBelow(std::move(focused), 0, windowActive, budget);
    const int index = atspi_accessible_get_index_in_parent(focused.get(), error.out());
    std::optional<Selection> own = error.failed() || index < 0
                                       ? std::nullopt
                                       : selectionBelow(referenceTo(focused.get()), 1, windowActive, budget);
    if (!own || own->text.isEmpty())
        return selectionBelow(std::move(container), 0, windowActive, budget);

    QStringList pieces{own->text};
    const bool reachesEnd = own->range.end >= textLength(focused.get());
    Selection first = std::move(*own);
    for (int i = index - 1; first.range.start == 0 && i >= 0 && budget.spend(); --i) {
        Ref<AtspiAccessible> paragraph = childAt(container.get(), i);
        if (!paragraph)
            break;
        std::optional<Selection> piece =
            selectionBelow(referenceTo(paragraph.get()), 1, windowActive, budget);
        if (!piece || piece->text.isEmpty()) {
            if (textLength(paragraph.get()) == 0)
                continue;
            break;
        }
        pieces.prepend(piece->text);
        first = std::move(*piece);
    }
    const int count = reachesEnd ? childCount(container.get()) : 0;
    for (int i = index + 1; i < count && budget.spend(); ++i) {
        Ref<AtspiAccessible> paragraph = childAt(container.get(), i);
        if (!paragraph)
            break;
        std::optional<Selection> piece =
            selectionBelow(referenceTo(paragraph.get()), 1, windowActive, budget);
        if (!piece || piece->text.isEmpty()) {
            if (textLength(paragraph.get()) == 0)
                continue;
            break;
        }
        pieces << piece->text;
        if (piece->range.end < textLength(paragraph.get()))
            break;
    }
    first.text = pieces.join(u'\n');
    return first;
}

// Whether one of the windows of the application `object` belongs to reports itself active. Also
// when that cannot be told: the caller then takes nothing for granted.
bool applicationHasActiveWindow(AtspiAccessible* object) {
    // The application's root as the bus listing made it, rather than walking up to it: a toolkit
    // without a cache (GTK 4) answers one call per level of a tree some thirty levels deep.
    AtspiApplication* application = object->parent.app;
    if (!application || !application->root)
        return true;
    for (auto& window : children(application->root)) {
        if (hasState(window.get(), ATSPI_STATE_ACTIVE))
            return true;
    }
    return false;
}

// Of the objects that last announced focus, newest first, the one in the application with `pid`
// that still has it. The newest is not always that one: LibreOffice announces its root pane after
// the paragraph where the cursor is, and the root pane never reports focus. Focus implies the
// application's window is the active one.
//
// While the shortcut's key is held (since `heldSince`) the X server keeps the keyboard grabbed
// for us, and GTK 4 takes that for a lost focus: no window of its stays active and no object
// focused, though the desktop still has its window in front. Then the newest announced object
// that can take focus, and lost it to the grab if at all, is still where the user's selection is.
Ref<AtspiAccessible> announcedFocus(const Announcements& announced, std::optional<qint64> pid,
                                    std::optional<Clock::time_point> heldSince) {
    if (!pid || *pid == getpid())
        return {};
    Ref<AtspiAccessible> beforeGrab;
    for (const Announcement& announcement : announced) {
        AtspiAccessible* candidate = announcement.object.get();
        if (announcement.processId != *pid)
            continue;
        // The cache can hold states the object no longer has, or an object the application has
        // since replaced (Firefox's text area after a paste, which then has no text): ask anew.
        atspi_accessible_clear_cache(candidate);
        Ref<AtspiStateSet> states(atspi_accessible_get_state_set(candidate));
        if (!states || atspi_state_set_contains(states.get(), ATSPI_STATE_DEFUNCT))
            continue;
        if (atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED))
            return referenceTo(candidate);
        const bool lostToGrab =
            heldSince && (!announcement.lostAt || *announcement.lostAt >= *heldSince - kGrabLossSlack);
        if (lostToGrab && !beforeGrab && atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSABLE))
            beforeGrab = referenceTo(candidate);
    }
    if (beforeGrab && !applicationHasActiveWindow(beforeGrab.get())) {
        logLatencyMark("accessibility: focus taken by the grab");
        return beforeGrab;
    }
    return {};
}

// The selection in the application with `pid` (or the one in front): where it announced focus,
// else, unless only that is asked (while the shortcut's key is held, since `heldSince`), where the
// tree says focus is (put in `walkedTo`), else wherever its active window shows a selection.
std::optional<Selection> findSelection(std::optional<qint64> pid, const Announcements& announced,
                                       std::optional<Clock::time_point> heldSince, Budget& budget,
                                       Ref<AtspiAccessible>& walkedTo) {
    if (Ref<AtspiAccessible> focused = announcedFocus(announced, pid, heldSince)) {
        logLatencyMark("accessibility: announced focus");
        if (auto selection = selectionAtFocus(std::move(focused), true, budget))
            return selection;
    }
    if (heldSince)
        return std::nullopt;
    auto application = findApplication(pid);
    logLatencyMark("accessibility: application found");
    if (!application)
        return std::nullopt;
    const bool windowActive = static_cast<bool>(application->activeWindow);
    // Where the desktop does not say which process is in front (Wayland), the application is
    // known only now; what it announced may still hold.
    if (!pid && windowActive) {
        if (Ref<AtspiAccessible> focused =
                announcedFocus(announced, processId(application->app.get()), std::nullopt)) {
            logLatencyMark("accessibility: announced focus");
            if (auto selection = selectionAtFocus(std::move(focused), true, budget))
                return selection;
        }
    }
    std::optional<Selection> selection;
    if (Ref<AtspiAccessible> focused = focusedElement(*application, budget)) {
        logLatencyMark("accessibility: focus found in the tree");
        walkedTo = referenceTo(focused.get());
        selection = selectionAtFocus(std::move(focused), windowActive, budget);
    }
    if (!selection && windowActive) {
        logLatencyMark("accessibility: searching the active window");
        selection = selectionBelow(referenceTo(application->activeWindow.get()), 1, windowActive, budget);
    }
    if (!selection)
        logLine(lcPlatform(), QStringLiteral("AtspiAccessibilityReader"),
                QStringLiteral("no text with a selection found in %1")
                    .arg(applicationName(application->app.get())));
    return selection;
}

// What one read found, and the object that holds it, for the log.
struct Read {
    std::optional<FocusedText> text;
    Ref<AtspiAccessible> holder;
    bool found = false;
    // Where the walk of the tree found focus, if the read had to walk it.
    Ref<AtspiAccessible> walkedTo;
};

Read readFocusedText(std::optional<qint64> pid, const Announcements& announced,
                     std::optional<Clock::time_point> heldSince) {
    logLatencyMark("accessibility: read started");
    Budget budget;
    Ref<AtspiAccessible> walkedTo;
    std::optional<Selection> selection = findSelection(pid, announced, heldSince, budget, walkedTo);
    logLatencyMark("accessibility: selection found");
    if (!selection)
        return {{}, {}, false, std::move(walkedTo)};
    FocusedText result;
    Ref<AtspiText> text(atspi_accessible_get_text_iface(selection->holder.get()));
    if (selection->text.isEmpty() && selection->charactersMissing && text) {
        // Found by asking each parent in turn, a call each where the toolkit keeps no cache
        // (GTK 4): only when needed.
        Error error;
        Ref<AtspiAccessible> app(atspi_accessible_get_application(selection->holder.get(), error.out()));
        if (app)
            result = rangeInValue(app.get(), text.get(), selection->range).value_or(FocusedText{});
    } else if (isPlaceholderOnly(selection->text)) {
        result.selectedText = QString();
    } else {
        result.selectedText = QString(selection->text).remove(kPlaceholder);
    }
    const bool found = (result.selectedText && !result.selectedText->isEmpty()) || result.range;
    return {std::move(result), std::move(selection->holder), found, std::move(walkedTo)};
}

// Names the object a read found its selection in (its `role`), and its application.
void logRead(const Read& read, const QString& role) {
    Error error;
    Ref<AtspiAccessible> app(atspi_accessible_get_application(read.holder.get(), error.out()));
    const QString appName = app ? applicationName(app.get()) : QString();
    logLine(lcPlatform(), QStringLiteral("AtspiAccessibilityReader"),
            read.found ? QStringLiteral("selection of a %1 in %2").arg(role, appName)
                       : QStringLiteral("no selection in the %1 in focus in %2").arg(role, appName));
}

std::optional<AtspiAccessibilityReader::ActiveApplication> readActiveApplication() {
    auto application = findApplication(std::nullopt);
    if (!application || !application->activeWindow)
        return std::nullopt;
    const auto pid = processId(application->app.get());
    Error error;
    QString name = takeString(atspi_accessible_get_name(application->app.get(), error.out()));
    if (!pid || error.failed())
        return std::nullopt;
    return AtspiAccessibilityReader::ActiveApplication{*pid, std::move(name)};
}

} // namespace

// A thread that owns libatspi: its main context carries the accessibility bus connection and
// is iterated only here, so the GUI thread's event loop never touches it. Connecting to the bus
// happens on that thread too, and nobody waits for it: a bus that accepts the connection and
// never answers leaves the reader unavailable until it does, and the program free to run and
// to quit.
struct AtspiAccessibilityReader::Worker {
    Worker() : context(g_main_context_new()), loop(g_main_loop_new(context, FALSE)) {}
    ~Worker() {
        g_main_loop_unref(loop);
        g_main_context_unref(context);
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // The thread holds the worker as long as it runs, which can be longer than the reader.
    static void run(const std::shared_ptr<Worker>& worker, int callTimeoutMs) {
        g_main_context_push_thread_default(worker->context);
        // Without a bus, any later libatspi call aborts the process.
        const bool ok = atspi_init() == 0;
        worker->connected = true;
        if (ok && !worker->stopping) {
            // atspi_init attaches the bus connection to the default context, which the GUI
            // thread iterates; move it here.
            atspi_set_main_context(worker->context);
            atspi_set_timeout(callTimeoutMs, callTimeoutMs * 4);
            // Applications announce where focus goes: knowing it spares walking their trees.
            worker->focusListener = atspi_event_listener_new(&Worker::onFocusChanged, worker.get(), nullptr);
            atspi_event_listener_register(worker->focusListener, "object:state-changed:focused", nullptr);
            worker->available = true;
            g_main_loop_run(worker->loop);
            worker->available = false;
            atspi_event_listener_deregister(worker->focusListener, "object:state-changed:focused", nullptr);
            g_object_unref(worker->focusListener);
            worker->focusListener = nullptr;
        } else if (!ok) {
            // A reader that is gone may mean a program that is ending, its logging torn down
            // under this thread: nobody is left to tell.
            const std::lock_guard lock(worker->stopMutex);
            if (!worker->stopping)
                logLine(
                    lcPlatform(), QStringLiteral("AtspiAccessibilityReader"),
                    QStringLiteral("no accessibility bus: selected text is read from the clipboard only"));
        }
        worker->announced.clear();
        g_main_context_pop_thread_default(worker->context);
    }

    void stop() {
        {
            const std::lock_guard lock(stopMutex);
            stopping = true;
        }
        g_main_context_invoke(
            context,
            [](gpointer data) {
                g_main_loop_quit(static_cast<GMainLoop*>(data));
                return G_SOURCE_REMOVE;
            },
            loop);
    }

    template <typename Function> auto submit(Function function) -> std::future<decltype(function())> {
        using Task = std::packaged_task<decltype(function())()>;
        auto task = std::make_unique<Task>(std::move(function));
        auto future = task->get_future();
        GSource* source = g_idle_source_new();
        g_source_set_callback(
            source,
            [](gpointer data) {
                (*static_cast<Task*>(data))();
                return G_SOURCE_REMOVE;
            },
            task.release(), [](gpointer data) { delete static_cast<Task*>(data); });
        g_source_attach(source, context);
        g_source_unref(source);
        return future;
    }

    static void onFocusChanged(AtspiEvent* event, void* data) {
        auto* worker = static_cast<Worker*>(data);
        // Focus in our own windows (the panel, Preferences) is never where the selection is: it
        // must not replace the last focus the application in front announced.
        if (event->source) {
            const std::optional<qint64> pid = processId(event->source);
            if (pid && *pid != getpid()) {
                if (event->detail1 == 1)
                    worker->remember(referenceTo(event->source), *pid);
                else
                    worker->rememberLoss(referenceTo(event->source), *pid);
            }
        }
        g_boxed_free(atspi_event_get_type(), event);
    }

    // Puts `object`, of the process `pid`, first among the announcements.
    void remember(Ref<AtspiAccessible> object, qint64 pid) {
        std::erase_if(announced, [&](const Announcement& a) { return a.object.get() == object.get(); });
        announced.insert(announced.begin(), Announcement{std::move(object), pid, std::nullopt});
        if (announced.size() > kRememberedAnnouncements)
            announced.pop_back();
        ++announcements;
    }

    // Notes that `object` lost focus. One not announced before (GTK 4 does not tell the focus a
    // window has when it opens, only its losses and gains after) had focus until now, but is
    // taken for older than all the others: when focus moves, the gain may be told first.
    void rememberLoss(Ref<AtspiAccessible> object, qint64 pid) {
        const auto known = std::find_if(announced.begin(), announced.end(), [&](const Announcement& a) {
            return a.object.get() == object.get();
        });
        if (known != announced.end()) {
            known->lostAt = Clock::now();
        } else {
            if (announced.size() >= kRememberedAnnouncements)
                announced.pop_back();
            announced.push_back(Announcement{std::move(object), pid, Clock::now()});
        }
        ++announcements;
    }

    // The announcements as they stand. libatspi handles incoming events while it waits for an
    // answer, so an announcement can arrive in the middle of a read: the read goes through a
    // copy of its own.
    Announcements snapshot() const {
        Announcements copy;
        copy.reserve(announced.size());
        for (const Announcement& a : announced)
            copy.push_back(Announcement{referenceTo(a.object.get()), a.processId, a.lostAt});
        return copy;
    }

    // Whether a read while the shortcut's key is held since `heldSince` would ask the same
    // objects the same as the last such read for `pid`, which found nothing.
    bool askedInVain(qint64 pid, Clock::time_point heldSince) const {
        return lastVainRead && lastVainRead->pid == pid && lastVainRead->heldSince == heldSince &&
               lastVainRead->announcements == announcements;
    }

    GMainContext* context;
    GMainLoop* loop;
    std::atomic_bool connected = false; // atspi_init has returned
    std::atomic_bool available = false;
    std::atomic_bool stopping = false;
    // Held while the thread logs, so that nothing is logged once the reader has stopped it.
    std::mutex stopMutex;
    // Used on the worker thread only.
    AtspiEventListener* focusListener = nullptr;
    Announcements announced;         // newest first
    std::uint64_t announcements = 0; // how many came
    struct VainRead {
        qint64 pid;
        Clock::time_point heldSince;
        std::uint64_t announcements;
    };
    std::optional<VainRead> lastVainRead;
};

AtspiAccessibilityReader::AtspiAccessibilityReader(int callTimeoutMs, int waitMs)
    : m_worker(std::make_shared<Worker>())
    , m_waitMs(waitMs) {
    m_thread = std::thread([worker = m_worker, callTimeoutMs] { Worker::run(worker, callTimeoutMs); });
}

AtspiAccessibilityReader::~AtspiAccessibilityReader() {
    m_worker->stop();
    // Still connecting to a bus that does not answer: leave the thread to finish by itself
    // rather than keep the program from quitting.
    if (m_worker->connected)
        m_thread.join();
    else
        m_thread.detach();
}

bool AtspiAccessibilityReader::isAvailable() const {
    return m_worker->available;
}

std::optional<FocusedText> AtspiAccessibilityReader::focusedText(std::optional<qint64> pid) {
    return read(pid, std::nullopt);
}

std::optional<FocusedText> AtspiAccessibilityReader::announcedFocusText(qint64 pid,
                                                                        Clock::time_point heldSince) {
    return read(pid, heldSince);
}

std::optional<FocusedText> AtspiAccessibilityReader::read(std::optional<qint64> pid,
                                                          std::optional<Clock::time_point> heldSince) {
    if (!m_worker->available)
        return std::nullopt;
    Worker* worker = m_worker.get();
    auto answer = m_worker->submit([pid, worker, heldSince]() -> std::optional<FocusedText> {
        if (heldSince && worker->askedInVain(*pid, *heldSince))
            return std::nullopt;
        auto read = std::make_shared<Read>(readFocusedText(pid, worker->snapshot(), heldSince));
        if (heldSince && !read->found)
            worker->lastVainRead = Worker::VainRead{*pid, *heldSince, worker->announcements};
        // An application that announced no focus since we listen (GTK 4 under Wayland, where the
        // shortcut takes no focus) would cost the same walk at every read: where the walk found
        // focus stands for an announcement until focus moves. Its process is asked for once the
        // selection is on its way.
        if (read->walkedTo) {
            worker->submit([worker, walked = std::move(read->walkedTo)]() mutable {
                if (const std::optional<qint64> walkedPid = processId(walked.get()))
                    worker->remember(std::move(walked), *walkedPid);
            });
        }
        // The application's name costs calls to an application that may be slow to answer: it
        // is asked once the selection is on its way. Finding nothing where focus was
        // announced is no news: a full read follows.
        if (read->holder && (read->found || !heldSince)) {
            // The role is asked at once, while the element surely exists: a moment later it can
            // be gone (LibreOffice in KWin, now and then) and the log would not say how the text
            // was read.
            worker->submit([read, role = roleName(read->holder.get())] { logRead(*read, role); });
        }
        return read->text;
    });
    if (answer.wait_for(std::chrono::milliseconds(m_waitMs)) != std::future_status::ready) {
        logLine(lcPlatform(), QStringLiteral("AtspiAccessibilityReader"),
                QStringLiteral("no answer from the application within %1 ms").arg(m_waitMs));
        return std::nullopt;
    }
    return answer.get();
}

std::optional<AtspiAccessibilityReader::ActiveApplication> AtspiAccessibilityReader::activeApplication() {
    if (!m_worker->available)
        return std::nullopt;
    auto answer = m_worker->submit([] { return readActiveApplication(); });
    if (answer.wait_for(std::chrono::milliseconds(m_waitMs)) != std::future_status::ready)
        return std::nullopt;
    return answer.get();
}

} // namespace quill
