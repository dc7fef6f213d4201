// The embedded artwork: every picture at its size, the background's captions, boxes and lines at
// their pixel boxes and colours, and button pictures that look their state.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QDir>
#include <set>

#include "support/qt/qt_application.h"
#include "ui/skin_layout.h"

namespace {

bool IsBlack(QRgb rgb) {
    return (rgb & 0xFFFFFFu) == 0;
}

// Non-black pixels of the background inside an area.
QRect Ink(const QImage& image, const QRect& area) {
    QRect ink;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (!IsBlack(image.pixel(x, y)))
                ink |= QRect(x, y, 1, 1);
    return ink;
}

double Luminance(const QImage& image) {
    double sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += qGray(image.pixel(x, y));
    return sum / (image.width() * image.height());
}

class SkinArtworkTest : public ::testing::Test {
protected:
    // Members may be widgets: the application must exist before the fixture is built.
    static void SetUpTestSuite() { EnsureQtApplication(); }
    void SetUp() override {
        EnsureQtApplication();
        m_background = LoadBitmapResource(IDB_BACKGROUND).convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(m_background.isNull());
    }
    QImage m_background;
};

TEST_F(SkinArtworkTest, EveryPictureIsEmbeddedAtItsSizeWithoutTheKeyColour) {
    for (const SkinBitmap& entry : SKIN_BITMAPS) {
        const QImage image = LoadBitmapResource(entry.nId);
        ASSERT_FALSE(image.isNull()) << entry.nId;
        EXPECT_EQ(image.size(), QSize(entry.nWidth, entry.nHeight)) << entry.nId;
        EXPECT_FALSE(image.hasAlphaChannel()) << entry.nId;
        if (entry.nId == IDB_BACKGROUND)
            continue;
        const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < rgb.height(); ++y)
            for (int x = 0; x < rgb.width(); ++x)
                ASSERT_NE(rgb.pixel(x, y) & 0xFFFFFFu, 0xFF00FFu) << entry.nId;
    }
    EXPECT_EQ(LoadIconResource(IDI_MAIN).size(), QSize(SKIN_ICON_SIZE, SKIN_ICON_SIZE));
    EXPECT_TRUE(LoadBitmapResource(9999).isNull());
}

TEST_F(SkinArtworkTest, EveryButtonsPicturesMatchItsSize) {
    for (const SkinButton& button : SKIN_BUTTONS) {
        const SkinControl* pControl = FindSkinControl(button.nId);
        ASSERT_NE(pControl, nullptr);
        for (unsigned nId :
             {button.nNormal, button.nSelected, button.nFocused, button.nDisabled, button.nHover}) {
            if (nId != 0) {
                EXPECT_EQ(LoadBitmapResource(nId).size(), pControl->rc.size()) << nId;
            }
        }
    }
}

TEST_F(SkinArtworkTest, CaptionsFillTheirPixelBoxesInTheirColours) {
    for (const SkinCaption& caption : SKIN_CAPTIONS) {
        SCOPED_TRACE(caption.szText);
        const QRect ink = Ink(m_background, caption.rcBox.adjusted(-4, -4, 4, 4));
        EXPECT_EQ(ink.left(), caption.rcBox.left());
        EXPECT_EQ(ink.right(), caption.rcBox.right());
        EXPECT_EQ(ink.top(), caption.rcBox.top());
        EXPECT_LE(ink.bottom(), caption.rcBox.bottom());
        // Strokes are the caption colour, their edges blend it with the black beneath.
        const QColor colour = ColorRefToQColor(caption.cr);
        int nBrightest = 0;
        for (int y = ink.top(); y <= ink.bottom(); ++y) {
            for (int x = ink.left(); x <= ink.right(); ++x) {
                const QColor c = m_background.pixelColor(x, y);
                ASSERT_LE(c.red(), colour.red());
                ASSERT_LE(c.green(), colour.green());
                ASSERT_LE(c.blue(), colour.blue());
                nBrightest = std::max(nBrightest, c.red());
            }
        }
        EXPECT_GE(nBrightest, colour.red() * 9 / 10);
    }
    // Texts sharing a line fill its height together, descenders included.
    for (const SkinCaption& caption : SKIN_CAPTIONS) {
        int nBottom = -1;
        for (const SkinCaption& other : SKIN_CAPTIONS) {
            if (other.rcBox.top() == caption.rcBox.top())
                nBottom = std::max(nBottom,
                                   Ink(m_background, other.rcBox.adjusted(-4, -4, 4, 4)).bottom());
        }
        EXPECT_EQ(nBottom, caption.rcBox.bottom()) << caption.szText;
    }
}

