#pragma once

#include <QString>
#include <QVariant>

namespace db {

// The native numbers of every diagnostic record an ODBC handle holds after a failure,
// separated by blanks, in the driver's order; empty when the handle is no ODBC handle.
//
// A driver summary keeps one number: Qt keeps the last record's, and FreeTDS puts the
// most severe first, so SQL Server's "8152 String or binary data would be truncated"
// reaches Qt as its companion 3621 "The statement has been terminated". Reading the
// records again from the handle gives both.
// handle is what QSqlResult::handle() (a statement) or QSqlDriver::handle() (the
// connection) returns; statement says which of the two it is.
QString odbcDiagnosticNumbers(const QVariant& handle, bool statement);

} // namespace db
