#include "ui/skin_layout.h"

#include <QString>

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

QImage LoadBitmapResource(unsigned nId) {
    InitSkinResources();
    return QImage(QStringLiteral(":/bitmaps/%1.png").arg(nId));
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
