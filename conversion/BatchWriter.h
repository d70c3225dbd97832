#pragma once

#include "db/Database.h"
#include "db/ErrorMap.h"
#include "db/HostCatalog.h"
#include "platform/Error.h"
#include "platform/Parallel.h"

#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

// Writes what a stage decides, several hundred units to a transaction. An item (a code-table
// line, a product) is decided in memory into at most one unit, the rows it writes; the units
// of a transaction are written together, in a few multi-row statements.
//
// When the engine refuses a unit for the unit's own sake, the batch is rolled back, its
// decisions are undone, and its items are decided and written again one transaction each:
// the refused unit then costs itself alone and goes to rowFault, and a later item that lost
// to it in the batch gets its chance. Any other failure rolls the batch back, undoes its
// decisions and is returned to the caller, which ends the run. A deadlock victim's
// transaction is tried once more before that.
template <typename Item, typename Unit> class BatchWriter
{
public:
    struct Steps
    {
        // Decides an item, changing the caller's state; undo takes that change back.
        std::function<std::optional<Unit>(const Item&)> decide;
        std::function<void(const Unit&)> undo = [](const Unit&) {
        };
        // The units' statements; written follows once their transaction has committed.
        std::function<Error(const std::vector<Unit>&)> write;
        std::function<void(const Unit&)> written = [](const Unit&) {
        };
        // Prepares a text from a transaction's units (the restore file's block) while write
        // runs, on another thread: it may read only what write and decide leave alone.
        std::function<QStringList(const std::vector<Unit>&)> prepare = nullptr;
        // Hears a transaction's units, with what prepare made of them, once their statements
        // are written, right before the commit; a failure rolls the transaction back and is
        // the transaction's.
        std::function<Error(const std::vector<Unit>&, const QStringList& prepared)> beforeCommit =
            [](const std::vector<Unit>&, const QStringList&) {
                return Error();
            };
    };

    // rowFault hears of each unit the engine refused, and why.
    BatchWriter(db::Connection& connection, std::function<void(const Unit&, const Error&)> rowFault,
                Steps steps)
        : c_(connection),
          unitsPerTransaction_(db::HostCatalog::rowsPerStatement(connection.engine())),
          rowFault_(std::move(rowFault)), steps_(std::move(steps))
    {
    }

    Error add(const Item& item)
    {
        std::optional<Unit> unit = steps_.decide(item);
        // Before the batch's first unit nothing can change this item's decision.
        if (!unit && units_.empty())
            return {};
        items_.push_back(item);
        if (unit)
            units_.push_back(std::move(*unit));
        return units_.size() >= unitsPerTransaction_ ? flush() : Error();
    }

    Error flush()
    {
        std::vector<Item> items = std::move(items_);
        std::vector<Unit> units = std::move(units_);
        items_.clear();
        units_.clear();
        if (units.empty())
            return {};
        const Error e = transaction(units);
        if (!e.failed()) {
            for (const Unit& unit : units)
                steps_.written(unit);
            return {};
        }
        for (auto it = units.rbegin(); it != units.rend(); ++it)
            steps_.undo(*it);
        if (!db::isRowFault(e.number))
            return e;
        for (const Item& item : items) {
            const std::optional<Unit> unit = steps_.decide(item);
            if (!unit)
                continue;
            const Error one = transaction({*unit});
            if (!one.failed()) {
                steps_.written(*unit);
                continue;
            }
            steps_.undo(*unit);
            if (!db::isRowFault(one.number))
                return one;
            rowFault_(*unit, one);
        }
        return {};
    }

private:
    Error transaction(const std::vector<Unit>& units)
    {
        Error e = writeAll(units);
        if (e.failed() && c_.deadlocked())
            e = writeAll(units);
        return e;
    }

    Error writeAll(const std::vector<Unit>& units)
    {
        if (Error e = c_.begin(); e.failed())
            return e;
        // The engine runs the statements while the text is prepared beside them.
        std::future<QStringList> prepared;
        if (steps_.prepare)
            prepared = startBeside([this, &units] { return steps_.prepare(units); });
        const bool beside = prepared.valid();
        Error e = steps_.write(units);
        QStringList text = beside ? prepared.get() : QStringList();
        if (!beside && steps_.prepare && !e.failed())
            text = steps_.prepare(units);
        if (!e.failed())
            e = steps_.beforeCommit(units, text);
        if (e.failed()) {
            c_.rollback();
            return e;
        }
        return c_.commit();
    }

    db::Connection& c_;
    const std::size_t unitsPerTransaction_;
    std::function<void(const Unit&, const Error&)> rowFault_;
    Steps steps_;
    std::vector<Item> items_;
    std::vector<Unit> units_;
};
