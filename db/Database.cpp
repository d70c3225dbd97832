#include "db/Database.h"

#include "db/EngineRefusal.h"
#include "db/ErrorMap.h"
#include "db/OdbcDiagnostics.h"
#include "errors/Redact.h"
#include "platform/OdbcDriver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlResult>
#include <QSysInfo>
#include <QUrl>
#include <algorithm>
#include <atomic>

namespace db {

namespace {

FaultHook& faultHook()
{
    static FaultHook hook;
    return hook;
}

Error injected(const char* operation)
{
    if (const FaultHook& hook = faultHook())
        return hook(operation);
    return {};
}

QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("converti-%1").arg(++counter);
}

const QString kSqliteSuffix = QStringLiteral(".sqlite");

// SQL Server 2000: what the run's statements need, and what the host's own installer wrote for.
constexpr int kOldestServer = 8;
const QString kUnsupportedVersion =
    QStringLiteral("Versione di SQL Server non supportata: serve SQL Server 2000 o successivo.");

Traffic& counters()
{
    static Traffic t;
    return t;
}

} // namespace

void setFaultHook(FaultHook hook)
{
    faultHook() = std::move(hook);
}

Traffic traffic()
{
    return counters();
}

namespace {
std::atomic<int> lockTimeout{20000};

// Each try at a held lock gives up after this long, so that the window can repaint and its
// operator give up between two tries.
int lockTryMs()
{
    return std::min(250, lockTimeout.load());
}
} // namespace

int lockTimeoutMs()
{
    return lockTimeout;
}

void setLockTimeoutMs(int ms)
{
    lockTimeout = ms;
}

QVariant Rows::value(const QString& field) const
{
    const int index = record_.indexOf(field);
    if (index < 0 || eof())
        return {};
    return rows_[pos_][index];
}

QString Rows::text(const QString& field) const
{
    const QVariant v = value(field);
    return v.isNull() ? QString() : v.toString();
}

namespace {

// Whether a lock file's host names this PC. On a shared folder another PC's process may have
// the same id, and its lock must stay. On Windows Qt records the computer's NetBIOS name:
// upper case, and cut to 15 characters.
bool writtenOnThisPc(const QString& host)
{
    const QString here = QSysInfo::machineHostName();
    return !host.isEmpty() && (host.compare(here, Qt::CaseInsensitive) == 0 ||
                               (host.size() == 15 && here.startsWith(host, Qt::CaseInsensitive)));
}

} // namespace

QString sqliteCatalogueFile(const QString& folder, const QString& name)
{
    if (name.isEmpty())
        return {};
    const QDir dir(folder);
    const QStringList files = dir.entryList({QStringLiteral("*") + kSqliteSuffix}, QDir::Files);
    for (const QString& file : files) {
        if (file.chopped(kSqliteSuffix.size()).compare(name, Qt::CaseInsensitive) == 0)
            return dir.filePath(file);
    }
    return {};
}

Connection::Connection() : name_(nextConnectionName()) {}

Connection::~Connection()
{
    close();
}

void Connection::close()
{
    // Statements first: they belong to the database removed below.
    prepared_.clear();
    direct_.reset();
    lock_.reset();
    if (QSqlDatabase::contains(name_)) {
        {
            QSqlDatabase database = QSqlDatabase::database(name_, false);
            database.close();
        }
        QSqlDatabase::removeDatabase(name_);
    }
    open_ = false;
    folderOnly_ = false;
    inTransaction_ = false;
    serverVersion_ = 0;
    sqliteFile_.clear();
}

Error Connection::notOpen() const
{
    return {3704, QStringLiteral("Operazione non consentita se l'oggetto è chiuso.")};
}

Error Connection::sqlError(const QSqlError& error, bool opening, const QSqlQuery* statement)
{
    const QString text = withoutSecret(error.text(), target_.password);
    // The driver's summary keeps one number; the handle still holds every record's.
    QString native = error.nativeErrorCode();
    if (target_.engine == Engine::SqlServer && !opening) {
        const QString all =
            statement ? odbcDiagnosticNumbers(statement->result()->handle(), true)
                      : odbcDiagnosticNumbers(
                            QSqlDatabase::database(name_, false).driver()->handle(), false);
        if (!all.isEmpty())
            native = all;
    }
    deadlocked_ = isDeadlock(target_.engine, native);
    // The engine's words come after what they mean for the operator.
    const QString refusal = opening ? QString() : engineRefusal(target_.engine, native);
    return {mapErrorNumber(target_.engine, native, text, opening),
            refusal.isEmpty() ? text : refusal + QStringLiteral("\n\n") + text};
}

