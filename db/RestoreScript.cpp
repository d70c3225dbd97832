#include "db/RestoreScript.h"

#include <algorithm>
#include <charconv>

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
// window). CONTEXT_INFO's first four bytes tell where the session stands: 'CCT' and a state,
// so that a value someone else set is never taken for one of ours: 01 the catalogue was
// checked and no transaction of the file is open, 03 a block is running, 02 it ran to its
// end, in a transaction still open, 04 a file failed: nothing may run in this session any
// more. A leading GO ends a batch a cut file before left open; the header, in batches of its
// own, turns NOEXEC off and rolls back whatever transaction the session holds (saying so when
// it was not one of ours), then refuses to run after a file that failed or did not finish
// (02, 03: cut short, or cancelled in Management Studio), as an older file must never land
// on a newer one that was rolled back; otherwise it clears CONTEXT_INFO, and the catalogue
// check sets 01. A block's guard runs it only in the right catalogue after 01 (opening a
// transaction) or 02; the block's last statement, in the batch of its changes, sets 02. SET
// XACT_ABORT ON rolls back on a run-time error, but a batch that does not compile is skipped
// with the transaction left open: either way 02 is never set, and the next guard or trailer
// rolls back, says so once, sets 04 and NOEXEC ON, which the last trailer turns off again so
// that a Management Studio window stays usable. Each check stands on its own, so a trailer
// that still commits in the middle (after a crash) cannot let a later block run.
//
// A product is put back only where its CodiceTestata and IDDL are both still what the run
// left: the host may have recoded or moved it since. What the run left is known only once
// every block has been read (a product is recoded in one block and moved in a later one),
// so the blocks gather the products in a temporary table and the trailer decides and puts
// back. A product found as it was before the run, or recoded but not moved, is the run's own
// too: what it finds was written by a transaction that never committed. "As before" is asked
// first: a product the run only moved, found as before, has nothing to put back (the file was
// run already), though it is also as the run left its code. Products left stay in the table, so
// that after a crash that left two trailers committing the second still sees the whole product.
//
// On the embedded engine every block opens its transaction and the spent trailer takes that
// line with it. A statement that fails does not end the transaction: the file is run with
// sqlite3 -bail, which stops and rolls it back.

namespace {

const QString kSqlServerFailed =
    QStringLiteral("RAISERROR(N'Ripristino interrotto da un errore: le modifiche non "
                   "confermate sono state annullate e il resto del file non e'' stato "
                   "eseguito.', 16, 1);");
// The session's states, after 'CCT'; see the top of this file.
const QString kChecked = QStringLiteral("0x43435401");
const QString kBlockDone = QStringLiteral("0x43435402");
const QString kBlockBegun = QStringLiteral("0x43435403");
const QString kFailed = QStringLiteral("0x43435404");
const QString kSqlServerCommit =
    QStringLiteral("COMMIT TRANSACTION; SET CONTEXT_INFO %1; END ELSE IF @s IS NULL OR @s <> %2 "
                   "BEGIN IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION; %3 SET CONTEXT_INFO %2; END")
        .arg(kChecked, kFailed, kSqlServerFailed);
const QString kNoExecOff = QStringLiteral("SET NOEXEC OFF;");
const QString kSqliteCommit = QStringLiteral("COMMIT;");
const QString kSqliteBegin = QStringLiteral("BEGIN TRANSACTION;");

const QString kCatalogueLine = QStringLiteral("-- catalogo: ");

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
    products_.columns = QStringList{QStringLiteral("p"), QStringLiteral("c0"), QStringLiteral("c1"),
                                    QStringLiteral("d0"), QStringLiteral("d1")};
    marks_.columns =
        sqlite ? QStringList{QStringLiteral("r"), QStringLiteral("a"), QStringLiteral("p"),
                             QStringLiteral("m")}
               : QStringList{QStringLiteral("o"), QStringLiteral("n"), QStringLiteral("a"),
                             QStringLiteral("p"), QStringLiteral("m")};
    moves_.columns = QStringList{QStringLiteral("p"), QStringLiteral("c1"), QStringLiteral("d0"),
                                 QStringLiteral("d1")};
}

QString RestoreScript::catalogueLine()
{
    return kCatalogueLine;
}

