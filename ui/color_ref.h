// Thread: any; plain values, no ownership.
// Colour values in the 0x00BBGGRR form the progress bar and the skin tables use, and their
// conversion to Qt colours.
#pragma once

#include <QColor>
#include <cstdint>

using COLORREF = uint32_t;

// Stored in a colour slot, it means "the system colour for this slot".
inline constexpr COLORREF CLR_DEFAULT = 0xFF000000u;

constexpr COLORREF RGB(int r, int g, int b) {
    return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(COLORREF cr) {
    return static_cast<int>(cr & 0xFF);
}
constexpr int GetGValue(COLORREF cr) {
    return static_cast<int>((cr >> 8) & 0xFF);
}
constexpr int GetBValue(COLORREF cr) {
    return static_cast<int>((cr >> 16) & 0xFF);
}

inline QColor ColorRefToQColor(COLORREF cr) {
    return QColor(GetRValue(cr), GetGValue(cr), GetBValue(cr));
}
inline COLORREF QColorToColorRef(const QColor& color) {
    return RGB(color.red(), color.green(), color.blue());
}
