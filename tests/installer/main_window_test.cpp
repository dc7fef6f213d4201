// The skinned main window on the offscreen platform, after a real session start: where every
// control sits, what the whole window shows, which presses move it, its caption boxes, its
// window menu and the keys it ignores.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "installer/installer_dialog.h"
#include "platform/string_table.h"
#include "support/env_guard.h"
#include "support/log_capture.h"
#include "support/nginx_server.h"
#include "support/qt/demo_window_fixture.h"
#include "support/qt/image_compare.h"
#include "support/qt/qt_application.h"
#include "support/sandbox.h"
#include "support/test_data.h"
#include "support/test_list.h"
#include "ui/about_dlg.h"
#include "ui/bitmap_button_ex.h"
#include "ui/skin_layout.h"
#include "ui/text_progress_ctrl.h"
#include "ui/transparent_static.h"

namespace {

// The window with its drag seen instead of handed to the window manager.
class SkinWindow : public CQuellbridgerDlg {
public:
    int drags = 0;

protected:
    void StartWindowDrag() override { ++drags; }
};

// Says No to every question and records each box.
enum class Kind { Button, Label, Bar };

struct Place {
    int id;
    Kind kind;
    QRect rc;
};

// The window's controls at their pixel rectangles (a button's size is its normal picture's).
const Place kPlaces[] = {
    {1005, Kind::Button, QRect(548, 257, 67, 23)}, {1001, Kind::Button, QRect(285, 320, 77, 27)},
    {1003, Kind::Button, QRect(369, 320, 77, 27)}, {1022, Kind::Button, QRect(453, 320, 77, 27)},
    {2, Kind::Button, QRect(537, 320, 77, 27)},    {1009, Kind::Label, QRect(357, 56, 193, 14)},
    {1011, Kind::Label, QRect(546, 79, 88, 14)},   {1013, Kind::Label, QRect(343, 79, 89, 14)},
    {1015, Kind::Label, QRect(373, 100, 67, 14)},  {1016, Kind::Label, QRect(509, 100, 61, 14)},
    {1012, Kind::Label, QRect(527, 149, 75, 14)},  {1020, Kind::Label, QRect(408, 191, 74, 14)},
    {1028, Kind::Label, QRect(487, 191, 14, 14)},  {1021, Kind::Label, QRect(527, 191, 75, 14)},
    {1007, Kind::Bar, QRect(368, 128, 249, 16)},   {1008, Kind::Bar, QRect(369, 170, 249, 16)},
    {1026, Kind::Label, QRect(490, 149, 14, 14)},  {1023, Kind::Label, QRect(408, 149, 75, 14)},
    {1025, Kind::Label, QRect(390, 289, 58, 18)},  {1027, Kind::Label, QRect(550, 289, 75, 18)},
    {1029, Kind::Label, QRect(291, 261, 233, 14)}, {1030, Kind::Button, QRect(588, 9, 14, 14)},
    {1031, Kind::Button, QRect(613, 9, 14, 14)},
};

QRgb Rgb(int r, int g, int b) {
    return qRgb(r, g, b);
}

QRgb PixelAt(const QImage& image, int x, int y) {
    return image.pixel(x, y) | 0xFF000000u;
}

std::string Hex(QRgb rgb) {
    char text[16];
    std::snprintf(text, sizeof text, "#%06X", rgb & 0xFFFFFFu);
    return text;
}

bool InsideAnyControl(const QPoint& point) {
    for (const Place& place : kPlaces) {
        if (place.rc.contains(point)) {
            return true;
        }
    }
    return false;
}

// Texts of a menu's items, "-" for a separator.
QStringList MenuTexts(const QMenu& menu) {
    QStringList texts;
    for (const QAction* action : menu.actions()) {
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return texts;
}

// Runs trigger while a timer watches for a widget that find() returns; hands it to seen() and
// closes it, so a modal loop that trigger starts ends. False when none appeared.
bool CatchWindow(const std::function<void()>& trigger, const std::function<QWidget*()>& find,
                 const std::function<void(QWidget&)>& seen) {
    bool caught = false;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget* widget = find(); widget != nullptr && widget->isVisible()) {
            caught = true;
            poll.stop();
            seen(*widget);
            widget->close();
        } else if (clock.elapsed() > 30000) {
            // Whatever trigger shows instead must not keep the test waiting.
            poll.stop();
            if (QWidget* other = QApplication::activePopupWidget()) {
                other->close();
            } else if (QWidget* modal = QApplication::activeModalWidget()) {
                modal->close();
            }
        }
    });
    poll.start();
    trigger();
    poll.stop();
    return caught;
}