QString RestoreScript::forgetPutBack(Engine engine)
{
    return engine == Engine::Sqlite
               ? QStringLiteral("DELETE FROM temp.ripristino_p WHERE f = 0 OR f = 1;")
               : QStringLiteral("DELETE FROM #ripristino_p WHERE f = 0 OR f = 1;");
}

QString RestoreScript::listPutBack(Engine engine)
{
    return QStringLiteral("SELECT p AS Rimesso, c1 AS Codice_prima, c0 AS Codice_ora, f AS Stato "
                          "FROM %1 WHERE f = 0 OR f = 1 ORDER BY p;")
        .arg(engine == Engine::Sqlite ? QStringLiteral("temp.ripristino_p")
                                      : QStringLiteral("#ripristino_p"));
}

QString RestoreScript::readState()
{
    return QStringLiteral("DECLARE @s varbinary(4); SELECT @s = SUBSTRING(context_info, 1, 4) "
                          "FROM master.dbo.sysprocesses WHERE spid = @@SPID AND ecid = 0;");
}

QStringList RestoreScript::header(const QDateTime& started) const
{
    QString shown;
    for (const QChar c : catalogue_)
        shown += printable(c.unicode()) ? c : QLatin1Char('?');
    QStringList lines{
        QStringLiteral("-- ConvertiCodiceTestata: ripristino del catalogo ") + shown,
        // The name exactly, for the program to tell which catalogue the file belongs to.
        kCatalogueLine + text(catalogue_),
        QStringLiteral("-- conversione avviata il ") +
            started.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")),
        QStringLiteral("-- Rimette CodiceTestata e IDDL dei prodotti e IdProdMod e Modificato di "
                       "CodiciCorvel come erano,"),
        QStringLiteral("-- e toglie da CodiciCorvel le righe inserite dalla conversione. Un "
                       "prodotto cambiato dopo la"),
        QStringLiteral("-- conversione (codice o distributore) resta com'e': il file finisce "
                       "elencandolo con il motivo."),
        QStringLiteral("-- Piu' file dello stesso catalogo: eseguirli dal piu' recente al meno "
                       "recente."),
    };
    if (engine_ == Engine::Sqlite) {
        // The copies keep the catalogue's column types, so values compare as in Prodotti.
        lines << QStringLiteral("-- sqlite3 -bail CATALOGO.sqlite < FILE")
              << QStringLiteral("DROP TABLE IF EXISTS temp.ripristino_p;")
              << QStringLiteral("DROP TABLE IF EXISTS temp.ripristino_d;")
              << QStringLiteral("CREATE TEMP TABLE ripristino_p AS SELECT IDProd AS p, "
                                "CodiceTestata AS c0, CodiceTestata AS c1, IDDL AS d0, IDDL AS "
                                "d1, NULL AS f FROM Prodotti WHERE 0;")
              << QStringLiteral("CREATE TEMP TABLE ripristino_d AS SELECT IDProd AS p, "
                                "CodiceTestata AS c1, IDDL AS d0, IDDL AS d1 FROM Prodotti WHERE "
                                "0;")
              // Without it, gathering the moves into the products' table reads that table
              // once for every row.
              << QStringLiteral("CREATE INDEX temp.ripristino_p_p ON ripristino_p (p);");
        return lines;
    }
    lines << QStringLiteral("-- sqlcmd -b -S SERVER -U UTENTE -i FILE[,FILE...], oppure osql -E -S "
                            "SERVER -b -i FILE, oppure Management Studio (Esegui)")
          << QStringLiteral("GO") << kNoExecOff << QStringLiteral("GO") << readState()
          << QStringLiteral("IF @s = %1 OR @s = %2 OR @s = %3 BEGIN IF @@TRANCOUNT > 0 ROLLBACK "
                            "TRANSACTION; RAISERROR(N'Un ripristino eseguito prima in questa "
                            "sessione non e'' terminato: questo file non e'' stato eseguito. "
                            "Aprire una nuova sessione ed eseguire di nuovo i file dal piu'' "
                            "recente.', 16, 1); SET CONTEXT_INFO %3; SET NOEXEC ON; END ELSE "
                            "BEGIN IF @@TRANCOUNT > 0 BEGIN ROLLBACK TRANSACTION; RAISERROR(N'Una "
                            "transazione lasciata aperta in questa sessione e'' stata annullata "
                            "prima del ripristino.', 10, 1); END SET CONTEXT_INFO 0x00; END")
                 .arg(kBlockDone, kBlockBegun, kFailed)
          << QStringLiteral("SET NOCOUNT ON;") << QStringLiteral("SET XACT_ABORT ON;")
          << QStringLiteral("GO");
    // Brackets keep the name one identifier; a name USE cannot take in plain ASCII is left
    // to the operator's choice, which the check below then verifies.
    if (shown == catalogue_)
        lines << QStringLiteral("USE [%1];")
                     .arg(QString(catalogue_).replace(QLatin1Char(']'), QStringLiteral("]]")))
              << QStringLiteral("GO");
    lines << QStringLiteral("IF DB_NAME() = %1 BEGIN SET CONTEXT_INFO %2; END ELSE BEGIN "
                            "RAISERROR(N'Catalogo diverso da quello convertito: il ripristino non "
                            "e'' stato eseguito.', 16, 1); SET CONTEXT_INFO %3; SET NOEXEC "
                            "ON; END")
                 .arg(text(catalogue_), kChecked, kFailed)
          << QStringLiteral("GO")
          << QStringLiteral("IF OBJECT_ID(N'tempdb..#ripristino_p') IS NOT NULL DROP TABLE "
                            "#ripristino_p;")
          << QStringLiteral("IF OBJECT_ID(N'tempdb..#ripristino_d') IS NOT NULL DROP TABLE "
                            "#ripristino_d;")
          << QStringLiteral("GO")
          // Copies of the columns keep their types and collation; + 0 leaves out an IDENTITY.
          << QStringLiteral("SELECT IDProd + 0 AS p, CodiceTestata AS c0, CodiceTestata AS c1, "
                            "IDDL AS d0, IDDL AS d1, CAST(NULL AS int) AS f INTO #ripristino_p "
                            "FROM Prodotti WHERE 1 = 0;")
          << QStringLiteral("SELECT IDProd + 0 AS p, CodiceTestata AS c1, IDDL AS d0, IDDL AS d1 "
                            "INTO #ripristino_d FROM Prodotti WHERE 1 = 0;")
          << QStringLiteral("CREATE INDEX ripristino_p_p ON #ripristino_p (p);")
          << QStringLiteral("GO");
    return lines;
}

