#include "db/ConnectionString.h"

#include <QStringList>
#include <optional>

namespace db {

namespace {
const QString kPrefix = QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=");
const QString kPassword = QStringLiteral(";Password=");
const QString kSqlitePrefix = QStringLiteral("sqlite:");
const QString kFreeTds = QStringLiteral("FreeTDS");

// The names the operator knows the values by: those of the host configuration file.
const QString kServerField = QStringLiteral("DBServerName");
const QString kUserField = QStringLiteral("DBUsername");
const QString kPasswordField = QStringLiteral("DBPassword");
const QString kCatalogueField = QStringLiteral("database");

QString refusal(const QString& field, const QString& why)
{
    return QStringLiteral("Impossibile collegarsi a SQL Server: il campo %1 %2.").arg(field, why);
}

// FreeTDS reads an unbraced value up to the next ';'. Up to 1.3 it reads a braced value up to
// the first '}' that is followed by ';' or ends the text, and keeps "}}" as two braces; so
// only "};" cannot be carried. (Later versions read "}}" as one brace and refuse a lone one:
// there such a value fails to connect instead of reaching the server changed.)
std::optional<QString> freeTdsValue(const QString& value)
{
    if (!value.contains(QLatin1Char(';')) && !value.startsWith(QLatin1Char('{')))
        return value;
    if (value.contains(QStringLiteral("};")))
        return std::nullopt;
    return QLatin1Char('{') + value + QLatin1Char('}');
}

// The grammar Microsoft publishes for the connection strings of its drivers (MS-ODBCSTR),
// which the Windows driver manager and "SQL Server" driver follow: a braced value ends at a
// single '}', "}}" stands for one, and blanks around a value are not part of it, so a value
// with outer blanks is braced too.
QString standardValue(const QString& value)
{
    if (!value.contains(QLatin1Char(';')) && !value.startsWith(QLatin1Char('{')) &&
        value.trimmed() == value)
        return value;
    QString braced = value;
    braced.replace(QLatin1Char('}'), QStringLiteral("}}"));
    return QLatin1Char('{') + braced + QLatin1Char('}');
}

// Qt's ODBC driver opens a connection text that contains ".dsn", in any case, as a file DSN.
bool looksLikeFileDsn(const QString& value)
{
    return value.contains(QStringLiteral(".dsn"), Qt::CaseInsensitive);
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
           catalogue + QStringLiteral(";Data Source=") + Server;
}

ConnectionTarget connectionTarget(const QString& Server, const QString& Username,
                                  const QString& Password, const QString& catalogue)
{
    ConnectionTarget t;
    t.server = Server;
    t.user = Username;
    t.password = Password;
    t.catalogue = catalogue;
    if (Server.startsWith(kSqlitePrefix)) {
        t.engine = Engine::Sqlite;
        t.folder = Server.mid(kSqlitePrefix.size());
    }
    return t;
}

ConnectionTarget firstConnectionTarget(const QString& Server, const QString& Username,
                                       const QString& Password)
{
    return connectionTarget(Server, Username, Password, QStringLiteral("master"));
}

namespace {

// FreeTDS wants the port apart, speaks only TCP and knows no "(local)" or ".": server and
// port as FreeTDS takes them, or why it cannot reach the server.
QString freeTdsServer(const QString& driver, QString& server, QString& port)
{
    if (server.startsWith(QStringLiteral("tcp:"), Qt::CaseInsensitive))
        server.remove(0, 4);
    for (const char* protocol : {"np:", "lpc:", "admin:"}) {
        if (server.startsWith(QLatin1String(protocol), Qt::CaseInsensitive))
            return refusal(kServerField,
                           QStringLiteral("chiede un protocollo che il driver ODBC %1 non "
                                          "conosce: usare il nome del server o \"tcp:\"")
                               .arg(driver));
    }
    if (const qsizetype comma = server.lastIndexOf(QLatin1Char(',')); comma >= 0) {
        port = server.mid(comma + 1).trimmed();
        server = server.left(comma);
        bool number = false;
        const uint value = port.toUInt(&number);
        if (!number || value == 0 || value > 65535)
            return refusal(kServerField, QStringLiteral("indica una porta non valida"));
    }
    const qsizetype slash = server.indexOf(QLatin1Char('\\'));
    const QString host = slash < 0 ? server : server.left(slash);
    // SQL Server and its Browser listen on the IPv4 loopback; "localhost" may resolve to the
    // IPv6 one first.
    if (host == QStringLiteral(".") ||
        host.compare(QStringLiteral("(local)"), Qt::CaseInsensitive) == 0)
        server = QStringLiteral("127.0.0.1") + (slash < 0 ? QString() : server.mid(slash));
    return {};
}

} // namespace

OdbcLogin odbcLogin(const ConnectionTarget& t, const QString& driver, bool qtQuotesAppended)
{
    OdbcLogin login;
    const bool freeTds = driver == kFreeTds;
    const auto encode = [&](const QString& value) -> std::optional<QString> {
        return freeTds ? freeTdsValue(value) : std::optional<QString>(standardValue(value));
    };
    const QString tooMuch = QStringLiteral("contiene \"};\", che il driver ODBC %1 non sa "
                                           "trasmettere")
                                .arg(driver);
    const QString fileDsn =
        QStringLiteral("contiene \".dsn\", che il driver ODBC di Qt scambia per un file DSN");

    QString server = t.server;
    QString port;
    if (freeTds) {
        login.refusal = freeTdsServer(driver, server, port);
        if (!login.refusal.isEmpty())
            return login;
    }

    // The server and the catalogue can only travel in the connection text, which Qt
    // inspects; the user and the password can travel beside it, as Qt appends them.
    if (looksLikeFileDsn(server)) {
        login.refusal = refusal(kServerField, fileDsn);
        return login;
    }
    if (looksLikeFileDsn(t.catalogue)) {
        login.refusal = refusal(kCatalogueField, fileDsn);
        return login;
    }

    QStringList parts{QStringLiteral("DRIVER={") + driver + QLatin1Char('}')};
    const std::optional<QString> serverValue = encode(server);
    if (!serverValue) {
        login.refusal = refusal(kServerField, tooMuch);
        return login;
    }
    parts << QStringLiteral("SERVER=") + *serverValue;
    if (!port.isEmpty())
        parts << QStringLiteral("PORT=") + port;
    const std::optional<QString> catalogue = encode(t.catalogue);
    if (!catalogue) {
        login.refusal = refusal(kCatalogueField, tooMuch);
        return login;
    }
    parts << QStringLiteral("DATABASE=") + *catalogue;

    const auto credential = [&](const QString& value, const QString& field, const char* key,
                                QString& appended) {
        const std::optional<QString> encoded = encode(value);
        if (!encoded) {
            login.refusal = refusal(field, tooMuch);
            return false;
        }
        if (!looksLikeFileDsn(value)) {
            parts << QLatin1String(key) + QLatin1Char('=') + *encoded;
            return true;
        }
        if (qtQuotesAppended) {
            login.refusal = refusal(field, QStringLiteral("contiene \".dsn\", che questa versione "
                                                          "di Qt non trasmette intatto"));
            return false;
        }
        appended = *encoded;
        return true;
    };
    if (!credential(t.user, kUserField, "UID", login.user) ||
        !credential(t.password, kPasswordField, "PWD", login.password))
        return login;

    if (freeTds)
        parts << QStringLiteral("TDS_Version=7.4") << QStringLiteral("ClientCharset=UTF-8");
    login.text = parts.join(QLatin1Char(';'));
    // Qt hands the driver the text with its terminating NUL counted in, and the driver reads
    // an unterminated last value up to the end: the last value must end at a ';'.
    if (!login.password.isEmpty())
        login.password += QLatin1Char(';');
    else if (!login.user.isEmpty())
        login.user += QLatin1Char(';');
    else
        login.text += QLatin1Char(';');
    return login;
}

} // namespace db
