#include "db/HostConfigFile.h"

#include "platform/Cp1252.h"

#include <QDomDocument>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

namespace {

// The host compares these attributes with the number 1, so their text has to convert to a
// number: an optionally signed decimal, with blanks around it allowed.
bool readsAsNumber(const QString& text)
{
    static const QRegularExpression number(
        QStringLiteral(R"(^\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?\s*$)"));
    return number.match(text).hasMatch();
}

bool hasAttribute(const QDomElement& element, const QString& name)
{
    return element.hasAttribute(name);
}

QString declaredEncoding(const QByteArray& bytes)
{
    // The declaration is ASCII in every encoding handled here.
    if (!bytes.startsWith("<?xml"))
        return {};
    const qsizetype end = bytes.indexOf("?>");
    if (end < 0)
        return {};
    static const QRegularExpression encoding(
        QStringLiteral(R"(\bencoding\s*=\s*["']([A-Za-z0-9._:-]+)["'])"));
    const auto match = encoding.match(QString::fromLatin1(bytes.left(end)));
    return match.hasMatch() ? match.captured(1).toLower() : QString();
}

// Bytes that are not UTF-8 make the document not well-formed; quietly replacing them would
// hand a mangled password to the server.
QString strictUtf8(const QByteArray& bytes, bool& decoded)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (utf8.hasError()) {
        decoded = false;
        return {};
    }
    return text;
}

} // namespace

QString decodeHostXml(const QByteArray& bytes, bool& decoded)
{
    decoded = true;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return strictUtf8(bytes.mid(3), decoded);
    const QString encoding = declaredEncoding(bytes);
    if (encoding.isEmpty() || encoding == QLatin1String("utf-8") ||
        encoding == QLatin1String("utf8"))
        return strictUtf8(bytes, decoded);
    if (encoding == QLatin1String("windows-1252") || encoding == QLatin1String("cp1252"))
        return Cp1252::decode(bytes);
    if (encoding == QLatin1String("iso-8859-1") || encoding == QLatin1String("latin1") ||
        encoding == QLatin1String("iso_8859-1") || encoding == QLatin1String("us-ascii"))
        return QString::fromLatin1(bytes);
    decoded = false;
    return {};
}

bool ReadHostConfig(const QString& path, HostConfig& config, QString* why)
{
    const auto fail = [why](const QString& reason) {
        if (why)
            *why = reason;
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("il file non si puo' aprire (%1).").arg(file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(QStringLiteral("il file non si puo' leggere (%1).").arg(file.errorString()));

    QDomDocument document;
    bool decoded = false;
    const QString text = decodeHostXml(bytes, decoded);
    QString parseError;
    int line = 0;
    int column = 0;
    if (!(decoded ? document.setContent(text, &parseError, &line, &column)
                  : document.setContent(bytes, &parseError, &line, &column)))
        return fail(QStringLiteral("non e' un XML valido (riga %1, colonna %2: %3).")
                        .arg(line)
                        .arg(column)
                        .arg(parseError));

    // A root with another name is not an error yet: the database elements are then missing.
    QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("Mirkel"))
        root = QDomElement();
    const auto missingAttribute = [&fail](const QString& element, const QString& attribute) {
        return fail(
            QStringLiteral("manca l'attributo %1 dell'elemento <%2>.").arg(attribute, element));
    };
    if (!root.isNull()) {
        for (const char* name : {"debug", "terminal", "inforivMaster", "toolbarShow"}) {
            const QString attribute = QString::fromLatin1(name);
            if (!hasAttribute(root, attribute))
                return missingAttribute(root.tagName(), attribute);
            if (attribute != QLatin1String("terminal") && !readsAsNumber(root.attribute(attribute)))
                return fail(QStringLiteral("l'attributo %1 dell'elemento <Mirkel> non e' un "
                                           "numero.")
                                .arg(attribute));
        }

        const QDomElement scanner = root.firstChildElement(QStringLiteral("barcodeScannerCom"));
        for (const char* name : {"port", "settings"}) {
            if (!scanner.isNull() && !hasAttribute(scanner, QString::fromLatin1(name)))
                return missingAttribute(scanner.tagName(), QString::fromLatin1(name));
        }

        for (const char* name :
             {"bancobarcode", "bancobarcode1", "bancobarcode2", "bancobarcode3", "bancobarcode4"}) {
            const QDomElement banco = root.firstChildElement(QString::fromLatin1(name));
            if (!banco.isNull() && !hasAttribute(banco, QStringLiteral("code")))
                return missingAttribute(banco.tagName(), QStringLiteral("code"));
        }
    }

    const std::pair<const char*, QString HostConfig::*> fields[] = {
        {"DBServerName", &HostConfig::DBServerName},
        {"DBAdminUsername", &HostConfig::DBAdminUsername},
        {"DBAdminPassword", &HostConfig::DBAdminPassword},
        {"DBUsername", &HostConfig::DBUsername},
        {"DBPassword", &HostConfig::DBPassword},
    };
    for (const auto& [name, field] : fields) {
        const QDomElement element = root.firstChildElement(QString::fromLatin1(name));
        if (element.isNull())
            return fail(QStringLiteral("manca l'elemento <%1> dentro <Mirkel>.")
                            .arg(QString::fromLatin1(name)));
        config.*field = element.text();
    }
    // Without a server or a user every connection would fail with the driver's words alone.
    for (const char* name : {"DBServerName", "DBUsername"}) {
        if (root.firstChildElement(QString::fromLatin1(name)).text().trimmed().isEmpty())
            return fail(QStringLiteral("l'elemento <%1> e' vuoto.").arg(QString::fromLatin1(name)));
    }
    return true;
}
