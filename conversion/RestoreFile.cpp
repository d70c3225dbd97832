#include "conversion/RestoreFile.h"

#include "conversion/RunFile.h"
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

Error RestoreFile::write(const QStringList& block)
{
    if (failure_.failed())
        return failure_;
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
        // The trailer before the block taken off commits again, whatever of its comment
        // reached the disk.
        whole = !writer_->truncate(wholeSize_).failed() &&
                (spentTrailer_ < 0 ||
                 !writer_->rewriteLine(spentTrailer_, script_.liveTrailer()).failed()) &&
                !writer_->sync().failed();
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
    Error e = createRunFile(platform_, QStringLiteral("Ripristino"), catalogue_, started_,
                            QStringLiteral("sql"), Encoding::CodePage, path_, writer_);
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
    spentTrailer_ = -1;
    if (Error e = writer_->writeLine(block.join(newLine)); e.failed())
        return e;
    const qint64 previous = liveTrailer_;
    liveTrailer_ = writer_->size();
    if (Error e = writer_->writeLine(script_.trailer().join(newLine)); e.failed())
        return e;
    if (Error e = writer_->sync(); e.failed())
        return e;
    if (previous < 0)
        return {};
    spentTrailer_ = previous;
    return writer_->rewriteLine(previous, script_.spentTrailer());
}