QStringList RestoreScript::putBack() const
{
    if (engine_ == Engine::Sqlite)
        return {
            QStringLiteral("UPDATE temp.ripristino_p AS r SET c1 = d.c1, d1 = d.d1 FROM "
                           "temp.ripristino_d AS d WHERE r.p = d.p;"),
            QStringLiteral("INSERT INTO temp.ripristino_p (p, c0, c1, d0, d1) SELECT p, c1, c1, "
                           "d0, d1 FROM temp.ripristino_d AS d WHERE NOT EXISTS (SELECT * FROM "
                           "temp.ripristino_p AS r WHERE r.p = d.p);"),
            QStringLiteral("DELETE FROM temp.ripristino_d;"),
            QStringLiteral("UPDATE temp.ripristino_p AS r SET f = (SELECT CASE WHEN "
                           "p.CodiceTestata IS r.c0 AND p.IDDL IS r.d0 THEN 0 WHEN "
                           "p.CodiceTestata IS r.c1 AND (p.IDDL IS r.d1 OR p.IDDL IS r.d0) THEN 1 "
                           "ELSE 2 END FROM "
                           "main.Prodotti AS p WHERE p.IDProd = r.p);"),
            QStringLiteral("UPDATE Prodotti SET CodiceTestata = r.c0, IDDL = r.d0 FROM "
                           "temp.ripristino_p AS r WHERE Prodotti.IDProd = r.p AND r.f = 1;"),
            QStringLiteral("SELECT 'Lasciato: IDProd ' || r.p || ', CodiceTestata ' || "
                           "coalesce(p.CodiceTestata, 'NULL') || ', IDDL ' || coalesce(p.IDDL, "
                           "'NULL') || ': ' || CASE WHEN p.IDProd IS NULL THEN 'non piu'' nel "
                           "catalogo' WHEN p.CodiceTestata IS r.c1 THEN 'distributore cambiato "
                           "dopo la conversione' WHEN p.IDDL IS r.d1 OR p.IDDL IS r.d0 THEN "
                           "'codice cambiato dopo "
                           "la conversione' ELSE 'codice e distributore cambiati dopo la "
                           "conversione' END FROM temp.ripristino_p AS r LEFT JOIN main.Prodotti "
                           "AS p ON p.IDProd = r.p WHERE r.f IS NULL OR r.f = 2 ORDER BY r.p;"),
            QStringLiteral("SELECT 'Ripristino: ' || count(CASE WHEN f = 1 THEN 1 END) || ' "
                           "prodotti rimessi come erano, ' || count(CASE WHEN f IS NULL OR f = 2 "
                           "THEN 1 END) || ' lasciati perche'' cambiati dopo la conversione.' || "
                           "CASE WHEN count(CASE WHEN f = 0 THEN 1 END) > 0 THEN ' ' || "
                           "count(CASE WHEN f = 0 THEN 1 END) || ' prodotti erano gia'' come prima "
                           "della conversione: niente da rimettere.' ELSE '' END FROM "
                           "temp.ripristino_p;"),
            forgetPutBack(engine_),
        };
    // A comparison that holds for two Nulls too.
    const auto same = [](const QString& a, const QString& b) {
        return QStringLiteral("(%1 = %2 OR %1 IS NULL AND %2 IS NULL)").arg(a, b);
    };
    // What the run left, or what it left before a move that did not commit.
    const QString distributorAsLeft =
        QStringLiteral("(%1 OR %2)")
            .arg(same(QStringLiteral("p.IDDL"), QStringLiteral("r.d1")),
                 same(QStringLiteral("p.IDDL"), QStringLiteral("r.d0")));
    const QString asLeft = same(QStringLiteral("p.CodiceTestata"), QStringLiteral("r.c1")) +
                           QStringLiteral(" AND ") + distributorAsLeft;
    const QString asBefore = same(QStringLiteral("p.CodiceTestata"), QStringLiteral("r.c0")) +
                             QStringLiteral(" AND ") +
                             same(QStringLiteral("p.IDDL"), QStringLiteral("r.d0"));
    return {
        QStringLiteral("UPDATE r SET c1 = d.c1, d1 = d.d1 FROM #ripristino_p r JOIN "
                       "#ripristino_d d ON r.p = d.p;"),
        QStringLiteral("INSERT INTO #ripristino_p (p, c0, c1, d0, d1) SELECT p, c1, c1, d0, d1 "
                       "FROM #ripristino_d d WHERE NOT EXISTS (SELECT * FROM #ripristino_p r "
                       "WHERE r.p = d.p);"),
        QStringLiteral("DELETE FROM #ripristino_d;"),
        QStringLiteral("UPDATE r SET f = CASE WHEN p.IDProd IS NULL THEN NULL WHEN %1 THEN 0 WHEN "
                       "%2 THEN 1 ELSE 2 END FROM #ripristino_p r LEFT JOIN Prodotti p ON "
                       "p.IDProd = r.p;")
            .arg(asBefore, asLeft),
        QStringLiteral("UPDATE p SET CodiceTestata = r.c0, IDDL = r.d0 FROM Prodotti p JOIN "
                       "#ripristino_p r ON p.IDProd = r.p WHERE r.f = 1;"),
        QStringLiteral("SELECT r.p AS IDProd, p.CodiceTestata AS CodiceTestata_ora, p.IDDL AS "
                       "IDDL_ora, CASE WHEN p.IDProd IS NULL THEN N'non piu'' nel catalogo' WHEN "
                       "%1 THEN N'distributore cambiato dopo la conversione' WHEN %2 THEN "
                       "N'codice cambiato dopo la conversione' ELSE N'codice e distributore "
                       "cambiati dopo la conversione' END AS Lasciato_perche FROM #ripristino_p "
                       "r LEFT JOIN Prodotti p ON p.IDProd = r.p WHERE r.f IS NULL OR r.f = 2 "
                       "ORDER BY r.p;")
            .arg(same(QStringLiteral("p.CodiceTestata"), QStringLiteral("r.c1")),
                 distributorAsLeft),
        QStringLiteral("SELECT N'Ripristino: ' + CAST(COALESCE(SUM(CASE WHEN f = 1 THEN 1 ELSE 0 "
                       "END), 0) AS nvarchar(10)) + N' prodotti rimessi come erano, ' + "
                       "CAST(COALESCE(SUM(CASE WHEN f IS NULL OR f = 2 THEN 1 ELSE 0 END), 0) AS "
                       "nvarchar(10)) + N' lasciati perche'' cambiati dopo la conversione.' + CASE "
                       "WHEN SUM(CASE WHEN f = 0 THEN 1 ELSE 0 END) > 0 THEN N' ' + "
                       "CAST(SUM(CASE WHEN f = 0 THEN 1 ELSE 0 END) AS nvarchar(10)) + N' prodotti "
                       "erano gia'' come prima della conversione: niente da rimettere.' ELSE N'' "
                       "END AS Esito FROM #ripristino_p;"),
        forgetPutBack(engine_),
    };
}

