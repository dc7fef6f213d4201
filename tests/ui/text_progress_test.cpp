// Text progress bar: messages' effects and results, and the painted pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "support/qt/image_compare.h"
#include "support/qt/qt_application.h"
#include "ui/skin_layout.h"
#include "ui/text_progress_ctrl.h"

namespace {

const QColor kBar(0, 0, 255), kBk(0, 0, 0), kText(255, 0, 0), kBarText(0, 255, 0);

bool IsReddish(QColor c) {
    return c.red() > 40 && c.green() < 20;
}
bool IsGreenish(QColor c) {
    return c.green() > 40 && c.red() < 20;
}

class TextProgressTest : public ::testing::Test {
protected:
    // Members may be widgets: the application must exist before the fixture is built.
    static void SetUpTestSuite() { EnsureQtApplication(); }
    void SetUp() override {
        EnsureQtApplication();
        // The file bar's size: an interior of 247 x 14.
        m_bar.resize(249, 16);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSize(9);
        m_bar.setFont(font);
        m_bar.SetBarColor(RGB(0, 0, 255));
        m_bar.SetBkColor(RGB(0, 0, 0));
        m_bar.SetTextColor(RGB(255, 0, 0));
        m_bar.SetBarTextColor(RGB(0, 255, 0));
    }

    QImage Render(CTextProgressCtrl& bar) {
        QImage image(bar.size(), QImage::Format_RGB32);
        image.fill(QColor(1, 2, 3));
        QPainter painter(&image);
        bar.Draw(&painter, bar.rect());
        return image;
    }
    QImage Render() { return Render(m_bar); }

    // Where the paint puts the text's top-left corner, horizontally.
    QPoint TextOrigin(const QString& text, int nAlign) {
        const QFontMetrics metrics(m_bar.font());
        const int cx = metrics.horizontalAdvance(text), cy = metrics.height();
        const int left = 1, right = 248, top = 1, bottom = 15;
        int x = left + (right - left - cx) / 2;
        if (nAlign == 0)
            x = left + 2;
        if (nAlign == 2)
            x = right - cx - 3;
        return QPoint(x, top + (bottom - top - cy) / 2);
    }

    // The interior as the paint should leave it: fill up to barEnd, the text in two colours.
    QImage Expected(int barEnd, const QString& text, QPoint origin) {
        QImage image(249, 16, QImage::Format_RGB32);
        image.fill(kBk);
        QPainter painter(&image);
        painter.fillRect(QRect(1, 1, barEnd - 1, 14), kBar);
        painter.setFont(m_bar.font());
        const QFontMetrics metrics(m_bar.font());
        painter.setClipRect(QRect(1, 1, barEnd - 1, 14));
        painter.setPen(kBarText);
        painter.drawText(origin + QPoint(0, metrics.ascent()), text);
        painter.setClipRect(QRect(barEnd, 1, 248 - barEnd, 14));
        painter.setPen(kText);
        painter.drawText(origin + QPoint(0, metrics.ascent()), text);
        return image;
    }

    // Glyph edges are blended on the CPU's vector path, whose rounding may differ by one or
    // two between the buffer the bar paints through and the plain image here.
    static void ExpectSameInterior(const QImage& actual, const QImage& expected) {
        const QRect interior(1, 1, 247, 14);
        EXPECT_LE(MaxChannelDifference(actual.copy(interior), expected.copy(interior)), 2);
    }

