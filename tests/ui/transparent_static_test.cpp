// Transparent label: background piece under the text, immediate repaint, no mouse input.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>

#include "support/qt/qt_application.h"
#include "ui/transparent_static.h"

namespace {

// A picture where every pixel differs from its neighbours, so a misplaced piece shows.
QImage Picture(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(x % 256, 40 + y * 3, 90));
    return image;
}

const QRect kLabelRect(30, 12, 160, 14);

class TransparentStaticTest : public ::testing::Test {
protected:
    // Members may be widgets: the application must exist before the fixture is built.
    static void SetUpTestSuite() { EnsureQtApplication(); }
    void SetUp() override {
        EnsureQtApplication();
        m_picture = Picture(QSize(240, 60));
        m_parent.resize(240, 60);
        m_pLabel = new CTransparentStatic(&m_parent);
        m_pLabel->setGeometry(kLabelRect);
        m_pLabel->SetBackgroundPicture(m_picture);
    }

    QImage Render(QImage canvas) {
        QPainter painter(&canvas);
        m_pLabel->Draw(&painter, m_pLabel->rect());
        return canvas;
    }

    QImage m_picture;
    QWidget m_parent;
    CTransparentStatic* m_pLabel = nullptr;
};

TEST_F(TransparentStaticTest, ShorterTextLeavesNoPixelOfTheLongerOne) {
    m_pLabel->SetWindowText("1,234,567,890 Bytes of data");
    QImage canvas(kLabelRect.size(), QImage::Format_RGB32);
    canvas.fill(Qt::black);
    canvas = Render(canvas);
    const QImage piece = m_picture.copy(kLabelRect);
    ASSERT_NE(canvas, piece);  // the long text is there

    m_pLabel->SetWindowText("0 B");
    canvas = Render(canvas);  // painted over the old picture, as on screen
    const int nShortWidth = QFontMetrics(m_pLabel->font()).horizontalAdvance(QStringLiteral("0 B"));
    int nTextPixels = 0;
    for (int y = 0; y < kLabelRect.height(); ++y) {
        for (int x = 0; x < kLabelRect.width(); ++x) {
            if (x > nShortWidth + 1)
                ASSERT_EQ(canvas.pixel(x, y), piece.pixel(x, y)) << x << "," << y;
            else
                nTextPixels += canvas.pixel(x, y) != piece.pixel(x, y);
        }
    }
    EXPECT_GT(nTextPixels, 10);
}

TEST_F(TransparentStaticTest, TextSetBeforeTheFirstPaintShowsTheBackgroundUnderIt) {
    m_pLabel->SetWindowText("00:00:00");
    QImage canvas(kLabelRect.size(), QImage::Format_RGB32);
    canvas.fill(QColor(255, 0, 255));
    canvas = Render(canvas);
    const QImage piece = m_picture.copy(kLabelRect);
    const QColor label = ColorRefToQColor(CTransparentStatic::TEXT_COLOR);
    int nNearLabel = 0;
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            const QColor c = canvas.pixelColor(x, y);
            ASSERT_NE(c, QColor(255, 0, 255)) << x << "," << y;
            // Every pixel is the picture's, or a blend of it with the label colour.
            const QColor p = piece.pixelColor(x, y);
            for (auto [v, lo, hi] : {std::tuple{c.red(), p.red(), label.red()},
                                     std::tuple{c.green(), p.green(), label.green()},
                                     std::tuple{c.blue(), p.blue(), label.blue()}}) {
                EXPECT_GE(v, std::min(lo, hi) - 1);
                EXPECT_LE(v, std::max(lo, hi) + 1);
            }
            nNearLabel += std::abs(c.red() - label.red()) + std::abs(c.green() - label.green()) +
                              std::abs(c.blue() - label.blue()) <
                          30;
        }
    }
    EXPECT_GT(nNearLabel, 5);
}

TEST_F(TransparentStaticTest, WithoutASourceTheLabelTakesWhatItsParentPaints) {
    class PictureWidget : public QWidget {
    public:
        QImage m_picture;

    protected:
        void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, m_picture); }
    };
    PictureWidget parent;
    parent.m_picture = Picture(QSize(240, 60));
    parent.resize(240, 60);
    auto* pLabel = new CTransparentStatic(&parent);
    pLabel->setGeometry(kLabelRect);
    pLabel->SetWindowText("");
    const QImage grabbed = parent.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(grabbed.copy(kLabelRect), parent.m_picture.copy(kLabelRect));
}

class CountingLabel : public CTransparentStatic {
public:
    using CTransparentStatic::CTransparentStatic;
    int m_nPaints = 0;

protected:
    void paintEvent(QPaintEvent* pEvent) override {
        ++m_nPaints;
        CTransparentStatic::paintEvent(pEvent);
    }
};