Error Connection::run(const QString& sql, const QVariantList& binds, QSqlQuery*& q)
{
    return untilFree([&] { return runOnce(sql, binds, q); });
}

Error Connection::untilFree(const std::function<Error()>& once)
{
    QElapsedTimer clock;
    clock.start();
    bool waited = false;
    for (;;) {
        Error e = once();
        // A deadlock victim's transaction is gone: trying its statement again is not waiting.
        if (e.number == ErrorNumber::LockTimeout && !deadlocked_ &&
            clock.elapsed() < lockTimeoutMs()) {
            waited = true;
            if (!lockWait_ || lockWait_->waiting(int(clock.elapsed()), lockTimeoutMs()))
                continue;
            e = {ErrorNumber::Interrupted,
                 QStringLiteral("Attesa del database interrotta dall'operatore.")};
        }
        if (waited && lockWait_)
            lockWait_->waited();
        return e;
    }
}

Error Connection::runOnce(const QString& sql, const QVariantList& binds, QSqlQuery*& q)
{
    ++counters().statements;
    deadlocked_ = false;
    const auto newStatement = [this] {
        auto statement = std::make_unique<QSqlQuery>(QSqlDatabase::database(name_, false));
        statement->setForwardOnly(true);
        return statement;
    };
    if (binds.isEmpty() || target_.engine == Engine::SqlServer) {
        // Text without values goes to the server as it is, so a batch of several statements
        // runs whole. On SQL Server a statement with values is not kept either: Qt binds the
        // values anew before each execution and FreeTDS then prepares it again, an unprepare
        // and a prepare each time; prepared and executed at once (sp_prepexec) it costs one
        // round trip, and its unprepare when the next statement replaces it.
        direct_ = newStatement();
        q = direct_.get();
        if (binds.isEmpty())
            return q->exec(sql) ? Error() : sqlError(q->lastError(), false, q);
        if (!q->prepare(sql))
            return sqlError(q->lastError(), false, q);
    } else {
        auto found = prepared_.find(sql);
        if (found == prepared_.end()) {
            auto statement = newStatement();
            if (!statement->prepare(sql))
                return sqlError(statement->lastError(), false, statement.get());
            found = prepared_.emplace(sql, std::move(statement)).first;
        }
        q = found->second.get();
    }
    for (int i = 0; i < binds.size(); ++i)
        q->bindValue(i, binds[i]);
    return q->exec() ? Error() : sqlError(q->lastError(), false, q);
}

Error Connection::open(const ConnectionTarget& target)
{
    close();
    target_ = target;
    if (Error e = injected("open"); e.failed())
        return e;

    if (target_.engine == Engine::Sqlite)
        return openSqlite();
    return openSqlServer();
}

Error Connection::openSqlite()
{
    if (!QFileInfo(target_.folder).isDir())
        return {ErrorNumber::Unreachable,
                QStringLiteral("SQL Server does not exist or access denied.")};
    if (target_.catalogue.compare(QStringLiteral("master"), Qt::CaseInsensitive) == 0) {
        folderOnly_ = open_ = true;
        return {};
    }
    const QString file = sqliteCatalogueFile(target_.folder, target_.catalogue);
    sqliteFile_ = file;
    if (file.isEmpty())
        return {ErrorNumber::Unreachable,
                QStringLiteral("Cannot open database \"%1\" requested by the login. The "
                               "login failed.")
                    .arg(target_.catalogue)};
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    // mode=rw: never create a catalogue by accident.
    database.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(lockTryMs()));
    database.setDatabaseName(QUrl::fromLocalFile(file).toString() + QStringLiteral("?mode=rw"));
    if (!database.open())
        return sqlError(database.lastError(), true);
    // SQLite reads the file only when first asked; a file that is no database must fail
    // here, as a catalogue that cannot be opened does on SQL Server.
    {
        // Another program may hold the file: that is waited for as any statement's lock.
        QSqlQuery probe(database);
        const Error e = untilFree([&] {
            return probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))
                       ? Error()
                       : sqlError(probe.lastError(), false);
        });
        if (e.number == ErrorNumber::LockTimeout || e.number == ErrorNumber::Interrupted)
            return e;
        if (e.failed())
            return sqlError(probe.lastError(), true);
        // Each statement commits on its own, as on the server. A write-ahead log keeps
        // those commits safe against a crash of the program without waiting for the
        // disk every time.
        probe.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        probe.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    }
    open_ = true;
    return {};
}

