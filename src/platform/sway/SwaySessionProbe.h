#pragma once

#include "platform/SessionProbe.h"

namespace quill::sway {

// Asks sway at $SWAYSOCK, on the calling thread, whether its configuration binds `shortcuts`.
SwayFacts probe(const QList<KeyCombination>& shortcuts, int budgetMs);

} // namespace quill::sway
