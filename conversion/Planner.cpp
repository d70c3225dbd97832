#include "conversion/Planner.h"

#include "conversion/FreeRowMatcher.h"
#include "conversion/RunContext.h"
#include "conversion/Trap.h"
#include "db/CodeTable.h"
#include "db/HostCatalog.h"
#include "db/Lookups.h"
#include "errors/ErrorLog.h"
#include "platform/MainView.h"

#include <QSet>

namespace {

// The look-up logs what it gave up when the operator ended its wait; that is no distributor
// not found.
QString distributor(RunContext& run, const db::ConnectionTarget& target, const QString& fieg)
{
    const QString id = db::FIEGDLCodiceGet(target, fieg, run.log, run.wait);
    if (run.view.closeRequested())
        run.trap.end({ErrorNumber::Interrupted, QString()}, false);
    return id;
}

// The skip rule: an old code already staged, by an earlier run or an earlier line of the
// file, is not staged again; a line whose row the catalogue would refuse is not staged, and
// a later line of its code may be.
void planLines(RunContext& run, bool rowsRead)
{
    RunPlan& plan = run.plan;
    QSet<double> staged;
    staged.reserve(qsizetype(plan.rows.size() + plan.lines.size()));
    for (const db::StagingRow& row : plan.rows) {
        if (const std::optional<double> code = CodeTable::sqlNumber(row.oldCode))
            staged.insert(*code);
    }
    int toStage = 0;
    for (PlannedLine& line : plan.lines) {
        if (!rowsRead || staged.contains(line.key)) {
            line.fate = PlannedLine::Fate::AlreadyStaged;
            continue;
        }
        line.refusal = db::HostCatalog::titleRefusal(run.connection.engine(), line.title);
        if (line.refusal.failed()) {
            line.fate = PlannedLine::Fate::Refused;
            ++plan.counts.linesRefused;
            run.log.LogError(line.refusal, QStringLiteral("CMDiNVERTI"),
                             QStringLiteral("riga %1 di %2").arg(line.number).arg(plan.tableFile));
            plan.refusedLines.insert(line.key, QStringLiteral("riga %1 di %2 non caricabile in "
                                                              "CodiciCorvel: %3")
                                                   .arg(line.number)
                                                   .arg(plan.tableFile, line.refusal.description));
            continue;
        }
        line.fate = PlannedLine::Fate::Stage;
        staged.insert(line.key);
        ++toStage;
    }
    // Without the staging rows nothing is staged: they are counted as not read.
    plan.counts.linesStaged = rowsRead ? toStage : 0;
}

// Each product's outcome against the rows the staging will leave: those read, then the new
// ones in the file's order.
void planProducts(RunPlan& plan)
{
    std::vector<db::StagingRow>& rows = plan.rows;
    FreeRowMatcher matcher(rows);
    RunCounts& counts = plan.counts;
    counts.productsFound = int(plan.products.size());
    plan.outcomes.assign(plan.products.size(), ProductOutcome());
    plan.toConvert.assign(plan.products.size(), false);
    plan.rowOf.assign(plan.products.size(), 0);
    for (std::size_t p = 0; p < plan.products.size(); ++p) {
        ProductOutcome& o = plan.outcomes[p];
        if (matcher.converted(plan.products[p].id)) {
            o.kind = Outcome::Earlier;
            ++counts.convertedEarlier;
            continue;
        }
        // A code that is no number matches no row.
        const std::optional<double> code = CodeTable::sqlNumber(plan.products[p].code);
        const std::optional<std::size_t> row = code ? matcher.take(*code) : std::nullopt;
        if (row) {
            o = {Outcome::Converted, rows[*row].newCode, QString()};
            plan.toConvert[p] = true;
            plan.rowOf[p] = *row;
            ++counts.converted;
        } else if (code && matcher.holds(*code)) {
            o = {Outcome::RowUsed, QString(),
                 QStringLiteral("la riga della tabella per questo codice e' gia' stata usata da "
                                "un altro prodotto")};
        } else if (code && plan.refusedLines.contains(*code)) {
            o = {Outcome::LineRefused, QString(), plan.refusedLines.value(*code)};
        } else {
            o = {Outcome::NoCode, QString(), QStringLiteral("codice non presente nella tabella")};
            ++counts.noCode;
        }
    }
}

// The products the move will take to 211: those applied rows name now, and those the
// rewrite converts, each once, unless it is on 211 already.
int plannedMoves(const RunPlan& plan)
{
    if (plan.distributor211.isEmpty())
        return 0;
    QSet<QString> named;
    int moves = 0;
    for (const db::ProductDistributor& product : plan.applied) {
        named.insert(product.id.toString());
        if (product.distributorId.isNull() ||
            product.distributorId.toString() != plan.distributor211)
            ++moves;
    }
    for (std::size_t p = 0; p < plan.products.size(); ++p) {
        if (plan.outcomes[p].kind == Outcome::Converted &&
            !named.contains(plan.products[p].id.toString()) &&
            plan.distributor069 != plan.distributor211)
            ++moves;
    }
    return moves;
}

} // namespace

void planRun(RunContext& run, const db::ConnectionTarget& target)
{
    RunPlan& plan = run.plan;
    plan.distributor069 = distributor(run, target, QStringLiteral("069"));

    db::HostCatalog catalog(run.connection);
    if (!run.trap.caught(catalog.stagingTableExists(plan.stagingTableExists)))
        plan.rowsRead =
            !plan.stagingTableExists || !run.trap.caught(catalog.stagingRows(plan.rows));
    planLines(run, plan.rowsRead);
    // The rows the staging will leave: those read, then the new ones in the file's order.
    plan.rowsBefore = plan.rows.size();
    plan.rows.reserve(plan.rowsBefore + std::size_t(plan.counts.linesStaged));
    for (const PlannedLine& line : plan.lines) {
        if (line.fate == PlannedLine::Fate::Stage)
            plan.rows.push_back({QVariant(), 0, line.newCode, line.oldCode, 0});
    }

    // Products and staging rows are read once; a list that cannot be read ends the pass, as
    // carrying on blind could give a product a second new code.
    if (!plan.distributor069.isEmpty() && plan.rowsRead)
        plan.productsRead =
            !run.trap.caught(catalog.productsOf(plan.distributor069, plan.products));
    if (plan.productsRead)
        planProducts(plan);
    else
        plan.products.clear();

    plan.distributor211 = distributor(run, target, QStringLiteral("211"));
    if (plan.stagingTableExists)
        run.trap.caught(catalog.appliedProductDistributors(plan.applied));
    plan.counts.moved = plannedMoves(plan);
}
