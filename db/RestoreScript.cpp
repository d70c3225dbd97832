#include "db/RestoreScript.h"

#include <algorithm>

namespace db {

// How the file stays right when the run is cut short.
//
// Every block is on the disk before its transaction commits, so a file cut short ends with
// blocks of committed transactions, then at most one block (whole or in part) of a
// transaction that never committed. That last block only sets values that are already in
// place, or finds no row: it is harmless whether it runs or not. A write that fails cuts the
// file back to the end of the last whole trailer (RestoreFile), so only a crash leaves a cut
// block.
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
// On SQL Server the transaction spans GO batches, and the file may share its session with
// anything run before it, other restore files included (sqlcmd -i A,B, one Management Studio
// window). The first byte of CONTEXT_INFO tells where the session stands: 01 the catalogue
// was checked and no transaction of the file is open, 03 a block is running, 02 it ran to
// its end, in a transaction still open, 04 a file failed: nothing may run in this session any
// more. A leading GO ends a batch a cut file before left open; the header, in batches of its
// own, turns NOEXEC off and rolls back whatever transaction the session holds, then refuses
// to run after a failed file (an older file must never land on a newer one that did not) and
// otherwise clears CONTEXT_INFO; the catalogue check sets 01. A block's guard runs it only in
// the right catalogue after 01 (opening a transaction) or 02; the block's last statement, in
// the batch of its changes, sets 02. SET XACT_ABORT ON rolls back on a run-time error, but a
// batch that does not compile is skipped with the transaction left open: either way 02 is
// never set, and the next guard or trailer rolls back, says so once, sets 04 and NOEXEC ON,
// which the last trailer turns off again so that a Management Studio window stays usable.
// Each check stands on its own, so a trailer that still commits in the middle (after a
// crash) cannot let a later block run.
//
// On the embedded engine every block opens its transaction and the spent trailer takes that
// line with it. A statement that fails does not end the transaction: the file is run with
// sqlite3 -bail, which stops and rolls it back.

namespace {

const QString kSqlServerFailed =
    QStringLiteral("RAISERROR(N'Ripristino interrotto da un errore: le modifiche non "
                   "confermate sono state annullate e il resto del file non e'' stato "
                   "eseguito.', 16, 1);");
const QString kSqlServerCommit =
    QStringLiteral("IF @s = 0x02 AND @@TRANCOUNT = 1 BEGIN COMMIT TRANSACTION; SET CONTEXT_INFO "
                   "0x01; END ELSE IF @s IS NULL OR @s <> 0x04 BEGIN IF @@TRANCOUNT > 0 ROLLBACK "
                   "TRANSACTION; ") +
    kSqlServerFailed + QStringLiteral(" SET CONTEXT_INFO 0x04; END");
const QString kNoExecOff = QStringLiteral("SET NOEXEC OFF;");
const QString kSqliteCommit = QStringLiteral("COMMIT;");
const QString kSqliteBegin = QStringLiteral("BEGIN TRANSACTION;");

bool printable(char32_t c)
{
    return c >= 0x20 && c < 0x7f;
}

} // namespace

RestoreScript::RestoreScript(Engine engine, QString catalogue)
    : engine_(engine), catalogue_(std::move(catalogue))
{
    const bool sqlite = engine_ == Engine::Sqlite;
    inserts_.columns = QStringList{QStringLiteral("o"), QStringLiteral("n")};
    codes_.columns = QStringList{QStringLiteral("id"), QStringLiteral("c")};
    marks_.columns =
        sqlite ? QStringList{QStringLiteral("r"), QStringLiteral("a"), QStringLiteral("p"),
                             QStringLiteral("m")}
               : QStringList{QStringLiteral("o"), QStringLiteral("n"), QStringLiteral("a"),
                             QStringLiteral("p"), QStringLiteral("m")};
    distributors_.columns = QStringList{QStringLiteral("id"), QStringLiteral("d")};
}

QString RestoreScript::readState()
{
    return QStringLiteral("DECLARE @s varbinary(1); SELECT @s = SUBSTRING(context_info, 1, 1) "
                          "FROM master.dbo.sysprocesses WHERE spid = @@SPID AND ecid = 0;");
}

QStringList RestoreScript::header(const QDateTime& started) const
{
    QString shown;
    for (const QChar c : catalogue_)
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
        lines << QStringLiteral("-- sqlite3 -bail CATALOGO.sqlite < FILE");
        return lines;
    }
    lines << QStringLiteral("-- sqlcmd -b -S SERVER -U UTENTE -i FILE[,FILE...], oppure Management "
                            "Studio (Esegui)")
          << QStringLiteral("GO") << kNoExecOff << QStringLiteral("GO") << readState()
          << QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION;")
          << QStringLiteral("IF @s = 0x04 BEGIN RAISERROR(N'Un ripristino eseguito prima in questa "
                            "sessione si e'' interrotto: questo file non e'' stato eseguito. "
                            "Aprire una nuova sessione ed eseguire di nuovo i file dal piu'' "
                            "recente.', 16, 1); SET NOEXEC ON; END ELSE SET CONTEXT_INFO 0x00;")
          << QStringLiteral("SET NOCOUNT ON;") << QStringLiteral("SET XACT_ABORT ON;")
          << QStringLiteral("GO");
    // Brackets keep the name one identifier; a name USE cannot take in plain ASCII is left
    // to the operator's choice, which the check below then verifies.
    if (shown == catalogue_)
        lines << QStringLiteral("USE [%1];")
                     .arg(QString(catalogue_).replace(QLatin1Char(']'), QStringLiteral("]]")))
              << QStringLiteral("GO");
    lines << QStringLiteral("IF DB_NAME() = %1 BEGIN SET CONTEXT_INFO 0x01; END ELSE BEGIN "
                            "RAISERROR(N'Catalogo diverso da quello convertito: il ripristino non "
                            "e'' stato eseguito.', 16, 1); SET CONTEXT_INFO 0x04; SET NOEXEC "
                            "ON; END")
                 .arg(text(catalogue_))
          << QStringLiteral("GO");
    return lines;
}

