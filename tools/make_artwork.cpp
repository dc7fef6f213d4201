// Draws the skin's pictures (background, button states, caption boxes, icon) and the resource
// list that embeds them: qb_make_artwork [output folder, default resources/].
// Everything is drawn with QPainter from the layout tables, so the captions land exactly on the
// pixel boxes the window's controls are laid out against. Needs fonts-dejavu-core and -extra.
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <vector>

#include "ui/skin_layout.h"

namespace {

QColor Color(COLORREF cr) {
    return ColorRefToQColor(cr);
}

// Deterministic noise, so that every run draws the same pictures.
class Random {
public:
    explicit Random(uint32_t seed) : m_state(seed) {}
    double Next() {
        m_state = m_state * 1664525u + 1013904223u;
        return double(m_state >> 8) / double(1u << 24);
    }
    double Range(double lo, double hi) { return lo + (hi - lo) * Next(); }

private:
    uint32_t m_state;
};

// Bounding box of the pixels whose alpha is not zero.
QRect InkBox(const QImage& image) {
    int x0 = image.width(), y0 = image.height(), x1 = -1, y1 = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto* pLine = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(pLine[x]) == 0)
                continue;
            x0 = std::min(x0, x);
            x1 = std::max(x1, x);
            y0 = std::min(y0, y);
            y1 = std::max(y1, y);
        }
    }
    return x1 < 0 ? QRect() : QRect(QPoint(x0, y0), QPoint(x1, y1));
}

// Hinted text coverage on a transparent scratch image; the baseline starts at (16, 48), both
// times the picture's scale.
QImage RenderCoverage(const QString& text, const QFont& font, int nScale) {
    QImage image(420 * nScale, 80 * nScale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QPoint(16, 48) * nScale, text);
    return image;
}

bool HasDescender(const QString& text) {
    for (QChar ch : text) {
        if (QStringLiteral("gjpqy").contains(ch))
            return true;
    }
    return false;
}

// Font for a caption: the pixel size whose ascender-to-descender ink fills the line's height,
// then the stretch that makes the text exactly as wide as its box (both in the picture's pixels,
// nScale per layout pixel).
QFont FitCaptionFont(const SkinCaption& caption, bool bLineHasDescender, int nScale) {
    const QString text = QString::fromUtf8(caption.szText);
    const QString probe = bLineHasDescender ? QStringLiteral("lp") : QStringLiteral("l");
    QFont best;
    int nBestError = 1 << 30;
    const QSize box = caption.rcBox.size() * nScale;
    for (int nPixels = 10 * nScale; nPixels <= 18 * nScale; ++nPixels) {
        QFont font(QStringLiteral("DejaVu Sans Condensed"));
        font.setBold(caption.bBold);
        font.setPixelSize(nPixels);
        font.setHintingPreference(QFont::PreferVerticalHinting);
        if (InkBox(RenderCoverage(probe, font, nScale)).height() != box.height())
            continue;
        for (int nStretch = 70; nStretch <= 130; ++nStretch) {
            font.setStretch(nStretch);
            const int nError =
                std::abs(InkBox(RenderCoverage(text, font, nScale)).width() - box.width()) * 1000 +
                std::abs(nStretch - 100);
            if (nError < nBestError) {
                nBestError = nError;
                best = font;
            }
        }
    }
    if (nBestError >= 1000)
        std::fprintf(stderr, "caption \"%s\" misses its box by %d px\n", caption.szText,
                     nBestError / 1000);
    return best;
}

// Copies a caption's coverage onto the black panel so that its ink starts at the box's corner.
void DrawCaption(QImage& canvas, const SkinCaption& caption, bool bLineHasDescender, int nScale) {
    const QFont font = FitCaptionFont(caption, bLineHasDescender, nScale);
    const QImage coverage = RenderCoverage(QString::fromUtf8(caption.szText), font, nScale);
    const QRect ink = InkBox(coverage);
    const QPoint offset = caption.rcBox.topLeft() * nScale - ink.topLeft();
    const QColor color = Color(caption.cr);
    for (int y = ink.top(); y <= ink.bottom(); ++y) {
        for (int x = ink.left(); x <= ink.right(); ++x) {
            const int a = qAlpha(coverage.pixel(x, y));
            if (a == 0)
                continue;
            const QColor under = canvas.pixelColor(x + offset.x(), y + offset.y());
            auto mix = [a](int over, int base) { return (over * a + base * (255 - a)) / 255; };
            canvas.setPixelColor(
                x + offset.x(), y + offset.y(),
                QColor(mix(color.red(), under.red()), mix(color.green(), under.green()),
                       mix(color.blue(), under.blue())));
        }
    }
}

// The caption boxes' glyphs, shared by the background and the 14 x 14 button pictures.
void DrawCloseGlyph(QPainter& painter, const QRect& box, const QColor& color) {
    painter.save();
    painter.setClipRect(box);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, 1.7);
    pen.setCapStyle(Qt::SquareCap);
    painter.setPen(pen);
    const QRectF edges(box.left(), box.top(), box.width(), box.height());
    painter.drawLine(edges.topLeft() + QPointF(0.6, 0.6), edges.bottomRight() - QPointF(0.6, 0.6));
    painter.drawLine(edges.topRight() + QPointF(-0.6, 0.6),
                     edges.bottomLeft() + QPointF(0.6, -0.6));
    painter.restore();
}

void DrawMinimizeGlyph(QPainter& painter, const QRect& box, const QColor& color) {
    painter.fillRect(box, color);
}

// ---- Game artwork --------------------------------------------------------------------------

