#include "app/cli_view.h"

#include <cstdio>

#include "core/user_prompt.h"

std::string CCliView::GetItemText(int control) const {
    const auto it = m_texts.find(control);
    return it == m_texts.end() ? std::string() : it->second;
}

void CCliView::SetItemText(int control, const std::string& text) {
    m_texts[control] = text;
}

int CCliView::ShowMessage(int messageId, const std::string& text, unsigned type) {
    m_nLastMessage = messageId;
    std::fprintf(stderr, "%s\n", text.c_str());
    return (type & 0xF) == MB_YESNO ? IDNO : IDOK;
}