class MainWindowTest : public DemoWindowFixture<SkinWindow> {
protected:
    static void SetUpTestSuite() { EnsureQtApplication(); }

    void SetUp() override {
        EnsureQtApplication();
        ASSERT_NO_FATAL_FAILURE(OpenWindow());
    }

    SkinWindow& Window() { return *m_window; }

    // The whole window as a user sees it, with no control focused or hovered.
    QImage Render() {
        if (QWidget* focused = m_window->focusWidget()) {
            focused->clearFocus();
        }
        return m_window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    // A mouse event as the window system hands it to the window at a client point.
    void SendMouse(QEvent::Type type, const QPoint& point, Qt::MouseButton button) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? button : Qt::NoButton;
        QMouseEvent event(type, QPointF(point), QPointF(point),
                          QPointF(m_window->mapToGlobal(point)), button, held, Qt::NoModifier);
        QApplication::sendEvent(m_window->windowHandle(), &event);
    }
    void Click(const QPoint& point) {
        SendMouse(QEvent::MouseButtonPress, point, Qt::LeftButton);
        SendMouse(QEvent::MouseButtonRelease, point, Qt::LeftButton);
    }
    void SendKey(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(type, key, modifiers);
        QApplication::sendEvent(m_window->windowHandle(), &event);
    }
};

TEST_F(MainWindowTest, FramelessFixedWindowWithItsTitleIconAndPlace) {
    SkinWindow& window = Window();
    // A plain top-level window gets a taskbar entry; no frame, no caption.
    EXPECT_TRUE(window.isWindow());
    EXPECT_EQ(window.windowType(), Qt::Window);
    EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(window.windowTitle().toStdString(), "Quellbridger for Talvermoor");
    EXPECT_EQ(window.size(), QSize(640, 380));
    EXPECT_EQ(window.minimumSize(), QSize(640, 380));
    EXPECT_EQ(window.maximumSize(), QSize(640, 380));
    window.resize(800, 600);
    EXPECT_EQ(window.size(), QSize(640, 380));

    ASSERT_FALSE(window.windowIcon().isNull());
    const QImage icon = LoadIconResource(127);
    ASSERT_FALSE(icon.isNull());
    // The icon goes through Qt's premultiply round trip, which may move a channel by one.
    EXPECT_LE(MaxChannelDifference(window.windowIcon().pixmap(icon.size()).toImage(), icon), 1);

    // Centred on the work area of its screen.
    const QRect work = window.screen()->availableGeometry();
    EXPECT_EQ(window.geometry().left() - work.left(), work.right() - window.geometry().right())
        << window.geometry().left() << " in " << work.width();
    EXPECT_LE(std::abs((window.geometry().top() - work.top()) -
                       (work.bottom() - window.geometry().bottom())),
              1);
}

