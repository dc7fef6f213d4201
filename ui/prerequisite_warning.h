// The prerequisite check's warning dialog shown as a CMessageBoxDlg over the main window.
// Thread: the user-interface thread; the parent window is borrowed, not owned.
#pragma once

#include "platform/prerequisite.h"

class QWidget;

class CPrerequisiteWarning : public IPrerequisiteWarningDialog {
public:
    explicit CPrerequisiteWarning(QWidget* parent = nullptr) : m_pParent(parent) {}

    void DoModal(const std::string& message, bool bRedistMissing, bool bDirectXMissing) override;

private:
    QWidget* m_pParent;
};
