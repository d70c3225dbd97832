#include "db/RestoreRunner.h"

#include "db/Database.h"
#include "db/RestoreScript.h"

#include <QRegularExpression>
#include <QSet>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <optional>

namespace db {

namespace {

const QString kAppliedMark = QStringLiteral("-- applicato da ConvertiCodiceTestata il ");
const QString kOldCatalogueLine =
    QStringLiteral("-- ConvertiCodiceTestata: ripristino del catalogo ");
const QString kStartedLine = QStringLiteral("-- conversione avviata il ");
const QString kBegin = QStringLiteral("BEGIN TRANSACTION;");
const QString kCommit = QStringLiteral("COMMIT;");

// The value of a literal RestoreScript wrote: quoted runs and char()/NCHAR() joined by || or +.
std::optional<QString> literalValue(QStringView text, bool sqlite)
{
    QString value;
    qsizetype i = 0;
    const auto skipSpaces = [&] {
        while (i < text.size() && text[i] == u' ')
            ++i;
    };
    while (true) {
        skipSpaces();
        if (text.mid(i).startsWith(u"N'") || text.mid(i).startsWith(u"'")) {
            i += text[i] == u'N' ? 2 : 1;
            for (;; ++i) {
                if (i >= text.size())
                    return std::nullopt;
                if (text[i] == u'\'' && (i + 1 >= text.size() || text[i + 1] != u'\''))
                    break;
                value += text[i];
                i += text[i] == u'\'' ? 1 : 0;
            }
            ++i;
        } else if (const QString call = sqlite ? QStringLiteral("char(") : QStringLiteral("NCHAR(");
                   text.mid(i).startsWith(call)) {
            const qsizetype close = text.indexOf(u')', i);
            bool ok = false;
            const uint c =
                close < 0 ? 0 : text.mid(i + call.size(), close - i - call.size()).toUInt(&ok);
            if (!ok)
                return std::nullopt;
            const char32_t unit = c;
            value += sqlite ? QString::fromUcs4(&unit, 1) : QString(QChar(char16_t(c)));
            i = close + 1;
        } else {
            return std::nullopt;
        }
        skipSpaces();
        if (i >= text.size())
            return value;
        const QString join = sqlite ? QStringLiteral("||") : QStringLiteral("+");
        if (!text.mid(i).startsWith(join))
            return std::nullopt;
        i += join.size();
    }
}

// Splits the text where sqlite3 ends statements: at a ';' outside quotes and comments.
// Comments before a statement are left out; returns whether text remains after the last one.
bool splitStatements(const QString& text, QStringList& statements)
{
    qsizetype start = -1;
    QChar quote;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == u'-' && i + 1 < text.size() && text[i + 1] == u'-') {
            i = text.indexOf(u'\n', i);
            if (i < 0)
                break;
            continue;
        }
        if (c == u'/' && i + 1 < text.size() && text[i + 1] == u'*') {
            i = text.indexOf(QStringLiteral("*/"), i + 2);
            if (i < 0)
                return true;
            ++i;
            continue;
        }
        if (start < 0 && !c.isSpace())
            start = i;
        if (c == u'\'' || c == u'"')
            quote = c;
        else if (c == u';') {
            statements << text.mid(start, i + 1 - start);
            start = -1;
        }
    }
    return start >= 0 || !quote.isNull();
}

// sqlcmd's batches: the text between lines that hold GO alone. cut: text follows the last GO.
QStringList splitBatches(const QStringList& lines, bool& cut)
{
    QStringList batches;
    QStringList batch;
    bool blank = true;
    const auto end = [&] {
        if (!blank)
            batches << batch.join(QStringLiteral("\r\n"));
        batch.clear();
        blank = true;
    };
    for (const QString& line : lines) {
        if (line.trimmed().compare(QStringLiteral("GO"), Qt::CaseInsensitive) == 0) {
            end();
            continue;
        }
        batch << line;
        const QString t = line.trimmed();
        blank = blank && (t.isEmpty() || t.startsWith(QStringLiteral("--")));
    }
    cut = !blank;
    end();
    return batches;
}

// The products the blocks gather: the first value of each row of their tables of values.
int countProducts(const QStringList& units)
{
    static const QRegularExpression row(
        QStringLiteral("^(?:\\(|SELECT |UNION ALL SELECT )(-?[0-9]+)[, ]"),
        QRegularExpression::MultilineOption);
    QSet<QString> ids;
    for (const QString& unit : units) {
        if (!unit.contains(QStringLiteral("ripristino_p (p, c0")) &&
            !unit.contains(QStringLiteral("ripristino_d (p, c1")))
            continue;
        for (auto m = row.globalMatch(unit); m.hasNext();)
            ids.insert(m.next().captured(1));
    }
    return int(ids.size());
}

