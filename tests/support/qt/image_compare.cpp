#include "support/qt/image_compare.h"

#include <algorithm>
#include <cstdlib>

int MaxChannelDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return -1;
    }
    // Premultiplied on both sides: a colour hidden by a zero alpha cannot count as different.
    const QImage left = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage right = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int worst = 0;
    for (int y = 0; y < left.height(); ++y) {
        const auto* p = reinterpret_cast<const QRgb*>(left.constScanLine(y));
        const auto* q = reinterpret_cast<const QRgb*>(right.constScanLine(y));
        for (int x = 0; x < left.width(); ++x) {
            worst = std::max(
                {worst, std::abs(qAlpha(p[x]) - qAlpha(q[x])), std::abs(qRed(p[x]) - qRed(q[x])),
                 std::abs(qGreen(p[x]) - qGreen(q[x])), std::abs(qBlue(p[x]) - qBlue(q[x]))});
        }
    }
    return worst;
}
