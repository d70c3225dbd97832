#pragma once

#include <QString>

namespace db {

// The OLE DB connection strings the host's tools use, built exactly as the host expects
// them: values are inserted as they are, not trimmed, quoted or escaped.
QString FirstConnectionString(const QString& Server, const QString& Username,
                              const QString& Password);
// The catalogue is passed by the caller: the window hands in what cboAziende shows.
QString ConnectionString(const QString& Server, const QString& Username, const QString& Password,
                         const QString& catalogue);

enum class Engine { SqlServer, Sqlite };

// What a connection string names. A Data Source of "sqlite:<folder>" selects the embedded
// engine, whose catalogues are the <NAME>.sqlite files of that folder.
struct ConnectionTarget
{
    Engine engine = Engine::SqlServer;
    QString server;    // Data Source as written
    QString folder;    // the embedded engine's folder
    QString catalogue; // Initial Catalog, without the blank the host puts before it
    QString user;
    QString password;
};

ConnectionTarget parseConnectionString(const QString& connectionString);

// The ODBC connection string for a SQL Server target, for the given driver. Values holding
// ';', '{' or '}' are braced so they reach the driver whole.
QString odbcConnectionString(const ConnectionTarget& target, const QString& driver);

} // namespace db
