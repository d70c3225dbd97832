#include "conversion/RunFile.h"

#include "platform/Platform.h"

#include <QDir>

Error createRunFile(const Platform& platform, const QString& prefix, const QString& catalogue,
                    const QDateTime& started, const QString& extension, Encoding encoding,
                    QString& path, std::unique_ptr<TextWriter>& writer)
{
    TextFileSystem& files = platform.files;
    const QString folder = platform.inProgramFolder(QStringLiteral("LOGS"));
    QString name;
    for (const QChar c : catalogue)
        name += c.isLetterOrNumber() && c.unicode() < 0x80 ? c : QLatin1Char('_');
    const QString base = folder + QDir::separator() + prefix + QLatin1Char('_') + name +
                         QLatin1Char('_') + started.toString(QStringLiteral("yyyy_MM_dd_HHmmss"));
    path = base + QLatin1Char('.') + extension;
    if (!files.folderExists(folder)) {
        if (Error e = files.createFolder(folder); e.failed())
            return e;
    }
    Error e = files.createNew(path, writer, encoding);
    for (int n = 2; e.number == ErrorNumber::FileExists && n < 100; ++n) {
        path = base + QStringLiteral("_%1.").arg(n) + extension;
        e = files.createNew(path, writer, encoding);
    }
    return e;
}