void DrawSky(QPainter& painter, const QRectF& area) {
    QLinearGradient sky(0, 0, 0, area.height());
    sky.setColorAt(0.0, QColor(3, 6, 16));
    sky.setColorAt(0.35, QColor(9, 22, 44));
    sky.setColorAt(0.62, QColor(22, 52, 78));
    sky.setColorAt(0.72, QColor(48, 86, 106));
    sky.setColorAt(1.0, QColor(10, 18, 28));
    painter.fillRect(area, sky);

    // Aurora: soft ribbons, each a wide stroke fading along its length.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Plus);
    struct Ribbon {
        QPointF a, c1, c2, b;
        QColor color;
        double width;
    };
    const Ribbon ribbons[] = {
        {{-20, 150}, {60, 70}, {150, 170}, {290, 95}, QColor(40, 200, 150, 34), 46},
        {{-10, 130}, {80, 60}, {170, 150}, {290, 80}, QColor(60, 230, 170, 40), 18},
        {{0, 175}, {90, 115}, {190, 185}, {290, 130}, QColor(70, 120, 220, 30), 36},
        {{20, 120}, {110, 100}, {160, 60}, {280, 70}, QColor(150, 90, 210, 18), 28},
    };
    for (const Ribbon& ribbon : ribbons) {
        QPainterPath path(ribbon.a);
        path.cubicTo(ribbon.c1, ribbon.c2, ribbon.b);
        for (int layer = 0; layer < 14; ++layer) {
            QColor color = ribbon.color;
            color.setAlpha(std::max(1, ribbon.color.alpha() * 2 / 7));
            QPen pen(color, ribbon.width * (1.0 - layer * 0.065));
            pen.setCapStyle(Qt::RoundCap);
            painter.setPen(pen);
            painter.drawPath(path);
        }
    }
    painter.restore();

    // Stars, brighter and denser high up.
    Random random(20230814);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 240; ++i) {
        const double x = random.Range(0, area.width());
        const double y = area.height() * 0.62 * std::pow(random.Next(), 1.6);
        const double brightness = random.Range(0.25, 1.0) * (1.0 - y / (area.height() * 0.7));
        const double size = random.Next() < 0.06 ? 1.6 : random.Range(0.5, 1.0);
        painter.setBrush(QColor(220, 232, 255, int(255 * std::max(0.0, brightness))));
        painter.drawEllipse(QPointF(x, y), size, size);
        if (size > 1.5) {  // a few with a small glint
            painter.setPen(QPen(QColor(200, 220, 255, 70), 0.6));
            painter.drawLine(QPointF(x - 3.5, y), QPointF(x + 3.5, y));
            painter.drawLine(QPointF(x, y - 3.5), QPointF(x, y + 3.5));
            painter.setPen(Qt::NoPen);
        }
    }
    painter.restore();

    // The moon with its halo.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF moon(196, 128);
    QRadialGradient halo(moon, 70);
    halo.setColorAt(0.0, QColor(200, 220, 255, 90));
    halo.setColorAt(0.25, QColor(150, 185, 235, 40));
    halo.setColorAt(1.0, QColor(80, 120, 200, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(halo);
    painter.drawEllipse(moon, 70, 70);
    QRadialGradient disc(moon - QPointF(3, 3), 15);
    disc.setColorAt(0.0, QColor(255, 255, 250));
    disc.setColorAt(0.8, QColor(226, 232, 244));
    disc.setColorAt(1.0, QColor(190, 204, 228));
    painter.setBrush(disc);
    painter.drawEllipse(moon, 13, 13);
    painter.setBrush(QColor(170, 184, 210, 70));  // maria
    painter.drawEllipse(moon + QPointF(-4, -2), 4, 3);
    painter.drawEllipse(moon + QPointF(4, 4), 3, 2.5);
    painter.drawEllipse(moon + QPointF(2, -6), 2, 1.5);
    painter.restore();
}

// A mountain range of distinct peaks: the ridge line, jittered between peak and valley.
struct Range {
    QPainterPath body;
    std::vector<QPointF> peaks, valleys;
};

Range MakeRange(Random& random, const std::vector<QPointF>& peaks, double valleyDepth,
                double bottom) {
    Range range;
    range.peaks = peaks;
    std::vector<QPointF> ridge;
    for (size_t i = 0; i < peaks.size(); ++i) {
        ridge.push_back(peaks[i]);
        if (i + 1 == peaks.size())
            break;
        const QPointF& a = peaks[i];
        const QPointF& b = peaks[i + 1];
        const QPointF valley((a.x() + b.x()) / 2 + random.Range(-6, 6),
                             std::max(a.y(), b.y()) + valleyDepth * random.Range(0.6, 1.0));
        range.valleys.push_back(valley);
        // Shoulders between peak and valley, so the slopes are not straight.
        for (const auto& [from, to] : {std::pair{a, valley}, std::pair{valley, b}}) {
            for (double t : {0.33, 0.66}) {
                const QPointF point = from + (to - from) * t;
                ridge.push_back(point + QPointF(random.Range(-2, 2), random.Range(-3, 3)));
            }
            if (from == a)
                ridge.push_back(valley);
        }
    }
    range.body.moveTo(ridge.front().x(), bottom);
    for (const QPointF& point : ridge)
        range.body.lineTo(point);
    range.body.lineTo(ridge.back().x(), bottom);
    range.body.closeSubpath();
    return range;
}

void DrawMountains(QPainter& painter, double width) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    Random random(7);

    // Far range: snow-covered peaks lit by the moon from the right.
    const Range far = MakeRange(random,
                                {{-14, 208},
                                 {30, 172},
                                 {76, 148},
                                 {122, 180},
                                 {162, 164},
                                 {208, 190},
                                 {250, 176},
                                 {292, 206}},
                                20, 300);
    QLinearGradient farFill(0, 150, 0, 250);
    farFill.setColorAt(0.0, QColor(196, 214, 234));
    farFill.setColorAt(0.3, QColor(120, 148, 176));
    farFill.setColorAt(0.7, QColor(52, 72, 94));
    farFill.setColorAt(1.0, QColor(24, 36, 50));
    painter.setBrush(farFill);
    painter.drawPath(far.body);

    // Shadowed faces: the slope left of each peak turns away from the moon.
    painter.save();
    painter.setClipPath(far.body, Qt::IntersectClip);
    for (size_t i = 0; i < far.peaks.size(); ++i) {
        const QPointF peak = far.peaks[i];
        const QPointF left = i > 0 ? far.valleys[i - 1] : peak + QPointF(-40, 40);
        QPainterPath face;
        face.moveTo(peak);
        face.lineTo(left + QPointF(-2, 0));
        face.lineTo(left + QPointF(10, 70));
        face.lineTo(peak + QPointF(6, 90));
        face.closeSubpath();
        QLinearGradient shade(0, peak.y(), 0, peak.y() + 80);
        shade.setColorAt(0.0, QColor(20, 34, 60, 130));
        shade.setColorAt(1.0, QColor(20, 34, 60, 0));
        painter.setBrush(shade);
        painter.drawPath(face);
        // A crisp ridge line catching the light on the right flank.
        const QPointF right = i < far.valleys.size() ? far.valleys[i] : peak + QPointF(40, 40);
        QLinearGradient rim(peak, peak + (right - peak) * 0.5);
        rim.setColorAt(0.0, QColor(240, 246, 255, 200));
        rim.setColorAt(1.0, QColor(240, 246, 255, 0));
        painter.setPen(QPen(QBrush(rim), 1.2));
        painter.drawLine(peak, peak + (right - peak) * 0.5);
        painter.setPen(Qt::NoPen);
    }
    painter.restore();

    // Valley haze between the ranges.
    QLinearGradient haze(0, 200, 0, 262);
    haze.setColorAt(0.0, QColor(120, 160, 190, 0));
    haze.setColorAt(1.0, QColor(120, 160, 190, 90));
    painter.fillRect(QRectF(0, 200, width, 62), haze);

    // Near range: dark, forested shoulders.
    const Range near = MakeRange(
        random, {{-20, 252}, {30, 226}, {70, 246}, {104, 232}, {140, 258}, {250, 246}, {290, 236}},
        16, 320);
    QLinearGradient nearFill(0, 220, 0, 290);
    nearFill.setColorAt(0.0, QColor(60, 82, 104));
    nearFill.setColorAt(0.3, QColor(26, 40, 56));
    nearFill.setColorAt(1.0, QColor(10, 16, 24));
    painter.setBrush(nearFill);
    painter.drawPath(near.body);

    // Pines along the near ridge.
    Random pines(11);
    painter.setBrush(QColor(8, 14, 22));
    for (int i = 0; i < 34; ++i) {
        const double x = pines.Range(-5, width);
        const QPointF base(x, 0);
        // The ridge height at x: walk the path's polygon.
        double y = 320;
        const QPolygonF outline = near.body.toFillPolygon();
        for (int k = 1; k < outline.size(); ++k) {
            const QPointF a = outline[k - 1], b = outline[k];
            if ((a.x() <= x && x < b.x()) && a.y() < 319 && b.y() < 319)
                y = a.y() + (b.y() - a.y()) * (x - a.x()) / (b.x() - a.x());
        }
        const double h = pines.Range(7, 14);
        const double w = h * 0.32;
        QPainterPath pine;
        pine.moveTo(x, y - h);
        pine.lineTo(x + w, y + 2);
        pine.lineTo(x - w, y + 2);
        pine.closeSubpath();
        painter.drawPath(pine);
    }
    painter.restore();
}