TEST_F(SkinArtworkTest, BoxesSeparatorAndGlyphsAreExact) {
    const QColor box = ColorRefToQColor(SKIN_BOX_COLOR);
    for (const QRect& rc : SKIN_BOXES) {
        for (int x = rc.left(); x <= rc.right(); ++x) {
            EXPECT_EQ(m_background.pixelColor(x, rc.top()), box);
            EXPECT_EQ(m_background.pixelColor(x, rc.bottom()), box);
        }
        for (int y = rc.top(); y <= rc.bottom(); ++y) {
            EXPECT_EQ(m_background.pixelColor(rc.left(), y), box);
            EXPECT_EQ(m_background.pixelColor(rc.right(), y), box);
        }
        EXPECT_TRUE(Ink(m_background, rc.adjusted(1, 1, -1, -1)).isNull());
    }
    for (int x = SKIN_SEPARATOR.left(); x <= SKIN_SEPARATOR.right(); ++x)
        EXPECT_EQ(m_background.pixelColor(x, SKIN_SEPARATOR.top()),
                  ColorRefToQColor(SKIN_SEPARATOR_COLOR));
    for (int y = SKIN_MINIMIZE_GLYPH.top(); y <= SKIN_MINIMIZE_GLYPH.bottom(); ++y)
        for (int x = SKIN_MINIMIZE_GLYPH.left(); x <= SKIN_MINIMIZE_GLYPH.right(); ++x)
            EXPECT_EQ(m_background.pixelColor(x, y), ColorRefToQColor(SKIN_GLYPH_COLOR));
    EXPECT_EQ(Ink(m_background, SKIN_MINIMIZE_GLYPH.adjusted(-3, -3, 3, 3)), SKIN_MINIMIZE_GLYPH);
    EXPECT_EQ(Ink(m_background, SKIN_CLOSE_GLYPH.adjusted(-3, -3, 3, 3)), SKIN_CLOSE_GLYPH);
}

TEST_F(SkinArtworkTest, PanelIsBlackAroundItsCaptionsAndBoxes) {
    std::vector<QRect> drawn(SKIN_BOXES.begin(), SKIN_BOXES.end());
    for (const SkinCaption& caption : SKIN_CAPTIONS)
        drawn.push_back(caption.rcBox);
    drawn.push_back(SKIN_SEPARATOR);
    drawn.push_back(SKIN_MINIMIZE_GLYPH);
    drawn.push_back(SKIN_CLOSE_GLYPH);
    for (int y = 0; y < SKIN_WINDOW_HEIGHT; ++y) {
        for (int x = SKIN_PANEL_LEFT; x < SKIN_WINDOW_WIDTH; ++x) {
            bool bInside = false;
            for (const QRect& rc : drawn)
                bInside |= rc.contains(x, y);
            if (!bInside) {
                ASSERT_TRUE(IsBlack(m_background.pixel(x, y))) << x << "," << y;
            }
        }
    }
}

TEST_F(SkinArtworkTest, ArtworkFillsTheLeftColumn) {
    std::set<QRgb> colours;
    int nBlack = 0;
    for (int y = 0; y < SKIN_WINDOW_HEIGHT; ++y)
        for (int x = 0; x < SKIN_PANEL_LEFT - 60; ++x) {
            colours.insert(m_background.pixel(x, y));
            nBlack += IsBlack(m_background.pixel(x, y));
        }
    EXPECT_GT(colours.size(), 3000u);
    EXPECT_LT(nBlack, (SKIN_PANEL_LEFT - 60) * SKIN_WINDOW_HEIGHT / 50);
}

TEST_F(SkinArtworkTest, CaptionBoxPicturesCarryTheBackgroundsGlyphs) {
    // Normal minimise and close pictures repeat the background beneath the buttons.
    for (int nId : {IDC_MINIMIZE_BOX, IDC_CLOSE_BOX}) {
        const SkinControl* pControl = FindSkinControl(nId);
        const unsigned nPicture = nId == IDC_CLOSE_BOX ? IDB_CLOSE_BOX : IDB_MINIMIZE_BOX;
        EXPECT_EQ(LoadBitmapResource(nPicture).convertToFormat(QImage::Format_RGB32),
                  m_background.copy(pControl->rc))
            << nId;
    }
    EXPECT_GT(Luminance(LoadBitmapResource(IDB_CLOSE_BOX_HOVER)),
              Luminance(LoadBitmapResource(IDB_CLOSE_BOX)));
    EXPECT_GT(Luminance(LoadBitmapResource(IDB_MINIMIZE_BOX_HOVER)),
              Luminance(LoadBitmapResource(IDB_MINIMIZE_BOX)));
}

