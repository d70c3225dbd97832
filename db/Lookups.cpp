#include "db/Lookups.h"

#include "db/ConnectionString.h"
#include "db/HostCatalog.h"
#include "errors/ErrorLog.h"

namespace db {

bool matchesLike(const QString& text, const QString& pattern)
{
    // Only '*' is special in the patterns the tool uses.
    const qsizetype star = pattern.indexOf(QLatin1Char('*'));
    if (star < 0)
        return text == pattern;
    const QString head = pattern.left(star);
    const QString tail = pattern.mid(star + 1);
    if (!text.startsWith(head))
        return false;
    const QString rest = text.mid(head.size());
    for (qsizetype i = 0; i <= rest.size(); ++i) {
        if (matchesLike(rest.mid(i), tail))
            return true;
    }
    return false;
}

Error DataBaseList(const QString& DBServerName, const QString& DBAdminUserName,
                   const QString& DBAdminPassword, QStringList& names)
{
    names.clear();
    Connection connection;
    if (Error e =
            connection.open(firstConnectionTarget(DBServerName, DBAdminUserName, DBAdminPassword));
        e.failed())
        return e;
    QStringList all;
    if (Error e = connection.catalogues(all); e.failed())
        return e;
    for (const QString& name : all) {
        const QString upper = name.toUpper();
        if (matchesLike(upper, QStringLiteral("TELVOR*")) ||
            matchesLike(upper, QStringLiteral("MIRKEL*")))
            names.append(upper);
    }
    return {};
}

QString FIEGDLCodiceGet(const ConnectionTarget& target, const QString& FIEGDL, ErrorLog& log,
                        LockWait* wait)
{
    Connection connection;
    connection.setLockWait(wait);
    QString id;
    Error e = connection.open(target);
    if (!e.failed())
        e = HostCatalog(connection).distributorId(FIEGDL, id);
    if (e.failed()) {
        log.LogError(e, QStringLiteral("FIEGDLCodiceGet"));
        return QString();
    }
    return id;
}

Error getIDProdCodTestata(Connection& cn, qint32 CodiceTestata, qint32& id)
{
    return HostCatalog(cn).productIdForCode(CodiceTestata, id);
}

} // namespace db