void DrawCastle(QPainter& painter) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QColor stone(12, 18, 28);

    // The crag it stands on.
    QPainterPath crag;
    crag.moveTo(92, 300);
    crag.cubicTo(118, 268, 128, 250, 150, 236);
    crag.lineTo(214, 232);
    crag.cubicTo(232, 246, 246, 270, 268, 292);
    crag.lineTo(268, 320);
    crag.lineTo(92, 320);
    crag.closeSubpath();
    QLinearGradient cragFill(0, 230, 0, 310);
    cragFill.setColorAt(0.0, QColor(40, 56, 74));
    cragFill.setColorAt(0.25, QColor(18, 26, 38));
    cragFill.setColorAt(1.0, QColor(8, 12, 18));
    painter.setBrush(cragFill);
    painter.drawPath(crag);

    // Keep, towers and walls.
    QPainterPath castle;
    castle.addRect(150, 206, 64, 30);  // curtain wall
    castle.addRect(168, 176, 28, 34);  // keep
    castle.addRect(152, 190, 12, 20);  // west tower
    castle.addRect(202, 186, 12, 24);  // east tower
    castle.addRect(176, 150, 12, 30);  // spire tower
    for (int x = 150; x < 214; x += 6)
        castle.addRect(x, 202, 3, 4);  // battlements
    for (int x = 168; x < 196; x += 5)
        castle.addRect(x, 172, 3, 4);
    QPainterPath roofs;
    roofs.moveTo(150, 190);
    roofs.lineTo(158, 176);
    roofs.lineTo(166, 190);
    roofs.closeSubpath();
    roofs.moveTo(200, 186);
    roofs.lineTo(208, 170);
    roofs.lineTo(216, 186);
    roofs.closeSubpath();
    roofs.moveTo(174, 150);
    roofs.lineTo(182, 124);
    roofs.lineTo(190, 150);
    roofs.closeSubpath();
    painter.setBrush(stone);
    painter.drawPath(castle);
    painter.drawPath(roofs);

    // Moonlit edges on the roofs.
    painter.setPen(QPen(QColor(120, 150, 185, 150), 0.8));
    painter.drawLine(QPointF(182, 124.5), QPointF(189.5, 150));
    painter.drawLine(QPointF(208, 170.5), QPointF(215.5, 186));
    painter.drawLine(QPointF(158, 176.5), QPointF(165.5, 190));
    painter.setPen(Qt::NoPen);

    // Lit windows with a warm glow.
    const QPointF windows[] = {{182, 158}, {182, 166}, {174, 186}, {190, 186}, {158, 198},
                               {208, 196}, {182, 196}, {166, 220}, {198, 222}};
    for (const QPointF& window : windows) {
        QRadialGradient glow(window, 7);
        glow.setColorAt(0.0, QColor(255, 150, 60, 110));
        glow.setColorAt(1.0, QColor(255, 96, 8, 0));
        painter.setBrush(glow);
        painter.drawEllipse(window, 7, 7);
        painter.setBrush(QColor(255, 196, 110));
        painter.drawRect(QRectF(window.x() - 1, window.y() - 1.6, 2, 3.2));
    }
    painter.restore();
}

