#include "db/RestoreScript.h"

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
// trailer that commits, and the writer turns the previous trailer into a comment of the same
// length only once the next block and its trailer are on the disk. After every sync the file
// therefore ends with a trailer that commits, and a file cut at any point is whole up to the
// last trailer still live. Where two are live (the program died between the two syncs of one
// block), the first commits the committed blocks and the block after it is the harmless one.
//
// On SQL Server the transaction spans GO batches. SET XACT_ABORT ON rolls it back on any
// error; each block starts by checking that it is still open, and otherwise stops the rest
// of the script with SET NOEXEC ON, so no block runs outside it: a failure anywhere leaves
// the catalogue as it was. The trailer's SET NOEXEC OFF leaves a Management Studio window
// usable afterwards. On the embedded engine a statement that fails does not end the
// transaction: the file is run with sqlite3 -bail, which stops and rolls it back.

namespace {

const QString kSqlServerCommit = QStringLiteral("IF @@TRANCOUNT > 0 COMMIT TRANSACTION;");
const QString kSqliteCommit = QStringLiteral("COMMIT;");

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
          << QStringLiteral("SET XACT_ABORT ON;");
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
        return {kSqliteCommit};
    return {kSqlServerCommit, QStringLiteral("SET NOEXEC OFF;"), QStringLiteral("GO")};
}

QString RestoreScript::spentTrailer() const
{
    const qsizetype length = (engine_ == Engine::Sqlite ? kSqliteCommit : kSqlServerCommit).size();
    return QStringLiteral("-- segue").leftJustified(length, QLatin1Char(' '), true);
}

void RestoreScript::productCode(const Product& product)
{
    block_ << QStringLiteral("UPDATE Prodotti SET CodiceTestata = %1 WHERE IDProd = %2;")
                  .arg(product.codeNull ? QStringLiteral("NULL") : text(product.code),
                       literal(product.id));
}

void RestoreScript::productDistributor(const QVariant& productId, const QVariant& distributorId)
{
    block_ << QStringLiteral("UPDATE Prodotti SET IDDL = %1 WHERE IDProd = %2;")
                  .arg(literal(distributorId), literal(productId));
}

void RestoreScript::stagingMark(const StagingRow& row, const QVariant& productId)
{
    // The row as the run found it to mark it: by its row identity on the embedded engine, on
    // SQL Server, whose table has no key, by its codes. Still marked to this product, or the
    // mark never committed and there is nothing to undo.
    const QString set = QStringLiteral("SET IdProdMod = %1, Modificato = %2")
                            .arg(literal(row.productId), literal(row.applied));
    const QString marked =
        QStringLiteral("IdProdMod = %1 AND Modificato = 1;").arg(literal(productId));
    if (engine_ == Engine::Sqlite)
        block_ << QStringLiteral("UPDATE CodiciCorvel %1 WHERE rowid = %2 AND %3")
                      .arg(set, literal(row.rowId), marked);
    else
        block_ << QStringLiteral("UPDATE TOP (1) CodiciCorvel %1 WHERE CodTestataVecchio = %2 AND "
                                 "CodTestataNuovo = %3 AND %4")
                      .arg(set, text(row.oldCode), text(row.newCode), marked);
}

void RestoreScript::stagingInsert(const QString& newCode, const QString& oldCode)
{
    // No row held this old code before the run, which stages each code once; the newest
    // such row is the run's.
    const QString codes = QStringLiteral("CodTestataVecchio = %1 AND CodTestataNuovo = %2")
                              .arg(text(oldCode), text(newCode));
    if (engine_ == Engine::Sqlite)
        block_ << QStringLiteral("DELETE FROM CodiciCorvel WHERE rowid = (SELECT rowid FROM "
                                 "CodiciCorvel WHERE %1 ORDER BY rowid DESC LIMIT 1);")
                      .arg(codes);
    else
        block_ << QStringLiteral("DELETE TOP (1) FROM CodiciCorvel WHERE %1;").arg(codes);
}

QStringList RestoreScript::takeBlock()
{
    QStringList block = std::move(block_);
    block_.clear();
    if (block.isEmpty() || engine_ == Engine::Sqlite)
        return block;
    // A block after a failure, or after a live trailer of a block cut short, runs nothing.
    block.prepend(QStringLiteral("GO"));
    block.prepend(QStringLiteral("IF @@TRANCOUNT = 0 SET NOEXEC ON;"));
    block.append(QStringLiteral("GO"));
    return block;
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