TEST_F(MainWindowTest, EveryControlSitsAtItsRectangleAndOnlyBarsAndButtonsTakePresses) {
    SkinWindow& window = Window();
    for (const Place& place : kPlaces) {
        SCOPED_TRACE(place.id);
        QWidget* control = window.GetDlgItem(place.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->parentWidget(), &window);
        EXPECT_TRUE(control->isVisible());
        EXPECT_EQ(control->geometry(), place.rc);
        QWidget* hit = window.childAt(place.rc.center());
        switch (place.kind) {
            case Kind::Button:
                EXPECT_NE(qobject_cast<CBitmapButtonEx*>(control), nullptr);
                EXPECT_EQ(hit, control);
                break;
            case Kind::Bar:
                EXPECT_NE(qobject_cast<CTextProgressCtrl*>(control), nullptr);
                EXPECT_EQ(hit, control);
                break;
            case Kind::Label:
                EXPECT_NE(qobject_cast<CTransparentStatic*>(control), nullptr);
                // Nothing takes the press: it reaches the window's face.
                EXPECT_EQ(hit, nullptr);
                break;
        }
        // No control lies over another, so their order never hides one.
        for (const Place& other : kPlaces) {
            if (other.id != place.id) {
                EXPECT_FALSE(place.rc.intersects(other.rc)) << "overlaps " << other.id;
            }
        }
    }
    // The background picture is the window's own face, not a control over it.
    EXPECT_EQ(window.childAt(QPoint(100, 100)), nullptr);
    EXPECT_EQ(window.childAt(QPoint(300, 200)), nullptr);
}

TEST_F(MainWindowTest, FaceIsTheBackgroundPictureWithItsCaptionsAndTheButtonsPictures) {
    const QImage picture = LoadBitmapResource(131).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(picture.size(), QSize(640, 380));
    const QImage face = Render();
    ASSERT_EQ(face.size(), QSize(640, 380));

    int nDiffering = 0;
    for (int y = 0; y < 380; ++y) {
        for (int x = 0; x < 640; ++x) {
            if (!InsideAnyControl(QPoint(x, y)) && PixelAt(face, x, y) != PixelAt(picture, x, y)) {
                ++nDiffering;
            }
        }
    }
    EXPECT_EQ(nDiffering, 0) << "pixels outside the controls that are not the picture's";

    // Captions at their pixel boxes in their colours (strokes blend into the black beneath).
    struct Caption {
        const char* text;
        QRect box;
        QRgb colour;
    };
    const QRgb orange = Rgb(255, 96, 8);
    const QRgb white = Rgb(255, 255, 255);
    const Caption captions[] = {
        {"Transfer Status", QRect(QPoint(285, 33), QPoint(386, 44)), orange},
        {"File Name :", QRect(QPoint(285, 58), QPoint(344, 67)), white},
        {"File Size :", QRect(QPoint(285, 80), QPoint(333, 92)), white},
        {"Download Speed :", QRect(QPoint(443, 80), QPoint(540, 92)), white},
        {"Time Elapsed :", QRect(QPoint(284, 101), QPoint(361, 113)), white},
        {"Time Left :", QRect(QPoint(442, 101), QPoint(498, 113)), white},
        {"Downloaded", QRect(QPoint(285, 130), QPoint(351, 139)), white},
        {"Total", QRect(QPoint(284, 172), QPoint(309, 181)), white},
        {"Download Folder", QRect(QPoint(286, 232), QPoint(401, 243)), orange},
        {"Required Storage :", QRect(QPoint(285, 290), QPoint(384, 302)), white},
        {"Available Storage :", QRect(QPoint(441, 290), QPoint(541, 302)), white},
    };
    for (const Caption& caption : captions) {
        SCOPED_TRACE(caption.text);
        int nBrightest = 0;
        for (int y = caption.box.top(); y <= caption.box.bottom(); ++y) {
            for (int x = caption.box.left(); x <= caption.box.right(); ++x) {
                const QRgb pixel = PixelAt(face, x, y);
                ASSERT_LE(qRed(pixel), qRed(caption.colour));
                ASSERT_LE(qGreen(pixel), qGreen(caption.colour));
                ASSERT_LE(qBlue(pixel), qBlue(caption.colour));
                nBrightest = std::max(nBrightest, qRed(pixel));
            }
        }
        EXPECT_GE(nBrightest, qRed(caption.colour) * 9 / 10);
    }
    // The path's box and the separator line.
    for (const QPoint& point :
         {QPoint(285, 257), QPoint(541, 279), QPoint(400, 257), QPoint(285, 270)}) {
        EXPECT_EQ(Hex(PixelAt(face, point.x(), point.y())), Hex(Rgb(83, 83, 83)));
    }
    EXPECT_EQ(Hex(PixelAt(face, 285, 217)), Hex(Rgb(68, 68, 68)));
    EXPECT_EQ(Hex(PixelAt(face, 630, 217)), Hex(Rgb(68, 68, 68)));

    // Each button shows its own picture: normal, or disabled for Pause and Launch at start.
    const std::pair<int, unsigned> pictures[] = {{1001, 147}, {1003, 152}, {1022, 144}, {2, 136},
                                                 {1005, 140}, {1030, 134}, {1031, 132}};
    for (const auto& [id, bitmap] : pictures) {
        SCOPED_TRACE(id);
        const QRect rc = Window().GetDlgItem(id)->geometry();
        EXPECT_EQ(face.copy(rc), LoadBitmapResource(bitmap).convertToFormat(QImage::Format_RGB32));
    }
}

