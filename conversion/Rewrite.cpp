#include "conversion/Rewrite.h"

#include "conversion/BatchWriter.h"
#include "conversion/FreeRowMatcher.h"
#include "conversion/RestoreFile.h"
#include "conversion/RunContext.h"
#include "conversion/Trap.h"
#include "db/CodeTable.h"
#include "platform/MainView.h"
#include "platform/Platform.h"
#include "platform/RepaintPacer.h"

namespace {

// A product's conversion: the product and the staging row it takes.
struct Conversion
{
    std::size_t product;
    std::size_t row;
    double key; // the old code as a number
};

// What became of the products the plan converts and the apply could not.
void settleUnconverted(RunPlan& plan, const std::vector<bool>& done, bool rowsRead)
{
    for (std::size_t p = 0; p < plan.products.size(); ++p) {
        ProductOutcome& o = plan.outcomes[p];
        if (!plan.toConvert[p] || done[p] || o.kind != Outcome::Undecided)
            continue;
        const std::optional<double> code = CodeTable::sqlNumber(plan.products[p].code);
        if (!rowsRead)
            o = {Outcome::Failed, QString(),
                 QStringLiteral("non riuscito: righe di CodiciCorvel non lette")};
        else if (code && plan.refusedLines.contains(*code))
            o = {Outcome::LineRefused, QString(), plan.refusedLines.value(*code)};
        else
            o = {Outcome::RowUsed, QString(),
                 QStringLiteral("la riga della tabella per questo codice e' gia' stata usata da "
                                "un altro prodotto")};
    }
}

} // namespace

void applyRewrite(RunContext& run)
{
    RunPlan& plan = run.plan;
    const std::vector<db::Product>& products = plan.products;
    db::HostCatalog catalog(run.connection);
    std::vector<db::StagingRow> rows;
    const bool rowsRead = !run.trap.caught(catalog.stagingRows(rows));
    FreeRowMatcher matcher(rows);
    std::vector<bool> done(products.size(), false);
    plan.counts.converted = 0;
    if (!rowsRead) {
        settleUnconverted(plan, done, rowsRead);
        return;
    }

    int modified = 0;
    int processed = 0;
    int position = 0;
    run.view.setProgressMaximum(static_cast<int>(products.size()));
    run.view.setProgressValue(0);

    BatchWriter<std::size_t, Conversion> writer(
        run.connection,
        [&](const Conversion& c, const Error& e) {
            plan.outcomes[c.product] = {Outcome::Failed, QString(),
                                        QStringLiteral("non riuscito: ") + e.description};
            run.trap.caught(e);
        },
        {.decide = [&](std::size_t p) -> std::optional<Conversion> {
             if (!plan.toConvert[p])
                 return std::nullopt;
             const std::optional<double> code = CodeTable::sqlNumber(products[p].code);
             const std::optional<std::size_t> row = code ? matcher.take(*code) : std::nullopt;
             if (!row)
                 return std::nullopt;
             return Conversion{p, *row, *code};
         },
         .undo = [&](const Conversion& c) { matcher.giveBack(c.key); },
         .write =
             [&](const std::vector<Conversion>& conversions) {
                 std::vector<db::HostCatalog::Conversion> batch;
                 batch.reserve(conversions.size());
                 for (const Conversion& c : conversions)
                     batch.push_back({&products[c.product], &rows[c.row]});
                 return catalog.applyConversions(batch);
             },
         .written =
             [&](const Conversion& c) {
                 ++modified;
                 done[c.product] = true;
                 plan.outcomes[c.product] = {Outcome::Converted, rows[c.row].newCode, QString()};
             },
         .beforeCommit =
             [&](const std::vector<Conversion>& conversions) {
                 for (const Conversion& c : conversions) {
                     run.restore->script().productCode(products[c.product], rows[c.row].newCode,
                                                       plan.distributor069);
                     run.restore->script().stagingMark(rows[c.row], products[c.product].id);
                 }
                 return run.restore->write();
             }});

    RepaintPacer pacer(run.platform.clock);
    const auto show = [&] {
        if (processed > 0)
            run.view.setCaption(ViewLabel::LabelFatti, counterText(processed, " - Elaborati"));
        if (modified > 0)
            run.view.setCaption(ViewLabel::LabelModificati, counterText(modified, " - Modificati"));
        run.view.setProgressValue(position);
    };
    for (std::size_t p = 0; p < products.size(); ++p) {
        if (plan.outcomes[p].kind != Outcome::Earlier) {
            ++processed;
            run.trap.caught(writer.add(p));
        }
        ++position;
        if (pacer.due()) {
            show();
            run.view.pumpEvents();
        }
    }
    run.trap.caught(writer.flush());
    show();
    plan.counts.converted = modified;
    plan.appliedRows = modified;
    for (const db::StagingRow& row : rows)
        plan.appliedRows += row.productId.toLongLong() != 0 ? 1 : 0;
    settleUnconverted(plan, done, rowsRead);
}
