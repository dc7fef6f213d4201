// The check for the two runtime packages the game needs, looked for in the Wine prefix's
// system folder, and the warning when one is missing. Thread: the user-interface thread.
#pragma once

#include <string>

// The warning dialog as the check needs it; the user interface provides it, so this layer
// stays free of widgets.
class IPrerequisiteWarningDialog {
public:
    virtual ~IPrerequisiteWarningDialog() = default;
    // Shows message with the link of each missing package; returns when the user closed it.
    virtual void DoModal(const std::string& message, bool bRedistMissing, bool bDirectXMissing) = 0;
};

// The folder standing for "C:\Windows\System32": $WINEPREFIX/drive_c/windows/system32, else
// $HOME/.wine/drive_c/windows/system32; false when neither variable is usable.
bool GetPrerequisiteSystemFolder(std::string& folder);

// True when the probe file "vcomp140.dll" exists in the system folder.
bool IsVcRuntimeInstalled();
// True when the probe file "d3dx9_31.dll" exists in the system folder.
bool IsDirectXRuntimeInstalled();

// Nothing when both are present; otherwise logs each missing package and shows the warning
// (string 132) through dialog, returning after it was closed.
void ShowPrerequisiteWarning(bool bVcRuntimeInstalled, bool bDirectXInstalled,
                             IPrerequisiteWarningDialog& dialog);