QStringList RestoreScript::trailer() const
{
    if (engine_ == Engine::Sqlite)
        return {kSqliteCommit};
    return {readState() + QLatin1Char(' ') + kSqlServerCommit, kNoExecOff, QStringLiteral("GO")};
}

QStringList RestoreScript::committingLines() const
{
    if (engine_ == Engine::Sqlite)
        return {kSqliteCommit, kSqliteBegin};
    return {readState() + QLatin1Char(' ') + kSqlServerCommit, kNoExecOff};
}

QString RestoreScript::spentTrailer() const
{
    // The lines that commit, each turned into a comment of its length.
    QStringList spent;
    for (const QString& line : committingLines())
        spent << (spent.isEmpty() ? QStringLiteral("-- segue") : QStringLiteral("--"))
                     .leftJustified(line.size(), QLatin1Char(' '), true);
    return spent.join(QStringLiteral("\r\n"));
}

QString RestoreScript::liveTrailer() const
{
    // On the embedded engine the second line opens the next block, which goes with it.
    const QStringList lines = committingLines();
    return engine_ == Engine::Sqlite ? lines.first() : lines.join(QStringLiteral("\r\n"));
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
    // The run stages each old code once, and only codes no row held before.
    addStatements(block, inserts_,
                  sqlite
                      ? QStringLiteral("DELETE FROM CodiciCorvel WHERE (CodTestataVecchio, "
                                       "CodTestataNuovo) IN (SELECT o, n FROM v);")
                      : QStringLiteral("DELETE c FROM CodiciCorvel c JOIN %1 ON "
                                       "c.CodTestataVecchio = v.o AND c.CodTestataNuovo = v.n;"));
    addStatements(block, codes_,
                  sqlite ? QStringLiteral("UPDATE Prodotti SET CodiceTestata = v.c FROM v WHERE "
                                          "Prodotti.IDProd = v.id;")
                         : QStringLiteral("UPDATE p SET CodiceTestata = v.c FROM Prodotti p JOIN "
                                          "%1 ON p.IDProd = v.id;"));
    // Still marked to the product, or the mark never committed.
    addStatements(block, marks_,
                  sqlite ? QStringLiteral("UPDATE CodiciCorvel SET IdProdMod = v.p, Modificato = "
                                          "v.m FROM v WHERE CodiciCorvel.rowid = v.r AND "
                                          "CodiciCorvel.IdProdMod = v.a AND "
                                          "CodiciCorvel.Modificato = 1;")
                         : QStringLiteral("UPDATE c SET IdProdMod = v.p, Modificato = v.m FROM "
                                          "CodiciCorvel c JOIN %1 ON c.CodTestataVecchio = v.o "
                                          "AND c.CodTestataNuovo = v.n AND c.IdProdMod = v.a AND "
                                          "c.Modificato = 1;"));
    addStatements(block, distributors_,
                  sqlite ? QStringLiteral("UPDATE Prodotti SET IDDL = v.d FROM v WHERE "
                                          "Prodotti.IDProd = v.id;")
                         : QStringLiteral("UPDATE p SET IDDL = v.d FROM Prodotti p JOIN %1 ON "
                                          "p.IDProd = v.id;"));
    for (Values* values : {&inserts_, &codes_, &marks_, &distributors_}) {
        values->chunks.clear();
        values->rows = 0;
    }
    if (block.isEmpty())
        return block;
    if (sqlite) {
        block.prepend(kSqliteBegin);
        return block;
    }
    // Only in the catalogue, after the header or a whole block; see the top of this file.
    block.prepend(QStringLiteral("GO"));
    block.prepend(QStringLiteral("IF DB_NAME() = %1 AND (@s = 0x01 AND @@TRANCOUNT = 0 OR @s = "
                                 "0x02 AND @@TRANCOUNT = 1) BEGIN IF @@TRANCOUNT = 0 BEGIN "
                                 "TRANSACTION; SET CONTEXT_INFO 0x03; END ELSE BEGIN IF "
                                 "@@TRANCOUNT > 0 ROLLBACK TRANSACTION; IF @s IS NULL OR @s <> "
                                 "0x04 %2 SET CONTEXT_INFO 0x04; SET NOEXEC ON; END")
                      .arg(text(catalogue_), kSqlServerFailed));
    block.prepend(readState());
    block.append(QStringLiteral("SET CONTEXT_INFO 0x02;"));
    block.append(QStringLiteral("GO"));
    return block;
}

