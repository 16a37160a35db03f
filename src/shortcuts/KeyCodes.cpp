#include "KeyCodes.h"

#include <array>

namespace quill {
namespace {

struct Row {
    uint32_t keyCode;
    uint32_t keysym;
    Qt::Key qtKey;
    const char* name; // nullptr: the key has no name and renders as "?"
};

// Letters, digits, function keys and the named special keys, then keys that can be grabbed
// and recorded but have no name of their own.
constexpr std::array<Row, 71> rows = {{
    {0, 0x61, Qt::Key_A, "A"},
    {1, 0x73, Qt::Key_S, "S"},
    {2, 0x64, Qt::Key_D, "D"},
    {3, 0x66, Qt::Key_F, "F"},
    {4, 0x68, Qt::Key_H, "H"},
    {5, 0x67, Qt::Key_G, "G"},
    {6, 0x7a, Qt::Key_Z, "Z"},
    {7, 0x78, Qt::Key_X, "X"},
    {8, 0x63, Qt::Key_C, "C"},
    {9, 0x76, Qt::Key_V, "V"},
    {11, 0x62, Qt::Key_B, "B"},
    {12, 0x71, Qt::Key_Q, "Q"},
    {13, 0x77, Qt::Key_W, "W"},
    {14, 0x65, Qt::Key_E, "E"},
    {15, 0x72, Qt::Key_R, "R"},
    {16, 0x79, Qt::Key_Y, "Y"},
    {17, 0x74, Qt::Key_T, "T"},
    {31, 0x6f, Qt::Key_O, "O"},
    {32, 0x75, Qt::Key_U, "U"},
    {34, 0x69, Qt::Key_I, "I"},
    {35, 0x70, Qt::Key_P, "P"},
    {37, 0x6c, Qt::Key_L, "L"},
    {38, 0x6a, Qt::Key_J, "J"},
    {40, 0x6b, Qt::Key_K, "K"},
    {45, 0x6e, Qt::Key_N, "N"},
    {46, 0x6d, Qt::Key_M, "M"},
    {18, 0x31, Qt::Key_1, "1"},
    {19, 0x32, Qt::Key_2, "2"},
    {20, 0x33, Qt::Key_3, "3"},
    {21, 0x34, Qt::Key_4, "4"},
    {23, 0x35, Qt::Key_5, "5"},
    {22, 0x36, Qt::Key_6, "6"},
    {26, 0x37, Qt::Key_7, "7"},
    {28, 0x38, Qt::Key_8, "8"},
    {25, 0x39, Qt::Key_9, "9"},
    {29, 0x30, Qt::Key_0, "0"},
    {122, 0xffbe, Qt::Key_F1, "F1"},
    {120, 0xffbf, Qt::Key_F2, "F2"},
    {99, 0xffc0, Qt::Key_F3, "F3"},
    {118, 0xffc1, Qt::Key_F4, "F4"},
    {96, 0xffc2, Qt::Key_F5, "F5"},
    {97, 0xffc3, Qt::Key_F6, "F6"},
    {98, 0xffc4, Qt::Key_F7, "F7"},
    {100, 0xffc5, Qt::Key_F8, "F8"},
    {101, 0xffc6, Qt::Key_F9, "F9"},
    {109, 0xffc7, Qt::Key_F10, "F10"},
    {103, 0xffc8, Qt::Key_F11, "F11"},
    {111, 0xffc9, Qt::Key_F12, "F12"},
    {36, 0xff0d, Qt::Key_Return, "Return"},
    {48, 0xff09, Qt::Key_Tab, "Tab"},
    {49, 0x20, Qt::Key_Space, "Space"},
    {51, 0xff08, Qt::Key_Backspace, "Backspace"},
    {53, 0xff1b, Qt::Key_Escape, "Esc"},
    {117, 0xffff, Qt::Key_Delete, "Delete"},
    {123, 0xff51, Qt::Key_Left, "Left"},
    {124, 0xff53, Qt::Key_Right, "Right"},
    {125, 0xff54, Qt::Key_Down, "Down"},
    {126, 0xff52, Qt::Key_Up, "Up"},
    {24, 0x3d, Qt::Key_Equal, nullptr},
    {27, 0x2d, Qt::Key_Minus, nullptr},
    {30, 0x5d, Qt::Key_BracketRight, nullptr},
    {33, 0x5b, Qt::Key_BracketLeft, nullptr},
    {39, 0x27, Qt::Key_Apostrophe, nullptr},
    {41, 0x3b, Qt::Key_Semicolon, nullptr},
    {42, 0x5c, Qt::Key_Backslash, nullptr},
    {43, 0x2c, Qt::Key_Comma, nullptr},
    {44, 0x2f, Qt::Key_Slash, nullptr},
    {47, 0x2e, Qt::Key_Period, nullptr},
    {50, 0x60, Qt::Key_QuoteLeft, nullptr},
    {115, 0xff50, Qt::Key_Home, nullptr},
    {119, 0xff57, Qt::Key_End, nullptr},
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
    return KeyCodeInfo{row->keyCode, row->keysym, row->qtKey};
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

QString displayString(const Shortcut& shortcut) {
    QString text;
    if (shortcut.modifiers & modifier::command)
        text += QStringLiteral("Ctrl+");
    if (shortcut.modifiers & modifier::option)
        text += QStringLiteral("Alt+");
    if (shortcut.modifiers & modifier::shift)
        text += QStringLiteral("Shift+");
    if (shortcut.modifiers & modifier::control)
        text += QStringLiteral("Super+");
    return text + keyName(shortcut.keyCode);
}

Qt::KeyboardModifiers qtModifiers(uint32_t modifiers) {
    Qt::KeyboardModifiers result;
    if (modifiers & modifier::command)
        result |= Qt::ControlModifier;
    if (modifiers & modifier::shift)
        result |= Qt::ShiftModifier;
    if (modifiers & modifier::option)
        result |= Qt::AltModifier;
    if (modifiers & modifier::control)
        result |= Qt::MetaModifier;
    return result;
}

uint32_t modifiersFromQt(Qt::KeyboardModifiers modifiers) {
    uint32_t result = 0;
    if (modifiers & Qt::ControlModifier)
        result |= modifier::command;
    if (modifiers & Qt::ShiftModifier)
        result |= modifier::shift;
    if (modifiers & Qt::AltModifier)
        result |= modifier::option;
    if (modifiers & Qt::MetaModifier)
        result |= modifier::control;
    return result;
}

QKeySequence keySequence(const Shortcut& shortcut) {
    const auto info = keyCodeInfo(shortcut.keyCode);
    if (!info)
        return {};
    return QKeySequence(QKeyCombination(qtModifiers(shortcut.modifiers), info->qtKey));
}

} // namespace quill
