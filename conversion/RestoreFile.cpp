#include "conversion/RestoreFile.h"

#include "platform/Platform.h"
#include "platform/TextFiles.h"

#include <QDir>

RestoreFile::RestoreFile(const Platform& platform, db::Engine engine, QString catalogue,
                         QDateTime started)
    : platform_(platform), script_(engine, catalogue), catalogue_(std::move(catalogue)),
      started_(std::move(started))
{
}

RestoreFile::~RestoreFile()
{
    // Every block was synced as it was written: nothing is left to report.
    if (writer_)
        writer_->close();
}

QString RestoreFile::path() const
{
    return created_ ? QDir::toNativeSeparators(path_) : QString();
}

Error RestoreFile::write()
{
    if (failure_.failed())
        return failure_;
    const QStringList block = script_.takeBlock();
    if (block.isEmpty())
        return {};
    const bool appending = writer_ != nullptr;
    Error e = appending ? Error() : create();
    if (!e.failed())
        e = append(block);
    if (!e.failed())
        return {};
    // What did reach the disk is taken back: the file ends with its last whole trailer and
    // runs clean. A file this call created holds no block yet, and goes; a name that was
    // taken is never touched.
    bool whole = false;
    if (appending) {
        whole = !writer_->truncate(wholeSize_).failed() && !writer_->sync().failed();
    } else if (writer_) {
        writer_.reset();
        platform_.files.removeFile(path_);
        created_ = false;
    }
    writer_.reset();
    failure_ = {e.number, QStringLiteral("Impossibile scrivere il file di ripristino %1: la "
                                         "conversione è stata interrotta prima di modificare "
                                         "altri dati.%2 %3")
                              .arg(QDir::toNativeSeparators(path_),
                                   whole ? QStringLiteral(" Il file di ripristino è integro fino "
                                                          "all'ultima modifica confermata.")
                                         : QString(),
                                   e.description)};
    return failure_;
}

Error RestoreFile::create()
{
    TextFileSystem& files = platform_.files;
    const QString folder = platform_.inProgramFolder(QStringLiteral("LOGS"));
    // Only letters, digits and '_' of the catalogue reach the name, which must be a file's.
    QString name;
    for (const QChar c : catalogue_)
        name += c.isLetterOrNumber() && c.unicode() < 0x80 ? c : QLatin1Char('_');
    const QString base = folder + QDir::separator() + QStringLiteral("Ripristino_") + name +
                         QLatin1Char('_') + started_.toString(QStringLiteral("yyyy_MM_dd_HHmmss"));
    path_ = base + QStringLiteral(".sql");
    if (!files.folderExists(folder)) {
        if (Error e = files.createFolder(folder); e.failed())
            return e;
    }
    // A second run in the same second must not replace the first one's file.
    Error e = files.createNew(path_, writer_);
    for (int n = 2; e.number == ErrorNumber::FileExists && n < 100; ++n) {
        path_ = base + QStringLiteral("_%1.sql").arg(n);
        e = files.createNew(path_, writer_);
    }
    if (e.failed())
        return e;
    created_ = true;
    for (const QString& line : script_.header(started_)) {
        if (Error e = writer_->writeLine(line); e.failed())
            return e;
    }
    return {};
}

Error RestoreFile::append(const QStringList& block)
{
    // See RestoreScript.cpp: the new block and its trailer reach the disk before the trailer
    // before them stops committing, so the file on the disk always ends committing. One line
    // per block keeps the writing cheap; the text is the same.
    const QString newLine = QStringLiteral("\r\n");
    wholeSize_ = writer_->size();
    if (Error e = writer_->writeLine(block.join(newLine)); e.failed())
        return e;
    const qint64 previous = liveTrailer_;
    liveTrailer_ = writer_->size();
    if (Error e = writer_->writeLine(script_.trailer().join(newLine)); e.failed())
        return e;
    if (Error e = writer_->sync(); e.failed())
        return e;
    return previous < 0 ? Error() : writer_->rewriteLine(previous, script_.spentTrailer());
}
