// Times the conversion run's stages, then the missing-code report, on an embedded catalogue of P products of distributor
// 069 and a code table of L lines, half of the products' codes being in the table.
//   ConvertiBench [--products P] [--lines L]
#include "conversion/ConversionRun.h"
#include "errors/ErrorLog.h"
#include "report/MissingCodeReport.h"
#include "tests/support/Fakes.h"
#include "tests/support/HostFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

namespace {

int option(const QStringList& args, const QString& name, int fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

// Peak resident memory in MiB, where the system tells it.
double peakMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int products = option(args, QStringLiteral("--products"), 10000);
    const int lines = option(args, QStringLiteral("--lines"), 10000);

    TestPlatform tp;
    const QString folder = tp.path(QStringLiteral("db"));
    QDir().mkpath(folder);
    QList<fixture::ProductRow> rows;
    rows.reserve(products);
    for (int i = 0; i < products; ++i)
        rows.append({i + 1, QString::number(100000 + i), QStringLiteral("Titolo %1").arg(i), 12});
    if (fixture::createCatalogue(folder, QStringLiteral("MIRKELBENCH"), fixture::standardSubjects(), rows).isEmpty())
        return 1;

    QByteArray table;
    for (int j = 0; j < lines; ++j) {
        const int oldCode = j < products / 2 ? 100000 + 2 * j : 50000000 + j;
        table += QByteArray::number(900000000 + j) + "\tTitolo " + QByteArray::number(j) + '\t' +
                 QByteArray::number(oldCode) + "\t1\t\r\n";
    }
    tp.writeFile(QStringLiteral("TabellaCodiciVarno.txt"), table);

    HostConfig config;
    config.DBServerName = QStringLiteral("sqlite:") + folder;
    FakeView view;
    view.catalogueText = QStringLiteral("MIRKELBENCH");
    ErrorLog log(tp.platform.programFolder, tp.clock, tp.files);
    QString tabella;
    ConversionRun run(tp.platform, log, config, view, tabella);

    QElapsedTimer timer;
    double started[6] = {};
    run.setStageHook([&](ConversionRun::Stage stage) {
        if (!timer.isValid())
            timer.start();
        started[int(stage)] = timer.nsecsElapsed() / 1e9;
    });
    run.execute();

    using Stage = ConversionRun::Stage;
    std::printf("staging %.3f s\n", started[int(Stage::Rewrite)] - started[int(Stage::Staging)]);
    std::printf("rewrite %.3f s\n", started[int(Stage::Reassign)] - started[int(Stage::Rewrite)]);
    std::printf("reassignment %.3f s\n", started[int(Stage::Done)] - started[int(Stage::Reassign)]);
    const bool completed = tp.dialogs.texts() == QStringList{QStringLiteral("Procedura Completata")};

    // The missing-code report, on a fresh copy of the catalogue against the same table.
    if (fixture::createCatalogue(folder, QStringLiteral("MIRKELREPORT"), fixture::standardSubjects(), rows)
            .isEmpty())
        return 1;
    view.catalogueText = QStringLiteral("MIRKELREPORT");
    tp.dialogs.shown.clear();
    QElapsedTimer reportTimer;
    reportTimer.start();
    const Error reportError = report::ControllaCodiciNonPresentiNelFile(
        tp.platform, config, view, tp.path(QStringLiteral("TabellaCodiciVarno.txt")));
    std::printf("report %.3f s\n", reportTimer.nsecsElapsed() / 1e9);
    const bool reported =
        !reportError.failed() &&
        tp.dialogs.texts() == QStringList{QStringLiteral("Aggiornamento CodiciProdotti Terminato")};

    std::printf("peak %.1f MiB\n", peakMiB());
    return completed && reported ? 0 : 2;
}
