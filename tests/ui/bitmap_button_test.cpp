// Bitmap button: picture per state, colour key, hover tracking, resource pictures.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>

#include "support/qt/qt_application.h"
#include "ui/bitmap_button_ex.h"
#include "ui/skin_layout.h"

namespace {

QImage Solid(QColor color, QSize size = QSize(8, 6)) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

const QColor kNormal(10, 20, 30), kSelected(200, 0, 0), kFocused(0, 200, 0), kDisabled(0, 0, 200),
    kHover(200, 200, 0), kCanvas(77, 77, 77);

// The colour the button paints over a grey canvas for the given state bits.
QColor Painted(CBitmapButtonEx& button, unsigned nState) {
    QImage canvas = Solid(kCanvas, QSize(8, 6));
    QPainter painter(&canvas);
    button.DrawItem(&painter, QRect(0, 0, 8, 6), nState);
    painter.end();
    return canvas.pixelColor(4, 3);
}

void MoveOver(QWidget& widget) {
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget.mapToGlobal(QPointF(2, 2)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &move);
}

void Leave(QWidget& widget) {
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&widget, &leave);
}

class CountingButton : public CBitmapButtonEx {
public:
    int m_nPaints = 0;

protected:
    void paintEvent(QPaintEvent* pEvent) override {
        ++m_nPaints;
        CBitmapButtonEx::paintEvent(pEvent);
    }
};

class BitmapButtonTest : public ::testing::Test {
protected:
    // Members may be widgets: the application must exist before the fixture is built.
    static void SetUpTestSuite() { EnsureQtApplication(); }
    void SetUp() override { EnsureQtApplication(); }
};

TEST_F(BitmapButtonTest, ChoosesPictureByStateWithPressedFirstThenFocusThenDisabled) {
    CBitmapButtonEx button;
    ASSERT_TRUE(
        button.LoadBitmaps(Solid(kNormal), Solid(kSelected), Solid(kFocused), Solid(kDisabled)));
    button.SetHoverBitmap(Solid(kHover));

    struct Case {
        unsigned nState;
        QColor expected;
    };
    const Case cases[] = {
        {0, kNormal},
        {ODS_SELECTED, kSelected},
        {ODS_FOCUS, kFocused},
        {ODS_DISABLED, kDisabled},
        {ODS_SELECTED | ODS_FOCUS, kSelected},
        {ODS_FOCUS | ODS_DISABLED, kFocused},
        {ODS_SELECTED | ODS_DISABLED, kSelected},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Painted(button, c.nState), c.expected) << c.nState;

    // The pointer over the button wins over every state but disabled.
    MoveOver(button);
    ASSERT_TRUE(button.IsHover());
    for (const Case& c : cases)
        EXPECT_EQ(Painted(button, c.nState), (c.nState & ODS_DISABLED) ? c.expected : kHover)
            << c.nState;
}

TEST_F(BitmapButtonTest, MissingPicturesFallBackAsTheSkinButtonsNeed) {
    // The folder button: no pressed or focused picture, hover picture set.
    CBitmapButtonEx browse;
    ASSERT_TRUE(browse.LoadBitmaps(Solid(kNormal), QImage(), QImage(), Solid(kDisabled)));
    browse.SetHoverBitmap(Solid(kHover));
    EXPECT_EQ(Painted(browse, ODS_SELECTED), kNormal);
    EXPECT_EQ(Painted(browse, ODS_FOCUS), kNormal);
    EXPECT_EQ(Painted(browse, ODS_DISABLED), kDisabled);
    MoveOver(browse);
    EXPECT_EQ(Painted(browse, ODS_SELECTED | ODS_FOCUS), kHover);  // pressed under the pointer

    // A caption box: focused picture, no disabled one.
    CBitmapButtonEx box;
    ASSERT_TRUE(box.LoadBitmaps(Solid(kNormal), QImage(), Solid(kHover), QImage()));
    EXPECT_EQ(Painted(box, ODS_FOCUS), kHover);
    EXPECT_EQ(Painted(box, ODS_DISABLED), kNormal);

    // Without a normal picture nothing is drawn for the states that fall back to it.
    CBitmapButtonEx empty;
    EXPECT_FALSE(empty.LoadBitmaps(QImage(), Solid(kSelected)));
    EXPECT_EQ(Painted(empty, 0), kCanvas);
    EXPECT_EQ(Painted(empty, ODS_SELECTED), kCanvas);
}