void DrawMoor(QPainter& painter, double width) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    // Mist drifting over the valley.
    Random random(99);
    for (int i = 0; i < 9; ++i) {
        const QPointF centre(random.Range(0, width), random.Range(250, 300));
        QRadialGradient mist(centre, 1);
        mist.setColorAt(0.0, QColor(170, 200, 225, 44));
        mist.setColorAt(1.0, QColor(170, 200, 225, 0));
        painter.save();
        painter.translate(centre);
        painter.scale(random.Range(60, 110), random.Range(8, 14));
        mist.setCenter(0, 0);
        mist.setFocalPoint(0, 0);
        painter.setBrush(mist);
        painter.drawEllipse(QPointF(0, 0), 1, 1);
        painter.restore();
    }

    // Rolling snow-covered moor in front.
    QPainterPath hills;
    hills.moveTo(-10, 380);
    hills.lineTo(-10, 300);
    hills.cubicTo(40, 286, 80, 296, 120, 304);
    hills.cubicTo(170, 314, 220, 296, 280, 306);
    hills.lineTo(280, 380);
    hills.closeSubpath();
    QLinearGradient hillFill(0, 290, 0, 380);
    hillFill.setColorAt(0.0, QColor(104, 130, 156));
    hillFill.setColorAt(0.12, QColor(46, 62, 80));
    hillFill.setColorAt(0.6, QColor(14, 20, 28));
    hillFill.setColorAt(1.0, QColor(4, 6, 10));
    painter.setBrush(hillFill);
    painter.drawPath(hills);

    // A lone path of standing stones leading toward the keep.
    const QRectF stones[] = {{40, 314, 4, 11}, {58, 311, 3, 8}, {74, 309, 3, 6}, {87, 307, 2, 5}};
    painter.setBrush(QColor(8, 12, 18));
    for (const QRectF& stone : stones)
        painter.drawRoundedRect(stone, 1, 1);

    // Snowfall.
    Random flakes(314);
    for (int i = 0; i < 140; ++i) {
        const QPointF flake(flakes.Range(0, width), flakes.Range(0, 380));
        const double size = flakes.Range(0.4, 1.3);
        painter.setBrush(QColor(230, 240, 255, int(flakes.Range(40, 150))));
        painter.drawEllipse(flake, size, size);
    }
    painter.restore();
}