void readRow(const QSqlQuery& q, RestoreOutcome& outcome)
{
    const QSqlRecord r = q.record();
    if (r.indexOf(QStringLiteral("Rimesso")) >= 0) {
        const bool asBefore = q.value(3).toInt() == 0;
        const QString now = q.value(2).toString();
        outcome.products[q.value(0).toLongLong()] = {asBefore ? now : q.value(1).toString(), now,
                                                     QString(), asBefore};
    } else if (r.indexOf(QStringLiteral("Lasciato_perche")) >= 0) {
        const QString code = q.value(1).isNull() ? QStringLiteral("NULL") : q.value(1).toString();
        const QString d = q.value(2).isNull() ? QStringLiteral("NULL") : q.value(2).toString();
        outcome.products[q.value(0).toLongLong()] = {
            code, code, q.value(3).toString() + QStringLiteral(" (IDDL ora %1)").arg(d)};
    } else if (r.count() == 1) {
        // The embedded engine's list is one text a product.
        static const QRegularExpression left(QStringLiteral(
            "^Lasciato: IDProd (-?[0-9]+), CodiceTestata (.*), IDDL ([^,:]*): (.*)$"));
        const QRegularExpressionMatch m = left.match(q.value(0).toString());
        if (m.hasMatch())
            outcome.products[m.captured(1).toLongLong()] = {
                m.captured(2), m.captured(2),
                m.captured(4) + QStringLiteral(" (IDDL ora %1)").arg(m.captured(3))};
    }
}

} // namespace

RestoreText readRestore(const QStringList& lines)
{
    RestoreText file;
    file.engine = std::any_of(lines.begin(), lines.end(),
                              [](const QString& line) {
                                  return line.trimmed().compare(QStringLiteral("GO"),
                                                                Qt::CaseInsensitive) == 0;
                              })
                      ? Engine::SqlServer
                      : Engine::Sqlite;
    const bool sqlite = file.engine == Engine::Sqlite;
    QString older;
    for (const QString& line : lines) {
        if (line.startsWith(RestoreScript::catalogueLine()))
            file.catalogue =
                literalValue(QStringView(line).mid(RestoreScript::catalogueLine().size()), sqlite)
                    .value_or(QString());
        else if (line.startsWith(kOldCatalogueLine))
            older = line.mid(kOldCatalogueLine.size());
        else if (line.startsWith(kStartedLine))
            file.started = QDateTime::fromString(line.mid(kStartedLine.size()).trimmed(),
                                                 QStringLiteral("dd/MM/yyyy HH:mm:ss"));
        else if (line.startsWith(kAppliedMark))
            file.applied = true;
    }
    // A file written before the exact name was: its shown name, when nothing was replaced.
    if (file.catalogue.isEmpty() && !older.contains(u'?'))
        file.catalogue = older;
    if (sqlite)
        file.cutShort = splitStatements(lines.join(QStringLiteral("\n")), file.units);
    else
        file.units = splitBatches(lines, file.cutShort);
    file.products = countProducts(file.units);
    return file;
}

QString appliedMark(const QDateTime& when)
{
    return kAppliedMark + when.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}

Error applyRestore(Connection& connection, const RestoreText& file, RestoreOutcome& outcome,
                   const std::function<void(int done, int total)>& progress)
{
    if (file.engine != connection.engine())
        return {ErrorNumber::Unspecified,
                QStringLiteral("Il file di ripristino e' scritto per un altro tipo di database.")};
    const bool sqlite = file.engine == Engine::Sqlite;
    const QString forget = RestoreScript::forgetPutBack(file.engine);
    const QString list = RestoreScript::listPutBack(file.engine);
    const auto row = [&outcome](const QSqlQuery& q) {
        readRow(q, outcome);
    };
    bool open = false; // a transaction of the file, on the embedded engine
    Error e;
    const int units = int(file.units.size());
    for (int i = 0; i < units && !e.failed(); ++i) {
        QString unit = file.units[i];
        // The file lists the products it left; the program lists those it put back too.
        if (sqlite && unit == forget)
            e = connection.batch(list, row);
        else if (!sqlite)
            unit.replace(forget, list + QLatin1Char(' ') + forget);
        if (!e.failed())
            e = connection.batch(unit, row);
        // A batch a crash cut short is a block that never committed: the trailer before it
        // committed everything else.
        if (e.failed() && !sqlite && file.cutShort && i == units - 1)
            e = {};
        if (!e.failed() && sqlite)
            open = unit == kBegin || (open && unit != kCommit);
        if (progress)
            progress(i + 1, units);
    }
    // What sqlite3 or sqlcmd leaves behind when it ends: nothing the file did not commit, as
    // a statement a crash cut short at the end, which never runs here, and the block it
    // belongs to.
    if (sqlite && open)
        connection.execute(QStringLiteral("ROLLBACK;"));
    else if (!sqlite)
        connection.execute(QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION;"));
    return e;
}

} // namespace db
