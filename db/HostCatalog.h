#pragma once

#include "db/Database.h"

#include <QString>
#include <optional>
#include <vector>

namespace db {

// A product of the host as the conversion reads it.
struct Product
{
    QVariant id;  // IDProd
    QString code; // CodiceTestata, exactly as read
};

// A staging row not yet applied.
struct StagingRow
{
    QString newCode; // CodTestataNuovo
    QString oldCode; // CodTestataVecchio, exactly as read
    QVariant rowId;  // the embedded engine's row identity
};

// A product as the missing-code report lists it.
struct ReportProduct
{
    QString code;          // CodiceTestata, Null as ""
    QString title;         // Testata, Null as ""
    bool codeNull = false; // CodiceTestata is Null: it equals nothing, not even ""
};

// The named operations the run and the report perform on a host catalogue. All SQL lives
// here; every value is bound, never pasted into the text. Codes compare as numbers, as the
// host's own tools compare them.
class HostCatalog
{
public:
    explicit HostCatalog(Connection& connection) : c_(connection) {}

    // Creates CodiciCorvel when missing; an existing table is left as it is.
    Error createStagingTable();
    // Whether a staging row exists for the normalised old code.
    Error stagingRowExists(const QString& oldCode, bool& exists);
    // Inserts a row not yet applied.
    Error insertStagingRow(const QString& newCode, const QString& oldCode, const QString& title);

    // Products of the distributor with inforiv = 1, in CodiceTestata order.
    Error productsOf(const QString& distributorId, std::vector<Product>& products);
    // Whether a staging row already names the product.
    Error isApplied(const QVariant& productId, bool& applied);
    // The first staging row for the old code that is not yet applied.
    Error freeStagingRow(qint64 oldCode, std::optional<StagingRow>& row);
    // Gives the product its new code and marks the staging row applied to it, both or
    // neither.
    Error applyConversion(const Product& product, const StagingRow& row);

    // IdProdMod of every applied staging row.
    Error appliedProducts(std::vector<QVariant>& productIds);
    // Moves one product to a distributor; a product that no longer exists is passed over.
    Error assignDistributor(const QVariant& productId, const QString& distributorId);

    // IDSoggetto of the first distributor ('DL') whose FIEG code contains fieg; "" if none.
    Error distributorId(const QString& fieg, QString& id);
    // IDProd of the first product with the title code, 0 when none.
    Error productIdForCode(qint32 code, qint32& id);
    // Every product with inforiv = 1, in the catalogue's order.
    Error reportProducts(std::vector<ReportProduct>& products);

private:
    bool sqlite() const { return c_.engine() == Engine::Sqlite; }
    Connection& c_;
};

// A code column's text as a whole number, when it is one: digits with blanks around them.
std::optional<qint64> plainNumber(const QString& code);

} // namespace db
