// IUserPrompt with Qt message boxes captioned with the executable's base name.
// Thread: the user-interface thread; the parent widget is borrowed, not owned.
#pragma once

#include <QString>

#include "core/user_prompt.h"

class QWidget;

class CMessageBoxPrompt : public IUserPrompt {
public:
    explicit CMessageBoxPrompt(QWidget* parent = nullptr) : m_pParent(parent) {}

    int MessageBox(const std::string& text, unsigned type) override;

    // The executable's file name without its extension ("Quellbridger").
    static QString GetCaption();

private:
    QWidget* m_pParent;
};
