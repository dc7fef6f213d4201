// The warning shown after an installation when a runtime package the game needs is missing:
// a white dialog with the warning icon, a text and a link per missing package.
// Thread: the user-interface thread; the dialog owns its child widgets.
#pragma once

#include <QDialog>
#include <QUrl>
#include <string>

class QLabel;

class CMessageBoxDlg : public QDialog {
    Q_OBJECT

public:
    enum { IDD = 157 };
    enum { IDC_MESSAGE = 1031, IDC_LINK_REDIST = 1034, IDC_LINK_DIRECTX = 1035, IDC_ICON = 1036 };
    // Pixel height the dialog gains per link row.
    static constexpr int LINK_ROW_HEIGHT = 16;

    explicit CMessageBoxDlg(QWidget* parent = nullptr);

    // Runs OnInitDialog once, before the dialog is first shown.
    void setVisible(bool visible) override;

    // Applies the members below: the icon, the white background, the text in its font, and
    // the links of the missing packages with the dialog's height fitted to them.
    bool OnInitDialog();

    // The help pages of the two packages on the support site.
    static QUrl GetRedistUrl();
    static QUrl GetDirectXUrl();

    // Client size of the dialog template (218 x 80 dialog units).
    static QSize GetTemplateSize();

    QLabel* m_linkRedist;
    QLabel* m_linkDirectX;
    QLabel* m_stMessage;
    std::string m_strMessage;  // set by the caller before the dialog runs
    bool m_bRedistMissing = false;
    bool m_bDirectXMissing = false;
    QLabel* m_stIcon;

private:
    static void SetLinkUrl(QLabel* link, const QUrl& url);
    static void OnLinkActivated(const QString& link);

    bool m_bInitialized = false;
};