void RestoreScript::addRow(Values& values, std::initializer_list<QString> row) const
{
    // One row a line. SQL Server before 2008 has no VALUES lists, nor CTEs before 2005: its
    // rows are a derived table of SELECTs, the first naming the columns.
    const bool sqlite = engine_ == Engine::Sqlite;
    const bool first = values.rows % kRowsPerStatement == 0;
    if (first)
        values.chunks.append(QString());
    QString& text = values.chunks.last();
    if (sqlite)
        text += first ? QLatin1String("(") : QLatin1String(",\r\n(");
    else
        text += first ? QLatin1String("SELECT ") : QLatin1String("UNION ALL SELECT ");
    qsizetype column = 0;
    for (const QString& value : row) {
        if (column > 0)
            text += QLatin1String(", ");
        text += value;
        if (first && !sqlite)
            text += QLatin1String(" AS ") + values.columns[column];
        ++column;
    }
    text += sqlite ? QLatin1String(")") : QLatin1String("\r\n");
    ++values.rows;
}

void RestoreScript::addStatements(QStringList& block, const Values& values,
                                  const QString& statement) const
{
    for (const QString& chunk : values.chunks) {
        if (engine_ == Engine::Sqlite)
            block << QStringLiteral("WITH v (%1) AS (VALUES\r\n")
                             .arg(values.columns.join(QStringLiteral(", "))) +
                         chunk + QStringLiteral("\r\n)\r\n") + statement;
        else
            block << statement.arg(QStringLiteral("(\r\n") + chunk + QStringLiteral(") v"));
    }
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
