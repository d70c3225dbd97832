#pragma once

#include "db/HostCatalog.h"

#include <QHash>
#include <QSet>
#include <optional>
#include <vector>

// Matches products to the staging rows not yet applied. A product takes, by its old code as a
// number, the first free row of that code in CodTestataVecchio order; a product that a row
// already names was converted before.
class FreeRowMatcher
{
public:
    explicit FreeRowMatcher(const std::vector<db::StagingRow>& rows);

    // Whether a staging row names the product: an earlier run converted it.
    bool converted(const QVariant& productId) const;
    // Whether any row, applied or not, holds the code.
    bool holds(double code) const { return codes_.contains(code); }

    // The free row a product with this code takes, now taken; none when no row is free.
    std::optional<std::size_t> take(double code);
    // Gives back the last row taken for the code: a batch rolled back gives its rows back
    // in reverse order.
    void giveBack(double code);

private:
    struct Span
    {
        std::size_t next;
        std::size_t end;
    };
    QSet<qint64> products_;
    QSet<double> codes_;
    std::vector<std::size_t> byCode_; // free rows, by code then in their order
    QHash<double, Span> free_;
};
