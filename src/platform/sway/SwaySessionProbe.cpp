#include "SwaySessionProbe.h"

#include "SwayConfigBindings.h"
#include "SwayIpcConnection.h"

#include <algorithm>

namespace quill::sway {

SwayFacts probe(const QList<KeyCombination>& shortcuts, int budgetMs) {
    SwayFacts facts;
    SwayIpcConnection ipc(qEnvironmentVariable("SWAYSOCK"));
    const QJsonDocument reply = ipc.sendAndWait(SwayIpcConnection::getConfig, {}, budgetMs);
    facts.ipc = !reply.isNull();
    if (facts.ipc) {
        const auto bound = boundCombinations(reply.object().value(QStringLiteral("config")).toString());
        for (const auto& shortcut : shortcuts) {
            const bool taken = std::find(bound.begin(), bound.end(), shortcut) != bound.end();
            facts.bindings.append(
                {shortcut, taken ? KeyGrabber::GrabResult::taken : KeyGrabber::GrabResult::grabbed});
        }
    }
    facts.answered = true;
    return facts;
}

} // namespace quill::sway
