#pragma once

#include <QString>
#include <QtGlobal>

namespace db {

// The OLE DB connection strings the host's tools use, built exactly as the host expects
// them: values are inserted as they are, not trimmed, quoted or escaped. They are for
// showing and logging only; connections are made from a ConnectionTarget.
QString FirstConnectionString(const QString& Server, const QString& Username,
                              const QString& Password);
// The catalogue is passed by the caller: the window hands in what cboAziende shows.
QString ConnectionString(const QString& Server, const QString& Username, const QString& Password,
                         const QString& catalogue);

enum class Engine { SqlServer, Sqlite };

// What a connection reaches and with which login, value by value. A server of
// "sqlite:<folder>" selects the embedded engine, whose catalogues are the <NAME>.sqlite files
// of that folder.
struct ConnectionTarget
{
    Engine engine = Engine::SqlServer;
    QString server; // DBServerName as written
    QString folder; // the embedded engine's folder
    QString catalogue;
    QString user;
    QString password;
};

// The connection ConnectionString describes, and the one FirstConnectionString describes
// (the server's master catalogue).
ConnectionTarget connectionTarget(const QString& Server, const QString& Username,
                                  const QString& Password, const QString& catalogue);
ConnectionTarget firstConnectionTarget(const QString& Server, const QString& Username,
                                       const QString& Password);

// What Qt's ODBC driver is given for a SQL Server target.
struct OdbcLogin
{
    QString text;     // the connection text, QSqlDatabase::setDatabaseName
    QString user;     // QSqlDatabase::setUserName: Qt appends it as UID after its own checks
    QString password; // QSqlDatabase::setPassword: likewise, as PWD
    // Why the driver cannot be given this target, for the operator: names the field and
    // never shows the password. Empty when the login can be made.
    QString refusal;
};

// qtQuotesAppended: whether Qt may put quotes around a user or password it appends. Qt 6.4
// appends them as they are; later versions quote some, and a user or password that must be
// appended is then refused.
OdbcLogin odbcLogin(const ConnectionTarget& target, const QString& driver,
                    bool qtQuotesAppended = QT_VERSION >= QT_VERSION_CHECK(6, 5, 0));

} // namespace db
