#include "db/HostCatalog.h"

namespace db {

namespace {

// The staging table as the host's SQL Server has always created it, one batch.
const QString kStagingDdlSqlServer = QStringLiteral(
    "SET ANSI_NULLS ON "
    "SET QUOTED_IDENTIFIER ON "
    "IF NOT EXISTS (SELECT * FROM dbo.sysobjects WHERE id = OBJECT_ID(N'[dbo].[CodiciCorvel]') "
    "AND OBJECTPROPERTY(id, N'IsUserTable') = 1) "
    "CREATE TABLE [dbo].[CodiciCorvel]( "
    "[IdProdMod] [int] NULL, "
    "[CodTestataNuovo] [nchar](9) NULL, "
    "[CodTestataVecchio] [nchar](9) NULL, "
    "[Titolo] [nchar](50) NULL, "
    "[Modificato] [int] NULL "
    ") ON [PRIMARY] ");

// The same table on the embedded engine. The checks reject what SQL Server would truncate,
// with its wording; the indexes only keep per-row lookups from scanning the table.
const QString kStagingDdlSqlite[] = {
    QStringLiteral(
        "CREATE TABLE IF NOT EXISTS CodiciCorvel ("
        "IdProdMod int NULL, "
        "CodTestataNuovo nchar(9) NULL CONSTRAINT \"String or binary data would be truncated\" "
        "CHECK (length(CodTestataNuovo) <= 9), "
        "CodTestataVecchio nchar(9) NULL CONSTRAINT \"String or binary data would be truncated\" "
        "CHECK (length(CodTestataVecchio) <= 9), "
        "Titolo nchar(50) NULL CONSTRAINT \"String or binary data would be truncated\" "
        "CHECK (length(Titolo) <= 50), "
        "Modificato int NULL)"),
    QStringLiteral("CREATE INDEX IF NOT EXISTS CodiciCorvel_Vecchio "
                   "ON CodiciCorvel (CAST(CodTestataVecchio AS INTEGER))"),
    QStringLiteral("CREATE INDEX IF NOT EXISTS CodiciCorvel_IdProdMod ON CodiciCorvel (IdProdMod)"),
};

// A normalised code binds as a number when it is one, so that the comparison is numeric
// as in the host's own queries; anything else compares as text.
QVariant codeValue(const QString& code)
{
    if (const auto n = plainNumber(code))
        return QVariant::fromValue(*n);
    return code;
}

} // namespace

std::optional<qint64> plainNumber(const QString& code)
{
    const QString t = code.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    for (QChar ch : t) {
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return std::nullopt;
    }
    qsizetype first = 0;
    while (first < t.size() - 1 && t[first] == QLatin1Char('0'))
        ++first;
    if (t.size() - first > 18)
        return std::nullopt;
    return t.mid(first).toLongLong();
}

Error HostCatalog::createStagingTable()
{
    if (!sqlite())
        return c_.execute(kStagingDdlSqlServer);
    for (const QString& sql : kStagingDdlSqlite) {
        if (Error e = c_.execute(sql); e.failed())
            return e;
    }
    return {};
}

Error HostCatalog::stagingRowExists(const QString& oldCode, bool& exists)
{
    const QVariant key = codeValue(oldCode);
    const bool numeric = key.typeId() != QMetaType::QString;
    const QString sql =
        numeric && sqlite()
            ? QStringLiteral(
                  "SELECT * from CodiciCorvel where CAST(CodTestataVecchio AS INTEGER)=?")
            : QStringLiteral("SELECT * from CodiciCorvel where CodTestataVecchio=?");
    Rows rows;
    if (Error e = c_.query(sql, {key}, rows, 1); e.failed())
        return e;
    exists = !(rows.bof() && rows.eof());
    return {};
}

Error HostCatalog::insertStagingRow(const QString& newCode, const QString& oldCode,
                                    const QString& title)
{
    return c_.execute(QStringLiteral("INSERT INTO CodiciCorvel VALUES (0,?,?,?,0)"),
                      {newCode, oldCode, title});
}

Error HostCatalog::productsOf(const QString& distributorId, std::vector<Product>& products)
{
    products.clear();
    Rows rows;
    if (Error e = c_.query(QStringLiteral("SELECT * from Prodotti where inforiv=1 and IDDL= ? "
                                          "ORDER BY CodiceTestata"),
                           {distributorId}, rows);
        e.failed())
        return e;
    products.reserve(rows.count());
    for (; !rows.eof(); rows.moveNext())
        products.push_back(
            {rows.value(QStringLiteral("IDProd")), rows.text(QStringLiteral("CodiceTestata"))});
    return {};
}

Error HostCatalog::isApplied(const QVariant& productId, bool& applied)
{
    Rows rows;
    if (Error e = c_.query(QStringLiteral("SELECT * from CodiciCorvel where IdProdMod=?"),
                           {productId}, rows, 1);
        e.failed())
        return e;
    applied = !rows.bof();
    return {};
}

Error HostCatalog::freeStagingRow(qint64 oldCode, std::optional<StagingRow>& row)
{
    row.reset();
    const QString sql =
        sqlite() ? QStringLiteral("SELECT rowid AS StagingRowId, * from CodiciCorvel where "
                                  "CAST(CodTestataVecchio AS INTEGER)= ? and Modificato=0 "
                                  "ORDER BY CodTestataVecchio")
                 : QStringLiteral("SELECT * from CodiciCorvel where CodTestataVecchio= ? and "
                                  "Modificato=0 ORDER BY CodTestataVecchio");
    Rows rows;
    if (Error e = c_.query(sql, {QVariant::fromValue(oldCode)}, rows, 1); e.failed())
        return e;
    if (!rows.bof())
        row = StagingRow{rows.text(QStringLiteral("CodTestataNuovo")),
                         rows.text(QStringLiteral("CodTestataVecchio")),
                         rows.value(QStringLiteral("StagingRowId"))};
    return {};
}

Error HostCatalog::applyConversion(const Product& product, const StagingRow& row)
{
    if (Error e = c_.begin(); e.failed())
        return e;
    int affected = 0;
    Error e = c_.execute(QStringLiteral("UPDATE Prodotti SET CodiceTestata=? WHERE IDProd=?"),
                         {row.newCode, product.id});
    if (!e.failed()) {
        if (sqlite())
            e = c_.execute(QStringLiteral("UPDATE CodiciCorvel SET IdProdMod=?, Modificato=1 "
                                          "WHERE rowid=? AND Modificato=0"),
                           {product.id, row.rowId}, &affected);
        else
            e = c_.execute(QStringLiteral("UPDATE TOP (1) CodiciCorvel SET IdProdMod=?, "
                                          "Modificato=1 WHERE CodTestataVecchio=? AND "
                                          "CodTestataNuovo=? AND Modificato=0"),
                           {product.id, row.oldCode, row.newCode}, &affected);
    }
    if (!e.failed() && affected != 1)
        e = {ErrorNumber::RowNotFound,
             QStringLiteral("La riga di CodiciCorvel non è più disponibile.")};
    if (e.failed()) {
        c_.rollback();
        return e;
    }
    return c_.commit();
}

Error HostCatalog::appliedProducts(std::vector<QVariant>& productIds)
{
    productIds.clear();
    Rows rows;
    if (Error e =
            c_.query(QStringLiteral("SELECT * from CodiciCorvel where IdProdMod<>0"), {}, rows);
        e.failed())
        return e;
    productIds.reserve(rows.count());
    for (; !rows.eof(); rows.moveNext())
        productIds.push_back(rows.value(QStringLiteral("IdProdMod")));
    return {};
}

Error HostCatalog::assignDistributor(const QVariant& productId, const QString& distributorId)
{
    return c_.execute(QStringLiteral("UPDATE prodotti SET IDDL=? WHERE idprod=?"),
                      {distributorId, productId});
}

Error HostCatalog::distributorId(const QString& fieg, QString& id)
{
    id.clear();
    Rows rows;
    if (Error e = c_.query(QStringLiteral("SELECT IDSoggetto, IDTipoSoggetto, CodiceFIEG from "
                                          "Soggetti WHERE(IDTipoSoggetto = 'DL') AND (CodiceFIEG "
                                          "LIKE ?)"),
                           {QLatin1Char('%') + fieg + QLatin1Char('%')}, rows, 1);
        e.failed())
        return e;
    if (!rows.bof() && !rows.eof())
        id = rows.text(QStringLiteral("IDSoggetto"));
    return {};
}

Error HostCatalog::productIdForCode(qint32 code, qint32& id)
{
    id = 0;
    const QString sql =
        sqlite() ? QStringLiteral("SELECT * From Prodotti WHERE CAST(Codicetestata AS INTEGER) = ?")
                 : QStringLiteral("SELECT * From Prodotti WHERE Codicetestata = ?");
    Rows rows;
    if (Error e = c_.query(sql, {code}, rows, 1); e.failed())
        return e;
    if (rows.bof() || rows.eof())
        return {};
    bool ok = false;
    id = rows.text(QStringLiteral("IDProd")).toInt(&ok);
    if (!ok)
        return {ErrorNumber::TypeMismatch, QStringLiteral("Tipo non corrispondente")};
    return {};
}

Error HostCatalog::reportProducts(std::vector<ReportProduct>& products)
{
    products.clear();
    Rows rows;
    if (Error e = c_.query(QStringLiteral("SELECT * from Prodotti where inforiv=1"), {}, rows);
        e.failed())
        return e;
    products.reserve(rows.count());
    for (; !rows.eof(); rows.moveNext())
        products.push_back({rows.text(QStringLiteral("CodiceTestata")),
                            rows.text(QStringLiteral("Testata")),
                            rows.value(QStringLiteral("CodiceTestata")).isNull()});
    return {};
}

} // namespace db
