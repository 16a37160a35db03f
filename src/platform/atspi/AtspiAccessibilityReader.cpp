#include "AtspiAccessibilityReader.h"

#include <QTextBoundaryFinder>
#include <atspi/atspi.h>
#include <future>
#include <thread>
#include <unistd.h>

namespace quill {
namespace {

// Large documents and deep trees are cut off rather than walked for seconds.
constexpr int kMaxWalkedNodes = 4000;
constexpr int kMaxWalkDepth = 64;

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

std::vector<Ref<AtspiAccessible>> children(AtspiAccessible* node) {
    std::vector<Ref<AtspiAccessible>> result;
    Error error;
    const int count = atspi_accessible_get_child_count(node, error.out());
    if (error.failed())
        return result;
    for (int i = 0; i < count; ++i) {
        Ref<AtspiAccessible> child(atspi_accessible_get_child_at_index(node, i, error.out()));
        if (!error.failed() && child)
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

// Qt has no Collection interface: walk the visible part of the tree, depth first.
Ref<AtspiAccessible> focusedByWalk(AtspiAccessible* node, int depth, int& budget) {
    for (auto& child : children(node)) {
        if (--budget < 0)
            return {};
        Ref<AtspiStateSet> states(atspi_accessible_get_state_set(child.get()));
        if (!states || !atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING))
            continue;
        if (atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED))
            return std::move(child);
        if (depth < kMaxWalkDepth) {
            if (auto found = focusedByWalk(child.get(), depth + 1, budget))
                return found;
        }
    }
    return {};
}

Ref<AtspiAccessible> focusedElement(const Application& application) {
    AtspiAccessible* root = application.activeWindow ? application.activeWindow.get() : application.app.get();
    if (auto found = focusedByCollection(root))
        return found;
    int budget = kMaxWalkedNodes;
    return focusedByWalk(root, 0, budget);
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

std::optional<FocusedText> readFocusedText(std::optional<qint64> pid) {
    auto application = findApplication(pid);
    if (!application)
        return std::nullopt;
    Ref<AtspiAccessible> focused = focusedElement(*application);
    if (!focused)
        return std::nullopt;
    FocusedText result;
    Ref<AtspiText> text(atspi_accessible_get_text_iface(focused.get()));
    if (!text)
        return result;
    Error error;
    AtspiRange* selection = atspi_text_get_selection(text.get(), 0, error.out());
    if (error.failed() || !selection)
        return result;
    const int start = std::min(selection->start_offset, selection->end_offset);
    const int end = std::max(selection->start_offset, selection->end_offset);
    g_free(selection);
    if (start < 0)
        return result;
    if (end == start) {
        result.selectedText = QString();
        result.range = TextRange{0, 0};
        return result;
    }
    QString selected = takeString(atspi_text_get_text(text.get(), start, end, error.out()));
    if (!error.failed()) {
        result.selectedText = std::move(selected);
        if (!result.selectedText->isEmpty())
            return result;
    }
    const int count = atspi_text_get_character_count(text.get(), error.out());
    if (error.failed())
        return result;
    QString value = takeString(atspi_text_get_text(text.get(), 0, count, error.out()));
    if (error.failed())
        return result;
    const QString toolkit =
        takeString(atspi_accessible_get_toolkit_name(application->app.get(), error.out()));
    const bool countsUtf16 = toolkit.compare(QLatin1String("Qt"), Qt::CaseInsensitive) == 0;
    const qsizetype from = graphemesBefore(value, utf16Position(value, start, countsUtf16));
    const qsizetype to = graphemesBefore(value, utf16Position(value, end, countsUtf16));
    result.range = TextRange{from, to - from};
    result.value = std::move(value);
    return result;
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
// is iterated only here, so the GUI thread's event loop never touches it.
struct AtspiAccessibilityReader::Worker {
    explicit Worker(int callTimeoutMs)
        : context(g_main_context_new())
        , loop(g_main_loop_new(context, FALSE)) {
        std::promise<bool> started;
        auto ready = started.get_future();
        thread = std::thread([this, callTimeoutMs, &started] {
            g_main_context_push_thread_default(context);
            // Without a bus, any later libatspi call aborts the process.
            const bool ok = atspi_init() == 0;
            if (ok) {
                // atspi_init attaches the bus connection to the default context, which the GUI
                // thread iterates; move it here.
                atspi_set_main_context(context);
                atspi_set_timeout(callTimeoutMs, callTimeoutMs * 4);
            }
            started.set_value(ok);
            g_main_loop_run(loop);
            g_main_context_pop_thread_default(context);
        });
        available = ready.get();
    }
    ~Worker() {
        g_main_context_invoke(
            context,
            [](gpointer data) {
                g_main_loop_quit(static_cast<GMainLoop*>(data));
                return G_SOURCE_REMOVE;
            },
            loop);
        thread.join();
        g_main_loop_unref(loop);
        g_main_context_unref(context);
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

    GMainContext* context;
    GMainLoop* loop;
    std::thread thread;
    bool available = false;
};

AtspiAccessibilityReader::AtspiAccessibilityReader(int callTimeoutMs, int waitMs)
    : m_worker(std::make_unique<Worker>(callTimeoutMs))
    , m_waitMs(waitMs) {}

AtspiAccessibilityReader::~AtspiAccessibilityReader() = default;

std::optional<FocusedText> AtspiAccessibilityReader::focusedText(std::optional<qint64> pid) {
    if (!m_worker->available)
        return std::nullopt;
    auto answer = m_worker->submit([pid] { return readFocusedText(pid); });
    if (answer.wait_for(std::chrono::milliseconds(m_waitMs)) != std::future_status::ready)
        return std::nullopt;
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
