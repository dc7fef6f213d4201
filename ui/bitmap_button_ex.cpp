#include "ui/bitmap_button_ex.h"

#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>

#include "ui/skin_layout.h"

CBitmapButtonEx::CBitmapButtonEx(QWidget* pParent) : QAbstractButton(pParent) {
    // Moves without a pressed button are what starts the hover look.
    setMouseTracking(true);
}

CBitmapButtonEx::~CBitmapButtonEx() = default;

void CBitmapButtonEx::SetBitmap(KeyedBitmap& slot, const QImage& image) const {
    slot.source = image;
    slot.keyed = QImage();
    if (image.isNull())
        return;
    QImage keyed = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key =
        qRgb(GetRValue(m_crTransparent), GetGValue(m_crTransparent), GetBValue(m_crTransparent)) &
        0xFFFFFFu;
    for (int y = 0; y < keyed.height(); ++y) {
        auto* pLine = reinterpret_cast<QRgb*>(keyed.scanLine(y));
        for (int x = 0; x < keyed.width(); ++x) {
            if ((pLine[x] & 0xFFFFFFu) == key)
                pLine[x] = 0;
        }
    }
    slot.keyed = keyed.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

bool CBitmapButtonEx::LoadBitmaps(unsigned nIDBitmap, unsigned nIDBitmapSel,
                                  unsigned nIDBitmapFocus, unsigned nIDBitmapDisabled) {
    for (KeyedBitmap* pSlot : {&m_bitmap, &m_bitmapSel, &m_bitmapFocus, &m_bitmapDisabled})
        SetBitmap(*pSlot, QImage());
    m_nBitmapIDs[0] = nIDBitmap;
    m_nBitmapIDs[1] = nIDBitmapSel;
    m_nBitmapIDs[2] = nIDBitmapFocus;
    m_nBitmapIDs[3] = nIDBitmapDisabled;
    const qreal dpr = devicePixelRatioF();
    m_nPictureRatio = SkinPictureRatio(dpr);
    SetBitmap(m_bitmap, LoadBitmapResource(nIDBitmap, dpr));
    if (!m_bitmap.IsLoaded())
        return false;
    bool bAllLoaded = true;
    const std::pair<KeyedBitmap*, unsigned> others[] = {{&m_bitmapSel, nIDBitmapSel},
                                                        {&m_bitmapFocus, nIDBitmapFocus},
                                                        {&m_bitmapDisabled, nIDBitmapDisabled}};
    for (const auto& [pSlot, nID] : others) {
        if (nID == 0)
            continue;
        SetBitmap(*pSlot, LoadBitmapResource(nID, dpr));
        bAllLoaded = bAllLoaded && pSlot->IsLoaded();
    }
    update();
    return bAllLoaded;
}

void CBitmapButtonEx::LoadPicturesForRatio(int nRatio) {
    m_nPictureRatio = nRatio;
    const qreal dpr = nRatio;
    KeyedBitmap* const pSlots[] = {&m_bitmap, &m_bitmapSel, &m_bitmapFocus, &m_bitmapDisabled};
    for (int i = 0; i < 4; ++i) {
        if (m_nBitmapIDs[i] != 0)
            SetBitmap(*pSlots[i], LoadBitmapResource(m_nBitmapIDs[i], dpr));
    }
    if (m_nHoverBitmapID != 0)
        SetBitmap(m_bitmapHover, LoadBitmapResource(m_nHoverBitmapID, dpr));
    if (m_nKeyboardFocusBitmapID != 0)
        SetBitmap(m_bitmapKeyboardFocus, LoadBitmapResource(m_nKeyboardFocusBitmapID, dpr));
}

bool CBitmapButtonEx::LoadBitmaps(const QImage& bitmap, const QImage& bitmapSel,
                                  const QImage& bitmapFocus, const QImage& bitmapDisabled) {
    for (KeyedBitmap* pSlot : {&m_bitmap, &m_bitmapSel, &m_bitmapFocus, &m_bitmapDisabled})
        SetBitmap(*pSlot, QImage());
    m_nPictureRatio = 0;
    if (bitmap.isNull())
        return false;
    SetBitmap(m_bitmap, bitmap);
    SetBitmap(m_bitmapSel, bitmapSel);
    SetBitmap(m_bitmapFocus, bitmapFocus);
    SetBitmap(m_bitmapDisabled, bitmapDisabled);
    update();
    return true;
}

void CBitmapButtonEx::SizeToContent() {
    if (m_bitmap.IsLoaded())
        resize(m_bitmap.source.deviceIndependentSize().toSize());
}

QSize CBitmapButtonEx::sizeHint() const {
    return m_bitmap.IsLoaded() ? m_bitmap.source.deviceIndependentSize().toSize()
                               : QAbstractButton::sizeHint();
}

void CBitmapButtonEx::SetTransparentColor(COLORREF crTransparent) {
    m_crTransparent = crTransparent;
    for (KeyedBitmap* pSlot : {&m_bitmap, &m_bitmapSel, &m_bitmapFocus, &m_bitmapDisabled,
                               &m_bitmapHover, &m_bitmapKeyboardFocus})
        SetBitmap(*pSlot, QImage(pSlot->source));
    update();
}

void CBitmapButtonEx::SetHoverBitmap(unsigned nIDBitmap) {
    m_nHoverBitmapID = nIDBitmap;
    SetBitmap(m_bitmapHover,
              nIDBitmap != 0 ? LoadBitmapResource(nIDBitmap, devicePixelRatioF()) : QImage());
    update();
}

void CBitmapButtonEx::SetHoverBitmap(const QImage& bitmap) {
    m_nHoverBitmapID = 0;
    SetBitmap(m_bitmapHover, bitmap);
    update();
}

void CBitmapButtonEx::SetKeyboardFocusBitmap(unsigned nIDBitmap) {
    m_nKeyboardFocusBitmapID = nIDBitmap;
    SetBitmap(m_bitmapKeyboardFocus,
              nIDBitmap != 0 ? LoadBitmapResource(nIDBitmap, devicePixelRatioF()) : QImage());
    update();
}

void CBitmapButtonEx::SetKeyboardFocusBitmap(const QImage& bitmap) {
    m_nKeyboardFocusBitmapID = 0;
    SetBitmap(m_bitmapKeyboardFocus, bitmap);
    update();
}

unsigned CBitmapButtonEx::GetItemState() const {
    unsigned nState = 0;
    if (isDown())
        nState |= ODS_SELECTED;
    if (hasFocus()) {
        nState |= ODS_FOCUS;
        if (!m_bKeyboardFocus)
            nState |= ODS_NOFOCUSRECT;
    }
    if (!isEnabled())
        nState |= ODS_DISABLED;
    return nState;
}

CBitmapButtonEx::Picture CBitmapButtonEx::ChoosePicture(unsigned nItemState) const {
    Picture picture;
    if ((nItemState & ODS_SELECTED) && m_bitmapSel.IsLoaded())
        picture = Picture::Selected;
    else if ((nItemState & ODS_FOCUS) && m_bitmapFocus.IsLoaded())
        picture = Picture::Focused;
    else if ((nItemState & ODS_DISABLED) && m_bitmapDisabled.IsLoaded())
        picture = Picture::Disabled;
    else
        picture = m_bitmap.IsLoaded() ? Picture::Normal : Picture::None;
    if ((nItemState & ODS_FOCUS) && !(nItemState & ODS_NOFOCUSRECT) &&
        !(nItemState & (ODS_SELECTED | ODS_DISABLED)) && !m_bitmapFocus.IsLoaded() &&
        m_bitmapKeyboardFocus.IsLoaded())
        picture = Picture::KeyboardFocus;
    // The pointer over the button wins over every state but disabled: a disabled button under
    // the pointer must not look pressable.
    if (m_bHover && m_bitmapHover.IsLoaded() && !(nItemState & ODS_DISABLED))
        picture = Picture::Hover;
    return picture;
}

const CBitmapButtonEx::KeyedBitmap* CBitmapButtonEx::GetBitmap(Picture picture) const {
    switch (picture) {
        case Picture::Normal:
            return &m_bitmap;
        case Picture::Selected:
            return &m_bitmapSel;
        case Picture::Focused:
            return &m_bitmapFocus;
        case Picture::Disabled:
            return &m_bitmapDisabled;
        case Picture::Hover:
            return &m_bitmapHover;
        case Picture::KeyboardFocus:
            return &m_bitmapKeyboardFocus;
        case Picture::None:
            break;
    }
    return nullptr;
}

void CBitmapButtonEx::DrawItem(QPainter* pDC, const QRect& rcItem, unsigned nItemState) {
    const KeyedBitmap* pBitmap = GetBitmap(ChoosePicture(nItemState));
    if (pBitmap == nullptr)
        return;
    // Key pixels are fully transparent, so they leave the pixel beneath as it was.
    pDC->save();
    pDC->setCompositionMode(QPainter::CompositionMode_SourceOver);
    // A picture drawn for another ratio than the device's is scaled smoothly, not by dropping
    // pixels.
    if (pBitmap->keyed.devicePixelRatio() != pDC->device()->devicePixelRatioF())
        pDC->setRenderHint(QPainter::SmoothPixmapTransform);
    pDC->drawImage(rcItem.topLeft(), pBitmap->keyed);
    pDC->restore();
}

void CBitmapButtonEx::Draw(QPainter* pDC, const QRect& rcItem) {
    DrawItem(pDC, rcItem, GetItemState());
}

void CBitmapButtonEx::paintEvent(QPaintEvent*) {
    if (m_nPictureRatio != 0 && m_nPictureRatio != SkinPictureRatio(devicePixelRatioF()))
        LoadPicturesForRatio(SkinPictureRatio(devicePixelRatioF()));
    QPainter painter(this);
    Draw(&painter, rect());
}

void CBitmapButtonEx::focusInEvent(QFocusEvent* pEvent) {
    // A window that comes back to the front gives the focus back as it was.
    const Qt::FocusReason reason = pEvent->reason();
    if (reason != Qt::ActiveWindowFocusReason)
        m_bKeyboardFocus = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                           reason == Qt::ShortcutFocusReason;
    QAbstractButton::focusInEvent(pEvent);
}

void CBitmapButtonEx::focusOutEvent(QFocusEvent* pEvent) {
    if (pEvent->reason() != Qt::ActiveWindowFocusReason)
        m_bKeyboardFocus = false;
    QAbstractButton::focusOutEvent(pEvent);
}

void CBitmapButtonEx::mouseMoveEvent(QMouseEvent* pEvent) {
    if (!m_bHover) {
        m_bHover = true;
        update();
    }
    QAbstractButton::mouseMoveEvent(pEvent);
}

void CBitmapButtonEx::leaveEvent(QEvent* pEvent) {
    // Only a hover that began with a move ends here, as only it asked for the leave notice.
    if (m_bHover) {
        m_bHover = false;
        update();
    }
    QAbstractButton::leaveEvent(pEvent);
}