TEST_F(MainWindowTest, LabelsWriteGreyOverThePictureAndWipeTheirOldText) {
    const QImage picture = LoadBitmapResource(131).convertToFormat(QImage::Format_RGB32);
    for (const Place& place : kPlaces) {
        if (place.kind != Kind::Label) {
            continue;
        }
        SCOPED_TRACE(place.id);
        Window().SetItemText(place.id, "HHH");
        QImage face = Render();
        int nText = 0;
        int nBrightest = 0;
        for (int y = place.rc.top(); y <= place.rc.bottom(); ++y) {
            for (int x = place.rc.left(); x <= place.rc.right(); ++x) {
                const QRgb pixel = PixelAt(face, x, y);
                if (pixel == PixelAt(picture, x, y)) {
                    continue;
                }
                ++nText;
                nBrightest = std::max(nBrightest, qRed(pixel));
                // Strokes are RGB(149, 149, 151) blended into the black panel, never another hue.
                ASSERT_LE(qRed(pixel), 149) << Hex(pixel);
                ASSERT_EQ(qRed(pixel), qGreen(pixel)) << Hex(pixel);
                ASSERT_GE(qBlue(pixel), qRed(pixel)) << Hex(pixel);
                ASSERT_LE(qBlue(pixel), qRed(pixel) + 2) << Hex(pixel);
            }
        }
        EXPECT_GT(nText, 0);
        EXPECT_GE(nBrightest, 149 * 9 / 10);

        // Without text the label is the picture beneath, nothing else.
        Window().SetItemText(place.id, "");
        face = Render();
        EXPECT_EQ(face.copy(place.rc), picture.copy(place.rc));
    }
}

