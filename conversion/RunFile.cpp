#include "conversion/RunFile.h"

#include "platform/Platform.h"

#include <QCryptographicHash>
#include <QDir>

namespace {

// Room for the program's folder: a Windows path holds 260 characters in all.
constexpr qsizetype kReadableLength = 40;

// The catalogue as a part of a file name. ASCII letters, digits and '_' stay; anything else
// becomes '_'. A name that had to be changed or cut gets a mark of its exact text, so that
// catalogues that differ only where a file name cannot follow ("MIRKEL]2012", "MIRKEL;2012")
// never share a name; a kept name, which holds no '-', is never taken for a marked one.
QString namePart(const QString& catalogue)
{
    QString name;
    for (const QChar c : catalogue)
        name += (c.isLetterOrNumber() || c == u'_') && c.unicode() < 0x80 ? c : QLatin1Char('_');
    if (name == catalogue && name.size() <= kReadableLength)
        return name;
    const QByteArray mark =
        QCryptographicHash::hash(catalogue.toUtf8(), QCryptographicHash::Sha1).toHex().left(8);
    return name.left(kReadableLength) + QLatin1Char('-') + QString::fromLatin1(mark);
}

} // namespace

Error createRunFile(const Platform& platform, const QString& prefix, const QString& catalogue,
                    const QDateTime& started, const QString& extension, Encoding encoding,
                    QString& path, std::unique_ptr<TextWriter>& writer)
{
    TextFileSystem& files = platform.files;
    const QString folder = platform.inProgramFolder(QStringLiteral("LOGS"));
    const QString base = folder + QDir::separator() + prefix + QLatin1Char('_') +
                         namePart(catalogue) + QLatin1Char('_') +
                         started.toString(QStringLiteral("yyyy_MM_dd_HHmmss"));
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
