// Thread: UI thread only; made and owned by Qt's accessibility cache for one bar.
// What assistive technology sees of a painted progress bar: a progress bar with its position,
// range and percentage.
#pragma once

#include <QAccessibleWidget>

class CTextProgressCtrl;

class CProgressAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit CProgressAccessible(CTextProgressCtrl* pBar);

    QString text(QAccessible::Text t) const override;
    void* interface_cast(QAccessible::InterfaceType t) override;

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant& value) override;  // read only: the download moves it
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

private:
    CTextProgressCtrl* Bar() const;
};