TEST_F(SkinArtworkTest, ButtonStatesLookDifferentAndKeepTheirStyle) {
    struct Family {
        unsigned nNormal, nDisabled, nFocused, nHover;
        bool bOrange;
    };
    const Family families[] = {
        {IDB_START, IDB_START_DISABLED, IDB_START_FOCUS, IDB_START_HOVER, true},
        {IDB_LAUNCH, IDB_LAUNCH_DISABLED, IDB_LAUNCH_FOCUS, IDB_LAUNCH_HOVER, true},
        {IDB_PAUSE, IDB_PAUSE_DISABLED, IDB_PAUSE_FOCUS, IDB_PAUSE_HOVER, false},
        {IDB_CANCEL, IDB_CANCEL_DISABLED, IDB_CANCEL_FOCUS, IDB_CANCEL_HOVER, false},
        {IDB_BROWSE, IDB_BROWSE_DISABLED, 0, IDB_BROWSE_HOVER, false},
    };
    for (const Family& family : families) {
        SCOPED_TRACE(family.nNormal);
        const QImage normal = LoadBitmapResource(family.nNormal);
        const QImage disabled = LoadBitmapResource(family.nDisabled);
        const QImage hover = LoadBitmapResource(family.nHover);
        EXPECT_NE(normal, hover);
        EXPECT_NE(normal, disabled);
        if (family.nFocused != 0) {
            const QImage focused = LoadBitmapResource(family.nFocused);
            EXPECT_NE(normal, focused);
            EXPECT_NE(hover, focused);
        }
        EXPECT_LT(Luminance(disabled), Luminance(normal) * 0.7);  // a dark button
        EXPECT_GT(Luminance(hover), Luminance(normal));           // lit under the pointer

        // The face colour at the button's middle row, left of the lettering.
        const QColor face = normal.pixelColor(5, normal.height() / 2);
        if (family.bOrange) {
            EXPECT_GT(face.red(), 200);
            EXPECT_GT(face.red() - face.green(), 100);
            EXPECT_LT(face.blue(), 60);
        } else {
            EXPECT_LT(std::abs(face.red() - face.green()), 10);
            EXPECT_LT(std::abs(face.green() - face.blue()), 10);
        }
    }
}

}  // namespace

namespace {

TEST_F(SkinArtworkTest, EveryPictureIsAlsoDrawnAtTwiceTheSizeForHighDpiScreens) {
    for (const SkinBitmap& entry : SKIN_BITMAPS) {
        SCOPED_TRACE(entry.nId);
        const QImage normal = LoadBitmapResource(entry.nId);
        const QImage sharp = LoadBitmapResource(entry.nId, 1.5);
        ASSERT_FALSE(sharp.isNull());
        EXPECT_EQ(sharp.devicePixelRatio(), 2.0);
        EXPECT_EQ(sharp.size(), QSize(entry.nWidth, entry.nHeight) * 2);
        EXPECT_EQ(sharp.deviceIndependentSize().toSize(), normal.size());
        EXPECT_FALSE(sharp.hasAlphaChannel());
        // The same picture: about as bright.
        EXPECT_NEAR(Luminance(sharp), Luminance(normal), 6);
        // Not the 1x picture stretched: some blocks are not one colour (the minimise box is a
        // plain bar on black either way).
        if (entry.nId == IDB_MINIMIZE_BOX)
            continue;
        int nDetailed = 0;
        for (int y = 0; y + 1 < sharp.height(); y += 2)
            for (int x = 0; x + 1 < sharp.width(); x += 2)
                nDetailed += sharp.pixel(x, y) != sharp.pixel(x + 1, y + 1) ? 1 : 0;
        EXPECT_GT(nDetailed, 0);
    }
    // At ratio 1 the 1x picture; the cache hands out the same picture every time.
    EXPECT_EQ(LoadBitmapResource(IDB_START, 1.0).devicePixelRatio(), 1.0);
    EXPECT_EQ(LoadBitmapResource(IDB_START, 2.0).cacheKey(),
              LoadBitmapResource(IDB_START, 2.0).cacheKey());
    // Panel lines stay whole device pixels: the separator is two rows of its exact colour.
    const QImage background =
        LoadBitmapResource(IDB_BACKGROUND, 2.0).convertToFormat(QImage::Format_RGB32);
    const QRgb grey = ColorRefToQColor(SKIN_SEPARATOR_COLOR).rgb();
    for (int x = SKIN_SEPARATOR.left() * 2; x <= SKIN_SEPARATOR.right() * 2 + 1; ++x) {
        ASSERT_EQ(background.pixel(x, SKIN_SEPARATOR.top() * 2), grey) << x;
        ASSERT_EQ(background.pixel(x, SKIN_SEPARATOR.top() * 2 + 1), grey) << x;
        ASSERT_TRUE(IsBlack(background.pixel(x, SKIN_SEPARATOR.top() * 2 - 1))) << x;
        ASSERT_TRUE(IsBlack(background.pixel(x, SKIN_SEPARATOR.top() * 2 + 2))) << x;
    }
}

TEST_F(SkinArtworkTest, DesktopIconIsDrawnAtEverySizeTheThemeAsksFor) {
    const QDir icons(QStringLiteral(QB_RESOURCES_DIR "/icons/hicolor"));
    for (const int nSize : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
        SCOPED_TRACE(nSize);
        const QImage icon(
            icons.filePath(QStringLiteral("%1x%1/apps/" QB_APP_ID ".png").arg(nSize)));
        ASSERT_FALSE(icon.isNull());
        EXPECT_EQ(icon.size(), QSize(nSize, nSize));
        EXPECT_TRUE(icon.hasAlphaChannel());
        // Transparent corners, an opaque middle.
        EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(icon.pixel(nSize / 2, nSize / 2)), 255);
    }
}

}  // namespace
