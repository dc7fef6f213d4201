#include "installer/message_box_prompt.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

QString CMessageBoxPrompt::GetCaption() {
    const QString path = QCoreApplication::applicationFilePath();
    const QString name = QFileInfo(path).completeBaseName();
    return name.isEmpty() ? QStringLiteral("Quellbridger") : name;
}

int CMessageBoxPrompt::MessageBox(const std::string& text, unsigned type) {
    QMessageBox box(m_pParent);
    box.setWindowTitle(GetCaption());
    box.setText(QString::fromStdString(text));
    const bool yesNo = (type & 0xF) == MB_YESNO;
    if ((type & 0xF0) == MB_ICONERROR) {
        box.setIcon(QMessageBox::Critical);
    } else {
        box.setIcon(yesNo ? QMessageBox::Question : QMessageBox::Warning);
    }
    if (yesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}
