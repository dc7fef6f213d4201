// The about box: the program's icon, name and version, and an OK button.
// Thread: the user-interface thread; the dialog owns its child widgets.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    enum { IDD = 100 };

    explicit CAboutDlg(QWidget* parent = nullptr);

    // Client size of the dialog template (170 x 62 dialog units).
    static QSize GetTemplateSize();

    QLabel* m_stIcon;
    QLabel* m_stVersion;
    QLabel* m_stCopyright;
    QPushButton* m_btnOk;
};
