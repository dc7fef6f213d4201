// Thread: UI thread only; owned by its parent widget, owns its pictures.
// Push button that shows nothing but a picture chosen by its state (normal, pressed, focused,
// disabled), or a hover picture while the pointer is over it; one colour of each is transparent.
#pragma once

#include <QAbstractButton>
#include <QImage>

#include "ui/color_ref.h"

// State bits of one owner-draw request. ODS_NOFOCUSRECT: the focus did not come from the
// keyboard, so keyboard cues stay hidden.
enum : unsigned {
    ODS_SELECTED = 0x0001,
    ODS_DISABLED = 0x0004,
    ODS_FOCUS = 0x0010,
    ODS_NOFOCUSRECT = 0x0200
};

class CBitmapButtonEx : public QAbstractButton {
    Q_OBJECT

public:
    enum class Picture { None, Normal, Selected, Focused, Disabled, Hover, KeyboardFocus };

    explicit CBitmapButtonEx(QWidget* pParent = nullptr);
    ~CBitmapButtonEx() override;

    // Drops the four state pictures and loads the given resource ids (0 = none; the normal one
    // is required). False when any requested picture failed; a failed normal one stops there.
    bool LoadBitmaps(unsigned nIDBitmap, unsigned nIDBitmapSel = 0, unsigned nIDBitmapFocus = 0,
                     unsigned nIDBitmapDisabled = 0);
    // The same with pictures at hand; a null image counts as "none".
    bool LoadBitmaps(const QImage& bitmap, const QImage& bitmapSel = QImage(),
                     const QImage& bitmapFocus = QImage(), const QImage& bitmapDisabled = QImage());
    // Resizes the button to its normal picture (its size in device-independent pixels) without
    // moving it.
    void SizeToContent();

    virtual void SetTransparentColor(COLORREF crTransparent);
    // Loads the hover picture; id 0 removes it.
    virtual void SetHoverBitmap(unsigned nIDBitmap);
    void SetHoverBitmap(const QImage& bitmap);
    // Shown while the button holds a focus the keyboard gave it and has no focused picture of its
    // own; id 0 removes it.
    void SetKeyboardFocusBitmap(unsigned nIDBitmap);
    void SetKeyboardFocusBitmap(const QImage& bitmap);

    COLORREF GetTransparentColor() const { return m_crTransparent; }
    unsigned GetHoverBitmapID() const { return m_nHoverBitmapID; }
    bool IsHover() const { return m_bHover; }

    // ODS_ bits of the button's current state.
    unsigned GetItemState() const;
    // The picture an owner-draw request with these state bits shows.
    Picture ChoosePicture(unsigned nItemState) const;

    // Draws the current state's picture at rcItem's top left (painter in widget coordinates).
    void Draw(QPainter* pDC, const QRect& rcItem);
    // Draws the picture for the given state bits; nothing else (no text, frame or focus mark).
    virtual void DrawItem(QPainter* pDC, const QRect& rcItem, unsigned nItemState);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void focusInEvent(QFocusEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;

private:
    // A picture as loaded, and the same with its key colour made fully transparent: built once
    // per picture (and per key colour), drawn as it is on every paint.
    struct KeyedBitmap {
        QImage source;
        QImage keyed;
        bool IsLoaded() const { return !source.isNull(); }
    };
    void SetBitmap(KeyedBitmap& slot, const QImage& image) const;
    const KeyedBitmap* GetBitmap(Picture picture) const;
    // Pictures loaded by id follow the device pixel ratio of the screen the button is on.
    void LoadPicturesForRatio(int nRatio);

    KeyedBitmap m_bitmap, m_bitmapSel, m_bitmapFocus, m_bitmapDisabled;
    COLORREF m_crTransparent = RGB(255, 0, 255);
    bool m_bHover = false;
    unsigned m_nHoverBitmapID = 0;
    KeyedBitmap m_bitmapHover;
    unsigned m_nKeyboardFocusBitmapID = 0;
    KeyedBitmap m_bitmapKeyboardFocus;
    bool m_bKeyboardFocus = false;
    // Ids of the state pictures (normal, selected, focused, disabled) when loaded by id, and the
    // picture ratio they were loaded at (0: pictures given as images, never reloaded).
    unsigned m_nBitmapIDs[4] = {0, 0, 0, 0};
    int m_nPictureRatio = 0;
};
