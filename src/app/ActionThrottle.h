#pragma once

#include "CommandLine.h"

#include <chrono>
#include <map>

namespace quill {

// A burst of the same remote action is one action. A key binding held down, or a script calling
// in a loop, would otherwise start and stop a recording hundreds of times over, each a round
// trip to the sound server on the interface thread. A request that comes within the action's
// window of the previous request for it is dropped, however long the burst goes on; other
// actions pass. Transcribe toggles, so its window is longer: a stop a fraction of a second after
// the start is a key bounce, not a dictation.
class ActionThrottle {
public:
    static constexpr std::chrono::milliseconds window{50};
    static constexpr std::chrono::milliseconds toggleWindow{300};

    // Whether `action`, requested at `now` (a steady clock), is to be performed.
    bool admit(RemoteAction action, std::chrono::milliseconds now);
    // The admitted `action` finished running at `now`. Requests that queued up while it ran
    // (starting a recording can take a while) belong to the same burst.
    void performed(RemoteAction action, std::chrono::milliseconds now) { m_lastRequest[action] = now; }

private:
    std::map<RemoteAction, std::chrono::milliseconds> m_lastRequest;
};

} // namespace quill
