// Thread: UI thread only; made and owned by Qt's accessibility cache for one label.
// What assistive technology sees of a transparent label: static text that reads as its text.
#pragma once

#include <QAccessibleWidget>

class CTransparentStatic;

class CLabelAccessible : public QAccessibleWidget {
public:
    explicit CLabelAccessible(CTransparentStatic* pLabel);

    // Name and value: the label's text (a name set on the widget wins for the name).
    QString text(QAccessible::Text t) const override;
};
