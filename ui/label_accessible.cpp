#include "ui/label_accessible.h"

#include "ui/transparent_static.h"

CLabelAccessible::CLabelAccessible(CTransparentStatic* pLabel)
    : QAccessibleWidget(pLabel, QAccessible::StaticText) {}

QString CLabelAccessible::text(QAccessible::Text t) const {
    const auto* pLabel = static_cast<const CTransparentStatic*>(widget());
    if (t == QAccessible::Name && !pLabel->accessibleName().isEmpty())
        return pLabel->accessibleName();
    if (t == QAccessible::Name || t == QAccessible::Value)
        return QString::fromStdString(pLabel->GetWindowText());
    return QAccessibleWidget::text(t);
}