// The game's logo: the name in carved, frost-lit capitals with a crest and a tag line.
void DrawGameLogo(QPainter& painter) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    // Crest: an eight-pointed frost star above the name.
    const QPointF centre(134, 24);
    QPainterPath star;
    for (int i = 0; i < 16; ++i) {
        const double angle = M_PI / 8 * i - M_PI / 2;
        const double radius = (i % 2 == 0) ? (i % 4 == 0 ? 13.0 : 8.0) : 3.2;
        const QPointF point = centre + QPointF(std::cos(angle), std::sin(angle)) * radius;
        if (i == 0)
            star.moveTo(point);
        else
            star.lineTo(point);
    }
    star.closeSubpath();
    QRadialGradient starGlow(centre, 22);
    starGlow.setColorAt(0.0, QColor(255, 140, 60, 120));
    starGlow.setColorAt(1.0, QColor(255, 96, 8, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(starGlow);
    painter.drawEllipse(centre, 22, 22);
    QLinearGradient starFill(centre.x(), centre.y() - 13, centre.x(), centre.y() + 13);
    starFill.setColorAt(0.0, QColor(255, 226, 170));
    starFill.setColorAt(0.5, QColor(255, 140, 40));
    starFill.setColorAt(1.0, QColor(200, 70, 0));
    painter.setPen(QPen(QColor(60, 20, 0), 0.8));
    painter.setBrush(starFill);
    painter.drawPath(star);

    // The name.
    QFont font(QStringLiteral("DejaVu Serif Condensed"));
    font.setBold(true);
    font.setPixelSize(34);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    QPainterPath name;
    name.addText(0, 0, font, QStringLiteral("TALVERMOOR"));
    const QRectF bounds = name.boundingRect();
    const double scale = 232.0 / bounds.width();
    QTransform fit;
    fit.translate(134 - bounds.center().x() * scale, 70 - bounds.bottom() * scale);
    fit.scale(scale, scale);
    name = fit.map(name);

    for (int i = 6; i >= 1; --i) {  // cold outer glow
        painter.setPen(
            QPen(QColor(90, 160, 230, 14), i * 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(name);
    }
    painter.setPen(QPen(QColor(4, 10, 22), 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(name);
    const QRectF nameBounds = name.boundingRect();
    QLinearGradient fill(0, nameBounds.top(), 0, nameBounds.bottom());
    fill.setColorAt(0.0, QColor(255, 255, 255));
    fill.setColorAt(0.45, QColor(212, 230, 248));
    fill.setColorAt(0.55, QColor(150, 186, 222));
    fill.setColorAt(1.0, QColor(88, 130, 178));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawPath(name);

    // Ornament and tag line under the name.
    const double y = nameBounds.bottom() + 8;
    QLinearGradient rule(20, 0, 248, 0);
    rule.setColorAt(0.0, QColor(255, 96, 8, 0));
    rule.setColorAt(0.5, QColor(255, 120, 30, 220));
    rule.setColorAt(1.0, QColor(255, 96, 8, 0));
    painter.fillRect(QRectF(20, y, 228, 1), rule);
    QPainterPath diamond;
    diamond.moveTo(134, y - 3.5);
    diamond.lineTo(137.5, y + 0.5);
    diamond.lineTo(134, y + 4.5);
    diamond.lineTo(130.5, y + 0.5);
    diamond.closeSubpath();
    painter.setBrush(QColor(255, 150, 60));
    painter.drawPath(diamond);

    QFont tagFont(QStringLiteral("DejaVu Sans"));
    tagFont.setPixelSize(9);
    tagFont.setLetterSpacing(QFont::AbsoluteSpacing, 2.2);
    painter.setFont(tagFont);
    painter.setPen(QColor(168, 196, 224));
    painter.drawText(QRectF(0, y + 6, 268, 14), Qt::AlignHCenter | Qt::AlignTop,
                     QStringLiteral("REALM OF THE LONG WINTER"));
    painter.restore();
}

// The maker's logo: a ring holding a still mere, and the studio's name.
void DrawMakerLogo(QPainter& painter) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(30, 352);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 150));
    painter.drawEllipse(centre, 15, 15);
    QConicalGradient ring(centre, 90);
    ring.setColorAt(0.0, QColor(255, 150, 60));
    ring.setColorAt(0.5, QColor(200, 60, 0));
    ring.setColorAt(1.0, QColor(255, 150, 60));
    painter.setPen(QPen(QBrush(ring), 2.4));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, 12, 12);

    painter.save();
    QPainterPath inner;
    inner.addEllipse(centre, 9.6, 9.6);
    painter.setClipPath(inner, Qt::IntersectClip);
    painter.fillRect(QRectF(centre.x() - 10, centre.y() - 10, 20, 10), QColor(24, 34, 48));
    painter.fillRect(QRectF(centre.x() - 10, centre.y(), 20, 10), QColor(10, 14, 20));
    painter.setPen(QPen(QColor(240, 240, 240), 1.3, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {  // ripples on the water
        const double y = centre.y() + 1.5 + i * 3.0;
        const double half = 6.5 - i * 1.5;
        QPainterPath wave;
        wave.moveTo(centre.x() - half, y);
        wave.cubicTo(centre.x() - half / 2, y - 1.6, centre.x() + half / 2, y + 1.6,
                     centre.x() + half, y);
        painter.drawPath(wave);
    }
    painter.setPen(Qt::NoPen);  // a hill reflected in the mere
    QPainterPath hill;
    hill.moveTo(centre.x() - 10, centre.y());
    hill.cubicTo(centre.x() - 4, centre.y() - 8, centre.x() + 2, centre.y() - 8, centre.x() + 10,
                 centre.y());
    hill.closeSubpath();
    painter.setBrush(QColor(255, 110, 20));
    painter.drawPath(hill);
    painter.restore();

    QFont nameFont(QStringLiteral("DejaVu Sans"));
    nameFont.setBold(true);
    nameFont.setPixelSize(12);
    nameFont.setLetterSpacing(QFont::AbsoluteSpacing, 1.4);
    painter.setFont(nameFont);
    painter.setPen(QColor(236, 236, 236));
    painter.drawText(QPointF(52, 351), QStringLiteral("HOLLOWMERE"));
    QFont worksFont(QStringLiteral("DejaVu Sans"));
    worksFont.setPixelSize(8);
    worksFont.setLetterSpacing(QFont::AbsoluteSpacing, 4.2);
    painter.setFont(worksFont);
    painter.setPen(Color(SKIN_ORANGE));
    painter.drawText(QPointF(53, 364), QStringLiteral("WORKS"));
    painter.restore();
}

// The art column fades into the black panel, and darkens under the logos for legibility.
void DrawShading(QPainter& painter) {
    QLinearGradient toPanel(SKIN_PANEL_LEFT - 70, 0, SKIN_PANEL_LEFT, 0);
    toPanel.setColorAt(0.0, QColor(0, 0, 0, 0));
    toPanel.setColorAt(0.7, QColor(0, 0, 0, 170));
    toPanel.setColorAt(1.0, QColor(0, 0, 0, 255));
    painter.fillRect(QRect(SKIN_PANEL_LEFT - 70, 0, 70, SKIN_WINDOW_HEIGHT), toPanel);

    QLinearGradient top(0, 0, 0, 110);
    top.setColorAt(0.0, QColor(0, 0, 0, 120));
    top.setColorAt(1.0, QColor(0, 0, 0, 0));
    painter.fillRect(QRect(0, 0, SKIN_PANEL_LEFT, 110), top);

    QLinearGradient bottom(0, 318, 0, SKIN_WINDOW_HEIGHT);
    bottom.setColorAt(0.0, QColor(0, 0, 0, 0));
    bottom.setColorAt(1.0, QColor(0, 0, 0, 200));
    painter.fillRect(QRect(0, 318, SKIN_PANEL_LEFT, SKIN_WINDOW_HEIGHT - 318), bottom);
}

// Every picture is drawn in layout pixels; nScale device pixels make one (1, or 2 for the @2x
// pictures), so the lines and boxes of the panel stay whole pixels at either scale.
QImage MakeBackground(int nScale) {
    QImage image(SKIN_WINDOW_WIDTH * nScale, SKIN_WINDOW_HEIGHT * nScale, QImage::Format_RGB32);
    image.fill(Color(SKIN_PANEL_COLOR));
    {
        QPainter painter(&image);
        painter.scale(nScale, nScale);
        painter.setClipRect(0, 0, SKIN_PANEL_LEFT, SKIN_WINDOW_HEIGHT);
        const double width = SKIN_PANEL_LEFT;
        DrawSky(painter, QRectF(0, 0, width, SKIN_WINDOW_HEIGHT));
        DrawMountains(painter, width);
        DrawCastle(painter);
        DrawMoor(painter, width);
        DrawShading(painter);
        DrawGameLogo(painter);
        DrawMakerLogo(painter);
    }
    {
        // The panel: boxes, separator and glyphs in exact colours, no smoothing.
        QPainter painter(&image);
        painter.scale(nScale, nScale);
        for (const QRect& box : SKIN_BOXES) {
            const QColor color = Color(SKIN_BOX_COLOR);
            painter.fillRect(QRect(box.left(), box.top(), box.width(), 1), color);
            painter.fillRect(QRect(box.left(), box.bottom(), box.width(), 1), color);
            painter.fillRect(QRect(box.left(), box.top(), 1, box.height()), color);
            painter.fillRect(QRect(box.right(), box.top(), 1, box.height()), color);
        }
        painter.fillRect(SKIN_SEPARATOR, Color(SKIN_SEPARATOR_COLOR));
        DrawMinimizeGlyph(painter, SKIN_MINIMIZE_GLYPH, Color(SKIN_GLYPH_COLOR));
        DrawCloseGlyph(painter, SKIN_CLOSE_GLYPH, Color(SKIN_GLYPH_COLOR));
    }
    for (const SkinCaption& caption : SKIN_CAPTIONS) {
        bool bLineHasDescender = false;
        for (const SkinCaption& other : SKIN_CAPTIONS) {
            if (other.rcBox.top() == caption.rcBox.top() &&
                other.rcBox.bottom() == caption.rcBox.bottom())
                bLineHasDescender |= HasDescender(QString::fromUtf8(other.szText));
        }
        DrawCaption(image, caption, bLineHasDescender, nScale);
    }
    return image;
}

// ---- Buttons -------------------------------------------------------------------------------

enum class ButtonStyle { Orange, Grey };
enum class ButtonState { Normal, Disabled, Focused, Hover };

QImage MakeButton(QSize size, ButtonStyle style, ButtonState state, const QString& lettering,
                  int nScale) {
    QImage image(size * nScale, QImage::Format_RGB32);
    image.fill(Color(SKIN_PANEL_COLOR));  // the corners show the panel
    QPainter painter(&image);
    painter.scale(nScale, nScale);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF body = QRectF(0.5, 0.5, size.width() - 1, size.height() - 1);
    const double radius = 3.5;

    QColor top, middle, bottom, border, text, shadow;
    const bool bOrange = style == ButtonStyle::Orange;
    switch (state) {
        case ButtonState::Disabled:
            top = QColor(44, 44, 46);
            middle = QColor(33, 33, 35);
            bottom = QColor(26, 26, 28);
            border = QColor(58, 58, 60);
            text = QColor(92, 92, 94);
            shadow = QColor(10, 10, 10);
            break;
        case ButtonState::Hover:
            top = bOrange ? QColor(255, 176, 102) : QColor(150, 150, 154);
            middle = bOrange ? QColor(255, 122, 36) : QColor(104, 104, 108);
            bottom = bOrange ? QColor(238, 88, 4) : QColor(76, 76, 80);
            border = bOrange ? QColor(255, 200, 150) : QColor(190, 190, 194);
            text = QColor(255, 255, 255);
            shadow = bOrange ? QColor(140, 40, 0) : QColor(30, 30, 32);
            break;
        case ButtonState::Normal:
        case ButtonState::Focused:
            top = bOrange ? QColor(255, 140, 60) : QColor(112, 112, 116);
            middle = bOrange ? QColor(240, 96, 12) : QColor(78, 78, 82);
            bottom = bOrange ? QColor(196, 66, 0) : QColor(52, 52, 56);
            border = bOrange ? QColor(120, 38, 0) : QColor(20, 20, 22);
            text = bOrange ? QColor(255, 255, 255) : QColor(232, 232, 234);
            shadow = bOrange ? QColor(120, 36, 0) : QColor(22, 22, 24);
            break;
    }

    QLinearGradient fill(0, 0, 0, size.height());
    fill.setColorAt(0.0, top);
    fill.setColorAt(0.48, middle);
    fill.setColorAt(0.52, middle.darker(106));
    fill.setColorAt(1.0, bottom);
    painter.setPen(QPen(border, 1.0));
    painter.setBrush(fill);
    painter.drawRoundedRect(body, radius, radius);

    if (state != ButtonState::Disabled) {
        // Gloss on the upper half and a lit top edge.
        QLinearGradient gloss(0, 1, 0, size.height() / 2.0);
        gloss.setColorAt(0.0, QColor(255, 255, 255, state == ButtonState::Hover ? 90 : 64));
        gloss.setColorAt(1.0, QColor(255, 255, 255, 8));
        painter.setPen(Qt::NoPen);
        painter.setBrush(gloss);
        painter.drawRoundedRect(QRectF(1.5, 1.5, size.width() - 3, size.height() / 2.0 - 1),
                                radius - 1, radius - 1);
        painter.setPen(QPen(QColor(255, 255, 255, 70), 1.0));
        painter.drawLine(QPointF(radius + 1, 1.5), QPointF(size.width() - radius - 1, 1.5));
    }
    if (state == ButtonState::Focused) {
        // The keyboard focus: a bright inner ring.
        painter.setPen(QPen(bOrange ? QColor(255, 236, 210) : QColor(255, 150, 70), 1.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(body.adjusted(1.5, 1.5, -1.5, -1.5), radius - 1.5, radius - 1.5);
    }
    if (state == ButtonState::Hover) {
        // An outer glow gives the lit look shared by hover and press.
        painter.setPen(QPen(bOrange ? QColor(255, 230, 200, 120) : QColor(255, 255, 255, 60), 1.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(body.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(size.height() >= 27 ? 12 : 11);
    font.setHintingPreference(QFont::PreferVerticalHinting);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int nTextWidth = metrics.horizontalAdvance(lettering);
    // Centre the capital height rather than the line box, so the lettering looks centred.
    const int nBaseline = (size.height() + metrics.capHeight()) / 2;
    const int x = (size.width() - nTextWidth) / 2;
    if (state != ButtonState::Disabled) {
        painter.setPen(shadow);
        painter.drawText(QPoint(x, nBaseline + 1), lettering);
    }
    painter.setPen(text);
    painter.drawText(QPoint(x, nBaseline), lettering);
    return image;
}

QImage MakeCaptionBox(bool bClose, bool bLit, int nScale) {
    QImage image(14 * nScale, 14 * nScale, QImage::Format_RGB32);
    image.fill(Color(SKIN_PANEL_COLOR));
    QPainter painter(&image);
    painter.scale(nScale, nScale);
    if (bLit) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(bClose ? Color(SKIN_ORANGE) : QColor(78, 78, 82));
        painter.drawRoundedRect(QRectF(0, 0, 14, 14), 2.5, 2.5);
        painter.setRenderHint(QPainter::Antialiasing, false);
    }
    const QColor glyph = bLit ? QColor(255, 255, 255) : Color(SKIN_GLYPH_COLOR);
    // The same glyph boxes as on the background, relative to the buttons' corners.
    if (bClose)
        DrawCloseGlyph(painter, SKIN_CLOSE_GLYPH.translated(-613, -9), glyph);
    else
        DrawMinimizeGlyph(painter, SKIN_MINIMIZE_GLYPH.translated(-588, -9), glyph);
    return image;
}

// The program's icon: the frost star over a download arrow on a dark tile; drawn for
// SKIN_ICON_SIZE and scaled as a drawing to nSize pixels.
QImage MakeIcon(int nSize = SKIN_ICON_SIZE) {
    const int n = SKIN_ICON_SIZE;
    QImage image(nSize, nSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.scale(double(nSize) / n, double(nSize) / n);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF tile(4, 4, n - 8, n - 8);
    QLinearGradient back(0, 0, 0, n);
    back.setColorAt(0.0, QColor(22, 44, 72));
    back.setColorAt(1.0, QColor(6, 10, 18));
    painter.setPen(QPen(QColor(255, 120, 30), 3));
    painter.setBrush(back);
    painter.drawRoundedRect(tile, 22, 22);

    const QPointF centre(n / 2.0, n * 0.40);
    QPainterPath star;
    for (int i = 0; i < 16; ++i) {
        const double angle = M_PI / 8 * i - M_PI / 2;
        const double radius = (i % 2 == 0) ? (i % 4 == 0 ? 36.0 : 22.0) : 9.0;
        const QPointF point = centre + QPointF(std::cos(angle), std::sin(angle)) * radius;
        if (i == 0)
            star.moveTo(point);
        else
            star.lineTo(point);
    }
    star.closeSubpath();
    QLinearGradient starFill(0, centre.y() - 36, 0, centre.y() + 36);
    starFill.setColorAt(0.0, QColor(255, 255, 255));
    starFill.setColorAt(1.0, QColor(140, 180, 225));
    painter.setPen(QPen(QColor(4, 10, 22), 2));
    painter.setBrush(starFill);
    painter.drawPath(star);

    QPainterPath arrow;
    const double cx = n / 2.0, top = n * 0.62;
    arrow.moveTo(cx - 9, top);
    arrow.lineTo(cx + 9, top);
    arrow.lineTo(cx + 9, top + 14);
    arrow.lineTo(cx + 20, top + 14);
    arrow.lineTo(cx, top + 34);
    arrow.lineTo(cx - 20, top + 14);
    arrow.lineTo(cx - 9, top + 14);
    arrow.closeSubpath();
    QLinearGradient arrowFill(0, top, 0, top + 34);
    arrowFill.setColorAt(0.0, QColor(255, 160, 80));
    arrowFill.setColorAt(1.0, QColor(230, 80, 0));
    painter.setPen(QPen(QColor(90, 30, 0), 2));
    painter.setBrush(arrowFill);
    painter.drawPath(arrow);
    return image;
}

// "bmp_131_background.png" at scale 2 is "bmp_131_background@2x.png".
QString HighDpiFileName(const char* szFile, int nScale) {
    QString name = QString::fromUtf8(szFile);
    if (nScale > 1)
        name.insert(name.lastIndexOf(u'.'), QStringLiteral("@%1x").arg(nScale));
    return name;
}

bool Save(const QImage& image, const QDir& dir, const char* szFile) {
    const QString path = dir.filePath(QString::fromUtf8(szFile));
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1])
                            : QStringLiteral(QB_DEFAULT_RESOURCES_DIR));
    if (!dir.exists()) {
        std::fprintf(stderr, "no folder %s\n", qPrintable(dir.path()));
        return 1;
    }

    struct ButtonArt {
        unsigned nNormal, nDisabled, nFocused, nHover;
        ButtonStyle style;
        const char* szLettering;
        QSize size;
    };
    const ButtonArt buttons[] = {
        {IDB_CANCEL, IDB_CANCEL_DISABLED, IDB_CANCEL_FOCUS, IDB_CANCEL_HOVER, ButtonStyle::Grey,
         "Cancel", QSize(77, 27)},
        {IDB_BROWSE, IDB_BROWSE_DISABLED, IDB_BROWSE_FOCUS, IDB_BROWSE_HOVER, ButtonStyle::Grey,
         "Browse..", QSize(67, 23)},
        {IDB_LAUNCH, IDB_LAUNCH_DISABLED, IDB_LAUNCH_FOCUS, IDB_LAUNCH_HOVER, ButtonStyle::Orange,
         "Launch", QSize(77, 27)},
        {IDB_START, IDB_START_DISABLED, IDB_START_FOCUS, IDB_START_HOVER, ButtonStyle::Orange,
         "Start", QSize(77, 27)},
        {IDB_PAUSE, IDB_PAUSE_DISABLED, IDB_PAUSE_FOCUS, IDB_PAUSE_HOVER, ButtonStyle::Grey,
         "Pause", QSize(77, 27)},
    };

    bool bOk = true;
    for (const int nScale : {1, SKIN_HIGH_DPI_RATIO}) {
        std::vector<std::pair<unsigned, QImage>> pictures;
        pictures.emplace_back(IDB_BACKGROUND, MakeBackground(nScale));
        pictures.emplace_back(IDB_CLOSE_BOX, MakeCaptionBox(true, false, nScale));
        pictures.emplace_back(IDB_CLOSE_BOX_HOVER, MakeCaptionBox(true, true, nScale));
        pictures.emplace_back(IDB_MINIMIZE_BOX, MakeCaptionBox(false, false, nScale));
        pictures.emplace_back(IDB_MINIMIZE_BOX_HOVER, MakeCaptionBox(false, true, nScale));
        for (const ButtonArt& art : buttons) {
            const QString lettering = QString::fromUtf8(art.szLettering);
            const std::pair<unsigned, ButtonState> states[] = {
                {art.nNormal, ButtonState::Normal},
                {art.nDisabled, ButtonState::Disabled},
                {art.nFocused, ButtonState::Focused},
                {art.nHover, ButtonState::Hover}};
            for (const auto& [nId, state] : states)
                pictures.emplace_back(nId,
                                      MakeButton(art.size, art.style, state, lettering, nScale));
        }

        for (const auto& [nId, image] : pictures) {
            const SkinBitmap* pEntry = nullptr;
            for (const SkinBitmap& entry : SKIN_BITMAPS) {
                if (entry.nId == nId)
                    pEntry = &entry;
            }
            if (pEntry == nullptr ||
                image.size() != QSize(pEntry->nWidth, pEntry->nHeight) * nScale) {
                std::fprintf(stderr, "picture %u does not match the bitmap table\n", nId);
                return 1;
            }
            bOk = Save(image, dir, qPrintable(HighDpiFileName(pEntry->szFile, nScale))) && bOk;
        }
    }
    bOk = Save(MakeIcon(), dir, SKIN_ICON_FILE) && bOk;

    // The desktop's icon theme: the same drawing at each size it asks for, and a large one.
    for (const int nSize : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
        const QString folder = QStringLiteral("icons/hicolor/%1x%1/apps").arg(nSize);
        if (!dir.mkpath(folder)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(dir.filePath(folder)));
            return 1;
        }
        bOk = Save(MakeIcon(nSize), dir,
                   qPrintable(folder + QStringLiteral("/%1.png").arg(QB_APP_ID))) &&
              bOk;
    }

    // The resource list: bitmaps and the icon by id.
    QFile qrc(dir.filePath(QStringLiteral("skin.qrc")));
    if (!qrc.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(qrc.fileName()));
        return 1;
    }
    QTextStream out(&qrc);
    out << "<!DOCTYPE RCC>\n<!-- Written by qb_make_artwork. -->\n<RCC version=\"1.0\">\n"
        << "    <qresource prefix=\"/bitmaps\">\n";
    for (const SkinBitmap& entry : SKIN_BITMAPS) {
        out << "        <file alias=\"" << entry.nId << ".png\">" << entry.szFile << "</file>\n";
        out << "        <file alias=\"" << entry.nId << "@" << SKIN_HIGH_DPI_RATIO << "x.png\">"
            << HighDpiFileName(entry.szFile, SKIN_HIGH_DPI_RATIO) << "</file>\n";
    }
    out << "    </qresource>\n    <qresource prefix=\"/icons\">\n"
        << "        <file alias=\"" << IDI_MAIN << ".png\">" << SKIN_ICON_FILE << "</file>\n"
        << "    </qresource>\n</RCC>\n";
    return bOk ? 0 : 1;
}
