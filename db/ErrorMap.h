#pragma once

#include "db/ConnectionString.h"
#include "platform/Error.h"

#include <QString>

namespace db {

// Maps a driver error to the number the SQL Server OLE DB provider would have raised.
// nativeCode is what the driver reports (SQL Server message numbers, or SQLite result
// codes); opening says whether the error came from opening the connection.
// Numbers the map does not name become ErrorNumber::Unspecified.
qint32 mapErrorNumber(Engine engine, const QString& nativeCode, const QString& text, bool opening);

// Whether a mapped number is a refusal of one statement for its own sake (its text, its
// values, the row it names), as opposed to a failure of the engine or of the connection.
bool isRowFault(qint32 number);

// Whether the server chose this statement's transaction as a deadlock victim: the same work
// may succeed when tried again.
bool isDeadlock(Engine engine, const QString& nativeCode);

} // namespace db
