#pragma once

#include "backend/ModelList.h"
#include "platform/SessionProbe.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace quill {

// Everything `quillpoint --diagnose` found, gathered before any of it is judged.
struct DiagnosticsInput {
    SessionFacts session;
    QString display; // $DISPLAY
    QString waylandDisplay;
    // The configured shortcuts, by name ("Explain", ...), in the order of session.x11.grabs.
    QStringList shortcutNames;
    QStringList shortcutKeys;
    QString backendAddress;
    // HTTP status of GET /health; none when nothing answered, with `healthError` saying why.
    std::optional<int> healthStatus;
    QString healthError;
    enum class Token { none, unreadable, present };
    Token token = Token::none;
    // HTTP status of an authenticated request that the backend turns away before doing any work.
    std::optional<int> authStatus;
    // HTTP status of GET /api/models with the device token, and the list a 200 answer held.
    std::optional<int> modelsStatus;
    std::optional<ModelList> models;
    QString secretsFile;
    QString autostartPath;
    bool autostartExists = false;
};

struct DiagnosticsReport {
    QStringList lines;
    bool explainWorks = false;
    bool transcribeWorks = false;
    bool ok() const { return explainWorks && transcribeWorks; }
};

DiagnosticsReport buildDiagnosticsReport(const DiagnosticsInput& input);

// Gathers the facts of this session, prints the report and returns the exit status. Changes
// nothing and returns within about three seconds whatever a peer does.
int runDiagnostics(int& argc, char** argv);

} // namespace quill