TEST_F(MainWindowTest, BarsFillInTheirColoursWithACentredWhitePercentage) {
    struct Case {
        int id;
        QRect rc;
        QRgb bar;
        int pos;
    };
    const QRect fileRect(368, 128, 249, 16);
    const QRect totalRect(369, 170, 249, 16);
    const QRgb grey = Rgb(98, 98, 98);
    const QRgb orange = Rgb(255, 96, 8);
    const Case cases[] = {
        {1007, fileRect, grey, 0},    {1007, fileRect, grey, 42},    {1007, fileRect, grey, 100},
        {1008, totalRect, orange, 0}, {1008, totalRect, orange, 42}, {1008, totalRect, orange, 100},
    };
    const QRgb black = Rgb(0, 0, 0);
    const QRgb white = Rgb(255, 255, 255);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " at " << c.pos);
        auto* bar = qobject_cast<CTextProgressCtrl*>(Window().GetDlgItem(c.id));
        ASSERT_NE(bar, nullptr);
        bar->SetPos(c.pos);
        EXPECT_EQ(Window().GetBarPos(c.id), c.pos);
        const QImage face = Render();

        // The 1-pixel ring along the border is the background's box grey.
        for (int x = c.rc.left(); x <= c.rc.right(); ++x) {
            ASSERT_EQ(Hex(PixelAt(face, x, c.rc.top())), Hex(Rgb(83, 83, 83))) << x;
            ASSERT_EQ(Hex(PixelAt(face, x, c.rc.bottom())), Hex(Rgb(83, 83, 83))) << x;
        }
        for (int y = c.rc.top(); y <= c.rc.bottom(); ++y) {
            ASSERT_EQ(Hex(PixelAt(face, c.rc.left(), y)), Hex(Rgb(83, 83, 83))) << y;
            ASSERT_EQ(Hex(PixelAt(face, c.rc.right(), y)), Hex(Rgb(83, 83, 83))) << y;
        }

        const QRect interior = c.rc.adjusted(1, 1, -1, -1);
        ASSERT_EQ(interior.width(), 247);
        const int filled = static_cast<int>(247 * (c.pos / 100.0));
        const QString text = QString::number(c.pos) + '%';
        const int cx = QFontMetrics(bar->font()).horizontalAdvance(text);
        const int textLeft = interior.left() + (247 - cx) / 2;
        int inkLeft = 1000, inkRight = -1, nWhite = 0;
        for (int y = interior.top(); y <= interior.bottom(); ++y) {
            for (int x = interior.left(); x <= interior.right(); ++x) {
                const QRgb fill = x < interior.left() + filled ? c.bar : black;
                const QRgb pixel = PixelAt(face, x, y);
                if (pixel == fill) {
                    continue;
                }
                // White letters over the fill: every channel at least the fill's.
                ASSERT_GE(qRed(pixel), qRed(fill)) << x << "," << y << " " << Hex(pixel);
                ASSERT_GE(qGreen(pixel), qGreen(fill)) << x << "," << y << " " << Hex(pixel);
                ASSERT_GE(qBlue(pixel), qBlue(fill)) << x << "," << y << " " << Hex(pixel);
                inkLeft = std::min(inkLeft, x);
                inkRight = std::max(inkRight, x);
                nWhite += pixel == white ? 1 : 0;
            }
        }
        EXPECT_GT(nWhite, 0);
        EXPECT_GE(inkLeft, textLeft);
        EXPECT_LT(inkRight, textLeft + cx);
        // Centred: the ink's margins to the interior's ends differ by the letters' bearings only.
        EXPECT_LE(std::abs((inkLeft - interior.left()) - (interior.right() - inkRight)), 3)
            << inkLeft << ".." << inkRight;
    }
}

TEST_F(MainWindowTest, PressesOnTheFaceMoveTheWindowPressesOnBarsAndButtonsDoNot) {
    struct Case {
        const char* where;
        QPoint point;
        bool drags;
    };
    const Case cases[] = {
        {"label: file name", QPoint(360, 62), true},
        {"label: install path", QPoint(400, 267), true},
        {"label: slash", QPoint(494, 155), true},
        {"game artwork", QPoint(120, 190), true},
        {"black panel", QPoint(300, 205), true},
        {"a caption", QPoint(300, 38), true},
        {"box outline", QPoint(369, 127), true},
        {"file bar", QPoint(450, 136), false},
        {"file bar's edge", QPoint(368, 128), false},
        {"total bar", QPoint(600, 178), false},
        {"Start button", QPoint(320, 333), false},
        {"Cancel button", QPoint(600, 333), false},
        {"Browse button", QPoint(560, 268), false},
        {"minimise box", QPoint(594, 15), false},
        {"close box", QPoint(620, 15), false},
    };
    ASSERT_FALSE(Window().IsItemEnabled(IDC_STOP));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        Window().drags = 0;
        SendMouse(QEvent::MouseButtonPress, c.point, Qt::LeftButton);
        // Let go over the artwork, so no button that took the press is clicked.
        SendMouse(QEvent::MouseButtonRelease, QPoint(120, 190), Qt::LeftButton);
        EXPECT_EQ(Window().drags, c.drags ? 1 : 0);
    }
    EXPECT_TRUE(m_prompt.boxes.empty());
    EXPECT_FALSE(Window().isMinimized());
    EXPECT_FALSE(Window().IsDownloading());
}

