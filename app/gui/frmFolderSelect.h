#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QModelIndex;
class QPushButton;
class QTreeView;

// The folder picker: a drive list, the folders of the drive, and the folder text the
// operator confirms. It hands back only a string: the folder text on "&Ok", "xxx" on
// "&Esci", "" when closed through its close box.
class frmFolderSelect : public QDialog
{
    Q_OBJECT

public:
    explicit frmFolderSelect(QWidget* parent = nullptr);

    // What the picker handed back so far.
    QString pickedFolder() const { return picked_; }
    // The folder the list is on, in native form.
    QString currentFolder() const;

    void Drive_Change();
    void Folders_Change();
    void cmdOk_Click();
    void cmdEsci_Click();

signals:
    // Emitted by either button, before the picker closes.
    void folderPicked(const QString& folder);

private:
    void Form_Load();
    void moveFolders(const QString& folder);
    void finish(const QString& folder);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* lblWarning;
    QComboBox* Drive;
    QTreeView* Folders;
    QLineEdit* Text1;
    QPushButton* cmdOk;
    QPushButton* cmdEsci;
    QFileSystemModel* model_;
    QString picked_;
    int driveIndex_ = -1;
};
