#include "ui/prerequisite_warning.h"

#include "ui/message_box_dlg.h"

void CPrerequisiteWarning::DoModal(const std::string& message, bool bRedistMissing,
                                   bool bDirectXMissing) {
    CMessageBoxDlg dlg(m_pParent);
    dlg.m_strMessage = message;
    dlg.m_bRedistMissing = bRedistMissing;
    dlg.m_bDirectXMissing = bDirectXMissing;
    dlg.exec();
}
