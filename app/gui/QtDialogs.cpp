#include "app/gui/QtDialogs.h"

#include "app/gui/frmFolderSelect.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace {

QMessageBox::Icon boxIcon(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Exclamation:
        return QMessageBox::Warning;
    case MsgIcon::Critical:
        return QMessageBox::Critical;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

MsgAnswer QtDialogs::message(const QString& text, MsgIcon icon, const QString& title,
                             MsgButtons buttons)
{
    QMessageBox box(boxIcon(icon), title.isEmpty() ? defaultTitle() : title, text,
                    buttons == MsgButtons::YesNo ? QMessageBox::Yes | QMessageBox::No
                                                 : QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    default:
        return MsgAnswer::Ok;
    }
}

std::optional<QString> QtDialogs::openFile(const QString& presetName, const QString& folder)
{
    const QString chosen =
        QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(),
                                     QDir(QDir::fromNativeSeparators(folder)).filePath(presetName));
    if (chosen.isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(chosen);
}

QString QtDialogs::pickFolder()
{
    frmFolderSelect picker(QApplication::activeWindow());
    picker.exec();
    return picker.pickedFolder();
}
