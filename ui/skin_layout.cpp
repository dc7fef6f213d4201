#include "ui/skin_layout.h"

#include <QString>
#include <map>
#include <mutex>
#include <utility>

#include "ui/bitmap_button_ex.h"
#include "ui/text_progress_ctrl.h"

// The artwork is an object library archived into qb_ui; calling its initialiser keeps the
// linker from dropping it.
static void InitSkinResources() {
    static const bool bDone = [] {
        Q_INIT_RESOURCE(skin);
        return true;
    }();
    (void)bDone;
}

const SkinControl* FindSkinControl(int nId) {
    for (const SkinControl& control : SKIN_CONTROLS) {
        if (control.nId == nId)
            return &control;
    }
    return nullptr;
}

QFont SkinDialogFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(9);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

int SkinPictureRatio(qreal dDevicePixelRatio) {
    return dDevicePixelRatio > 1.0 ? SKIN_HIGH_DPI_RATIO : 1;
}

QImage LoadBitmapResource(unsigned nId, qreal dDevicePixelRatio) {
    InitSkinResources();
    static std::mutex s_lock;
    static std::map<std::pair<unsigned, int>, QImage> s_cache;
    const int nRatio = SkinPictureRatio(dDevicePixelRatio);
    const std::lock_guard<std::mutex> lock(s_lock);
    const auto key = std::make_pair(nId, nRatio);
    if (const auto it = s_cache.find(key); it != s_cache.end())
        return it->second;
    QImage image;
    if (nRatio > 1) {
        image = QImage(QStringLiteral(":/bitmaps/%1@%2x.png").arg(nId).arg(nRatio));
        image.setDevicePixelRatio(nRatio);
    }
    if (image.isNull())
        image = QImage(QStringLiteral(":/bitmaps/%1.png").arg(nId));
    s_cache.emplace(key, image);
    return image;
}

const char* SkinAccessibleName(int nId) {
    for (const SkinControlName& entry : SKIN_CONTROL_NAMES) {
        if (entry.nId == nId)
            return entry.szName;
    }
    return "";
}

QRect SkinLabelTextRect(int nId) {
    const SkinControl* pControl = FindSkinControl(nId);
    if (pControl == nullptr)
        return QRect();
    QRect rc = pControl->rc;
    constexpr int kGap = 3;
    for (const SkinCaption& caption : SKIN_CAPTIONS) {
        const bool bSameLine =
            caption.rcBox.top() <= rc.bottom() && caption.rcBox.bottom() >= rc.top();
        if (bSameLine && caption.rcBox.left() > rc.left() &&
            caption.rcBox.left() - kGap <= rc.right())
            rc.setRight(caption.rcBox.left() - kGap - 1);
    }
    return rc;
}

QImage LoadIconResource(unsigned nId) {
    InitSkinResources();
    return QImage(QStringLiteral(":/icons/%1.png").arg(nId));
}

bool SetUpSkinButton(CBitmapButtonEx& button, const SkinButton& skin) {
    if (const SkinControl* pControl = FindSkinControl(skin.nId))
        button.move(pControl->rc.topLeft());
    const bool bLoaded =
        button.LoadBitmaps(skin.nNormal, skin.nSelected, skin.nFocused, skin.nDisabled);
    button.SizeToContent();
    button.SetHoverBitmap(skin.nHover);
    for (const SkinKeyboardFocus& focus : SKIN_KEYBOARD_FOCUS) {
        if (focus.nId == skin.nId)
            button.SetKeyboardFocusBitmap(focus.nBitmap);
    }
    return bLoaded && (skin.nHover == 0 || !LoadBitmapResource(skin.nHover).isNull());
}

void SetUpSkinProgressBar(CTextProgressCtrl& bar, const SkinProgressBar& skin) {
    QPalette palette = bar.palette();
    palette.setColor(QPalette::Button, ColorRefToQColor(SKIN_BAR_EDGE_COLOR));
    bar.setPalette(palette);
    bar.SetRange(skin.nMin, skin.nMax);
    bar.SetBkColor(skin.crBk);
    bar.SetBarColor(skin.crBar);
    bar.SetTextColor(skin.crText);
    bar.SetBarTextColor(skin.crBarText);
    bar.SetTextAlign(skin.nTextAlign);
    bar.SetShowPercent(skin.bShowPercent);
}