TEST_F(MainWindowTest, MinimiseBoxMinimisesAndCloseBoxAsksTheCloseQuestion) {
    SkinWindow& window = Window();
    const QRect before = window.geometry();

    Click(QPoint(620, 15));
    ASSERT_EQ(m_prompt.boxes.size(), 1u);
    EXPECT_EQ(m_prompt.boxes[0].first, LoadFormatString(102));
    EXPECT_EQ(m_prompt.boxes[0].second, unsigned{MB_YESNO});
    // No keeps the window.
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.result(), 0);

    Click(QPoint(594, 15));
    EXPECT_TRUE(window.isMinimized());
    EXPECT_EQ(window.drags, 0);
    window.showNormal();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.isMinimized());
    EXPECT_EQ(window.geometry(), before);
    EXPECT_EQ(m_prompt.boxes.size(), 1u);
}

TEST_F(MainWindowTest, WindowMenuEndsWithTheAboutItemAfterASeparator) {
    const QString about = QString::fromStdString(LoadUserLanguageString(101));
    ASSERT_FALSE(about.isEmpty());
    std::unique_ptr<QMenu> menu(Window().CreateSystemMenu());
    const QStringList texts = MenuTexts(*menu);
    ASSERT_GE(texts.size(), 2);
    EXPECT_EQ(texts.back().toStdString(), about.toStdString());
    EXPECT_EQ(texts[texts.size() - 2].toStdString(), "-");
    EXPECT_EQ(texts.count("-"), 1) << texts.join('|').toStdString();

    // The same menu opens from a right click on the face and from Alt+Space.
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"right click",
         [&] {
             SendMouse(QEvent::MouseButtonPress, QPoint(300, 205), Qt::RightButton);
             SendMouse(QEvent::MouseButtonRelease, QPoint(300, 205), Qt::RightButton);
         }},
        {"Alt+Space",
         [&] {
             SendKey(QEvent::KeyPress, Qt::Key_Space, Qt::AltModifier);
             SendKey(QEvent::KeyRelease, Qt::Key_Space, Qt::AltModifier);
         }},
    };
    for (const auto& [way, open] : ways) {
        SCOPED_TRACE(way);
        QStringList shown;
        EXPECT_TRUE(CatchWindow(
            open, [] { return QApplication::activePopupWidget(); },
            [&](QWidget& popup) {
                if (auto* popupMenu = qobject_cast<QMenu*>(&popup)) {
                    shown = MenuTexts(*popupMenu);
                }
            }));
        EXPECT_EQ(shown.join('|').toStdString(), texts.join('|').toStdString());
    }
    EXPECT_EQ(Window().drags, 0);

    // Choosing the item opens the about box.
    bool aboutShown = false;
    EXPECT_TRUE(CatchWindow(
        [&] { menu->actions().back()->trigger(); },
        [] { return QApplication::activeModalWidget(); },
        [&](QWidget& dialog) { aboutShown = qobject_cast<CAboutDlg*>(&dialog) != nullptr; }));
    EXPECT_TRUE(aboutShown);
    EXPECT_TRUE(Window().isVisible());
    EXPECT_TRUE(m_prompt.boxes.empty());
}

