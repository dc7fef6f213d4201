// The main window on a scaled screen: run once per scale (QT_SCALE_FACTOR 1, 1.5 and 2 on the
// offscreen platform, and once with two offscreen screens of ratios 1 and 2), it renders the real
// window after a session start into an image and checks what a user of a high-DPI screen would see:
// whole bars with their percentage, labels that keep clear of each other and of the captions,
// pictures drawn for the screen's resolution, and the same logical layout as at 1x.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "installer/installer_dialog.h"
#include "platform/text_format.h"
#include "support/env_guard.h"
#include "support/log_capture.h"
#include "support/nginx_server.h"
#include "support/qt/demo_window_fixture.h"
#include "support/qt/qt_application.h"
#include "support/sandbox.h"
#include "support/test_data.h"
#include "support/test_list.h"
#include "ui/skin_layout.h"
#include "ui/text_progress_ctrl.h"

namespace {

bool Near(QRgb pixel, QRgb expected, int tolerance) {
    return std::abs(qRed(pixel) - qRed(expected)) <= tolerance &&
           std::abs(qGreen(pixel) - qGreen(expected)) <= tolerance &&
           std::abs(qBlue(pixel) - qBlue(expected)) <= tolerance;
}

// Device pixels of a logical rectangle: those whose centres it covers.
QRect DeviceRect(const QRect& logical, qreal scale) {
    const int left = static_cast<int>(std::ceil(logical.left() * scale - 0.5));
    const int top = static_cast<int>(std::ceil(logical.top() * scale - 0.5));
    const int right = static_cast<int>(std::ceil((logical.right() + 1) * scale - 0.5)) - 1;
    const int bottom = static_cast<int>(std::ceil((logical.bottom() + 1) * scale - 0.5)) - 1;
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

// Share of the pixels along a device row (or column) segment within tolerance of a colour.
double ShareNear(const QImage& image, QPoint from, QPoint step, int count, QRgb colour) {
    int near = 0;
    for (int i = 0; i < count; ++i) {
        const QPoint p = from + step * i;
        near += Near(image.pixel(p), colour, 12) ? 1 : 0;
    }
    return double(near) / count;
}

// Blocks of 2 x 2 device pixels (one layout pixel each at a ratio of 2) in an area, and how many
// of them are not one colour.
std::pair<int, int> DetailedBlocks(const QImage& image, const QRect& area) {
    int blocks = 0, detailed = 0;
    for (int y = area.top(); y < area.bottom(); y += 2) {
        for (int x = area.left(); x < area.right(); x += 2) {
            const QRgb a = image.pixel(x, y);
            ++blocks;
            if (!Near(image.pixel(x + 1, y), a, 6) || !Near(image.pixel(x, y + 1), a, 6) ||
                !Near(image.pixel(x + 1, y + 1), a, 6)) {
                ++detailed;
            }
        }
    }
    return {blocks, detailed};
}

// The best share along the segment or the ones one device pixel either side of it.
double EdgeShare(const QImage& image, QPoint from, QPoint step, int count, QRgb colour) {
    const QPoint across(step.y(), step.x());
    double best = 0;
    for (int offset = -1; offset <= 1; ++offset) {
        best = std::max(best, ShareNear(image, from + across * offset, step, count, colour));
    }
    return best;
}

// The offscreen platform (a configuration of screens may follow its name), whatever the
// environment names: these tests measure its rendering.
void EnsureOffscreenApplication() {
    if (!qEnvironmentVariable("QT_QPA_PLATFORM").startsWith(QStringLiteral("offscreen"))) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    EnsureQtApplication();
}

class ScaledWindowTest : public DemoWindowFixture<CQuellbridgerDlg> {
protected:
    static void SetUpTestSuite() { EnsureOffscreenApplication(); }

    void SetUp() override {
        EnsureOffscreenApplication();
        ASSERT_NO_FATAL_FAILURE(OpenWindow());
        m_scale = m_window->devicePixelRatioF();
    }

    // The window as the screen shows it, in device pixels, nothing focused or hovered.
    QImage Render() {
        if (QWidget* focused = m_window->focusWidget()) {
            focused->clearFocus();
        }
        QImage image = m_window->grab().toImage().convertToFormat(QImage::Format_RGB32);
        image.setDevicePixelRatio(1);
        return image;
    }

    // One bar at a position: its frame whole on all four sides, the fill up to the position,
    // and its percentage in white about the middle, at the screen's resolution.
    void ExpectWholeBar(const SkinProgressBar& skin, int pos) {
        auto* bar = qobject_cast<CTextProgressCtrl*>(m_window->GetDlgItem(skin.nId));
        ASSERT_NE(bar, nullptr);
        const QRgb edge = qRgb(83, 83, 83);
        const QRgb fill = ColorRefToQColor(skin.crBar).rgb();
        bar->SetPos(pos);
        const QImage face = Render();
        const QRect rc = DeviceRect(bar->geometry(), m_scale);
        // The ring along the border, all four sides from end to end (a side that starts inside a
        // device pixel shows in the next one).
        EXPECT_GE(EdgeShare(face, rc.topLeft(), {1, 0}, rc.width(), edge), 0.97);
        EXPECT_GE(EdgeShare(face, rc.bottomLeft(), {1, 0}, rc.width(), edge), 0.97);
        EXPECT_GE(EdgeShare(face, rc.topLeft(), {0, 1}, rc.height(), edge), 0.97);
        EXPECT_GE(EdgeShare(face, rc.topRight(), {0, 1}, rc.height(), edge), 0.97);

        // The fill: bar colour up to the position, black after it (sampled near the ends, clear
        // of the centred text).
        const QRect inner = DeviceRect(bar->geometry().adjusted(2, 2, -2, -2), m_scale);
        const int y = inner.top() + 1;
        const QPoint leftSample(inner.left() + inner.width() / 10, y);
        const QPoint rightSample(inner.right() - inner.width() / 10, y);
        EXPECT_TRUE(Near(face.pixel(leftSample), pos > 10 ? fill : qRgb(0, 0, 0), 12));
        EXPECT_TRUE(Near(face.pixel(rightSample), pos == 100 ? fill : qRgb(0, 0, 0), 12));

        // The percentage: white letters about the middle.
        int inkLeft = face.width(), inkRight = -1, inkPixels = 0;
        for (int py = inner.top(); py <= inner.bottom(); ++py) {
            for (int px = inner.left(); px <= inner.right(); ++px) {
                const QRgb p = face.pixel(px, py);
                if (qRed(p) >= 200 && qGreen(p) >= 200 && qBlue(p) >= 200) {
                    inkLeft = std::min(inkLeft, px);
                    inkRight = std::max(inkRight, px);
                    ++inkPixels;
                }
            }
        }
        ASSERT_GT(inkPixels, 10 * m_scale * m_scale) << "no percentage text";
        const int marginLeft = inkLeft - inner.left();
        const int marginRight = inner.right() - inkRight;
        EXPECT_LE(std::abs(marginLeft - marginRight), 4 * m_scale) << inkLeft << ".." << inkRight;
        // "100%" is about four digits wide at the screen's resolution.
        EXPECT_GE(inkRight - inkLeft, (pos == 100 ? 20 : 12) * m_scale);
    }

    qreal m_scale = 1;
};

TEST_F(ScaledWindowTest, RunsAtTheScaleItWasStartedWithAndKeepsItsLogicalLayout) {
    // The ratio of the screen the window is on, the scale factor's when one is set.
    EXPECT_DOUBLE_EQ(m_scale, m_window->screen()->devicePixelRatio());
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
        EXPECT_DOUBLE_EQ(m_scale, qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
    }
    EXPECT_EQ(m_window->size(), QSize(640, 380));
    for (const SkinControl& control : SKIN_CONTROLS) {
        if (QWidget* widget = m_window->GetDlgItem(control.nId)) {
            EXPECT_EQ(widget->geometry(), control.rc) << control.nId;
        }
    }
    const QImage face = Render();
    EXPECT_EQ(face.width(), qRound(640 * m_scale));
    EXPECT_EQ(face.height(), qRound(380 * m_scale));
}

TEST_F(ScaledWindowTest, BarsShowTheirWholeFrameFillAndPercentage) {
    for (const SkinProgressBar& skin : SKIN_PROGRESS_BARS) {
        for (const int pos : {0, 50, 100}) {
            SCOPED_TRACE(testing::Message() << skin.nId << " at " << pos << "%");
            ExpectWholeBar(skin, pos);
        }
    }
}

// A window moved to a screen with another device pixel ratio draws everything for that screen,
// and again for the first one when it comes back. Runs with two offscreen screens, 1x and 2x.
TEST_F(ScaledWindowTest, FollowsTheWindowToAScreenWithAnotherRatio) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.size() < 2 || screens[0]->devicePixelRatio() == screens[1]->devicePixelRatio()) {
        GTEST_SKIP() << "needs two screens with different device pixel ratios";
    }
    const SkinButton start = *std::find_if(SKIN_BUTTONS.begin(), SKIN_BUTTONS.end(),
                                           [](const SkinButton& b) { return b.nId == IDC_START; });
    for (QScreen* screen : {screens[1], screens[0], screens[1]}) {
        SCOPED_TRACE(screen->name().toStdString());
        m_window->windowHandle()->setScreen(screen);
        QCoreApplication::processEvents();
        m_scale = m_window->devicePixelRatioF();
        ASSERT_EQ(m_scale, screen->devicePixelRatio());
        EXPECT_EQ(m_window->size(), QSize(640, 380));
        ExpectWholeBar(SKIN_PROGRESS_BARS[1], 50);

        // The button, and an empty label's piece of background, are the pictures drawn for this
        // ratio.
        m_window->SetItemText(IDC_FILE_NAME, "");
        const QImage face = Render();
        const QImage button =
            LoadBitmapResource(start.nNormal, m_scale).convertToFormat(QImage::Format_RGB32);
        const QImage background =
            LoadBitmapResource(IDB_BACKGROUND, m_scale).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(button.devicePixelRatio(), m_scale);
        const QRect rcButton = DeviceRect(m_window->GetDlgItem(IDC_START)->geometry(), m_scale);
        const QRect rcLabel = DeviceRect(m_window->GetDlgItem(IDC_FILE_NAME)->geometry(), m_scale);
        int off = 0;
        for (int y = 0; y < rcButton.height(); ++y) {
            for (int x = 0; x < rcButton.width(); ++x) {
                off += Near(face.pixel(rcButton.topLeft() + QPoint(x, y)), button.pixel(x, y), 3)
                           ? 0
                           : 1;
            }
        }
        for (int y = rcLabel.top(); y <= rcLabel.bottom(); ++y) {
            for (int x = rcLabel.left(); x <= rcLabel.right(); ++x) {
                off += Near(face.pixel(x, y), background.pixel(x, y), 3) ? 0 : 1;
            }
        }
        EXPECT_EQ(off, 0);
    }
}

