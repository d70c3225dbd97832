#include "conversion/FreeRowMatcher.h"

#include "db/CodeTable.h"

#include <algorithm>

FreeRowMatcher::FreeRowMatcher(const std::vector<db::StagingRow>& rows)
{
    std::vector<std::pair<double, std::size_t>> free;
    free.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        bool isId = false;
        const qint64 id = rows[i].productId.toLongLong(&isId);
        if (isId && !rows[i].productId.isNull())
            products_.insert(id);
        bool isFlag = false;
        const bool isFree = rows[i].applied.toInt(&isFlag) == 0 && isFlag;
        const std::optional<double> code = CodeTable::sqlNumber(rows[i].oldCode);
        if (code)
            codes_.insert(*code);
        if (isFree && code)
            free.push_back({*code, i});
    }
    std::stable_sort(free.begin(), free.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    byCode_.reserve(free.size());
    free_.reserve(qsizetype(free.size()));
    for (std::size_t k = 0; k < free.size(); ++k) {
        byCode_.push_back(free[k].second);
        if (k > 0 && free[k - 1].first == free[k].first)
            free_[free[k].first].end = k + 1;
        else
            free_.insert(free[k].first, {k, k + 1});
    }
}

bool FreeRowMatcher::converted(const QVariant& productId) const
{
    bool isId = false;
    const qint64 id = productId.toLongLong(&isId);
    return isId && products_.contains(id);
}

std::optional<std::size_t> FreeRowMatcher::take(double code)
{
    const auto it = free_.find(code);
    if (it == free_.end() || it->next == it->end)
        return std::nullopt;
    return byCode_[it->next++];
}

void FreeRowMatcher::giveBack(double code)
{
    --free_[code].next;
}
