#include "db/HostCatalog.h"

namespace db {

namespace {

// The staging table as the host's SQL Server has always created it, one batch; then the
// index, which leaves the columns as they were.
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
const QString kStagingIndexSqlServer = QStringLiteral(
    "IF NOT EXISTS (SELECT * FROM sys.indexes WHERE name = N'IX_CodiciCorvel_CodTestataVecchio' "
    "AND object_id = OBJECT_ID(N'[dbo].[CodiciCorvel]')) "
    "CREATE INDEX [IX_CodiciCorvel_CodTestataVecchio] ON [dbo].[CodiciCorvel] "
    "([CodTestataVecchio])");

// The same table on the embedded engine. The checks reject what SQL Server would truncate,
// with its wording.
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
    QStringLiteral("CREATE INDEX IF NOT EXISTS IX_CodiciCorvel_CodTestataVecchio "
                   "ON CodiciCorvel (CodTestataVecchio)"),
};

} // namespace

Error HostCatalog::createStagingTable()
{
    if (!sqlite()) {
        if (Error e = c_.execute(kStagingDdlSqlServer); e.failed())
            return e;
        return c_.execute(kStagingIndexSqlServer);
    }
    for (const QString& sql : kStagingDdlSqlite) {
        if (Error e = c_.execute(sql); e.failed())
            return e;
    }
    return {};
}

Error HostCatalog::stagingRows(std::vector<StagingRow>& rows)
{
    rows.clear();
    Rows result;
    const QString sql = sqlite()
                            ? QStringLiteral("SELECT rowid AS StagingRowId, IdProdMod, "
                                             "CodTestataNuovo, CodTestataVecchio, Modificato "
                                             "FROM CodiciCorvel ORDER BY CodTestataVecchio, rowid")
                            : QStringLiteral("SELECT IdProdMod, CodTestataNuovo, "
                                             "CodTestataVecchio, Modificato FROM CodiciCorvel "
                                             "ORDER BY CodTestataVecchio");
    if (Error e = c_.query(sql, {}, result); e.failed())
        return e;
    rows.reserve(result.count());
    for (; !result.eof(); result.moveNext())
        rows.push_back({result.value(QStringLiteral("StagingRowId")),
                        result.value(QStringLiteral("IdProdMod")),
                        result.text(QStringLiteral("CodTestataNuovo")),
                        result.text(QStringLiteral("CodTestataVecchio")),
                        result.value(QStringLiteral("Modificato"))});
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
    if (Error e = c_.query(QStringLiteral("SELECT IDProd, CodiceTestata from Prodotti where "
                                          "inforiv=1 and IDDL= ? ORDER BY CodiceTestata, IDProd"),
                           {distributorId}, rows);
        e.failed())
        return e;
    products.reserve(rows.count());
    for (; !rows.eof(); rows.moveNext())
        products.push_back({rows.value(QStringLiteral("IDProd")),
                            rows.text(QStringLiteral("CodiceTestata")),
                            rows.value(QStringLiteral("CodiceTestata")).isNull()});
    return {};
}

Error HostCatalog::applyConversion(const Product& product, const StagingRow& row)
{
    if (Error e = c_.execute(QStringLiteral("UPDATE Prodotti SET CodiceTestata=? WHERE IDProd=?"),
                             {row.newCode, product.id});
        e.failed())
        return e;
    // The row by its key: the embedded engine's row identity; on SQL Server, which gives the
    // table no key, the first free row with the same codes, found through the index.
    int affected = 0;
    Error e = sqlite()
                  ? c_.execute(QStringLiteral("UPDATE CodiciCorvel SET IdProdMod=?, Modificato=1 "
                                              "WHERE rowid=? AND Modificato=0"),
                               {product.id, row.rowId}, &affected)
                  : c_.execute(QStringLiteral("UPDATE TOP (1) CodiciCorvel SET IdProdMod=?, "
                                              "Modificato=1 WHERE CodTestataVecchio=? AND "
                                              "CodTestataNuovo=? AND Modificato=0"),
                               {product.id, row.oldCode, row.newCode}, &affected);
    if (!e.failed() && affected != 1)
        e = {ErrorNumber::RowNotFound,
             QStringLiteral("La riga di CodiciCorvel non è più disponibile.")};
    return e;
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

Error HostCatalog::appliedProductDistributors(std::vector<ProductDistributor>& products)
{
    products.clear();
    Rows rows;
    if (Error e =
            c_.query(QStringLiteral("SELECT IDProd, IDDL FROM Prodotti WHERE IDProd IN "
                                    "(SELECT IdProdMod FROM CodiciCorvel WHERE IdProdMod<>0)"),
                     {}, rows);
        e.failed())
        return e;
    products.reserve(rows.count());
    for (; !rows.eof(); rows.moveNext())
        products.push_back(
            {rows.value(QStringLiteral("IDProd")), rows.value(QStringLiteral("IDDL"))});
    return {};
}

Error HostCatalog::assignDistributor(const QString& distributorId)
{
    return c_.execute(QStringLiteral("UPDATE Prodotti SET IDDL=? WHERE IDProd IN "
                                     "(SELECT IdProdMod FROM CodiciCorvel WHERE IdProdMod<>0)"),
                      {distributorId});
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