QStringList RestoreScript::trailer() const
{
    QStringList lines = committingLines();
    if (engine_ == Engine::Sqlite)
        lines.removeLast();
    else
        lines << QStringLiteral("GO");
    return lines;
}

QStringList RestoreScript::committingLines() const
{
    if (engine_ == Engine::Sqlite)
        return putBack() << kSqliteCommit << kSqliteBegin;
    return QStringList{readState(),
                       QStringLiteral("IF @s = %1 AND @@TRANCOUNT = 1 BEGIN").arg(kBlockDone)}
           << putBack() << kSqlServerCommit << kNoExecOff;
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
    // On the embedded engine the last line opens the next block, which goes with it.
    QStringList lines = committingLines();
    if (engine_ == Engine::Sqlite)
        lines.removeLast();
    return lines.join(QStringLiteral("\r\n"));
}

RestoreScript::Field RestoreScript::code(const Product& product) const
{
    // A Null among texts must stay a text on SQL Server, where a bare NULL would make the
    // column a number.
    return !product.codeNull           ? Field(product.code)
           : engine_ == Engine::Sqlite ? Field(QLatin1String("NULL"))
                                       : Field(QLatin1String("CAST(NULL AS nvarchar(1))"));
}

void RestoreScript::productCode(const Product& product, const QString& newCode,
                                const QVariant& distributorId)
{
    addRow(products_, {product.id, code(product), newCode, distributorId, distributorId});
}

