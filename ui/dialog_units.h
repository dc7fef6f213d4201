// Dialog units to pixels for the dialogs' fixed layouts, at base units of 7 x 14 pixels
// (1.75 pixels per unit both ways), rounded to nearest as MulDiv does. Thread: any.
#pragma once

#include <QRect>

constexpr int MulDiv(int number, int numerator, int denominator) {
    // Halves round away from zero.
    const long long product = static_cast<long long>(number) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

constexpr int DluToPixelsX(int x) {
    return MulDiv(x, 7, 4);
}
constexpr int DluToPixelsY(int y) {
    return MulDiv(y, 14, 8);
}

constexpr QRect DluRect(int x, int y, int width, int height) {
    return QRect(DluToPixelsX(x), DluToPixelsY(y), DluToPixelsX(width), DluToPixelsY(height));
}

constexpr QSize DluSize(int width, int height) {
    return QSize(DluToPixelsX(width), DluToPixelsY(height));
}
