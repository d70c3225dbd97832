#include "db/RestoreScript.h"

#include <algorithm>

namespace db {

// How the file stays right when the run is cut short.
//
// Every block is on the disk before its transaction commits, so a file cut short ends with
// blocks of committed transactions, then at most one block (whole or in part) of a
// transaction that never committed. That last block only sets values that are already in
// place, or finds no row: it is harmless whether it runs or not.
//
// The whole file is one transaction, and it must commit right after the last whole block.
// An appended file cannot take back an earlier COMMIT, so every block is followed by a
// trailer that commits, and once the next block and its trailer are on the disk the writer
// turns the trailer before them into a comment of the same length. After every sync the
// file therefore ends with a trailer that commits: cut anywhere, it commits everything up to
// the last whole block. That comment reaches the disk with the next sync, so after a power
// cut, or a crash between the sync and the comment, two trailers may still commit: the
// file then runs as two transactions, each of them right.
//
// On SQL Server the transaction spans GO batches. SET XACT_ABORT ON rolls it back on any
// error; each block starts by checking that a transaction is open, or that a trailer has
// just committed one (the session's CONTEXT_INFO says so) and then opens the next. Otherwise
// an error rolled it back, and SET NOEXEC ON stops the rest of the script: no block runs
// outside a transaction, and a failure leaves the catalogue as it was. The trailer's
// SET NOEXEC OFF leaves a Management Studio window usable afterwards. On the embedded engine
// a statement that fails does not end the transaction: the file is run with sqlite3 -bail,
// which stops and rolls it back; where two trailers commit, the second transaction is the
// one the first trailer opened.

namespace {

const QString kSqlServerCommit =
    QStringLiteral("IF @@TRANCOUNT > 0 BEGIN COMMIT TRANSACTION; SET CONTEXT_INFO 0x01; END");
// SQLite has no IF: its trailer opens the next transaction itself, and the file ends with an
// empty one, which closing sqlite3 rolls back.
const QStringList kSqliteCommit{QStringLiteral("COMMIT;"), QStringLiteral("BEGIN TRANSACTION;")};

bool printable(char32_t c)
{
    return c >= 0x20 && c < 0x7f;
}

} // namespace

QStringList RestoreScript::header(const QString& catalogue, const QDateTime& started) const
{
    QString shown;
    for (const QChar c : catalogue)
        shown += printable(c.unicode()) ? c : QLatin1Char('?');
    QStringList lines{
        QStringLiteral("-- ConvertiCodiceTestata: ripristino del catalogo ") + shown,
        QStringLiteral("-- conversione avviata il ") +
            started.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")),
        QStringLiteral("-- Rimette CodiceTestata e IDDL dei prodotti e IdProdMod e Modificato di "
                       "CodiciCorvel come erano,"),
        QStringLiteral("-- e toglie da CodiciCorvel le righe inserite dalla conversione."),
        QStringLiteral("-- Piu' file dello stesso catalogo: eseguirli dal piu' recente al meno "
                       "recente."),
    };
    if (engine_ == Engine::Sqlite) {
        lines << QStringLiteral("-- sqlite3 -bail CATALOGO.sqlite < FILE")
              << QStringLiteral("BEGIN TRANSACTION;");
        return lines;
    }
    lines << QStringLiteral("-- sqlcmd -S SERVER -U UTENTE -i FILE, oppure Management Studio "
                            "(Esegui)")
          << QStringLiteral("SET NOEXEC OFF;") << QStringLiteral("SET NOCOUNT ON;")
          << QStringLiteral("SET XACT_ABORT ON;") << QStringLiteral("SET CONTEXT_INFO 0x00;");
    // Brackets keep the name one identifier; a name USE cannot take in plain ASCII is left
    // to the operator's choice, which the check below then verifies.
    if (shown == catalogue)
        lines << QStringLiteral("USE [%1];")
                     .arg(QString(catalogue).replace(QLatin1Char(']'), QStringLiteral("]]")));
    lines << QStringLiteral("GO")
          << QStringLiteral("IF DB_NAME() <> %1 BEGIN RAISERROR(N'Catalogo diverso da quello "
                            "convertito: il ripristino non e'' stato eseguito.', 16, 1); "
                            "SET NOEXEC ON; END")
                 .arg(text(catalogue))
          << QStringLiteral("GO") << QStringLiteral("BEGIN TRANSACTION;") << QStringLiteral("GO");
    return lines;
}

QStringList RestoreScript::trailer() const
{
    if (engine_ == Engine::Sqlite)
        return kSqliteCommit;
    return {kSqlServerCommit, QStringLiteral("SET NOEXEC OFF;"), QStringLiteral("GO")};
}

QString RestoreScript::spentTrailer() const
{
    // The lines that commit, each turned into a comment of its length.
    const QStringList live =
        engine_ == Engine::Sqlite ? kSqliteCommit : QStringList{kSqlServerCommit};
    QStringList spent;
    for (const QString& line : live)
        spent << (spent.isEmpty() ? QStringLiteral("-- segue") : QStringLiteral("--"))
                     .leftJustified(line.size(), QLatin1Char(' '), true);
    return spent.join(QStringLiteral("\r\n"));
}

void RestoreScript::productCode(const Product& product)
{
    // A Null among texts must stay a text on SQL Server, where a bare NULL would make the
    // column a number.
    addRow(codes_, {literal(product.id), !product.codeNull ? text(product.code)
                                         : engine_ == Engine::Sqlite
                                             ? QStringLiteral("NULL")
                                             : QStringLiteral("CAST(NULL AS nvarchar(1))")});
}

void RestoreScript::productDistributor(const QVariant& productId, const QVariant& distributorId)
{
    addRow(distributors_, {literal(productId), literal(distributorId)});
}

void RestoreScript::stagingMark(const StagingRow& row, const QVariant& productId)
{
    // The row as the run found it to mark it: by its row identity on the embedded engine, on
    // SQL Server, whose table has no key, by its codes.
    if (engine_ == Engine::Sqlite)
        addRow(marks_, {literal(row.rowId), literal(productId), literal(row.productId),
                        literal(row.applied)});
    else
        addRow(marks_, {text(row.oldCode), text(row.newCode), literal(productId),
                        literal(row.productId), literal(row.applied)});
}

void RestoreScript::stagingInsert(const QString& newCode, const QString& oldCode)
{
    addRow(inserts_, {text(oldCode), text(newCode)});
}

QStringList RestoreScript::takeBlock()
{
    const bool sqlite = engine_ == Engine::Sqlite;
    QStringList block;
    // Each statement sets the values read before the change on the rows it finds; the rows
    // of a transaction that never committed are found unchanged, or not at all.
    const auto add = [&](const Values& values, const QString& columns, const QString& statement) {
        if (values.rows > 0)
            block << with(columns, values) + statement;
    };
    // The run stages each old code once, and only codes no row held before.
    add(inserts_, QStringLiteral("o, n"),
        sqlite ? QStringLiteral("DELETE FROM CodiciCorvel WHERE (CodTestataVecchio, "
                                "CodTestataNuovo) IN (SELECT o, n FROM v);")
               : QStringLiteral("DELETE c FROM CodiciCorvel c JOIN v ON c.CodTestataVecchio = "
                                "v.o AND c.CodTestataNuovo = v.n;"));
    add(codes_, QStringLiteral("id, c"),
        sqlite ? QStringLiteral("UPDATE Prodotti SET CodiceTestata = v.c FROM v WHERE "
                                "Prodotti.IDProd = v.id;")
               : QStringLiteral("UPDATE p SET CodiceTestata = v.c FROM Prodotti p JOIN v ON "
                                "p.IDProd = v.id;"));
    // Still marked to the product, or the mark never committed.
    add(marks_, sqlite ? QStringLiteral("r, a, p, m") : QStringLiteral("o, n, a, p, m"),
        sqlite ? QStringLiteral("UPDATE CodiciCorvel SET IdProdMod = v.p, Modificato = v.m FROM "
                                "v WHERE CodiciCorvel.rowid = v.r AND CodiciCorvel.IdProdMod = "
                                "v.a AND CodiciCorvel.Modificato = 1;")
               : QStringLiteral("UPDATE c SET IdProdMod = v.p, Modificato = v.m FROM "
                                "CodiciCorvel c JOIN v ON c.CodTestataVecchio = v.o AND "
                                "c.CodTestataNuovo = v.n AND c.IdProdMod = v.a AND "
                                "c.Modificato = 1;"));
    add(distributors_, QStringLiteral("id, d"),
        sqlite ? QStringLiteral("UPDATE Prodotti SET IDDL = v.d FROM v WHERE Prodotti.IDProd = "
                                "v.id;")
               : QStringLiteral("UPDATE p SET IDDL = v.d FROM Prodotti p JOIN v ON p.IDProd = "
                                "v.id;"));
    inserts_ = codes_ = marks_ = distributors_ = Values();
    if (block.isEmpty() || sqlite)
        return block;
    // After a failure nothing more runs; after a trailer that committed, a new transaction.
    block.prepend(QStringLiteral("GO"));
    block.prepend(QStringLiteral("SET CONTEXT_INFO 0x00;"));
    block.prepend(QStringLiteral("IF @@TRANCOUNT = 0 BEGIN TRANSACTION;"));
    block.prepend(QStringLiteral("GO"));
    block.prepend(QStringLiteral("IF @@TRANCOUNT = 0 AND ISNULL(SUBSTRING(CONTEXT_INFO(), 1, 1), "
                                 "0x00) <> 0x01 SET NOEXEC ON;"));
    block.append(QStringLiteral("GO"));
    return block;
}

void RestoreScript::addRow(Values& values, std::initializer_list<QString> row) const
{
    // One row a line. SQL Server before 2008 has no VALUES lists; the embedded engine limits
    // UNION ALL to 500 terms.
    const bool sqlite = engine_ == Engine::Sqlite;
    QString& text = values.text;
    if (sqlite)
        text += values.rows == 0 ? QLatin1String("(") : QLatin1String(",\r\n(");
    else
        text += values.rows == 0 ? QLatin1String("SELECT ") : QLatin1String("UNION ALL SELECT ");
    bool first = true;
    for (const QString& value : row) {
        if (!first)
            text += QLatin1String(", ");
        text += value;
        first = false;
    }
    text += sqlite ? QLatin1String(")") : QLatin1String("\r\n");
    ++values.rows;
}

QString RestoreScript::with(const QString& columns, const Values& values) const
{
    const bool sqlite = engine_ == Engine::Sqlite;
    return QStringLiteral("WITH v (%1) AS (%2\r\n")
               .arg(columns, sqlite ? QStringLiteral("VALUES") : QString()) +
           values.text + (sqlite ? QStringLiteral("\r\n)\r\n") : QStringLiteral(")\r\n"));
}

QString RestoreScript::literal(const QVariant& value) const
{
    if (value.isNull())
        return QStringLiteral("NULL");
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toString();
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', 17);
    default:
        return text(value.toString());
    }
}

