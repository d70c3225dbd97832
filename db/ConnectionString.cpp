#include "db/ConnectionString.h"

namespace db {

namespace {
const QString kPrefix = QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=");
const QString kPassword = QStringLiteral(";Password=");
const QString kCatalog = QStringLiteral(";Initial Catalog=");
const QString kSource = QStringLiteral(";Data Source=");
const QString kSqlitePrefix = QStringLiteral("sqlite:");

QString odbcValue(const QString& value)
{
    if (!value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('{')) &&
        !value.contains(QLatin1Char('}')) && value.trimmed() == value)
        return value;
    QString braced = value;
    braced.replace(QLatin1Char('}'), QStringLiteral("}}"));
    return QLatin1Char('{') + braced + QLatin1Char('}');
}
} // namespace

QString FirstConnectionString(const QString& Server, const QString& Username,
                              const QString& Password)
{
    return kPrefix + Username + kPassword + Password +
           QStringLiteral(";Initial Catalog=master;Data Source=") + Server;
}

QString ConnectionString(const QString& Server, const QString& Username, const QString& Password,
                         const QString& catalogue)
{
    return kPrefix + Username + kPassword + Password + QStringLiteral(";Initial Catalog= ") +
           catalogue + kSource + Server;
}

ConnectionTarget parseConnectionString(const QString& s)
{
    // Values are not escaped, so a password may hold ';' or '='. The pieces always come in
    // the same order, so cut at the markers: the user ends at the first ";Password=", the
    // server starts after the last ";Data Source=", and the catalogue sits between the last
    // ";Initial Catalog=" before it and the server.
    ConnectionTarget t;
    const qsizetype userAt = s.indexOf(QStringLiteral("User ID="));
    const qsizetype passwordAt = s.indexOf(kPassword, userAt < 0 ? 0 : userAt);
    const qsizetype sourceAt = s.lastIndexOf(kSource);
    const qsizetype catalogAt = sourceAt < 0 ? -1 : s.lastIndexOf(kCatalog, sourceAt);
    if (userAt >= 0 && passwordAt > userAt)
        t.user = s.mid(userAt + 8, passwordAt - userAt - 8);
    if (passwordAt >= 0 && catalogAt > passwordAt)
        t.password =
            s.mid(passwordAt + kPassword.size(), catalogAt - passwordAt - kPassword.size());
    if (catalogAt >= 0) {
        t.catalogue = s.mid(catalogAt + kCatalog.size(), sourceAt - catalogAt - kCatalog.size());
        // The host writes "Initial Catalog= NAME"; the blank is not part of the name.
        if (t.catalogue.startsWith(QLatin1Char(' ')))
            t.catalogue.remove(0, 1);
    }
    if (sourceAt >= 0)
        t.server = s.mid(sourceAt + kSource.size());
    if (t.server.startsWith(kSqlitePrefix)) {
        t.engine = Engine::Sqlite;
        t.folder = t.server.mid(kSqlitePrefix.size());
    }
    return t;
}

QString odbcConnectionString(const ConnectionTarget& t, const QString& driver)
{
    QString server = t.server;
    QString port;
    const bool freeTds = driver == QStringLiteral("FreeTDS");
    if (freeTds) {
        // FreeTDS wants the port apart and knows no "(local)" or ".".
        if (server.startsWith(QStringLiteral("tcp:"), Qt::CaseInsensitive))
            server.remove(0, 4);
        if (const qsizetype comma = server.lastIndexOf(QLatin1Char(',')); comma >= 0) {
            port = server.mid(comma + 1).trimmed();
            server = server.left(comma);
        }
        const qsizetype slash = server.indexOf(QLatin1Char('\\'));
        const QString host = slash < 0 ? server : server.left(slash);
        if (host == QStringLiteral(".") ||
            host.compare(QStringLiteral("(local)"), Qt::CaseInsensitive) == 0)
            server = QStringLiteral("localhost") + (slash < 0 ? QString() : server.mid(slash));
    }

    QString odbc = QStringLiteral("DRIVER={") + driver + QStringLiteral("};SERVER=") +
                   odbcValue(server) + QLatin1Char(';');
    if (!port.isEmpty())
        odbc += QStringLiteral("PORT=") + odbcValue(port) + QLatin1Char(';');
    odbc += QStringLiteral("DATABASE=") + odbcValue(t.catalogue) + QStringLiteral(";UID=") +
            odbcValue(t.user) + QStringLiteral(";PWD=") + odbcValue(t.password) + QLatin1Char(';');
    if (freeTds)
        odbc += QStringLiteral("TDS_Version=7.4;ClientCharset=UTF-8;");
    return odbc;
}

} // namespace db
