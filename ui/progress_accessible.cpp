#include "ui/progress_accessible.h"

#include "ui/text_progress_ctrl.h"

CProgressAccessible::CProgressAccessible(CTextProgressCtrl* pBar)
    : QAccessibleWidget(pBar, QAccessible::ProgressBar) {}

CTextProgressCtrl* CProgressAccessible::Bar() const {
    return static_cast<CTextProgressCtrl*>(widget());
}

QString CProgressAccessible::text(QAccessible::Text t) const {
    if (t == QAccessible::Value) {
        // What the bar shows: its percentage, or its text when the percentage is off.
        return Bar()->GetDisplayText();
    }
    return QAccessibleWidget::text(t);
}

void* CProgressAccessible::interface_cast(QAccessible::InterfaceType t) {
    if (t == QAccessible::ValueInterface)
        return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
}

QVariant CProgressAccessible::currentValue() const {
    return Bar()->GetPos();
}

void CProgressAccessible::setCurrentValue(const QVariant&) {}

QVariant CProgressAccessible::maximumValue() const {
    int nLower = 0, nUpper = 0;
    Bar()->GetRange(nLower, nUpper);
    return nUpper;
}

QVariant CProgressAccessible::minimumValue() const {
    int nLower = 0, nUpper = 0;
    Bar()->GetRange(nLower, nUpper);
    return nLower;
}

QVariant CProgressAccessible::minimumStepSize() const {
    return 1;
}
