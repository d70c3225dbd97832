#pragma once

#include "db/ConnectionString.h"
#include "platform/Error.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <map>

namespace db {

class Connection;

// A restore file (RestoreScript) as the program reads it to apply it itself.
struct RestoreText
{
    Engine engine = Engine::Sqlite; // the form it is written in
    QString catalogue;              // as the file names it; empty when it names none
    QDateTime started;              // the run's start, as the header gives it
    bool applied = false;           // it carries the program's mark
    int products = 0;               // how many products it can put back
    // What sqlite3 runs one at a time (statements), or sqlcmd (the batches between GO lines).
    QStringList units;
    // Text after the last whole statement (after the last GO): where a crash cut the file. On
    // the embedded engine it is not a unit; on SQL Server it is the last one.
    bool cutShort = false;
};

// lines: the file's lines as read.
RestoreText readRestore(const QStringList& lines);

// The line the program adds to a file it applied, so that it does not offer it again. A
// comment: run again by hand, the file does what it did the first time.
QString appliedMark(const QDateTime& when);

// What a file did, by product.
struct RestoreOutcome
{
    struct Row
    {
        QString codeBefore; // CodiceTestata found
        QString codeAfter;  // what it became; for a product left, as found
        QString left;       // why it was left; empty when put back
        // Found as before the run: the file had nothing of its own to put back (it was applied
        // already, or its transaction never committed).
        bool asBefore = false;
    };
    std::map<qint64, Row> products;
};

// Runs the file on connection, open on its catalogue, one unit after the other as sqlite3
// -bail or sqlcmd -b would, and reads the lists its last trailer prints. What the file had not
// committed when it ends or fails is rolled back, as when sqlite3 or sqlcmd ends; the end a
// crash cut off is no failure. Run one file a session: a file's header refuses a session
// another one did not finish. progress hears each unit done.
Error applyRestore(Connection& connection, const RestoreText& file, RestoreOutcome& outcome,
                   const std::function<void(int done, int total)>& progress);

} // namespace db