Error Connection::openSqlServer()
{
    // Told before anything goes on the wire, so no half-right login reaches the server.
    const OdbcLogin login = odbcLogin(target_, sqlServerOdbcDriver());
    if (!login.refusal.isEmpty())
        return {ErrorNumber::Unreachable, login.refusal};
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name_);
    if (!database.isValid())
        return {ErrorNumber::Unreachable, QStringLiteral("Driver ODBC non disponibile.")};
    // Without a login time-out a server that accepts the connection but never answers
    // would hang the window for minutes.
    database.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=15"));
    database.setDatabaseName(login.text);
    database.setUserName(login.user);
    database.setPassword(login.password);
    if (!database.open())
        return sqlError(database.lastError(), true);
    open_ = true;
    // SQL Server waits for a lock for ever by default; a row the host program holds must not
    // hang the window. The option lasts for the session, which is what it is for; run() tries
    // again until lockTimeoutMs() has passed. The version, in the same request, decides the
    // statement forms where versions differ.
    Rows version;
    if (Error e = query(QStringLiteral("SET LOCK_TIMEOUT %1 SELECT CAST(SERVERPROPERTY("
                                       "'ProductVersion') AS nvarchar(128)) AS v")
                            .arg(lockTryMs()),
                        {}, version);
        e.failed()) {
        close();
        // SQL Server 7 and older know no SERVERPROPERTY.
        if (e.number == ErrorNumber::CommandText)
            return {ErrorNumber::Unspecified, kUnsupportedVersion};
        return e;
    }
    serverVersion_ = version.text(QStringLiteral("v")).section(QLatin1Char('.'), 0, 0).toInt();
    if (serverVersion_ < kOldestServer) {
        close();
        return {ErrorNumber::Unspecified, kUnsupportedVersion};
    }
    return {};
}

Error Connection::execute(const QString& sql, const QVariantList& binds, int* rowsAffected)
{
    if (Error e = injected("execute"); e.failed())
        return e;
    if (!open_ || folderOnly_)
        return notOpen();
    QSqlQuery* q = nullptr;
    const Error e = run(sql, binds, q);
    if (!e.failed()) {
        if (!inTransaction_)
            ++counters().commits;
        if (rowsAffected)
            *rowsAffected = q->numRowsAffected();
    }
    if (q)
        q->finish();
    return e;
}

Error Connection::openResult(const QString& sql, const QVariantList& binds, QSqlQuery*& q)
{
    q = nullptr;
    if (Error e = injected("query"); e.failed())
        return e;
    if (!open_ || folderOnly_)
        return notOpen();
    Error e = run(sql, binds, q);
    // The first result with columns: a batch may report counts or a procedure's end first.
    while (!e.failed() && !q->isSelect() && q->nextResult()) {
    }
    if (!e.failed() && q->lastError().isValid())
        e = sqlError(q->lastError(), false, q);
    return e;
}

Error Connection::closeResult(QSqlQuery* q, Error e)
{
    if (!e.failed() && q && q->lastError().isValid())
        e = sqlError(q->lastError(), false, q);
    // A cursor left open would hold the engine's read lock.
    if (q)
        q->finish();
    return e;
}

Error Connection::query(const QString& sql, const QVariantList& binds, Rows& rows, int maxRows)
{
    rows = Rows();
    QSqlQuery* q = nullptr;
    const Error e = openResult(sql, binds, q);
    if (!e.failed()) {
        rows.record_ = q->record();
        const int columns = rows.record_.count();
        while (q->next()) {
            QVariantList row;
            row.reserve(columns);
            for (int i = 0; i < columns; ++i)
                row.append(q->value(i));
            rows.rows_.push_back(std::move(row));
            if (maxRows > 0 && rows.count() >= maxRows)
                break;
        }
    }
    return closeResult(q, e);
}

Error Connection::forEach(const QString& sql, const QVariantList& binds,
                          const std::function<void(const QSqlQuery&)>& row)
{
    QSqlQuery* q = nullptr;
    const Error e = openResult(sql, binds, q);
    if (!e.failed()) {
        while (q->next())
            row(*q);
    }
    return closeResult(q, e);
}

Error Connection::batch(const QString& sql, const std::function<void(const QSqlQuery&)>& row)
{
    if (Error e = injected("execute"); e.failed())
        return e;
    if (!open_ || folderOnly_)
        return notOpen();
    QSqlQuery* q = nullptr;
    Error e = run(sql, {}, q);
    // The embedded engine gives one result; SQL Server's batch may give counts and lists.
    while (!e.failed()) {
        if (q->isSelect()) {
            while (q->next())
                row(*q);
        }
        if (q->lastError().isValid())
            e = sqlError(q->lastError(), false, q);
        if (e.failed() || target_.engine == Engine::Sqlite || !q->nextResult())
            break;
    }
    return closeResult(q, e);
}