TEST_F(BitmapButtonTest, ItemStateFollowsTheWidget) {
    CBitmapButtonEx button;
    ASSERT_TRUE(
        button.LoadBitmaps(Solid(kNormal), Solid(kSelected), Solid(kFocused), Solid(kDisabled)));
    EXPECT_EQ(button.GetItemState(), 0u);
    button.setDown(true);
    EXPECT_EQ(button.GetItemState(), unsigned(ODS_SELECTED));
    button.setDown(false);
    button.setEnabled(false);
    EXPECT_EQ(button.GetItemState(), unsigned(ODS_DISABLED));

    QImage canvas = Solid(kCanvas);
    QPainter painter(&canvas);
    button.Draw(&painter, QRect(0, 0, 8, 6));
    painter.end();
    EXPECT_EQ(canvas.pixelColor(0, 0), kDisabled);
}

TEST_F(BitmapButtonTest, KeyColourLeavesThePixelBeneathAndItsNeighbourIsDrawn) {
    QImage picture = Solid(kNormal, QSize(4, 2));
    picture.setPixelColor(0, 0, QColor(255, 0, 255));
    picture.setPixelColor(1, 0, QColor(255, 0, 254));
    picture.setPixelColor(2, 0, QColor(254, 0, 255));

    CBitmapButtonEx button;
    ASSERT_TRUE(button.LoadBitmaps(picture));
    QImage canvas(4, 2, QImage::Format_RGB32);
    canvas.fill(QColor(1, 2, 3));
    canvas.setPixelColor(0, 0, QColor(9, 8, 7));
    {
        QPainter painter(&canvas);
        button.DrawItem(&painter, QRect(0, 0, 4, 2), 0);
    }
    EXPECT_EQ(canvas.pixelColor(0, 0), QColor(9, 8, 7));
    EXPECT_EQ(canvas.pixelColor(1, 0), QColor(255, 0, 254));
    EXPECT_EQ(canvas.pixelColor(2, 0), QColor(254, 0, 255));
    EXPECT_EQ(canvas.pixelColor(3, 1), kNormal);

    // Another key: magenta is then drawn, the new key colour is not.
    button.SetTransparentColor(RGB(255, 0, 254));
    canvas.fill(QColor(1, 2, 3));
    {
        QPainter painter(&canvas);
        button.DrawItem(&painter, QRect(0, 0, 4, 2), 0);
    }
    EXPECT_EQ(canvas.pixelColor(0, 0), QColor(255, 0, 255));
    EXPECT_EQ(canvas.pixelColor(1, 0), QColor(1, 2, 3));
}

TEST_F(BitmapButtonTest, DrawsAtTheItemCornerAtThePictureSize) {
    CBitmapButtonEx button;
    ASSERT_TRUE(button.LoadBitmaps(Solid(kNormal, QSize(3, 2))));
    QImage canvas = Solid(kCanvas, QSize(10, 10));
    {
        QPainter painter(&canvas);
        button.DrawItem(&painter, QRect(4, 5, 6, 5), 0);  // larger item: no stretching
    }
    EXPECT_EQ(canvas.pixelColor(4, 5), kNormal);
    EXPECT_EQ(canvas.pixelColor(6, 6), kNormal);
    EXPECT_EQ(canvas.pixelColor(7, 6), kCanvas);
    EXPECT_EQ(canvas.pixelColor(6, 7), kCanvas);
    EXPECT_EQ(canvas.pixelColor(3, 5), kCanvas);
}