TEST_F(ScaledWindowTest, LabelsKeepClearOfEachOtherAndOfTheCaptions) {
    // The widest values a session shows.
    std::string widestSize;
    for (const uint64_t bytes :
         {999ull * 1000, 1023ull * 1024 * 1024 - 1, 999ull << 30, 1000ull << 30, 99999ull << 20}) {
        const std::string text = FormatSizeText(bytes);
        if (text.size() > widestSize.size()) {
            widestSize = text;
        }
    }
    const std::string widestSpeed = FormatSpeedText(1023ull * 1024 - 1);
    std::vector<int> labels;
    for (const SkinControl& control : SKIN_CONTROLS) {
        if (control.kind == SkinControlKind::Label) {
            labels.push_back(control.nId);
        }
    }
    // Ink: what differs from the face with every label empty.
    for (int id : labels) {
        m_window->SetItemText(id, "");
    }
    const QImage empty = Render();
    for (int id : labels) {
        std::string text = widestSize;
        if (id == IDC_SPEED) {
            text = widestSpeed;
        } else if (id == IDC_TIME_ELAPSED || id == IDC_TIME_LEFT) {
            text = "23:59:59";
        } else if (id == IDC_FILE_SLASH || id == IDC_TOTAL_SLASH) {
            text = "/";
        } else if (id == IDC_FILE_NAME) {
            text = "data/sound/ambient/amb16.ogg";
        } else if (id == IDC_INSTALL_PATH) {
            text = "/home/someone/Games/HOLLOWMERE WORKS/Talvermoor/and/a/long/tail";
        }
        m_window->SetItemText(id, text);
    }
    const QImage face = Render();

    struct Ink {
        int id;
        QRect box;  // logical pixels
    };
    std::vector<Ink> inks;
    for (int id : labels) {
        SCOPED_TRACE(id);
        const QRect rc = DeviceRect(m_window->GetDlgItem(id)->geometry(), m_scale);
        QRect ink;
        for (int y = rc.top(); y <= rc.bottom(); ++y) {
            for (int x = rc.left(); x <= rc.right(); ++x) {
                if (!Near(face.pixel(x, y), empty.pixel(x, y), 24)) {
                    ink |= QRect(x, y, 1, 1);
                }
            }
        }
        ASSERT_FALSE(ink.isEmpty()) << "label shows nothing";
        // Back to logical pixels, rounded inwards so that a shared boundary pixel is no overlap.
        const QRect logical(QPoint(static_cast<int>(std::ceil(ink.left() / m_scale)),
                                   static_cast<int>(std::ceil(ink.top() / m_scale))),
                            QPoint(static_cast<int>(std::floor((ink.right() + 1) / m_scale)) - 1,
                                   static_cast<int>(std::floor((ink.bottom() + 1) / m_scale)) - 1));
        inks.push_back({id, logical});
    }
    for (size_t i = 0; i < inks.size(); ++i) {
        for (const SkinCaption& caption : SKIN_CAPTIONS) {
            EXPECT_FALSE(inks[i].box.intersects(caption.rcBox))
                << inks[i].id << " runs into \"" << caption.szText << "\"";
        }
        for (size_t j = i + 1; j < inks.size(); ++j) {
            EXPECT_FALSE(inks[i].box.intersects(inks[j].box))
                << inks[i].id << " and " << inks[j].id << " overlap";
        }
    }
}

