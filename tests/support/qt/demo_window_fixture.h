// The installer's window at the end of its session start: a sandboxed home, nginx on loopback
// serving a one-file list, and a prompt that answers No and OK and keeps what it was shown.
// Window is CQuellbridgerDlg or a test's subclass of it. Thread: the test's main thread.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/user_prompt.h"
#include "support/env_guard.h"
#include "support/log_capture.h"
#include "support/nginx_server.h"
#include "support/sandbox.h"
#include "support/test_list.h"

class RefusingPrompt : public IUserPrompt {
public:
    int MessageBox(const std::string& text, unsigned type) override {
        boxes.emplace_back(text, type);
        return (type & 0xF) == MB_YESNO ? IDNO : IDOK;
    }
    std::vector<std::pair<std::string, unsigned>> boxes;
};

template <typename Window>
class DemoWindowFixture : public ::testing::Test {
protected:
    // Call from SetUp once the application exists, inside ASSERT_NO_FATAL_FAILURE.
    void OpenWindow() {
        m_env.UseHome(m_box.Path());
        m_docRoot.Write("filelist.json",
                        ListDocument(MakeList("http://127.0.0.1:1/client/",
                                              {{"README.txt", "Talvermoor demo client\n"}})));
        ASSERT_TRUE(m_nginx.Start());
        m_env.Set("QUELLBRIDGER_FILE_LIST_URL", m_nginx.BaseUrl() + "filelist.json");
        m_window = std::make_unique<Window>();
        m_window->SetPrompt(&m_prompt);
        ASSERT_TRUE(m_window->OnInitDialog());
        m_window->show();
        QCoreApplication::processEvents();
    }

    Sandbox m_box;
    EnvGuard m_env;
    // Puts the global log back as it was once the window has pointed it at the daily file.
    LogCapture m_logRestore{m_box.Path() / "capture"};
    Sandbox m_docRoot;
    NginxServer m_nginx{m_docRoot.Path()};
    RefusingPrompt m_prompt;
    std::unique_ptr<Window> m_window;
};
