// The questions and notices the installer puts to the user, behind an interface so that the
// logic can be driven by tests; the window answers with real message boxes.
// Thread: the user-interface thread.
#pragma once

#include <string>

// Message box types and answers, with their Windows values.
enum : unsigned { MB_OK = 0x0, MB_YESNO = 0x4, MB_ICONERROR = 0x10 };
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

class IUserPrompt {
public:
    virtual ~IUserPrompt() = default;
    // Shows text modally with the buttons and icon of type (an OK box without an icon shows
    // the exclamation icon, a Yes/No box the question icon); returns the button pressed,
    // IDYES or IDNO for MB_YESNO (IDNO when the box was closed otherwise), IDOK for MB_OK.
    virtual int MessageBox(const std::string& text, unsigned type) = 0;
    // The same for the text of message messageId (platform/message_id.h), for prompts that
    // want to know which message it is.
    virtual int ShowMessage(int messageId, const std::string& text, unsigned type) {
        (void)messageId;
        return MessageBox(text, type);
    }
};