Error Connection::begin()
{
    if (Error e = injected("begin"); e.failed())
        return e;
    if (!open_ || folderOnly_)
        return notOpen();
    QSqlDatabase database = QSqlDatabase::database(name_, false);
    deadlocked_ = false;
    if (!database.transaction())
        return sqlError(database.lastError(), false);
    inTransaction_ = true;
    return {};
}

Error Connection::commit()
{
    if (Error e = injected("commit"); e.failed()) {
        rollback();
        return e;
    }
    if (!open_ || folderOnly_)
        return notOpen();
    QSqlDatabase database = QSqlDatabase::database(name_, false);
    inTransaction_ = false;
    // Without a write-ahead log (another program held the file when it was opened) SQLite's
    // commit waits for the readers: a refusal leaves the transaction open to try again.
    if (const Error e = untilFree(
            [&] { return database.commit() ? Error() : sqlError(database.lastError(), false); });
        e.failed()) {
        database.rollback();
        return e;
    }
    ++counters().commits;
    return {};
}

void Connection::rollback()
{
    inTransaction_ = false;
    if (open_ && !folderOnly_)
        QSqlDatabase::database(name_, false).rollback();
}

Error Connection::lockConversion(bool& granted, std::optional<LockHolder>& holder)
{
    granted = false;
    holder.reset();
    if (Error e = injected("lock"); e.failed())
        return e;
    if (!open_ || folderOnly_)
        return notOpen();
    if (target_.engine == Engine::Sqlite) {
        // Beside the catalogue; a lock left by a program that died on this PC is taken over.
        lock_ = std::make_unique<QLockFile>(sqliteFile_ + QStringLiteral(".lock"));
        lock_->setStaleLockTime(0);
        granted = lock_->tryLock(0);
        // Qt keeps a lock naming a running process of the same name; when that process is
        // this one and the lock was written on this PC, the id came back from a program that
        // died holding the lock (Wine hands it to the next program at once, Windows may too).
        // Removal fails while the lock is really held, here included.
        qint64 pid = 0;
        QString host;
        if (!granted && lock_->error() == QLockFile::LockFailedError &&
            lock_->getLockInfo(&pid, &host, nullptr) && pid == QCoreApplication::applicationPid() &&
            writtenOnThisPc(host) && lock_->removeStaleLockFile())
            granted = lock_->tryLock(0);
        if (!granted && lock_->error() != QLockFile::LockFailedError)
            return {ErrorNumber::Unspecified,
                    QStringLiteral("Impossibile creare il file di blocco %1.")
                        .arg(QDir::toNativeSeparators(lock_->fileName()))};
        if (!granted) {
            LockHolder& h = holder.emplace();
            h.file = QDir::toNativeSeparators(lock_->fileName());
            // The holder may release it meanwhile: then only the file is named.
            if (lock_->getLockInfo(&h.pid, &h.host, &h.program))
                h.since = QFileInfo(lock_->fileName()).lastModified();
            lock_.reset();
        }
        return {};
    }
    // Owned by the session: the server releases it when the connection ends, however it ends.
    // No SET NOCOUNT here: it would outlive the batch and hide every later row count.
    Rows rows;
    if (Error e =
            query(QStringLiteral("DECLARE @r int; "
                                 "EXEC @r = sp_getapplock @Resource = N'ConvertiCodiceTestata', "
                                 "@LockMode = 'Exclusive', @LockOwner = 'Session', "
                                 "@LockTimeout = 0; SELECT @r AS Granted"),
                  {}, rows);
        e.failed())
        return e;
    granted = !rows.eof() && rows.value(QStringLiteral("Granted")).toInt() >= 0;
    return {};
}

Error Connection::catalogues(QStringList& names)
{
    names.clear();
    if (Error e = injected("catalogues"); e.failed())
        return e;
    if (!open_)
        return notOpen();
    if (target_.engine == Engine::Sqlite) {
        const QStringList files = QDir(target_.folder)
                                      .entryList({QStringLiteral("*") + kSqliteSuffix}, QDir::Files,
                                                 QDir::Name | QDir::IgnoreCase);
        for (const QString& file : files)
            names.append(file.chopped(kSqliteSuffix.size()));
        return {};
    }
    QSqlQuery q(QSqlDatabase::database(name_, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("sp_databases")))
        return sqlError(q.lastError(), false, &q);
    const int column = q.record().indexOf(QStringLiteral("DATABASE_NAME"));
    while (q.next())
        names.append(column < 0 ? QString() : q.value(column).toString());
    if (q.lastError().isValid())
        return sqlError(q.lastError(), false, &q);
    return {};
}

} // namespace db
