#pragma once

#include "db/ConnectionString.h"
#include "platform/Error.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class QLockFile;
class QSqlQuery;

namespace db {

// Test hook: called before every data operation with the operation's name ("open",
// "execute", "query", "begin", "commit", "catalogues"). A failed error it returns makes that
// operation fail with it, without touching the database. Cleared with an empty function.
using FaultHook = std::function<Error(const char* operation)>;
void setFaultHook(FaultHook hook);

// What the data layer sent to the engines since the program started: statements (commands
// and queries) and commits (explicit ones, and each write made outside a transaction).
struct Traffic
{
    qint64 statements = 0;
    qint64 commits = 0;
};
Traffic traffic();

// How long a statement waits for a lock another session or program holds before it fails
// with ErrorNumber::LockTimeout, in milliseconds; for connections opened afterwards. Tests
// shorten it.
int lockTimeoutMs();
void setLockTimeoutMs(int ms);

// Hears the waits for a lock that another session or program holds. A statement that meets
// such a lock is tried again, a fraction of a second at a time, until the lock comes free or
// lockTimeoutMs() has passed; between two tries waiting() is asked whether to go on, which
// lets a window repaint and its operator give the wait up.
class LockWait
{
public:
    virtual ~LockWait() = default;
    // false gives the wait up: the statement fails with ErrorNumber::Interrupted.
    virtual bool waiting(int waitedMs, int boundMs) = 0;
    // The wait is over, however it ended.
    virtual void waited() = 0;
};

// A result read whole when it is opened, like a static cursor: the row count is exact and
// later changes to the tables do not move it.
class Rows
{
public:
    // Right after opening, both bof() and eof() are true for an empty result, both false
    // otherwise.
    bool bof() const { return rows_.empty(); }
    bool eof() const { return pos_ >= rows_.size(); }
    int count() const { return static_cast<int>(rows_.size()); }
    void moveNext() { ++pos_; }

    // Field of the current row by column name, without regard to case; invalid when there
    // is no such column or no current row.
    QVariant value(const QString& field) const;
    // The field joined to an empty string: Null reads as "".
    QString text(const QString& field) const;

private:
    friend class Connection;
    QSqlRecord record_;
    std::vector<QVariantList> rows_;
    std::size_t pos_ = 0;
};

// One connection to a host catalogue, closed when it goes out of scope.
class Connection
{
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Error open(const ConnectionTarget& target);
    void close();
    // Who hears this connection's waits for a held lock, until set again; without one
    // (nullptr) a wait just blocks. wait must outlive its use here.
    void setLockWait(LockWait* wait) { lockWait_ = wait; }
    bool isOpen() const { return open_; }
    Engine engine() const { return target_.engine; }
    // SQL Server's major version read at opening (8 for 2000, 9 for 2005, ...); 0 on the
    // embedded engine.
    int serverVersion() const { return serverVersion_; }

    Error execute(const QString& sql, const QVariantList& binds = {}, int* rowsAffected = nullptr);
    // Reads the whole result, or its first maxRows rows when maxRows > 0.
    Error query(const QString& sql, const QVariantList& binds, Rows& rows, int maxRows = 0);
    // Hands each row of the result to row as it is read, in the statement's column order:
    // a long result is read once, without being held.
    Error forEach(const QString& sql, const QVariantList& binds,
                  const std::function<void(const QSqlQuery&)>& row);

    // Runs a batch of the engine's own text (one statement on the embedded engine) and hands
    // row every row of every result it gives, in order; the transactions it opens or commits
    // are its own.
    Error batch(const QString& sql, const std::function<void(const QSqlQuery&)>& row);

    Error begin();
    Error commit();
    void rollback();
    // Whether the last failure made this connection's transaction a deadlock victim.
    bool deadlocked() const { return deadlocked_; }

    // Who holds the embedded engine's conversion lock, as its lock file records it.
    struct LockHolder
    {
        QString file;    // the lock file, native separators
        QString host;    // the PC, empty when the file could not be read
        qint64 pid = 0;  // the process on that PC, 0 when unknown
        QString program; // its application name
        QDateTime since; // when the file was written; invalid when unknown
    };

    // Takes the catalogue's conversion lock without waiting, held until the connection
    // closes (or the program ends): granted is false when another connection holds it.
    // Refused on the embedded engine, holder tells where the lock file is and who holds it
    // (a lock left by a program that died on another PC is never taken over: its process
    // cannot be seen from here). SQL Server tells nothing of the holder: holder stays empty.
    Error lockConversion(bool& granted, std::optional<LockHolder>& holder);

    // The server's catalogue names in the server's order ("sp_databases"); on the embedded
    // engine the folder's .sqlite files in name order, without regard to case as the server
    // sorts them.
    Error catalogues(QStringList& names);

private:
    // statement: the failed statement, whose driver handle holds every diagnostic record;
    // null for a failure of the connection (open, commit).
    Error sqlError(const QSqlError& error, bool opening, const QSqlQuery* statement = nullptr);
    Error notOpen() const;
    // open() for each engine, once target_ is set.
    Error openSqlite();
    Error openSqlServer();
    // Runs a statement that returns rows, and moves to its first result with columns.
    Error openResult(const QString& sql, const QVariantList& binds, QSqlQuery*& q);
    // What reading q's rows ended with, e when it had already failed; closes the cursor.
    Error closeResult(QSqlQuery* q, Error e);
    // Runs sql with its values bound, waiting for a held lock as LockWait says.
    Error run(const QString& sql, const QVariantList& binds, QSqlQuery*& q);
    // Tries once() again while it meets a held lock, as LockWait says.
    Error untilFree(const std::function<Error()>& once);
    // One try; statements with values are prepared once and kept.
    Error runOnce(const QString& sql, const QVariantList& binds, QSqlQuery*& q);

    QString name_;
    ConnectionTarget target_;
    QString sqliteFile_;
    bool open_ = false;
    bool folderOnly_ = false; // the embedded engine's "master": the folder itself
    bool inTransaction_ = false;
    bool deadlocked_ = false;
    int serverVersion_ = 0;
    LockWait* lockWait_ = nullptr;
    std::unordered_map<QString, std::unique_ptr<QSqlQuery>> prepared_;
    std::unique_ptr<QSqlQuery> direct_;
    std::unique_ptr<QLockFile> lock_;
};

// Where the embedded engine keeps the catalogue NAME, matched without regard to case;
// empty when there is none.
QString sqliteCatalogueFile(const QString& folder, const QString& name);

} // namespace db