QString RestoreScript::text(const QString& value) const
{
    // Printable ASCII goes between quotes; any other character is written by its number
    // and joined on, so the file reads the same in any code page.
    const bool sqlite = engine_ == Engine::Sqlite;
    const QString open = sqlite ? QStringLiteral("'") : QStringLiteral("N'");
    // Most values are codes: one quoted run, written at once.
    if (std::all_of(value.begin(), value.end(),
                    [](QChar c) { return printable(c.unicode()) && c != QLatin1Char('\''); }))
        return open + value + QLatin1Char('\'');
    const QString join = sqlite ? QStringLiteral(" || ") : QStringLiteral(" + ");
    QStringList parts;
    QString run;
    const auto endRun = [&] {
        if (!run.isEmpty())
            parts << open + run + QLatin1Char('\'');
        run.clear();
    };
    // SQL Server's NCHAR takes UTF-16 units, SQLite's char code points.
    const QList<uint> units = sqlite ? value.toUcs4() : QList<uint>();
    const qsizetype count = sqlite ? units.size() : value.size();
    for (qsizetype i = 0; i < count; ++i) {
        const char32_t c = sqlite ? units[i] : char32_t(value[i].unicode());
        if (printable(c)) {
            if (c == U'\'')
                run += QLatin1Char('\'');
            run += QChar(char16_t(c));
            continue;
        }
        endRun();
        parts
            << (sqlite ? QStringLiteral("char(%1)") : QStringLiteral("NCHAR(%1)")).arg(quint32(c));
    }
    endRun();
    if (parts.isEmpty())
        return open + QLatin1Char('\'');
    return parts.join(join);
}

} // namespace db