void RestoreScript::productDistributor(const Product& product, const QVariant& distributorId,
                                       const QVariant& newDistributorId)
{
    addRow(moves_, {product.id, code(product), distributorId, newDistributorId});
}

void RestoreScript::stagingMark(const StagingRow& row, const QVariant& productId)
{
    // The row as the run found it to mark it: by its row identity on the embedded engine, on
    // SQL Server, whose table has no key, by its codes.
    if (engine_ == Engine::Sqlite)
        addRow(marks_, {row.rowId, productId, row.productId, row.applied});
    else
        addRow(marks_, {row.oldCode, row.newCode, productId, row.productId, row.applied});
}

void RestoreScript::stagingInsert(const QString& newCode, const QString& oldCode)
{
    addRow(inserts_, {oldCode, newCode});
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
    // The products are only gathered here: the trailer puts them back.
    addStatements(block, products_,
                  sqlite ? QStringLiteral("INSERT INTO temp.ripristino_p (p, c0, c1, d0, d1) "
                                          "SELECT * FROM v;")
                         : QStringLiteral("INSERT INTO #ripristino_p (p, c0, c1, d0, d1) SELECT "
                                          "p, c0, c1, d0, d1 FROM %1;"));
    addStatements(block, moves_,
                  sqlite ? QStringLiteral("INSERT INTO temp.ripristino_d (p, c1, d0, d1) SELECT * "
                                          "FROM v;")
                         : QStringLiteral("INSERT INTO #ripristino_d (p, c1, d0, d1) SELECT p, c1, "
                                          "d0, d1 FROM %1;"));
    for (Values* values : {&inserts_, &products_, &marks_, &moves_}) {
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
    block.prepend(
        QStringLiteral("IF DB_NAME() = %1 AND (@s = %3 AND @@TRANCOUNT = 0 OR @s = "
                       "%4 AND @@TRANCOUNT = 1) BEGIN IF @@TRANCOUNT = 0 BEGIN "
                       "TRANSACTION; SET CONTEXT_INFO %5; END ELSE BEGIN IF "
                       "@@TRANCOUNT > 0 ROLLBACK TRANSACTION; IF @s IS NULL OR @s <> "
                       "%6 %2 SET CONTEXT_INFO %6; SET NOEXEC ON; END")
            .arg(text(catalogue_), kSqlServerFailed, kChecked, kBlockDone, kBlockBegun, kFailed));
    block.prepend(readState());
    block.append(QStringLiteral("SET CONTEXT_INFO %1;").arg(kBlockDone));
    block.append(QStringLiteral("GO"));
    return block;
}

void RestoreScript::addRow(Values& values, std::initializer_list<Field> row) const
{
    // One row a line. SQL Server before 2008 has no VALUES lists, nor CTEs before 2005: its
    // rows are a derived table of SELECTs, the first naming the columns.
    const bool sqlite = engine_ == Engine::Sqlite;
    const bool first = values.rows % kRowsPerStatement == 0;
    if (first) {
        values.chunks.append(QString());
        values.chunks.last().reserve(qsizetype(kRowsPerStatement) * 48);
    }
    QString& text = values.chunks.last();
    if (sqlite)
        text += first ? QLatin1String("(") : QLatin1String(",\r\n(");
    else
        text += first ? QLatin1String("SELECT ") : QLatin1String("UNION ALL SELECT ");
    qsizetype column = 0;
    for (const Field& field : row) {
        if (column > 0)
            text += QLatin1String(", ");
        if (field.text)
            appendText(text, *field.text);
        else if (field.value)
            appendLiteral(text, *field.value);
        else
            text += field.sql;
        if (first && !sqlite) {
            text += QLatin1String(" AS ");
            text += values.columns[column];
        }
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

void RestoreScript::appendLiteral(QString& out, const QVariant& value) const
{
    if (value.isNull()) {
        out += QLatin1String("NULL");
        return;
    }
    char digits[24];
    const auto number = [&](auto n) {
        out += QLatin1String(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
    };
    switch (value.typeId()) {
    case QMetaType::Bool:
        out += value.toBool() ? QLatin1Char('1') : QLatin1Char('0');
        return;
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::LongLong:
        number(value.toLongLong());
        return;
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        number(value.toULongLong());
        return;
    case QMetaType::Double:
        out += QString::number(value.toDouble(), 'g', 17);
        return;
    default:
        appendText(out, value.toString());
    }
}

QString RestoreScript::text(const QString& value) const
{
    QString quoted;
    appendText(quoted, value);
    return quoted;
}

void RestoreScript::appendText(QString& out, const QString& value) const
{
    // Printable ASCII goes between quotes; any other character is written by its number
    // and joined on, so the file reads the same in any code page.
    const bool sqlite = engine_ == Engine::Sqlite;
    const QLatin1String open = sqlite ? QLatin1String("'") : QLatin1String("N'");
    // Most values are codes: one quoted run.
    if (std::all_of(value.begin(), value.end(),
                    [](QChar c) { return printable(c.unicode()) && c != QLatin1Char('\''); })) {
        out += open;
        out += value;
        out += QLatin1Char('\'');
        return;
    }
    const QLatin1String join = sqlite ? QLatin1String(" || ") : QLatin1String(" + ");
    bool joined = false, inRun = false;
    const auto part = [&] {
        if (joined)
            out += join;
        joined = true;
    };
    // SQL Server's NCHAR takes UTF-16 units, SQLite's char code points.
    const QList<uint> units = sqlite ? value.toUcs4() : QList<uint>();
    const qsizetype count = sqlite ? units.size() : value.size();
    for (qsizetype i = 0; i < count; ++i) {
        const char32_t c = sqlite ? units[i] : char32_t(value[i].unicode());
        if (printable(c)) {
            if (!inRun) {
                part();
                out += open;
                inRun = true;
            }
            if (c == U'\'')
                out += QLatin1Char('\'');
            out += QChar(char16_t(c));
            continue;
        }
        if (inRun)
            out += QLatin1Char('\'');
        inRun = false;
        part();
        out += (sqlite ? QStringLiteral("char(%1)") : QStringLiteral("NCHAR(%1)")).arg(quint32(c));
    }
    if (inRun)
        out += QLatin1Char('\'');
    if (!joined) {
        out += open;
        out += QLatin1Char('\'');
    }
}

} // namespace db
