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

// What the run does with a failure a statement reported, by its mapped number.
enum class Consequence {
    EndsRun,    // logged once; a box, and the run ends
    CostsRow,   // logged; the row is left as it was and the run goes on
    FileChoice, // not logged; the run goes back to choosing the code table
    // not logged; the operator is told the file was not found, then the run goes back to
    // choosing the code table
    FileChoiceTold,
    Unlogged, // not logged; the run goes on
};
Consequence consequenceOf(qint32 number);

// Whether a mapped number is a refusal of one row for its own values (truncation, a
// constraint, a conversion, a row taken meanwhile): consequenceOf() says CostsRow.
bool isRowFault(qint32 number);

// Why the engine refused one row, in the operator's words rather than the driver's.
QString rowFaultInWords(qint32 number);

// Whether a failure that ends the run before it began stays out of the log, as the trap
// keeps those that send the run to the file choice or over.
bool keptOutOfTheLog(qint32 number);

// Whether the server chose this statement's transaction as a deadlock victim: the same work
// may succeed when tried again.
bool isDeadlock(Engine engine, const QString& nativeCode);

} // namespace db
