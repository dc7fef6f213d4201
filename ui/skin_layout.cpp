#include "ui/skin_layout.h"

#include <QString>

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
