#include "ui/skin_accessible.h"

#include <QAccessible>

#include "ui/label_accessible.h"
#include "ui/progress_accessible.h"
#include "ui/text_progress_ctrl.h"
#include "ui/transparent_static.h"

namespace {

QAccessibleInterface* CreateSkinAccessible(const QString&, QObject* pObject) {
    if (auto* pBar = qobject_cast<CTextProgressCtrl*>(pObject))
        return new CProgressAccessible(pBar);
    if (auto* pLabel = qobject_cast<CTransparentStatic*>(pObject))
        return new CLabelAccessible(pLabel);
    return nullptr;
}

}  // namespace

void InstallSkinAccessibleFactory() {
    static const bool bInstalled = [] {
        QAccessible::installFactory(CreateSkinAccessible);
        return true;
    }();
    (void)bInstalled;
}
