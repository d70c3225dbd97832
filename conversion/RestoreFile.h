#pragma once

#include "db/RestoreScript.h"
#include "platform/Error.h"

#include <QDateTime>
#include <QString>
#include <memory>

struct Platform;
class TextWriter;

// The run's restore file, LOGS/Ripristino_<catalogue>_<YYYY_MM_DD_HHMMSS>.sql in the program
// folder: written ahead of every transaction that changes Prodotti or CodiciCorvel, so that
// after a crash it covers every committed one. Created with the first block; a run that
// changes nothing leaves no file.
class RestoreFile
{
public:
    RestoreFile(const Platform& platform, db::Engine engine, QString catalogue, QDateTime started);
    ~RestoreFile();
    RestoreFile(const RestoreFile&) = delete;
    RestoreFile& operator=(const RestoreFile&) = delete;

    // Where the statements of the next block are gathered.
    db::RestoreScript& script() { return script_; }

    // Appends a block taken from script() and returns once the disk holds it; nothing to do
    // when the block is empty. On failure the file is cut back to what it held before, so it
    // still runs clean (a file without a block is removed). The first failure sticks: every
    // later call returns it, as the run must change nothing more.
    Error write(const QStringList& block);
    // The same for the block gathered so far.
    Error write() { return write(script_.takeBlock()); }
    const Error& failure() const { return failure_; }
    // With native separators; empty until the file is created.
    QString path() const;

private:
    Error create();
    Error append(const QStringList& block);

    const Platform& platform_;
    db::RestoreScript script_;
    QString catalogue_;
    QDateTime started_;
    QString path_;
    std::unique_ptr<TextWriter> writer_;
    bool created_ = false;
    qint64 liveTrailer_ = -1;  // where the trailer that commits begins
    qint64 wholeSize_ = 0;     // the file's size before the append under way
    qint64 spentTrailer_ = -1; // the trailer the append under way turns into a comment
    Error failure_;
};
