#include "db/EngineRefusal.h"

#include <QRegularExpression>

namespace db {

namespace {

enum class Refusal { None, ReadOnly, Full, NoRight };

Refusal sqlServerRefusal(const QString& nativeCode)
{
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    for (auto it = digits.globalMatch(nativeCode); it.hasNext();) {
        switch (it.next().captured().toInt()) {
        case 3906: // the database is read-only
            return Refusal::ReadOnly;
        case 1101: // no free page in the filegroup
        case 1105: // the filegroup is full
        case 9002: // the transaction log is full
            return Refusal::Full;
        case 229: // permission denied on an object
        case 230: // on a column
        case 262: // CREATE ... permission denied
            return Refusal::NoRight;
        default:
            break;
        }
    }
    return Refusal::None;
}

Refusal sqliteRefusal(const QString& nativeCode)
{
    switch (nativeCode.toInt() & 0xff) {
    case 8: // SQLITE_READONLY: the file, or its folder, refuses writes
        return Refusal::ReadOnly;
    case 13: // SQLITE_FULL
        return Refusal::Full;
    case 3: // SQLITE_PERM
        return Refusal::NoRight;
    default:
        return Refusal::None;
    }
}

} // namespace

QString engineRefusal(Engine engine, const QString& nativeCode)
{
    switch (engine == Engine::Sqlite ? sqliteRefusal(nativeCode) : sqlServerRefusal(nativeCode)) {
    case Refusal::ReadOnly:
        return QStringLiteral("Il database e' in sola lettura: non puo' essere modificato. Farlo "
                              "rendere scrivibile dall'assistenza, poi riprovare.");
    case Refusal::Full:
        return QStringLiteral("Il database o il suo registro delle transazioni e' pieno. "
                              "Liberare spazio sul disco del server o farlo ingrandire "
                              "dall'assistenza, poi riprovare.");
    case Refusal::NoRight:
        return QStringLiteral("L'utente del database indicato in Mirkel.XML non ha il permesso "
                              "di modificare il catalogo. Farlo concedere dall'assistenza, poi "
                              "riprovare.");
    case Refusal::None:
        break;
    }
    return {};
}

} // namespace db
