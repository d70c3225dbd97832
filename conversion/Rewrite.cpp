#include "conversion/Rewrite.h"

#include "conversion/BatchWriter.h"
#include "conversion/RestoreFile.h"
#include "conversion/RunContext.h"
#include "conversion/Trap.h"
#include "db/CodeTable.h"
#include "db/ErrorMap.h"
#include "platform/MainView.h"
#include "platform/Platform.h"
#include "platform/RepaintPacer.h"

namespace {

// A product's conversion: the product and the staging row it takes.
struct Conversion
{
    std::size_t product;
    std::size_t row;
};

// What became of the products the plan converts and the apply could not.
void settleUnconverted(RunPlan& plan, const std::vector<bool>& done)
{
    for (std::size_t p = 0; p < plan.products.size(); ++p) {
        ProductOutcome& o = plan.outcomes[p];
        if (!plan.toConvert[p] || done[p] || o.kind != Outcome::Undecided)
            continue;
        const std::optional<double> code = CodeTable::sqlNumber(plan.products[p].code);
        if (code && plan.refusedLines.contains(*code))
            o = {Outcome::LineRefused, QString(), plan.refusedLines.value(*code)};
        else
            o = {Outcome::RowUsed, QString(),
                 QStringLiteral("la riga della tabella per questo codice e' gia' stata usata da "
                                "un altro prodotto")};
    }
}

// Whether the row the plan gave a product is there: a row the staging was to add is not when
// the engine refused its line.
bool rowThere(const RunPlan& plan, std::size_t row)
{
    if (row < plan.rowsBefore || plan.refusedAtApply.isEmpty())
        return true;
    const std::optional<double> key = CodeTable::sqlNumber(plan.rows[row].oldCode);
    return !key || !plan.refusedAtApply.contains(*key);
}

// How the rewrite decides and writes a product's conversion; written counts it in modified.
BatchWriter<std::size_t, Conversion>::Steps
conversionSteps(RunContext& run, db::HostCatalog& catalog, std::vector<bool>& done, int& modified)
{
    RunPlan& plan = run.plan;
    return {.decide = [&plan](std::size_t p) -> std::optional<Conversion> {
                if (!plan.toConvert[p] || !rowThere(plan, plan.rowOf[p]))
                    return std::nullopt;
                return Conversion{p, plan.rowOf[p]};
            },
            .write =
                [&plan, &catalog](const std::vector<Conversion>& conversions) {
                    std::vector<db::HostCatalog::Conversion> batch;
                    batch.reserve(conversions.size());
                    for (const Conversion& c : conversions)
                        batch.push_back({&plan.products[c.product], &plan.rows[c.row]});
                    return catalog.applyConversions(batch);
                },
            .written =
                [&plan, &done, &modified](const Conversion& c) {
                    ++modified;
                    done[c.product] = true;
                    plan.outcomes[c.product] = {Outcome::Converted, plan.rows[c.row].newCode,
                                                QString()};
                },
            .prepare =
                [&run](const std::vector<Conversion>& conversions) {
                    const RunPlan& plan = run.plan;
                    for (const Conversion& c : conversions) {
                        const db::Product& product = plan.products[c.product];
                        run.restore->script().productCode(product, plan.rows[c.row].newCode,
                                                          product.distributorId);
                        // A row this run staged goes as a whole, mark and all.
                        if (c.row < plan.rowsBefore)
                            run.restore->script().stagingMark(plan.rows[c.row],
                                                              plan.products[c.product].id);
                    }
                    return run.restore->script().takeBlock();
                },
            .beforeCommit =
                [&run](const std::vector<Conversion>&, const QStringList& block) {
                    return run.restore->write(block);
                }};
}

} // namespace

void applyRewrite(RunContext& run)
{
    RunPlan& plan = run.plan;
    db::HostCatalog catalog(run.connection);
    const std::size_t products = plan.products.size();
    std::vector<bool> done(products, false);

    int modified = 0;
    int processed = 0;
    int position = 0;
    run.view.setProgressMaximum(static_cast<int>(products));
    run.view.setProgressValue(0);

    BatchWriter<std::size_t, Conversion> writer(
        run.connection,
        [&](const Conversion& c, const Error& e) {
            // The log keeps the engine's words; the list says it in the operator's.
            plan.outcomes[c.product] = {Outcome::Failed, QString(),
                                        QStringLiteral("non riuscito: ") +
                                            db::rowFaultInWords(e.number)};
            run.trap.caught(e);
        },
        conversionSteps(run, catalog, done, modified));

    RepaintPacer pacer(run.platform.clock);
    const auto show = [&] {
        if (processed > 0)
            run.view.setCaption(ViewLabel::LabelFatti, counterText(processed, " - Elaborati"));
        if (modified > 0)
            run.view.setCaption(ViewLabel::LabelModificati, counterText(modified, " - Modificati"));
        run.view.setProgressValue(position);
    };
    for (std::size_t p = 0; p < products; ++p) {
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
    for (std::size_t r = 0; r < plan.rowsBefore; ++r)
        plan.appliedRows += plan.rows[r].productId.toLongLong() != 0 ? 1 : 0;
    settleUnconverted(plan, done);
}