// At 2x every picture comes from its @2x drawing: lines stay one layout pixel wide with no
// smoothing across their edges, the buttons are their @2x pictures, and the artwork has detail
// finer than a layout pixel.
TEST_F(ScaledWindowTest, PicturesAreDrawnForTheScreensResolution) {
    if (m_scale != 2.0) {
        GTEST_SKIP() << "only at a scale of 2";
    }
    const QImage face = Render();

    // The separator line: a one-pixel step at 1x, two device rows here and black right beside.
    const QRect line = DeviceRect(SKIN_SEPARATOR, 2);
    ASSERT_EQ(line.height(), 2);
    const QRgb grey = ColorRefToQColor(SKIN_SEPARATOR_COLOR).rgb();
    EXPECT_GE(ShareNear(face, line.topLeft(), {1, 0}, line.width(), grey), 0.99);
    EXPECT_GE(ShareNear(face, line.bottomLeft(), {1, 0}, line.width(), grey), 0.99);
    EXPECT_GE(ShareNear(face, line.topLeft() - QPoint(0, 1), {1, 0}, line.width(), qRgb(0, 0, 0)),
              0.99);
    EXPECT_GE(
        ShareNear(face, line.bottomLeft() + QPoint(0, 1), {1, 0}, line.width(), qRgb(0, 0, 0)),
        0.99);

    // Each enabled button at rest is its @2x picture; the edge against the panel is sharp.
    for (const int id : {IDC_START, IDC_CLOSE, IDC_CHANGE_PATH}) {
        SCOPED_TRACE(id);
        const SkinButton* skin = nullptr;
        for (const SkinButton& b : SKIN_BUTTONS) {
            if (b.nId == id) {
                skin = &b;
            }
        }
        ASSERT_NE(skin, nullptr);
        const QImage picture =
            LoadBitmapResource(skin->nNormal, 2).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(picture.devicePixelRatio(), 2.0);
        const QRect rc = DeviceRect(m_window->GetDlgItem(id)->geometry(), 2);
        ASSERT_EQ(rc.size(), picture.size());
        int off = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                off +=
                    Near(face.pixel(rc.left() + x, rc.top() + y), picture.pixel(x, y), 3) ? 0 : 1;
            }
        }
        EXPECT_EQ(off, 0);
        // The panel row right above the button is untouched black.
        EXPECT_GE(ShareNear(face, rc.topLeft() - QPoint(0, 1), {1, 0}, rc.width(), qRgb(0, 0, 0)),
                  0.99);
    }

    // The game's title: many 2 x 2 blocks (one layout pixel each) are not one colour, which a
    // 1x picture stretched to the screen never gives.
    const QRect title = DeviceRect(QRect(15, 40, 240, 30), 2);
    const auto [blocks, detailed] = DetailedBlocks(face, title);
    EXPECT_GT(detailed, blocks / 10) << detailed << " of " << blocks;

    // Text is drawn at the screen's resolution too: the bar's percentage (through its
    // off-screen surface) and a label's value have strokes finer than a layout pixel.
    auto* bar = qobject_cast<CTextProgressCtrl*>(m_window->GetDlgItem(IDC_TOTAL_PROGRESS));
    bar->SetPos(100);
    m_window->SetItemText(IDC_TOTAL_SIZE, "888.88 MB");
    const QImage text = Render();
    for (const int id : {IDC_TOTAL_PROGRESS, IDC_TOTAL_SIZE}) {
        SCOPED_TRACE(id);
        const auto [textBlocks, textDetailed] =
            DetailedBlocks(text, DeviceRect(m_window->GetDlgItem(id)->geometry(), 2));
        EXPECT_GT(textDetailed, 8) << textDetailed << " of " << textBlocks;
    }
}

}  // namespace
