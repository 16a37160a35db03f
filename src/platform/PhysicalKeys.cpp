#include "PhysicalKeys.h"

#include <array>
#include <utility>

namespace quill {
namespace {

constexpr std::array<std::pair<quint32, Qt::Key>, 71> keys = {{
    {9, Qt::Key_Escape},     {10, Qt::Key_1},           {11, Qt::Key_2},
    {12, Qt::Key_3},         {13, Qt::Key_4},           {14, Qt::Key_5},
    {15, Qt::Key_6},         {16, Qt::Key_7},           {17, Qt::Key_8},
    {18, Qt::Key_9},         {19, Qt::Key_0},           {20, Qt::Key_Minus},
    {21, Qt::Key_Equal},     {22, Qt::Key_Backspace},   {23, Qt::Key_Tab},
    {24, Qt::Key_Q},         {25, Qt::Key_W},           {26, Qt::Key_E},
    {27, Qt::Key_R},         {28, Qt::Key_T},           {29, Qt::Key_Y},
    {30, Qt::Key_U},         {31, Qt::Key_I},           {32, Qt::Key_O},
    {33, Qt::Key_P},         {34, Qt::Key_BracketLeft}, {35, Qt::Key_BracketRight},
    {36, Qt::Key_Return},    {38, Qt::Key_A},           {39, Qt::Key_S},
    {40, Qt::Key_D},         {41, Qt::Key_F},           {42, Qt::Key_G},
    {43, Qt::Key_H},         {44, Qt::Key_J},           {45, Qt::Key_K},
    {46, Qt::Key_L},         {47, Qt::Key_Semicolon},   {48, Qt::Key_Apostrophe},
    {49, Qt::Key_QuoteLeft}, {51, Qt::Key_Backslash},   {52, Qt::Key_Z},
    {53, Qt::Key_X},         {54, Qt::Key_C},           {55, Qt::Key_V},
    {56, Qt::Key_B},         {57, Qt::Key_N},           {58, Qt::Key_M},
    {59, Qt::Key_Comma},     {60, Qt::Key_Period},      {61, Qt::Key_Slash},
    {65, Qt::Key_Space},     {67, Qt::Key_F1},          {68, Qt::Key_F2},
    {69, Qt::Key_F3},        {70, Qt::Key_F4},          {71, Qt::Key_F5},
    {72, Qt::Key_F6},        {73, Qt::Key_F7},          {74, Qt::Key_F8},
    {75, Qt::Key_F9},        {76, Qt::Key_F10},         {95, Qt::Key_F11},
    {96, Qt::Key_F12},       {110, Qt::Key_Home},       {111, Qt::Key_Up},
    {113, Qt::Key_Left},     {114, Qt::Key_Right},      {115, Qt::Key_End},
    {116, Qt::Key_Down},     {119, Qt::Key_Delete},
}};

} // namespace

Qt::Key physicalKeyForScanCode(quint32 scanCode) {
    for (const auto& [code, key] : keys) {
        if (code == scanCode)
            return key;
    }
    return Qt::Key_unknown;
}

quint32 scanCodeForPhysicalKey(Qt::Key key) {
    for (const auto& [code, physical] : keys) {
        if (physical == key)
            return code;
    }
    return 0;
}

} // namespace quill