    CTextProgressCtrl m_bar;
};

TEST_F(TextProgressTest, StartsWithTheInitialValues) {
    CTextProgressCtrl bar;
    EXPECT_EQ(bar.GetPos(), 0);
    EXPECT_EQ(bar.SetStep(3), 10);
    EXPECT_EQ(bar.SetRange(0, 100), 0x00640000u);
    EXPECT_EQ(bar.SetTextAlign(0), 1);
    EXPECT_TRUE(bar.SetShowPercent(false));
    EXPECT_EQ(bar.GetMarqueeLimit(), 120);
    // Colour setters return what was stored, the default marker included; getters resolve it.
    EXPECT_EQ(bar.SetBarColor(RGB(1, 2, 3)), CLR_DEFAULT);
    EXPECT_EQ(bar.SetBarColor(RGB(4, 5, 6)), RGB(1, 2, 3));
    EXPECT_EQ(bar.SetBkColor(RGB(7, 8, 9)), CLR_DEFAULT);
    EXPECT_EQ(bar.SetTextColor(RGB(7, 8, 9)), CLR_DEFAULT);
    EXPECT_EQ(bar.SetBarTextColor(RGB(7, 8, 9)), CLR_DEFAULT);
    EXPECT_EQ(bar.GetBarColor(), RGB(4, 5, 6));
    CTextProgressCtrl fresh;
    EXPECT_EQ(fresh.GetBarColor(), QColorToColorRef(fresh.palette().color(QPalette::Highlight)));
    EXPECT_EQ(fresh.GetBkColor(), QColorToColorRef(fresh.palette().color(QPalette::Button)));
    EXPECT_EQ(fresh.GetTextColor(), QColorToColorRef(fresh.palette().color(QPalette::WindowText)));
    EXPECT_EQ(fresh.GetBarTextColor(), QColorToColorRef(fresh.palette().color(QPalette::Base)));
}

TEST_F(TextProgressTest, RangeMessagesPackAndReport) {
    EXPECT_EQ(m_bar.SetRange(10, 2000), 0x00640000u);
    EXPECT_EQ(m_bar.SetRange(0, 100), (2000u << 16) | 10u);
    // 32-bit ends are kept whole but reported cut to 16 bits.
    EXPECT_EQ(m_bar.SetRange32(-5, 70000), 0x00640000u);
    PBRANGE range{};
    EXPECT_EQ(m_bar.GetRange(true, &range), -5);
    EXPECT_EQ(range.iLow, -5);
    EXPECT_EQ(range.iHigh, 70000);
    EXPECT_EQ(m_bar.GetRange(false, nullptr), 70000);
    EXPECT_EQ(m_bar.SetRange32(0, 100), (uint32_t(70000 & 0xFFFF) << 16) | 0xFFFBu);
    // The 16-bit message takes its ends as unsigned.
    m_bar.SetRange(-1, 100);
    EXPECT_EQ(m_bar.GetRange(true), 65535);
}

TEST_F(TextProgressTest, PositionIsClampedAndStepItWraps) {
    struct Case {
        int nStart, nSet, nStored;
    };
    for (const Case& c : {Case{0, 150, 100}, Case{0, -5, 0}, Case{3, 42, 42}}) {
        m_bar.SetPos(c.nStart);
        EXPECT_EQ(m_bar.SetPos(c.nSet), c.nStart);
        EXPECT_EQ(m_bar.GetPos(), c.nStored) << c.nSet;
    }
    m_bar.SetPos(50);
    EXPECT_EQ(m_bar.OffsetPos(70), 50);
    EXPECT_EQ(m_bar.GetPos(), 100);

    struct StepCase {
        int nStep, nStart, nAfter;
    };
    for (const StepCase& c : {StepCase{10, 95, 5}, StepCase{-10, 5, 95}, StepCase{10, 50, 60},
                              StepCase{10, 90, 100}, StepCase{250, 0, 100}}) {
        m_bar.SetStep(c.nStep);
        m_bar.SetPos(c.nStart);
        EXPECT_EQ(m_bar.StepIt(), c.nStart);
        EXPECT_EQ(m_bar.GetPos(), c.nAfter) << c.nStep << " from " << c.nStart;
    }

    // In marquee mode the ceiling is the marquee limit.
    m_bar.ModifyStyle(0, PBS_MARQUEE);
    m_bar.SetPos(150);
    EXPECT_EQ(m_bar.GetPos(), 120);
    m_bar.SetMarqueeSize(50);
    EXPECT_EQ(m_bar.GetMarqueeLimit(), 150);
}

TEST_F(TextProgressTest, EmptyPositionShowsBackgroundAndTextInTheTextColour) {
    m_bar.SetPos(0);
    const QImage image = Render();
    ExpectSameInterior(image, Expected(1, QStringLiteral("0%"), TextOrigin("0%", 1)));
    bool bAnyText = false;
    for (int x = 1; x < 248; ++x)
        for (int y = 1; y < 15; ++y) {
            EXPECT_FALSE(IsGreenish(image.pixelColor(x, y)));
            bAnyText |= IsReddish(image.pixelColor(x, y));
        }
    EXPECT_TRUE(bAnyText);
}

TEST_F(TextProgressTest, FullPositionShowsBarAndTextInTheBarTextColour) {
    m_bar.SetPos(100);
    const QImage image = Render();
    ExpectSameInterior(image, Expected(248, QStringLiteral("100%"), TextOrigin("100%", 1)));
    for (int x = 1; x < 248; ++x)
        for (int y = 1; y < 15; ++y)
            EXPECT_FALSE(IsReddish(image.pixelColor(x, y)));
}

TEST_F(TextProgressTest, FortyTwoPercentFillsOneHundredThreeColumns) {
    m_bar.SetPos(42);
    const QImage image = Render();
    ExpectSameInterior(image, Expected(104, QStringLiteral("42%"), TextOrigin("42%", 1)));
    EXPECT_EQ(image.pixelColor(103, 2), kBar);  // column 103 is the 103rd of the interior
    EXPECT_EQ(image.pixelColor(104, 2), kBk);
}

TEST_F(TextProgressTest, LettersChangeColourExactlyAtTheBarsEnd) {
    m_bar.SetShowPercent(false);
    m_bar.SetWindowText("downloading the forty-two percent file");
    m_bar.SetPos(42);
    const QImage image = Render();
    int nGreen = 0, nRed = 0;
    for (int y = 1; y < 15; ++y) {
        for (int x = 1; x < 248; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (x <= 103) {
                EXPECT_FALSE(IsReddish(c)) << x << "," << y;
                nGreen += IsGreenish(c);
            } else {
                EXPECT_FALSE(IsGreenish(c) || c == kBar) << x << "," << y;
                nRed += IsReddish(c);
            }
        }
    }
    EXPECT_GT(nGreen, 20);
    EXPECT_GT(nRed, 20);
    const QString text = QStringLiteral("downloading the forty-two percent file");
    ExpectSameInterior(image, Expected(104, text, TextOrigin(text, 1)));
}

TEST_F(TextProgressTest, AlignmentPutsTheTextTwoOrThreePixelsFromTheEdges) {
    m_bar.SetPos(0);
    for (int nAlign : {0, 1, 2, 7}) {
        m_bar.SetTextAlign(nAlign);
        const QImage image = Render();
        ExpectSameInterior(
            image, Expected(1, QStringLiteral("0%"), TextOrigin("0%", nAlign == 7 ? 1 : nAlign)));
    }
}

TEST_F(TextProgressTest, NoTextWithPercentOffAndEmptyText) {
    m_bar.SetShowPercent(false);
    m_bar.SetPos(30);
    const QImage image = Render();
    const int barEnd = 1 + int(247 * 0.3);
    for (int y = 1; y < 15; ++y)
        for (int x = 1; x < 248; ++x)
            ASSERT_EQ(image.pixelColor(x, y), x < barEnd ? kBar : kBk);
}

TEST_F(TextProgressTest, EdgeRingTakesTheFaceColour) {
    QPalette palette = m_bar.palette();
    palette.setColor(QPalette::Button, QColor(83, 83, 83));
    m_bar.setPalette(palette);
    const QImage image = Render();
    for (int x = 0; x < 249; ++x) {
        EXPECT_EQ(image.pixelColor(x, 0), QColor(83, 83, 83));
        EXPECT_EQ(image.pixelColor(x, 15), QColor(83, 83, 83));
    }
    for (int y = 0; y < 16; ++y) {
        EXPECT_EQ(image.pixelColor(0, y), QColor(83, 83, 83));
        EXPECT_EQ(image.pixelColor(248, y), QColor(83, 83, 83));
    }
}

TEST_F(TextProgressTest, EmptyOrInvertedRangeDrawsNothing) {
    m_bar.SetRange32(5, 5);
    QImage image = Render();
    EXPECT_EQ(image.pixelColor(0, 0), QColor(1, 2, 3));
    EXPECT_EQ(image.pixelColor(100, 8), QColor(1, 2, 3));
    m_bar.SetRange32(9, 2);
    image = Render();
    EXPECT_EQ(image.pixelColor(100, 8), QColor(1, 2, 3));
}

TEST_F(TextProgressTest, PositionOutsideAChangedRangeStaysInsideTheInterior) {
    m_bar.SetPos(80);
    m_bar.SetRange(0, 50);  // the position is not re-clamped
    m_bar.SetShowPercent(false);
    QPalette palette = m_bar.palette();
    palette.setColor(QPalette::Button, QColor(83, 83, 83));
    m_bar.setPalette(palette);
    const QImage image = Render();
    EXPECT_EQ(image.pixelColor(248, 8), QColor(83, 83, 83));
    EXPECT_EQ(image.pixelColor(247, 8), kBar);
}

TEST_F(TextProgressTest, MarqueeSegmentCoversTwentyPercentEndingAtThePosition) {
    m_bar.SetShowPercent(false);
    m_bar.ModifyStyle(0, PBS_MARQUEE);
    struct Case {
        int nPos, nFirstBar, nEndBar;  // columns [first, end) are bar coloured
    };
    // Segment = (247 * 20 + 50) / 100 = 49 columns.
    for (const Case& c : {Case{50, 75, 124}, Case{10, 1, 25}, Case{110, 223, 248},
                          Case{120, 248, 248}, Case{0, 1, 1}}) {
        m_bar.SetPos(c.nPos);
        const QImage image = Render();
        for (int x = 1; x < 248; ++x)
            ASSERT_EQ(image.pixelColor(x, 5), (x >= c.nFirstBar && x < c.nEndBar) ? kBar : kBk)
                << "pos " << c.nPos << " column " << x;
    }
}

TEST_F(TextProgressTest, VerticalBarGrowsUpward) {
    CTextProgressCtrl bar(nullptr, PBS_SMOOTH | PBS_VERTICAL);
    bar.resize(20, 120);
    bar.SetBarColor(RGB(0, 0, 255));
    bar.SetBkColor(RGB(0, 0, 0));
    bar.SetTextColor(RGB(255, 0, 0));
    bar.SetBarTextColor(RGB(0, 255, 0));
    bar.SetPos(25);
    const QImage image = Render(bar);
    // Interior rows 1..118; trunc(118 * 0.25) = 29 rows from the bottom are filled.
    EXPECT_EQ(image.pixelColor(1, 118), kBar);
    EXPECT_EQ(image.pixelColor(1, 90), kBar);
    EXPECT_EQ(image.pixelColor(1, 89), kBk);
    EXPECT_EQ(image.pixelColor(1, 1), kBk);
    // The percentage runs bottom to top, centred: ink below and above the bar's end.
    int nGreen = 0, nRed = 0, nTop = 120, nBottom = -1;
    for (int y = 1; y < 119; ++y)
        for (int x = 1; x < 19; ++x) {
            const QColor c = image.pixelColor(x, y);
            nGreen += IsGreenish(c);
            if (IsReddish(c)) {
                ++nRed;
                EXPECT_LT(y, 90);
            }
            if (IsGreenish(c) || IsReddish(c)) {
                nTop = std::min(nTop, y);
                nBottom = std::max(nBottom, y);
            }
        }
    EXPECT_EQ(nGreen, 0);  // "25%" is centred well above the quarter mark
    EXPECT_GT(nRed, 0);
    // The text is taller than wide: it is turned.
    const int cx = QFontMetrics(bar.font()).horizontalAdvance(QStringLiteral("25%"));
    EXPECT_GE(nBottom - nTop + 3, cx - 4);
}

TEST_F(TextProgressTest, MarqueeWalksToItsLimitAndBack) {
    EXPECT_TRUE(m_bar.SetMarquee(true, 30));
    EXPECT_FALSE(m_bar.SetShowPercent(false));  // the marquee turned the percentage off
    EXPECT_TRUE(m_bar.GetStyle() & PBS_MARQUEE);

    m_bar.SetPos(0);
    m_bar.OnTimer(CTextProgressCtrl::MARQUEE_TIMER_ID);  // from the minimum it always rises
    EXPECT_EQ(m_bar.GetPos(), 1);
    EXPECT_EQ(CTextProgressCtrl::GetMarqueeDirection(), 1);
    int nHighest = 0;
    for (int i = 0; i < 119; ++i)
        m_bar.OnTimer(CTextProgressCtrl::MARQUEE_TIMER_ID);
    nHighest = m_bar.GetPos();
    EXPECT_EQ(nHighest, 120);
    m_bar.OnTimer(CTextProgressCtrl::MARQUEE_TIMER_ID);
    EXPECT_EQ(m_bar.GetPos(), 119);
    EXPECT_EQ(CTextProgressCtrl::GetMarqueeDirection(), -1);
    for (int i = 0; i < 119; ++i)
        m_bar.OnTimer(CTextProgressCtrl::MARQUEE_TIMER_ID);
    EXPECT_EQ(m_bar.GetPos(), 0);
    m_bar.OnTimer(CTextProgressCtrl::MARQUEE_TIMER_ID);
    EXPECT_EQ(m_bar.GetPos(), 1);

    m_bar.OnTimer(2);  // other timers do nothing
    EXPECT_EQ(m_bar.GetPos(), 1);

    EXPECT_FALSE(m_bar.SetMarquee(false, 0));
    EXPECT_FALSE(m_bar.GetStyle() & PBS_MARQUEE);
    EXPECT_FALSE(m_bar.SetShowPercent(true));  // still off after the marquee stopped
}

TEST_F(TextProgressTest, MarqueeTimerRunsUntilTurnedOff) {
    m_bar.SetPos(0);
    m_bar.SetMarquee(true, 10);
    QElapsedTimer clock;
    clock.start();
    while (m_bar.GetPos() < 3 && clock.elapsed() < 5000)
        QApplication::processEvents();
    EXPECT_GE(m_bar.GetPos(), 3);
    m_bar.SetMarquee(false, 0);
    const int nStopped = m_bar.GetPos();
    clock.restart();
    while (clock.elapsed() < 60)
        QApplication::processEvents();
    EXPECT_EQ(m_bar.GetPos(), nStopped);
}

TEST_F(TextProgressTest, MarqueeDirectionIsSharedByAllBars) {
    CTextProgressCtrl other;
    other.SetMarquee(true, 1000);
    m_bar.SetMarquee(true, 1000);
    m_bar.SetPos(0);
    m_bar.OnTimer(CTextProgressCtrl::MARQUEE_TIMER_ID);
    ASSERT_EQ(CTextProgressCtrl::GetMarqueeDirection(), 1);
    other.SetPos(120);
    other.OnTimer(CTextProgressCtrl::MARQUEE_TIMER_ID);  // turns for everyone
    EXPECT_EQ(CTextProgressCtrl::GetMarqueeDirection(), -1);
    m_bar.SetPos(50);
    m_bar.OnTimer(CTextProgressCtrl::MARQUEE_TIMER_ID);
    EXPECT_EQ(m_bar.GetPos(), 49);
}

TEST_F(TextProgressTest, SkinSetUpGivesTheTotalBarItsLook) {
    CTextProgressCtrl bar;
    bar.setGeometry(FindSkinControl(IDC_TOTAL_PROGRESS)->rc);
    bar.setFont(SkinDialogFont());
    SetUpSkinProgressBar(bar, SKIN_PROGRESS_BARS[1]);
    bar.SetPos(50);
    const QImage image = Render(bar);
    EXPECT_EQ(image.pixelColor(0, 0), ColorRefToQColor(SKIN_BAR_EDGE_COLOR));
    EXPECT_EQ(image.pixelColor(2, 2), ColorRefToQColor(SKIN_ORANGE));
    EXPECT_EQ(image.pixelColor(240, 2), QColor(0, 0, 0));
    // The white percentage over both parts: only its pixels carry blue.
    int nWhite = 0;
    for (int y = 1; y < 15; ++y)
        for (int x = 100; x < 150; ++x)
            nWhite += image.pixelColor(x, y).blue() > 100;
    EXPECT_GT(nWhite, 20);
}

class CountingBar : public CTextProgressCtrl {
public:
    int m_nPaints = 0;

protected:
    void paintEvent(QPaintEvent* pEvent) override {
        ++m_nPaints;
        CTextProgressCtrl::paintEvent(pEvent);
    }
};

TEST_F(TextProgressTest, PositionChangesRepaintAtOnceAndPressesStayWithTheBar) {
    QWidget window;
    window.resize(300, 40);
    auto* pBar = new CountingBar;
    pBar->setParent(&window);
    pBar->setGeometry(10, 10, 249, 16);
    window.show();
    QApplication::processEvents();
    pBar->m_nPaints = 0;
    pBar->SetPos(10);
    EXPECT_EQ(pBar->m_nPaints, 1);  // without returning to the event loop
    pBar->SetStep(5);               // no picture change, no paint
    EXPECT_EQ(pBar->m_nPaints, 1);

    EXPECT_EQ(window.childAt(20, 15), pBar);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), pBar->mapToGlobal(QPointF(5, 5)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    press.ignore();
    QCoreApplication::sendEvent(pBar, &press);
    EXPECT_TRUE(press.isAccepted());
}

}  // namespace
