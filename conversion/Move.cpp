#include "conversion/Move.h"

#include "conversion/BatchWriter.h"
#include "conversion/RestoreFile.h"
#include "conversion/RunContext.h"
#include "conversion/Trap.h"
#include "db/ErrorMap.h"
#include "platform/MainView.h"

#include <vector>

void applyMove(RunContext& run)
{
    RunPlan& plan = run.plan;
    const QString& distributor = plan.distributor211;
    db::HostCatalog catalog(run.connection);
    // Distributor 069's products (inforiv = 1) that rows name the plan has read with their
    // distributor; the others are read now.
    std::vector<db::ProductDistributor> before;
    if (const Error e = catalog.appliedProductDistributors(before, plan.distributor069); e.failed())
        run.trap.end(e, !db::keptOutOfTheLog(e.number));
    for (std::size_t p = 0; p < plan.products.size(); ++p) {
        const Outcome kind = plan.outcomes[p].kind;
        const db::Product& product = plan.products[p];
        // A product converted now has the new code; one converted earlier, its code as read.
        if (kind == Outcome::Converted)
            before.push_back({product.id, product.distributorId, plan.outcomes[p].newCode});
        else if (kind == Outcome::Earlier)
            before.push_back({product.id, product.distributorId,
                              product.codeNull ? QVariant() : QVariant(product.code)});
    }
    // The bar counts the rows that name a product, those of products deleted since too.
    const int steps = plan.appliedRows >= 0 ? plan.appliedRows : int(before.size());
    run.view.setProgressMaximum(steps);
    run.view.setProgressValue(0);
    std::vector<const QVariant*> moving;
    moving.reserve(before.size());
    for (const db::ProductDistributor& product : before) {
        if (product.distributorId.isNull() || product.distributorId.toString() != distributor) {
            const db::Product now{product.id, product.code.toString(), product.code.isNull()};
            run.restore->script().productDistributor(now, product.distributorId, distributor);
            moving.push_back(&product.id);
        }
    }
    run.trap.caught(run.restore->write());

    const Error all = catalog.assignDistributor(distributor);
    if (!db::isRowFault(all.number)) {
        run.trap.caught(all);
    } else {
        BatchWriter<QVariant, QVariant> writer(
            run.connection,
            [&](const QVariant& id, const Error& e) {
                // The log keeps the engine's words; the list says it in the operator's.
                plan.refusedMoves.insert(id.toString(), db::rowFaultInWords(e.number));
                run.trap.caught(e);
            },
            {.decide = [](const QVariant& id) { return std::optional<QVariant>(id); },
             .write =
                 [&](const std::vector<QVariant>& ids) {
                     for (const QVariant& id : ids) {
                         if (Error e = catalog.assignDistributor(id, distributor); e.failed())
                             return e;
                     }
                     return Error();
                 }});
        for (const db::ProductDistributor& product : before)
            run.trap.caught(writer.add(product.id));
        run.trap.caught(writer.flush());
    }
    run.view.setProgressValue(steps);
    plan.counts.moved = int(moving.size());
    if (!plan.refusedMoves.isEmpty()) {
        for (const QVariant* id : moving)
            plan.counts.moved -= plan.refusedMoves.contains(id->toString()) ? 1 : 0;
    }
}
