#pragma once

#include "db/ConnectionString.h"
#include "platform/Error.h"

#include <QString>

namespace db {

// Maps a driver error to the number the SQL Server OLE DB provider would have raised.
// nativeCode is what the driver reports (SQL Server message numbers, or SQLite result
// codes); opening says whether the error came from opening the connection.
qint32 mapErrorNumber(Engine engine, const QString& nativeCode, const QString& text, bool opening);

} // namespace db