TEST_F(MainWindowTest, TabWalksTheEnabledButtonsShowingWhereTheFocusIs) {
    SkinWindow& window = Window();
    if (QWidget* focused = window.focusWidget()) {
        focused->clearFocus();
    }
    // Template order; Pause and Launch are disabled at start and skipped.
    const int order[] = {IDC_CHANGE_PATH, IDC_START, IDC_CLOSE, IDC_MINIMIZE_BOX, IDC_CLOSE_BOX};
    auto focusedId = [&] {
        for (const auto& place : kPlaces) {
            if (window.GetDlgItem(place.id) == window.focusWidget()) {
                return place.id;
            }
        }
        return 0;
    };
    for (int round = 0; round < 2; ++round) {
        for (const int id : order) {
            SCOPED_TRACE(id);
            SendKey(QEvent::KeyPress, Qt::Key_Tab);
            SendKey(QEvent::KeyRelease, Qt::Key_Tab);
            ASSERT_EQ(focusedId(), id);
            // A focus picture is shown, and it is not the button's resting picture.
            auto* button = qobject_cast<CBitmapButtonEx*>(window.GetDlgItem(id));
            const auto picture = button->ChoosePicture(button->GetItemState());
            EXPECT_TRUE(picture == CBitmapButtonEx::Picture::Focused ||
                        picture == CBitmapButtonEx::Picture::KeyboardFocus);
            const QImage face = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
            const unsigned normal = id == IDC_CHANGE_PATH    ? IDB_BROWSE
                                    : id == IDC_START        ? IDB_START
                                    : id == IDC_CLOSE        ? IDB_CANCEL
                                    : id == IDC_MINIMIZE_BOX ? IDB_MINIMIZE_BOX
                                                             : IDB_CLOSE_BOX;
            EXPECT_NE(face.copy(button->geometry()),
                      LoadBitmapResource(normal).convertToFormat(QImage::Format_RGB32));
        }
    }
    // Shift+Tab walks back.
    for (int i = 4; i >= 0; --i) {
        SendKey(QEvent::KeyPress, Qt::Key_Backtab, Qt::ShiftModifier);
        SendKey(QEvent::KeyRelease, Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(focusedId(), order[(i + 4) % 5]);
    }
    // A button that becomes enabled joins the walk at its place.
    window.EnableItem(IDC_STOP, true);
    window.GetDlgItem(IDC_START)->setFocus(Qt::TabFocusReason);
    SendKey(QEvent::KeyPress, Qt::Key_Tab);
    EXPECT_EQ(focusedId(), IDC_STOP);
    EXPECT_TRUE(m_prompt.boxes.empty());
}

TEST_F(MainWindowTest, SpaceAndEnterPressTheFocusedButtonEscapeDoesNothing) {
    SkinWindow& window = Window();
    struct Case {
        int id;
        int key;
        bool asksToClose;
        bool minimises;
    };
    const Case cases[] = {
        {IDC_CLOSE, Qt::Key_Space, true, false},
        {IDC_CLOSE, Qt::Key_Return, true, false},
        {IDC_CLOSE_BOX, Qt::Key_Enter, true, false},
        {IDC_CLOSE_BOX, Qt::Key_Space, true, false},
        {IDC_MINIMIZE_BOX, Qt::Key_Return, false, true},
        {IDC_CLOSE, Qt::Key_Escape, false, false},
        {IDC_START, Qt::Key_Escape, false, false},
        {0, Qt::Key_Return, false, false},  // nothing focused: Enter presses no default button
        {0, Qt::Key_Escape, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " key " << c.key);
        m_prompt.boxes.clear();
        if (c.id == 0) {
            if (QWidget* focused = window.focusWidget()) {
                focused->clearFocus();
            }
        } else {
            window.GetDlgItem(c.id)->setFocus(Qt::TabFocusReason);
            ASSERT_EQ(window.focusWidget(), window.GetDlgItem(c.id));
        }
        SendKey(QEvent::KeyPress, c.key);
        SendKey(QEvent::KeyRelease, c.key);
        QCoreApplication::processEvents();
        ASSERT_EQ(m_prompt.boxes.size(), c.asksToClose ? 1u : 0u);
        if (c.asksToClose) {
            EXPECT_EQ(m_prompt.boxes[0].first, LoadFormatString(102));
        }
        EXPECT_EQ(window.isMinimized(), c.minimises);
        if (window.isMinimized()) {
            window.showNormal();
            QCoreApplication::processEvents();
        }
        // The answer No keeps the window as it was.
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(window.result(), 0);
        EXPECT_FALSE(window.IsDownloading());
        EXPECT_TRUE(window.IsItemEnabled(IDC_START));
    }
    // A disabled button cannot be pressed from the keyboard either.
    window.GetDlgItem(IDC_RUN)->setFocus(Qt::TabFocusReason);
    EXPECT_NE(window.focusWidget(), window.GetDlgItem(IDC_RUN));
}

TEST_F(MainWindowTest, ScreenReadersFindEveryControlByNameRoleAndValue) {
    SkinWindow& window = Window();
    auto* fileBar = qobject_cast<CTextProgressCtrl*>(window.GetDlgItem(IDC_FILE_PROGRESS));
    fileBar->SetPos(42);
    window.SetItemText(IDC_TOTAL_SIZE, "240.52 MB");

    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(&window);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(QAccessible::Name).toStdString(), "Quellbridger for Talvermoor");
    std::map<int, QAccessibleInterface*> byId;
    for (int i = 0; i < root->childCount(); ++i) {
        QAccessibleInterface* child = root->child(i);
        for (const Place& place : kPlaces) {
            if (child != nullptr && child->object() == window.GetDlgItem(place.id)) {
                byId[place.id] = child;
            }
        }
    }
    ASSERT_EQ(byId.size(), std::size(kPlaces));

    const std::pair<int, const char*> buttons[] = {
        {IDC_START, "Start"},    {IDC_STOP, "Pause"},         {IDC_RUN, "Launch"},
        {IDC_CLOSE, "Cancel"},   {IDC_CHANGE_PATH, "Browse"}, {IDC_MINIMIZE_BOX, "Minimize"},
        {IDC_CLOSE_BOX, "Close"}};
    for (const auto& [id, name] : buttons) {
        SCOPED_TRACE(name);
        QAccessibleInterface* button = byId[id];
        EXPECT_EQ(button->role(), QAccessible::Button);
        EXPECT_EQ(button->text(QAccessible::Name).toStdString(), name);
        EXPECT_EQ(button->state().disabled, !window.IsItemEnabled(id));
        EXPECT_TRUE(button->state().focusable);
        ASSERT_NE(button->actionInterface(), nullptr);
        EXPECT_EQ(button->actionInterface()->actionNames().contains(
                      QAccessibleActionInterface::pressAction()),
                  window.IsItemEnabled(id));
        // Where it is on the screen: its own rectangle.
        EXPECT_EQ(button->rect(), QRect(window.GetDlgItem(id)->mapToGlobal(QPoint(0, 0)),
                                        window.GetDlgItem(id)->size()));
    }

    for (const auto& [id, name, pos] :
         {std::tuple<int, const char*, int>{IDC_FILE_PROGRESS, "Downloaded", 42},
          std::tuple<int, const char*, int>{IDC_TOTAL_PROGRESS, "Total", 0}}) {
        SCOPED_TRACE(name);
        QAccessibleInterface* bar = byId[id];
        EXPECT_EQ(bar->role(), QAccessible::ProgressBar);
        EXPECT_EQ(bar->text(QAccessible::Name).toStdString(), name);
        QAccessibleValueInterface* value = bar->valueInterface();
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->currentValue().toInt(), pos);
        EXPECT_EQ(value->minimumValue().toInt(), 0);
        EXPECT_EQ(value->maximumValue().toInt(), 100);
        EXPECT_EQ(bar->text(QAccessible::Value).toStdString(), std::to_string(pos) + "%");
        // Read only: the download moves it, not the reader.
        value->setCurrentValue(90);
        EXPECT_EQ(window.GetBarPos(id), pos);
    }

    for (const Place& place : kPlaces) {
        if (place.kind != Kind::Label) {
            continue;
        }
        SCOPED_TRACE(place.id);
        QAccessibleInterface* label = byId[place.id];
        EXPECT_EQ(label->role(), QAccessible::StaticText);
        EXPECT_EQ(label->text(QAccessible::Name).toStdString(), window.GetItemText(place.id));
    }
    EXPECT_EQ(byId[IDC_TOTAL_SIZE]->text(QAccessible::Name).toStdString(), "240.52 MB");

    // A reader drives the window too: pressing Cancel asks the close question.
    byId[IDC_CLOSE]->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QElapsedTimer clock;
    clock.start();
    while (m_prompt.boxes.empty() && clock.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    ASSERT_EQ(m_prompt.boxes.size(), 1u);
    EXPECT_EQ(m_prompt.boxes[0].first, LoadFormatString(102));
}

}  // namespace