TEST_F(TransparentStaticTest, EachTextChangeRepaintsAtOnce) {
    auto* pFirst = new CountingLabel(&m_parent);
    auto* pSecond = new CountingLabel(&m_parent);
    pFirst->setGeometry(0, 30, 80, 14);
    pSecond->setGeometry(100, 30, 80, 14);
    pFirst->SetBackgroundPicture(m_picture);
    pSecond->SetBackgroundPicture(m_picture);
    m_parent.show();
    QApplication::processEvents();
    pFirst->m_nPaints = pSecond->m_nPaints = 0;
    pFirst->SetWindowText("12 KB");
    pSecond->SetWindowText("34 KB");
    EXPECT_EQ(pFirst->m_nPaints, 1);  // before any return to the event loop
    EXPECT_EQ(pSecond->m_nPaints, 1);
    EXPECT_EQ(pFirst->GetWindowText(), "12 KB");
}

TEST_F(TransparentStaticTest, PressesPassThroughToTheWindow) {
    m_parent.show();
    EXPECT_EQ(m_parent.childAt(kLabelRect.center()), nullptr);
}

TEST_F(TransparentStaticTest, AmpersandsAreShownAsTheyAre) {
    m_pLabel->SetWindowText("&&&&&&");
    QImage canvas(kLabelRect.size(), QImage::Format_RGB32);
    canvas = Render(canvas);
    const QImage piece = m_picture.copy(kLabelRect);
    int nRightmost = -1;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (canvas.pixel(x, y) != piece.pixel(x, y))
                nRightmost = std::max(nRightmost, x);
    const QFontMetrics metrics(m_pLabel->font());
    EXPECT_GT(nRightmost, metrics.horizontalAdvance(QStringLiteral("&&&&&")));
}

TEST_F(TransparentStaticTest, LinesBreakAtSpacesOnly) {
    auto* pName = new CTransparentStatic(&m_parent);
    pName->setGeometry(0, 0, 120, 40);
    pName->SetBackgroundPicture(m_picture);
    const QImage piece = m_picture.copy(QRect(0, 0, 120, 40));
    const int nLine = QFontMetrics(pName->font()).lineSpacing();
    // Ink per line: {rightmost column on line 1, any ink on line 2}.
    auto lines = [&]() {
        QImage canvas(120, 40, QImage::Format_RGB32);
        QPainter painter(&canvas);
        pName->Draw(&painter, pName->rect());
        painter.end();
        int nRight = -1;
        bool bSecond = false;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 120; ++x) {
                if (canvas.pixel(x, y) == piece.pixel(x, y))
                    continue;
                if (y < nLine)
                    nRight = std::max(nRight, x);
                if (y >= nLine && y < 2 * nLine)
                    bSecond = true;
            }
        return std::pair{nRight, bSecond};
    };
    // A long file name stays on its line, cut at the edge, not broken after a slash.
    pName->SetWindowText("data/textures/terrain_winter_03.pak");
    auto [nRight, bSecond] = lines();
    EXPECT_GT(nRight, 110);
    EXPECT_FALSE(bSecond);
    // Words that do not fit go on to the next line.
    pName->SetWindowText("Downloading terrain");
    std::tie(nRight, bSecond) = lines();
    EXPECT_LT(nRight, 110);
    EXPECT_TRUE(bSecond);
}

TEST_F(TransparentStaticTest, EndEllipsisKeepsALongPathOnOneLine) {
    auto* pPath = new CTransparentStatic(&m_parent, SS_ENDELLIPSIS);
    pPath->setGeometry(10, 10, 120, 30);
    pPath->SetBackgroundPicture(m_picture);
    pPath->SetWindowText("/home/player/Games/HOLLOWMERE WORKS/Talvermoor/client/data");
    QImage canvas(120, 30, QImage::Format_RGB32);
    QPainter painter(&canvas);
    pPath->Draw(&painter, pPath->rect());
    painter.end();
    const QImage piece = m_picture.copy(QRect(10, 10, 120, 30));
    const int nLine = QFontMetrics(pPath->font()).height();
    for (int y = nLine + 1; y < 30; ++y)
        for (int x = 0; x < 120; ++x)
            ASSERT_EQ(canvas.pixel(x, y), piece.pixel(x, y));
}

TEST_F(TransparentStaticTest, AOneLineValueTooWideForItsBoxStaysWholeOnItsLine) {
    // The required-storage box is 58 x 18: room for one line of a size text.
    auto* pSize = new CTransparentStatic(&m_parent);
    pSize->setGeometry(0, 0, 58, 18);
    pSize->SetBackgroundPicture(m_picture);
    const QImage piece = m_picture.copy(QRect(0, 0, 58, 18));
    const int nLine = QFontMetrics(pSize->font()).lineSpacing();
    for (const char* szText : {"1024.00 MB", "1023 Bytes", "9.50 GB"}) {
        SCOPED_TRACE(szText);
        pSize->SetWindowText(szText);
        QImage canvas(58, 18, QImage::Format_RGB32);
        QPainter painter(&canvas);
        pSize->Draw(&painter, pSize->rect());
        painter.end();
        int nRight = -1;
        bool bBelow = false;
        for (int y = 0; y < 18; ++y)
            for (int x = 0; x < 58; ++x)
                if (canvas.pixel(x, y) != piece.pixel(x, y)) {
                    nRight = std::max(nRight, x);
                    bBelow = bBelow || y >= nLine;
                }
        // The unit is drawn beside the number, not pushed onto a hidden second line.
        EXPECT_FALSE(bBelow);
        EXPECT_GT(nRight, 40);
    }
}

}  // namespace
