#include "errors/Redact.h"

#include <QRegularExpression>

QString withoutSecret(QString text, const QString& secret)
{
    if (secret.isEmpty())
        return text;
    const QRegularExpression token(QStringLiteral("(?<!\\w)") + QRegularExpression::escape(secret) +
                                       QStringLiteral("(?!\\w)"),
                                   QRegularExpression::UseUnicodePropertiesOption);
    return text.replace(token, QStringLiteral("****"));
}
