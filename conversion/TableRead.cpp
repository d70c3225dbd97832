#include "conversion/TableRead.h"

#include "conversion/RunContext.h"
#include "conversion/Trap.h"
#include "db/CodeTableReader.h"
#include "platform/Dialogs.h"
#include "platform/MainView.h"
#include "platform/Parallel.h"
#include "platform/Platform.h"
#include "platform/RepaintPacer.h"

#include <QDir>
#include <optional>
#include <vector>

namespace {

// A line as a box quotes it: control characters shown as blanks, and not too long.
QString shown(const QString& line)
{
    QString text = line.left(120);
    for (QChar& c : text) {
        if (c.unicode() < 0x20)
            c = QLatin1Char(' ');
    }
    return line.size() > text.size() ? text + QStringLiteral("...") : text;
}

// A table that cannot be opened or read says so; the file's own words name the cause (access
// denied, in use by another program, a folder) and the path.
Error unreadable(const Error& e)
{
    if (!e.failed())
        return e;
    return {e.number, QStringLiteral("Impossibile leggere il file dei codici. ") + e.description};
}

struct Refused
{
    int number;
    QString line;
    Error why;
};

void tellNoLine(RunContext& run, const QString& path, int processed,
                const std::optional<Refused>& firstRefused)
{
    QString text = QStringLiteral("Il file dei codici non contiene righe da caricare:\n") +
                   QDir::toNativeSeparators(path) + QStringLiteral("\n\n");
    if (firstRefused) {
        text += QStringLiteral("Tutte le %1 righe sono state scartate. Prima riga scartata "
                               "(riga %2):\n\"%3\"\n%4\n\n")
                    .arg(processed)
                    .arg(firstRefused->number)
                    .arg(shown(firstRefused->line), firstRefused->why.description);
    } else {
        text += QStringLiteral("Il file e' vuoto o contiene solo righe vuote.\n\n");
    }
    text += QStringLiteral("Nessun dato e' stato modificato. Controllare il file (colonne "
                           "separate da TAB: codice nuovo, titolo, codice vecchio, ...) e "
                           "riprovare.");
    run.platform.dialogs.message(text, MsgIcon::Exclamation);
    run.view.setCommand1Enabled(true);
    run.view.setWindowEnabled(true);
}

// Puts the lines read into the plan, in the file's order; a refused line that names its old
// code is told to that code's products. Returns the first refused line, for the box.
std::optional<Refused> takeLines(RunPlan& plan, const std::vector<CodeTable::ReadLine>& read)
{
    std::optional<Refused> firstRefused;
    // A line with three TABs is still staged; without its old code, or with a column that is
    // no code, it is not. The staged lines' values are worked out on two threads.
    std::vector<std::optional<PlannedLine>> staged(read.size());
    forEachIndex(read.size(), [&read, &staged](std::size_t i) {
        const CodeTable::Line& columns = read[i].columns;
        if (!columns.staged())
            return;
        const QString oldCode = CodeTable::normalisedCode(columns.oldCode);
        staged[i] = PlannedLine{read[i].number,
                                CodeTable::normalisedCode(columns.newCode),
                                oldCode,
                                CodeTable::stagedTitle(columns.title),
                                *CodeTable::sqlNumber(oldCode),
                                PlannedLine::Fate::Stage,
                                Error()};
    });
    plan.lines.reserve(read.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        if (staged[i]) {
            plan.lines.push_back(std::move(*staged[i]));
            continue;
        }
        const CodeTable::ReadLine& line = read[i];
        const CodeTable::Line& columns = line.columns;
        // A line refused that still names its old code (its new code is no number, a title
        // holds a NUL): the list tells that code's product why it kept its own.
        if (columns.oldCodeRead)
            plan.refusedLines.insert(
                CodeTable::readNumber(CodeTable::normalisedCode(columns.oldCode)),
                QStringLiteral("riga %1 della tabella scartata: %2")
                    .arg(line.number)
                    .arg(line.fault.description));
        // The box says in words what the log numbers.
        if (!firstRefused)
            firstRefused = Refused{
                line.number, line.text,
                columns.shape == CodeTable::Line::Shape::TooShort
                    ? Error{line.fault.number, QStringLiteral("Mancano le colonne separate da "
                                                              "TAB: ne servono almeno tre.")}
                    : line.fault};
    }
    return firstRefused;
}

} // namespace

bool readCodeTable(RunContext& run, const QString& path)
{
    CodeTable::Reader reader(run.platform.files, &run.log, QStringLiteral("CMDiNVERTI"));
    run.trap.caught(unreadable(reader.open(path)));
    run.view.setLabelVisible(ViewLabel::Label6, true);
    run.view.setLabelVisible(ViewLabel::Label7, false);

    RunPlan& plan = run.plan;
    plan.tableFile = reader.fileName();
    int processed = 0;
    RepaintPacer pacer(run.platform.clock);
    const auto show = [&] {
        if (processed > 0)
            run.view.setCaption(ViewLabel::LabelFatti, counterText(processed, " - Elaborati"));
    };
    std::vector<CodeTable::ReadLine> read;
    const Error failure = reader.read(
        [&](const CodeTable::ReadLine& line) {
            // Every data line counts, staged or not.
            ++processed;
            read.push_back(line);
            // Only a refused line is quoted, in the box.
            if (line.columns.staged())
                read.back().text = QString();
        },
        [&] {
            if (pacer.due()) {
                show();
                run.view.pumpEvents();
            }
        });
    const std::optional<Refused> firstRefused = takeLines(plan, read);
    show();
    plan.counts.linesRead = processed;
    plan.counts.linesRefused = processed - int(plan.lines.size());
    run.trap.caught(unreadable(failure));
    if (!plan.lines.empty())
        return true;
    tellNoLine(run, path, processed, firstRefused);
    return false;
}
