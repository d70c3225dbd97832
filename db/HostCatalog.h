#pragma once

#include "db/Database.h"

#include <QString>
#include <optional>
#include <vector>

namespace db {

// A product of the host as the conversion reads it.
struct Product
{
    QVariant id;              // IDProd
    QString code;             // CodiceTestata, exactly as read; Null as ""
    bool codeNull = false;    // CodiceTestata is Null, which a restore must tell from ""
    QString title{};          // Testata, Null as ""
    QVariant distributorId{}; // IDDL
};

// A product an applied staging row names, with its distributor and code as read.
struct ProductDistributor
{
    QVariant id;            // IDProd
    QVariant distributorId; // IDDL
    QVariant code{};        // CodiceTestata
};

// A row of the staging table, as stored.
struct StagingRow
{
    QVariant rowId;     // the embedded engine's row identity; invalid on SQL Server
    QVariant productId; // IdProdMod
    QString newCode;    // CodTestataNuovo
    QString oldCode;    // CodTestataVecchio
    QVariant applied;   // Modificato
    // SQL Server: another free row holds the same two codes. The table has no key there, so
    // such a row is marked on its own: a set-based mark could give it two products.
    bool twin = false;
};

// A product as the missing-code report lists it.
struct ReportProduct
{
    QString code;          // CodiceTestata, Null as ""
    QString title;         // Testata, Null as ""
    bool codeNull = false; // CodiceTestata is Null: it equals nothing, not even ""
};

// The named operations the run and the report perform on a host catalogue. All SQL lives
// here; every value is bound, never pasted into the text. The statements are plain reads,
// inserts and updates by key, so they mean the same on both engines: comparing codes as
// numbers is the caller's business.
class HostCatalog
{
public:
    explicit HostCatalog(Connection& connection) : c_(connection) {}

    // Creates CodiciCorvel when missing, and the index on CodTestataVecchio that keeps
    // marking a row from scanning the table; an existing table keeps its rows and columns.
    // An index the login may not create is left out; indexRefused, when given, then says why.
    Error createStagingTable(Error* indexRefused = nullptr);
    // Whether CodiciCorvel exists; reading it changes nothing.
    Error stagingTableExists(bool& exists);
    // Why the staging table would refuse a title, in the operator's words; none when it
    // takes it. Titolo holds 50 characters as the engine counts them.
    static Error titleRefusal(Engine engine, const QString& title);
    // Every staging row, in CodTestataVecchio order, twins marked.
    Error stagingRows(std::vector<StagingRow>& rows);
    struct NewStagingRow
    {
        QString newCode;
        QString oldCode;
        QString title;
    };
    // Inserts rows not yet applied, in one statement (at most rowsPerStatement(engine)).
    Error insertStagingRows(const std::vector<NewStagingRow>& rows);

    // Products of the distributor with inforiv = 1, in CodiceTestata order.
    Error productsOf(const QString& distributorId, std::vector<Product>& products);
    struct Conversion
    {
        const Product* product;
        const StagingRow* row;
    };
    // Applies several conversions in a few statements (at most rowsPerStatement(engine)); each row
    // is marked for exactly one product. Fails with RowNotFound unless every row was still free.
    // A row without its identity (one staged since the rows were read) is found by its codes,
    // which must then be those of one free row only.
    Error applyConversions(const std::vector<Conversion>& conversions);

    // SQL Server takes at most 1,000 rows in a VALUES list and 2,100 values in a statement.
    // The embedded engine takes a batch as one JSON text of any length: there a statement's
    // rows are bounded by what one transaction should hold, as each commit costs a sync.
    static std::size_t rowsPerStatement(Engine engine)
    {
        return engine == Engine::Sqlite ? 2000 : 500;
    }

    // The products applied staging rows name, with the distributor and code each has now;
    // with leaveOut, those productsOf(leaveOut) gives are left out (the caller knows them).
    Error appliedProductDistributors(std::vector<ProductDistributor>& products,
                                     const QString& leaveOut = QString());
    // Moves every product an applied staging row names to the distributor, in one statement.
    Error assignDistributor(const QString& distributorId);
    // Moves one product; a product that no longer exists is passed over.
    Error assignDistributor(const QVariant& productId, const QString& distributorId);

    // IDSoggetto of the first distributor ('DL') whose FIEG code contains fieg; "" if none.
    Error distributorId(const QString& fieg, QString& id);
    // IDProd of the first product with the title code, 0 when none.
    Error productIdForCode(qint32 code, qint32& id);
    // Every product with inforiv = 1, in the catalogue's order.
    Error reportProducts(std::vector<ReportProduct>& products);

private:
    Error applyConversionsEmbedded(const std::vector<Conversion>& conversions);
    bool sqlite() const { return c_.engine() == Engine::Sqlite; }
    Connection& c_;
};

} // namespace db