TEST_F(BitmapButtonTest, RepaintsOnceOnEnterAndOnceOnLeave) {
    QWidget window;
    window.resize(100, 60);
    auto* pButton = new CountingButton;
    pButton->setParent(&window);
    ASSERT_TRUE(pButton->LoadBitmaps(Solid(kNormal, QSize(40, 20))));
    pButton->SetHoverBitmap(Solid(kHover, QSize(40, 20)));
    pButton->SizeToContent();
    window.show();
    QApplication::processEvents();
    QApplication::processEvents();
    pButton->m_nPaints = 0;

    for (int i = 0; i < 5; ++i) {
        MoveOver(*pButton);
        QApplication::processEvents();
    }
    EXPECT_TRUE(pButton->IsHover());
    EXPECT_EQ(pButton->m_nPaints, 1);

    Leave(*pButton);
    QApplication::processEvents();
    EXPECT_FALSE(pButton->IsHover());
    EXPECT_EQ(pButton->m_nPaints, 2);

    // A leave with no hover before it asks for nothing.
    Leave(*pButton);
    QApplication::processEvents();
    EXPECT_EQ(pButton->m_nPaints, 2);
}

TEST_F(BitmapButtonTest, DisabledUnderThePointerShowsItsDisabledPicture) {
    CBitmapButtonEx button;
    ASSERT_TRUE(
        button.LoadBitmaps(Solid(kNormal), Solid(kSelected), Solid(kFocused), Solid(kDisabled)));
    button.SetHoverBitmap(Solid(kHover));
    MoveOver(button);
    ASSERT_EQ(button.ChoosePicture(button.GetItemState()), CBitmapButtonEx::Picture::Hover);
    // Disabled while the pointer stays on it (Start once a download begins).
    button.setEnabled(false);
    EXPECT_EQ(button.ChoosePicture(button.GetItemState()), CBitmapButtonEx::Picture::Disabled);
    EXPECT_EQ(Painted(button, button.GetItemState()), kDisabled);
    // Enabled again under the pointer: the hover look is back.
    button.setEnabled(true);
    EXPECT_EQ(button.ChoosePicture(button.GetItemState()), CBitmapButtonEx::Picture::Hover);
    button.setEnabled(false);
    Leave(button);
    EXPECT_EQ(button.ChoosePicture(button.GetItemState()), CBitmapButtonEx::Picture::Disabled);
    // A disabled button takes no moves, so the hover does not start.
    MoveOver(button);
    EXPECT_FALSE(button.IsHover());

    // Without a disabled picture a disabled button shows its normal one, hovered or not.
    CBitmapButtonEx plain;
    ASSERT_TRUE(plain.LoadBitmaps(Solid(kNormal)));
    plain.SetHoverBitmap(Solid(kHover));
    MoveOver(plain);
    plain.setEnabled(false);
    EXPECT_EQ(plain.ChoosePicture(plain.GetItemState()), CBitmapButtonEx::Picture::Normal);
}

TEST_F(BitmapButtonTest, LoadsResourcePicturesAndSizesToTheNormalOne) {
    CBitmapButtonEx button;
    button.move(285, 320);
    EXPECT_TRUE(
        button.LoadBitmaps(IDB_START, IDB_START_HOVER, IDB_START_FOCUS, IDB_START_DISABLED));
    button.SizeToContent();
    EXPECT_EQ(button.geometry(), QRect(285, 320, 77, 27));
    button.SetHoverBitmap(IDB_START_HOVER);
    EXPECT_EQ(button.GetHoverBitmapID(), unsigned(IDB_START_HOVER));
    EXPECT_EQ(button.ChoosePicture(ODS_SELECTED), CBitmapButtonEx::Picture::Selected);

    // A missing optional picture fails the call but keeps the others.
    EXPECT_FALSE(button.LoadBitmaps(IDB_BROWSE, 0, 9999, IDB_BROWSE_DISABLED));
    EXPECT_EQ(button.ChoosePicture(ODS_FOCUS), CBitmapButtonEx::Picture::Normal);
    EXPECT_EQ(button.ChoosePicture(ODS_DISABLED), CBitmapButtonEx::Picture::Disabled);
    // A missing normal picture loads nothing at all.
    EXPECT_FALSE(button.LoadBitmaps(9999, IDB_START_HOVER));
    EXPECT_EQ(button.ChoosePicture(ODS_SELECTED), CBitmapButtonEx::Picture::None);

    button.SetHoverBitmap(0u);
    EXPECT_EQ(button.GetHoverBitmapID(), 0u);
}

