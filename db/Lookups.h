#pragma once

#include "db/Database.h"
#include "platform/Error.h"

#include <QString>
#include <QStringList>

class ErrorLog;

namespace db {

// The host's pattern match: '*' matches any run of characters, anything else only itself,
// with case.
bool matchesLike(const QString& text, const QString& pattern);

// The server's catalogues whose names begin with TELVOR or MIRKEL in any case, upper-cased,
// in the server's order. Errors are not trapped: the caller decides. Returns true in
// DataBaseList's sense; failures come back through the Error.
Error DataBaseList(const QString& DBServerName, const QString& DBAdminUserName,
                   const QString& DBAdminPassword, QStringList& names);

// IDSoggetto of the first distributor whose FIEG code contains FIEGDL, on its own
// connection, whose waits for a held lock wait hears (none: a wait just blocks). A failed
// lookup is logged under "FIEGDLCodiceGet" and gives "", as a distributor that does not
// exist does.
QString FIEGDLCodiceGet(const ConnectionTarget& target, const QString& FIEGDL, ErrorLog& log,
                        LockWait* wait = nullptr);

// IDProd of the first product with the title code on the caller's connection, 0 when none.
// Errors reach the caller.
Error getIDProdCodTestata(Connection& cn, qint32 CodiceTestata, qint32& id);

} // namespace db
