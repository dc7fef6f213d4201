// The folder browser of the change-folder button: folders only, a text line above the tree
// with the space needed and the free space of the selection, and a make-new-folder button.
// Thread: the user-interface thread; the dialog owns its model and child widgets.
#pragma once

#include <QDialog>
#include <string>

class QFileSystemModel;
class QLabel;
class QModelIndex;
class QPushButton;
class QTreeView;

class CFolderBrowserDlg : public QDialog {
    Q_OBJECT

public:
    enum { IDC_STATUS_TEXT = 14146 };

    // Opens on initialFolder (or its nearest existing parent); totalSizeText is the size
    // text of the whole download.
    CFolderBrowserDlg(const std::string& initialFolder, const std::string& totalSizeText,
                      QWidget* parent = nullptr);

    // Runs the browser modally. False when cancelled; otherwise true and the chosen folder in
    // path, which is empty when the chosen item has no local path.
    static bool Browse(QWidget* parent, const std::string& initialFolder,
                       const std::string& totalSizeText, std::string& path);

    // Selects the folder and shows it; false when it is not in the tree.
    bool SetSelection(const std::string& path);
    // The selected folder's local path; empty when nothing (or nothing local) is selected.
    std::string GetSelectedPath() const;
    QString GetStatusText() const;

    // A new selection: the text line shows the space needed and the selection's free space;
    // a selection without a local path (empty) keeps the previous text.
    void OnSelectionChanged(const std::string& localPath);
    // Makes "New folder" (or "New folder (n)") in the selection and starts renaming it.
    // False when it could not be made.
    bool OnMakeNewFolder();

    QLabel* m_stStatusText;
    QTreeView* m_tree;
    QPushButton* m_btnNewFolder;
    QPushButton* m_btnOk;
    QPushButton* m_btnCancel;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnCurrentChanged(const QModelIndex& current);
    void KeepSelectionVisible();

    QFileSystemModel* m_pModel;
    std::string m_strTotalSizeText;
};
