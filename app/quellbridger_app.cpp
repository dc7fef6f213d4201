#include "app/quellbridger_app.h"

#include <QApplication>

#include "download/http_client.h"
#include "installer/installer_dialog.h"
#include "installer/message_box_prompt.h"
#include "platform/message_id.h"

CQuellbridgerApp::CQuellbridgerApp() : m_hMutex("QUELLBRIDGER_MUTEX_SEA") {}

int CQuellbridgerApp::InitInstance() {
    // Before any thread exists.
    CHttpClient::GlobalInit();
    if (!m_hMutex.Acquire()) {
        CMessageBoxPrompt prompt;
        prompt.MessageBox(FormatMessageText(IDS_ALREADY_RUNNING), MB_OK);
        return ExitInstance();
    }
    {
        CQuellbridgerDlg dialog;
        if (dialog.OnInitDialog()) {
            dialog.exec();
        }
    }
    return ExitInstance();
}

int CQuellbridgerApp::ExitInstance() {
    m_hMutex.Release();
    return 0;
}
