#include "conversion/Staging.h"

#include "conversion/BatchWriter.h"
#include "conversion/RestoreFile.h"
#include "conversion/RunContext.h"
#include "conversion/Trap.h"
#include "db/ErrorMap.h"
#include "errors/ErrorLog.h"
#include "platform/MainView.h"
#include "platform/Platform.h"
#include "platform/RepaintPacer.h"

void applyStaging(RunContext& run)
{
    RunPlan& plan = run.plan;
    db::HostCatalog catalog(run.connection);
    Error indexRefused;
    run.trap.caught(catalog.createStagingTable(&indexRefused));
    if (indexRefused.failed())
        run.log.LogError(indexRefused, QStringLiteral("CMDiNVERTI"));
    plan.counts.linesStaged = 0;
    if (!plan.rowsRead)
        return;

    using Line = const PlannedLine*;
    BatchWriter<Line, Line> writer(
        run.connection,
        [&plan, &run](Line line, const Error& e) {
            const Error why{e.number, db::rowFaultInWords(e.number)};
            ++plan.counts.linesRefused;
            plan.refusedAtApply.insert(line->key);
            run.log.LogError(why, QStringLiteral("CMDiNVERTI"),
                             QStringLiteral("riga %1 di %2").arg(line->number).arg(plan.tableFile));
            plan.refusedLines.insert(line->key, QStringLiteral("riga %1 di %2 non caricabile in "
                                                               "CodiciCorvel: %3")
                                                    .arg(line->number)
                                                    .arg(plan.tableFile, why.description));
        },
        {.decide = [](Line line) { return std::optional<Line>(line); },
         .write =
             [&catalog](const std::vector<Line>& lines) {
                 std::vector<db::HostCatalog::NewStagingRow> rows;
                 rows.reserve(lines.size());
                 for (Line line : lines)
                     rows.push_back({line->newCode, line->oldCode, line->title});
                 return catalog.insertStagingRows(rows);
             },
         .written = [&plan](Line) { ++plan.counts.linesStaged; },
         .prepare =
             [&run](const std::vector<Line>& lines) {
                 for (Line line : lines)
                     run.restore->script().stagingInsert(line->newCode, line->oldCode);
                 return run.restore->script().takeBlock();
             },
         .beforeCommit =
             [&run](const std::vector<Line>&, const QStringList& block) {
                 return run.restore->write(block);
             }});

    RepaintPacer pacer(run.platform.clock);
    for (const PlannedLine& line : plan.lines) {
        if (line.fate != PlannedLine::Fate::Stage)
            continue;
        run.trap.caught(writer.add(&line));
        if (pacer.due())
            run.view.pumpEvents();
    }
    run.trap.caught(writer.flush());
}
