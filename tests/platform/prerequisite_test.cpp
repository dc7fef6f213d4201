#include "platform/prerequisite.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/string_table.h"
#include "support/env_guard.h"
#include "support/log_capture.h"
#include "support/sandbox.h"

namespace {

namespace fs = std::filesystem;

struct FakeDialog : IPrerequisiteWarningDialog {
    void DoModal(const std::string& message, bool bRedistMissing, bool bDirectXMissing) override {
        ++calls;
        shownMessage = message;
        redistMissing = bRedistMissing;
        directXMissing = bDirectXMissing;
    }
    int calls = 0;
    std::string shownMessage;
    bool redistMissing = false;
    bool directXMissing = false;
};

class PrerequisiteTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_env.UseHome(m_box.Path());
        m_env.Set("WINEPREFIX", (m_box.Path() / "prefix").string());
        fs::create_directories(SystemFolder());
    }

    fs::path SystemFolder() const { return m_box.Path() / "prefix/drive_c/windows/system32"; }

    // The completion sequence's calls, in its order.
    void RunCheck(FakeDialog& dialog) {
        const bool vc = IsVcRuntimeInstalled();
        const bool dx = IsDirectXRuntimeInstalled();
        ShowPrerequisiteWarning(vc, dx, dialog);
    }

    Sandbox m_box;
    EnvGuard m_env;
    LogCapture m_log{m_box.Path() / "log"};
};

TEST_F(PrerequisiteTest, MissingPackagesAreLoggedAndShown) {
    struct Case {
        bool vcFile;
        bool dxFile;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {true, true, {}},
        {true, false, {"DirectX Runtime is not installed"}},
        {false, true, {"Visual C++ Redistributable is not installed"}},
        {false,
         false,
         {"Visual C++ Redistributable is not installed", "DirectX Runtime is not installed"}},
    };
    for (const Case& c : cases) {
        Sandbox box;
        LogCapture log(box.Path());
        m_env.Set("WINEPREFIX", box.Path().string());
        const fs::path system = box.Path() / "drive_c/windows/system32";
        fs::create_directories(system);
        if (c.vcFile) {
            box.Write("drive_c/windows/system32/vcomp140.dll", "MZ");
        }
        if (c.dxFile) {
            box.Write("drive_c/windows/system32/d3dx9_31.dll", "MZ");
        }
        FakeDialog dialog;
        RunCheck(dialog);
        const std::string label = std::to_string(c.vcFile) + std::to_string(c.dxFile);
        EXPECT_EQ(log.Lines(), c.lines) << label;
        EXPECT_EQ(dialog.calls, c.vcFile && c.dxFile ? 0 : 1) << label;
        if (dialog.calls == 1) {
            EXPECT_EQ(dialog.redistMissing, !c.vcFile) << label;
            EXPECT_EQ(dialog.directXMissing, !c.dxFile) << label;
            EXPECT_EQ(dialog.shownMessage, LoadFormatString(132));
            EXPECT_EQ(dialog.shownMessage.rfind("[Warning] The installation is complete", 0), 0u);
        }
    }
}

TEST_F(PrerequisiteTest, ProbeNamesMatchInAnyLetterCase) {
    m_box.Write("prefix/drive_c/windows/system32/VCOMP140.DLL", "MZ");
    m_box.Write("prefix/drive_c/windows/system32/D3dx9_31.Dll", "MZ");
    EXPECT_TRUE(IsVcRuntimeInstalled());
    EXPECT_TRUE(IsDirectXRuntimeInstalled());
    EXPECT_TRUE(m_log.Lines().empty());
}

TEST_F(PrerequisiteTest, DefaultPrefixIsBelowHome) {
    m_env.Unset("WINEPREFIX");
    m_box.Write("home/.wine/drive_c/windows/system32/vcomp140.dll", "MZ");
    std::string folder;
    ASSERT_TRUE(GetPrerequisiteSystemFolder(folder));
    EXPECT_EQ(folder, (m_box.Path() / "home/.wine/drive_c/windows/system32").string());
    EXPECT_TRUE(IsVcRuntimeInstalled());
    EXPECT_FALSE(IsDirectXRuntimeInstalled());
}

TEST_F(PrerequisiteTest, UnusablePrefixCountsAsMissing) {
    m_box.Write("prefix/drive_c/windows/system32/vcomp140.dll", "MZ");
    m_env.Set("WINEPREFIX", "relative/prefix");
    EXPECT_FALSE(IsVcRuntimeInstalled());
    m_env.Unset("WINEPREFIX");
    m_env.Unset("HOME");
    EXPECT_FALSE(IsVcRuntimeInstalled());
    FakeDialog dialog;
    ShowPrerequisiteWarning(false, false, dialog);
    EXPECT_EQ(dialog.calls, 1);
}

}  // namespace
