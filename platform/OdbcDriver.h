#pragma once

#include <QString>

// The ODBC driver that reaches SQL Server here: FreeTDS, registered under that name, on
// Linux; the "SQL Server" driver that every Windows has.
inline QString sqlServerOdbcDriver()
{
#ifdef Q_OS_WIN
    return QStringLiteral("SQL Server");
#else
    return QStringLiteral("FreeTDS");
#endif
}
