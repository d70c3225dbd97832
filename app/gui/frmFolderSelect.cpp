#include "app/gui/frmFolderSelect.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>

namespace {

// Positions are designed in twips; 15 twips make a pixel at 96 dpi.
QRect twips(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}

void setColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

QFont fontOf(const QWidget* widget, qreal points, bool bold)
{
    QFont font = widget->font();
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QString startFolder()
{
#ifdef Q_OS_WIN
    return QStringLiteral("c:\\");
#else
    return QDir::rootPath();
#endif
}

} // namespace

frmFolderSelect::frmFolderSelect(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint)
{
    setObjectName(QStringLiteral("frmFolderSelect"));
    setWindowTitle(QStringLiteral("Seleziona Cartella"));
    setFixedSize(7935 / 15, 5655 / 15);
    QFont base = font();
    base.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif")});
    base.setPointSizeF(8.25);
    setFont(base);

    Label1 = new QLabel(QStringLiteral("Non trovato il percorso della Cartella  Mirkel"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twips(240, 120, 5775, 615));
    Label1->setFont(fontOf(this, 13.5, false));
    setColour(Label1, QColor(0, 0, 192));

    Label2 = new QLabel(QStringLiteral("IMPORTANTE !"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(twips(360, 840, 1575, 255));
    Label2->setFont(fontOf(this, 8.25, true));
    setColour(Label2, QColor(255, 0, 0));

    lblWarning = new QLabel(this);
    lblWarning->setObjectName(QStringLiteral("lblWarning"));
    lblWarning->setGeometry(twips(360, 1080, 3975, 615));
    lblWarning->setFont(fontOf(this, 8.25, true));

    for (QLabel* label : {Label1, Label2, lblWarning}) {
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
    }

    Drive = new QComboBox(this);
    Drive->setObjectName(QStringLiteral("Drive"));
    Drive->setGeometry(twips(360, 1800, 5535, 315));
    for (const QFileInfo& drive : QDir::drives())
        Drive->addItem(QDir::toNativeSeparators(drive.absoluteFilePath()),
                       drive.absoluteFilePath());

    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setRootPath(QString());
    Folders = new QTreeView(this);
    Folders->setObjectName(QStringLiteral("Folders"));
    Folders->setGeometry(twips(360, 2160, 5535, 2565));
    Folders->setModel(model_);
    Folders->setHeaderHidden(true);
    for (int column = 1; column < model_->columnCount(); ++column)
        Folders->hideColumn(column);

    auto* Line1 = new QFrame(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken);
    Line1->setGeometry(360 / 15, 4800 / 15 - 1, (5880 - 360) / 15, 3);

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twips(360, 4920, 5535, 375));

    cmdOk = new QPushButton(QStringLiteral("&Ok"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setGeometry(twips(6360, 1800, 1215, 855));
    cmdOk->setFont(fontOf(this, 12, true));
    cmdOk->setAutoDefault(false);

    cmdEsci = new QPushButton(QStringLiteral("&Esci"), this);
    cmdEsci->setObjectName(QStringLiteral("cmdEsci"));
    cmdEsci->setGeometry(twips(6480, 4560, 1095, 735));
    cmdEsci->setAutoDefault(false);

    connect(Drive, &QComboBox::activated, this, &frmFolderSelect::Drive_Change);
    connect(Folders->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &frmFolderSelect::Folders_Change);
    connect(cmdOk, &QPushButton::clicked, this, &frmFolderSelect::cmdOk_Click);
    connect(cmdEsci, &QPushButton::clicked, this, &frmFolderSelect::cmdEsci_Click);

    Form_Load();
}

QString frmFolderSelect::currentFolder() const
{
    const QModelIndex current = Folders->currentIndex();
    const QString path = current.isValid() ? model_->filePath(current) : QString();
    return QDir::toNativeSeparators(path);
}

void frmFolderSelect::Form_Load()
{
    Text1->setText(currentFolder());
    const QString start = startFolder();
    const int drive =
        Drive->findData(QDir::fromNativeSeparators(start), Qt::UserRole, Qt::MatchFixedString);
    driveIndex_ = drive >= 0 ? drive : 0;
    Drive->setCurrentIndex(driveIndex_);
    moveFolders(start);
    lblWarning->setText(QStringLiteral(
        "Indicare il percorso della cartella di Mirkel  Esempio:   c:\\programmi\\mirkel"));
}

void frmFolderSelect::moveFolders(const QString& folder)
{
    const QModelIndex index = model_->index(QDir::fromNativeSeparators(folder));
    if (!index.isValid())
        return;
    Folders->setCurrentIndex(index);
    Folders->expand(index);
    Folders->scrollTo(index);
    // Set even when the list was already there, so Text1 always shows the folder moved to.
    Folders_Change();
}

void frmFolderSelect::Drive_Change()
{
    const QString drive = Drive->currentData().toString();
    // A drive that is not ready (an empty removable drive) cannot be listed: stay where we
    // were.
    const QDir dir(drive);
    if (!dir.exists() || !dir.isReadable()) {
        Drive->setCurrentIndex(driveIndex_);
        return;
    }
    driveIndex_ = Drive->currentIndex();
    moveFolders(drive);
}

void frmFolderSelect::Folders_Change()
{
    Text1->setText(currentFolder());
}

void frmFolderSelect::cmdOk_Click()
{
    finish(Text1->text());
}

void frmFolderSelect::cmdEsci_Click()
{
    finish(QStringLiteral("xxx"));
}

void frmFolderSelect::finish(const QString& folder)
{
    picked_ = folder;
    emit folderPicked(folder);
    accept();
}
