#include "db/ErrorMap.h"

#include <QRegularExpression>

namespace db {

namespace {

using namespace ErrorNumber;

struct Mapping
{
    int native;
    qint32 number;
};

// SQL Server message numbers and what the OLE DB provider makes of them.
constexpr Mapping kSqlServer[] = {
    {102, CommandText},          {105, CommandText},         {156, CommandText},
    {170, CommandText},          {195, CommandText},         {2812, CommandText},
    {207, UnknownObject},        {208, UnknownObject},       {4104, UnknownObject},
    {241, ConversionFailed},     {242, ConversionFailed},    {245, ConversionFailed},
    {257, ConversionFailed},     {295, ConversionFailed},    {8114, ConversionFailed},
    {8115, ConversionFailed},    {2628, Truncation},         {8152, Truncation},
    {515, ConstraintViolation},  {547, ConstraintViolation}, {2601, ConstraintViolation},
    {2627, ConstraintViolation}, {18452, LoginFailed},       {18456, LoginFailed},
    {18470, LoginFailed},        {18486, LoginFailed},       {18487, LoginFailed},
    {18488, LoginFailed},        {4060, Unreachable},        {229, AccessDenied},
    {230, AccessDenied},         {262, AccessDenied},        {3906, AccessDenied},
    {1088, AccessDenied},        {1222, LockTimeout},
};

constexpr int kDeadlockVictim = 1205;

qint32 sqlServerNumber(const QString& nativeCode, const QString& text, bool opening)
{
    // The driver may report several messages; the most specific one decides (a prepared
    // statement fails with 8180 "could not be prepared" next to the real cause).
    qint32 found = 0;
    bool catalogueMissing = false;
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    for (auto it = digits.globalMatch(nativeCode); it.hasNext();) {
        const int native = it.next().captured().toInt();
        catalogueMissing = catalogueMissing || native == 4060;
        for (const Mapping& m : kSqlServer) {
            if (m.native == native && (found == 0 || found == CommandText))
                found = m.number;
        }
    }
    if (opening) {
        // A catalogue that cannot be opened also fails the login (18456), and the driver may
        // keep only the last message's number: the catalogue is what ADO reports.
        if (catalogueMissing || text.contains(QStringLiteral("Cannot open database")))
            return Unreachable;
        return found == LoginFailed ? LoginFailed : Unreachable;
    }
    if (found != 0)
        return found;
    // Qt's own statement errors carry no number; anything else the server said is no fault
    // of one row (deadlock, full log, lost connection, ...).
    return nativeCode.trimmed().isEmpty() ? CommandText : Unspecified;
}

qint32 sqliteNumber(const QString& nativeCode, const QString& text, bool opening)
{
    if (opening)
        return Unreachable;
    switch (nativeCode.toInt() & 0xff) {
    case 0:  // Qt's own statement errors
    case 25: // SQLITE_RANGE
        return CommandText;
    case 1: // SQLITE_ERROR: the statement itself
        return text.contains(QStringLiteral("no such table")) ||
                       text.contains(QStringLiteral("no such column"))
                   ? UnknownObject
                   : CommandText;
    case 19: // SQLITE_CONSTRAINT; the staging table names its size checks this way
        return text.contains(QStringLiteral("would be truncated")) ? Truncation
                                                                   : ConstraintViolation;
    case 20: // SQLITE_MISMATCH
        return ConversionFailed;
    case 18: // SQLITE_TOOBIG
        return Truncation;
    case 5: // SQLITE_BUSY: another connection held the file past the busy time-out
    case 6: // SQLITE_LOCKED
        return LockTimeout;
    case 3: // SQLITE_PERM
    case 8: // SQLITE_READONLY
        return AccessDenied;
    default: // I/O, corrupt, full, cannot open, ...: the engine's failure
        return Unspecified;
    }
}

struct Handling
{
    qint32 number;
    Consequence consequence;
};

// What each failure does to the run; a number not here ends it. Every value is bound, so a
// refusal of a statement's text or of the objects it names (CommandText, UnknownObject) is
// never one row's fault: the same statement would be refused for every row.
constexpr Handling kHandling[] = {
    {ConversionFailed, Consequence::CostsRow},    {Truncation, Consequence::CostsRow},
    {ConstraintViolation, Consequence::CostsRow}, {RowNotFound, Consequence::CostsRow},
    {ObjectNotSet, Consequence::FileChoice},      {FileNotFound, Consequence::FileChoiceTold},
};

} // namespace

Consequence consequenceOf(qint32 number)
{
    for (const Handling& h : kHandling) {
        if (h.number == number)
            return h.consequence;
    }
    return Consequence::EndsRun;
}

bool isRowFault(qint32 number)
{
    return consequenceOf(number) == Consequence::CostsRow;
}

QString rowFaultInWords(qint32 number)
{
    switch (number) {
    case Truncation:
        return QStringLiteral("un valore e' piu' lungo di quanto la tabella ammette");
    case ConversionFailed:
        return QStringLiteral("un valore non e' del tipo che la tabella ammette");
    case RowNotFound:
        return QStringLiteral("la riga e' stata cambiata da un altro programma");
    default:
        return QStringLiteral("la tabella non ammette la riga (vincolo del database)");
    }
}

bool keptOutOfTheLog(qint32 number)
{
    const Consequence c = consequenceOf(number);
    return c == Consequence::FileChoice || c == Consequence::FileChoiceTold ||
           c == Consequence::Unlogged;
}

bool isDeadlock(Engine engine, const QString& nativeCode)
{
    if (engine != Engine::SqlServer)
        return false;
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    for (auto it = digits.globalMatch(nativeCode); it.hasNext();) {
        if (it.next().captured().toInt() == kDeadlockVictim)
            return true;
    }
    return false;
}

qint32 mapErrorNumber(Engine engine, const QString& nativeCode, const QString& text, bool opening)
{
    return engine == Engine::Sqlite ? sqliteNumber(nativeCode, text, opening)
                                    : sqlServerNumber(nativeCode, text, opening);
}

} // namespace db
