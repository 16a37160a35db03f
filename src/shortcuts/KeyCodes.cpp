#include "KeyCodes.h"

#include <array>

namespace quill {
namespace {

struct Row {
    uint32_t keyCode;
    Qt::Key qtKey;
    const char* name; // nullptr: the key has no name and renders as "?"
};

// Letters, digits, function keys and the named special keys, then keys that can be grabbed
// and recorded but have no name of their own.
constexpr std::array<Row, 71> rows = {{
    {0, Qt::Key_A, "A"},
    {1, Qt::Key_S, "S"},
    {2, Qt::Key_D, "D"},
    {3, Qt::Key_F, "F"},
    {4, Qt::Key_H, "H"},
    {5, Qt::Key_G, "G"},
    {6, Qt::Key_Z, "Z"},
    {7, Qt::Key_X, "X"},
    {8, Qt::Key_C, "C"},
    {9, Qt::Key_V, "V"},
    {11, Qt::Key_B, "B"},
    {12, Qt::Key_Q, "Q"},
    {13, Qt::Key_W, "W"},
    {14, Qt::Key_E, "E"},
    {15, Qt::Key_R, "R"},
    {16, Qt::Key_Y, "Y"},
    {17, Qt::Key_T, "T"},
    {31, Qt::Key_O, "O"},
    {32, Qt::Key_U, "U"},
    {34, Qt::Key_I, "I"},
    {35, Qt::Key_P, "P"},
    {37, Qt::Key_L, "L"},
    {38, Qt::Key_J, "J"},
    {40, Qt::Key_K, "K"},
    {45, Qt::Key_N, "N"},
    {46, Qt::Key_M, "M"},
    {18, Qt::Key_1, "1"},
    {19, Qt::Key_2, "2"},
    {20, Qt::Key_3, "3"},
    {21, Qt::Key_4, "4"},
    {23, Qt::Key_5, "5"},
    {22, Qt::Key_6, "6"},
    {26, Qt::Key_7, "7"},
    {28, Qt::Key_8, "8"},
    {25, Qt::Key_9, "9"},
    {29, Qt::Key_0, "0"},
    {122, Qt::Key_F1, "F1"},
    {120, Qt::Key_F2, "F2"},
    {99, Qt::Key_F3, "F3"},
    {118, Qt::Key_F4, "F4"},
    {96, Qt::Key_F5, "F5"},
    {97, Qt::Key_F6, "F6"},
    {98, Qt::Key_F7, "F7"},
    {100, Qt::Key_F8, "F8"},
    {101, Qt::Key_F9, "F9"},
    {109, Qt::Key_F10, "F10"},
    {103, Qt::Key_F11, "F11"},
    {111, Qt::Key_F12, "F12"},
    {36, Qt::Key_Return, "Return"},
    {48, Qt::Key_Tab, "Tab"},
    {49, Qt::Key_Space, "Space"},
    {51, Qt::Key_Backspace, "Backspace"},
    {53, Qt::Key_Escape, "Esc"},
    {117, Qt::Key_Delete, "Delete"},
    {123, Qt::Key_Left, "Left"},
    {124, Qt::Key_Right, "Right"},
    {125, Qt::Key_Down, "Down"},
    {126, Qt::Key_Up, "Up"},
    {24, Qt::Key_Equal, nullptr},
    {27, Qt::Key_Minus, nullptr},
    {30, Qt::Key_BracketRight, nullptr},
    {33, Qt::Key_BracketLeft, nullptr},
    {39, Qt::Key_Apostrophe, nullptr},
    {41, Qt::Key_Semicolon, nullptr},
    {42, Qt::Key_Backslash, nullptr},
    {43, Qt::Key_Comma, nullptr},
    {44, Qt::Key_Slash, nullptr},
    {47, Qt::Key_Period, nullptr},
    {50, Qt::Key_QuoteLeft, nullptr},
    {115, Qt::Key_Home, nullptr},
    {119, Qt::Key_End, nullptr},
}};

const Row* findRow(uint32_t keyCode) {
    for (const Row& row : rows) {
        if (row.keyCode == keyCode)
            return &row;
    }
    return nullptr;
}

} // namespace

std::optional<KeyCodeInfo> keyCodeInfo(uint32_t keyCode) {
    const Row* row = findRow(keyCode);
    if (!row)
        return std::nullopt;
    return KeyCodeInfo{row->keyCode, row->qtKey};
}

std::optional<uint32_t> keyCodeForQtKey(int qtKey) {
    // Shifted punctuation arrives as the character it types; record the key underneath.
    static constexpr std::array<std::pair<int, int>, 11> shifted = {{
        {Qt::Key_Plus, Qt::Key_Equal},
        {Qt::Key_Underscore, Qt::Key_Minus},
        {Qt::Key_BraceRight, Qt::Key_BracketRight},
        {Qt::Key_BraceLeft, Qt::Key_BracketLeft},
        {Qt::Key_QuoteDbl, Qt::Key_Apostrophe},
        {Qt::Key_Colon, Qt::Key_Semicolon},
        {Qt::Key_Bar, Qt::Key_Backslash},
        {Qt::Key_Less, Qt::Key_Comma},
        {Qt::Key_Question, Qt::Key_Slash},
        {Qt::Key_Greater, Qt::Key_Period},
        {Qt::Key_AsciiTilde, Qt::Key_QuoteLeft},
    }};
    static constexpr std::array<std::pair<int, int>, 10> shiftedDigits = {{
        {Qt::Key_Exclam, Qt::Key_1},
        {Qt::Key_At, Qt::Key_2},
        {Qt::Key_NumberSign, Qt::Key_3},
        {Qt::Key_Dollar, Qt::Key_4},
        {Qt::Key_Percent, Qt::Key_5},
        {Qt::Key_AsciiCircum, Qt::Key_6},
        {Qt::Key_Ampersand, Qt::Key_7},
        {Qt::Key_Asterisk, Qt::Key_8},
        {Qt::Key_ParenLeft, Qt::Key_9},
        {Qt::Key_ParenRight, Qt::Key_0},
    }};
    if (qtKey == Qt::Key_Backtab)
        qtKey = Qt::Key_Tab;
    if (qtKey == Qt::Key_Enter)
        qtKey = Qt::Key_Return;
    for (const auto& [from, to] : shifted) {
        if (qtKey == from)
            qtKey = to;
    }
    for (const auto& [from, to] : shiftedDigits) {
        if (qtKey == from)
            qtKey = to;
    }
    for (const Row& row : rows) {
        if (row.qtKey == qtKey)
            return row.keyCode;
    }
    return std::nullopt;
}

QString keyName(uint32_t keyCode) {
    const Row* row = findRow(keyCode);
    if (!row || !row->name)
        return QStringLiteral("?");
    return QString::fromLatin1(row->name);
}

QString displayString(const Shortcut& shortcut, const QString& keyLabel) {
    QString text;
    if (shortcut.modifiers & modifier::ctrl)
        text += QStringLiteral("Ctrl+");
    if (shortcut.modifiers & modifier::alt)
        text += QStringLiteral("Alt+");
    if (shortcut.modifiers & modifier::shift)
        text += QStringLiteral("Shift+");
    if (shortcut.modifiers & modifier::super)
        text += QStringLiteral("Super+");
    return text + (keyLabel.isEmpty() ? keyName(shortcut.keyCode) : keyLabel);
}

Qt::KeyboardModifiers qtModifiers(uint32_t modifiers) {
    Qt::KeyboardModifiers result;
    if (modifiers & modifier::ctrl)
        result |= Qt::ControlModifier;
    if (modifiers & modifier::shift)
        result |= Qt::ShiftModifier;
    if (modifiers & modifier::alt)
        result |= Qt::AltModifier;
    if (modifiers & modifier::super)
        result |= Qt::MetaModifier;
    return result;
}

uint32_t modifiersFromQt(Qt::KeyboardModifiers modifiers) {
    uint32_t result = 0;
    if (modifiers & Qt::ControlModifier)
        result |= modifier::ctrl;
    if (modifiers & Qt::ShiftModifier)
        result |= modifier::shift;
    if (modifiers & Qt::AltModifier)
        result |= modifier::alt;
    if (modifiers & Qt::MetaModifier)
        result |= modifier::super;
    return result;
}

QKeySequence keySequence(const Shortcut& shortcut) {
    const auto info = keyCodeInfo(shortcut.keyCode);
    if (!info)
        return {};
    return QKeySequence(QKeyCombination(qtModifiers(shortcut.modifiers), info->qtKey));
}

} // namespace quill
