#include "app/core/HostFolder.h"

#include "app/core/Mod.h"
#include "platform/Dialogs.h"
#include "platform/Platform.h"
#include "platform/TextFiles.h"

#include <QDir>

namespace {

const QString kGaveUp = QStringLiteral("xxx");
const QString kGiveUpMessage =
    QStringLiteral(" Se non riusciamo a trovare il percorso della cartella di Mirkl, è Possiamo "
                   "copiare questo programma dentro la cartella Mirkel");

} // namespace

QStringList hostConfigCandidates(const QString& programFolder)
{
    QStringList candidates{programFolder + QDir::separator() + QStringLiteral("Mirkel.XML")};
#ifdef Q_OS_WIN
    candidates << QStringLiteral("c:\\Programmi\\mirkel\\Mirkel.XML")
               << QStringLiteral("C:\\Program Files (x86)\\Mirkel\\Mirkel.XML")
               << QStringLiteral("C:\\Program Files\\Mirkel\\Mirkel.XML");
#endif
    return candidates;
}

QString existingFileIgnoringCase(TextFileSystem& files, const QString& path)
{
    if (files.fileExists(path))
        return path;
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return QString();
#else
    // Split at the last separator only, so a doubled one before the name stays as typed.
    const qsizetype cut = path.lastIndexOf(QDir::separator());
    if (cut < 0)
        return QString();
    const QString folder = path.left(cut + 1);
    const QString name = path.mid(cut + 1);
    const QStringList entries = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return folder + entry;
    }
    return QString();
#endif
}

QString FindHostFolder(const Platform& platform, Mod& mod, bool& gaveUp)
{
    gaveUp = false;
    QString path;
    for (const QString& candidate : hostConfigCandidates(platform.programFolder)) {
        path = candidate;
        if (const QString found = existingFileIgnoringCase(platform.files, path); !found.isEmpty())
            return found;
    }

    for (;;) {
        mod.PickedFolder = platform.dialogs.pickFolder();
        if (mod.PickedFolder == kGaveUp) {
            platform.dialogs.message(kGiveUpMessage, MsgIcon::None);
            gaveUp = true;
            return path;
        }
        // Closed without a choice: the last path is tried again, and fails again.
        if (!mod.PickedFolder.isEmpty())
            path = mod.PickedFolder + QDir::separator() + QStringLiteral("mirkel.xml");
        if (const QString found = existingFileIgnoringCase(platform.files, path); !found.isEmpty())
            return found;
    }
}