TEST_F(BitmapButtonTest, SkinSetUpPlacesEveryButtonWithItsPictures) {
    for (const SkinButton& skin : SKIN_BUTTONS) {
        CBitmapButtonEx button;
        EXPECT_TRUE(SetUpSkinButton(button, skin)) << skin.nId;
        EXPECT_EQ(button.geometry(), FindSkinControl(skin.nId)->rc) << skin.nId;
        EXPECT_EQ(button.GetHoverBitmapID(), skin.nHover);
        const auto picture = [&](unsigned nState) { return button.ChoosePicture(nState); };
        using P = CBitmapButtonEx::Picture;
        EXPECT_EQ(picture(ODS_SELECTED), skin.nSelected ? P::Selected : P::Normal) << skin.nId;
        EXPECT_EQ(picture(ODS_FOCUS | ODS_NOFOCUSRECT), skin.nFocused ? P::Focused : P::Normal)
            << skin.nId;
        // Focus from the keyboard shows on every button, Browse's by its own picture.
        EXPECT_EQ(picture(ODS_FOCUS), skin.nFocused                 ? P::Focused
                                      : skin.nId == IDC_CHANGE_PATH ? P::KeyboardFocus
                                                                    : P::Normal)
            << skin.nId;
        EXPECT_EQ(picture(ODS_DISABLED), skin.nDisabled ? P::Disabled : P::Normal) << skin.nId;
    }
}

TEST_F(BitmapButtonTest, KeyboardFocusPictureShowsOnlyForFocusTheKeyboardGave) {
    QWidget window;
    auto* pFirst = new CBitmapButtonEx(&window);
    auto* pButton = new CBitmapButtonEx(&window);
    ASSERT_TRUE(pButton->LoadBitmaps(Solid(kNormal), QImage(), QImage(), Solid(kDisabled)));
    pButton->SetKeyboardFocusBitmap(Solid(kFocused));
    pButton->SetHoverBitmap(Solid(kHover));
    window.show();
    window.activateWindow();
    QCoreApplication::processEvents();

    struct Case {
        Qt::FocusReason reason;
        bool bShown;
    };
    const Case cases[] = {{Qt::TabFocusReason, true},      {Qt::BacktabFocusReason, true},
                          {Qt::ShortcutFocusReason, true}, {Qt::MouseFocusReason, false},
                          {Qt::OtherFocusReason, false},   {Qt::ActiveWindowFocusReason, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        pFirst->setFocus(Qt::OtherFocusReason);
        pButton->setFocus(c.reason);
        ASSERT_TRUE(pButton->hasFocus());
        EXPECT_EQ(
            pButton->ChoosePicture(pButton->GetItemState()),
            c.bShown ? CBitmapButtonEx::Picture::KeyboardFocus : CBitmapButtonEx::Picture::Normal);
    }
    // A window that comes back to the front keeps the cue the keyboard gave.
    pFirst->setFocus(Qt::OtherFocusReason);
    pButton->setFocus(Qt::TabFocusReason);
    QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(pButton, &out);
    QFocusEvent in(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(pButton, &in);
    EXPECT_EQ(pButton->ChoosePicture(pButton->GetItemState()),
              CBitmapButtonEx::Picture::KeyboardFocus);
    // Pressed, hovered or disabled looks win over the cue.
    EXPECT_EQ(pButton->ChoosePicture(ODS_FOCUS | ODS_DISABLED), CBitmapButtonEx::Picture::Disabled);
    MoveOver(*pButton);
    EXPECT_EQ(pButton->ChoosePicture(pButton->GetItemState()), CBitmapButtonEx::Picture::Hover);
}

TEST_F(BitmapButtonTest, ClickReachesTheOwnerAsClicked) {
    CBitmapButtonEx button;
    ASSERT_TRUE(button.LoadBitmaps(Solid(kNormal, QSize(20, 10))));
    button.SizeToContent();
    int nClicks = 0;
    QObject::connect(&button, &QAbstractButton::clicked, [&] { ++nClicks; });
    button.click();
    EXPECT_EQ(nClicks, 1);
}

}  // namespace
