// Times the conversion run's stages, then the missing-code report, on an embedded catalogue of P
// products of distributor 069 and a code table of L lines, half of the products' codes being in the
// table. The run's restore file is timed apart: what writing ahead costs the stages. With
// --sqlserver the run and the report reach the catalogue through the SQL Server stand-in, over
// TDS, which waits R ms before answering each request (a LAN) and answers as SQL Server V (2000,
// 2005, 2008; the newest by default).
//   ConvertiBench [--products P] [--lines L] [--sqlserver [--rtt-ms R] [--version V]]
#include "conversion/ConversionRun.h"
#include "db/CodeTable.h"
#include "db/Database.h"
#include "errors/ErrorLog.h"
#include "platform/Platform.h"
#include "platform/TextFiles.h"
#include "report/MissingCodeReport.h"
#include "tests/support/Fakes.h"
#include "tests/support/HostFixture.h"
#include "tests/support/StandIn.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <cstdio>
#include <unordered_set>

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

// The same changeover done by a few set-based statements on one catalogue: the floor for
// this engine. Returns the seconds it took, or -1.
double setBased(const QString& file, const QByteArray& table)
{
    double seconds = -1;
    {
        QSqlDatabase d =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("floor"));
        d.setDatabaseName(file);
        if (!d.open())
            return -1;
        QSqlQuery q(d);
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        QElapsedTimer timer;
        timer.start();
        bool ok = q.exec(
            QStringLiteral("CREATE TABLE CodiciCorvel (IdProdMod int, CodTestataNuovo nchar(9), "
                           "CodTestataVecchio nchar(9), Titolo nchar(50), Modificato int)"));
        ok = ok && d.transaction();
        ok = ok && q.prepare(QStringLiteral("INSERT INTO CodiciCorvel VALUES (0,?,?,?,0)"));
        std::unordered_set<double> staged;
        for (const QByteArray& bytes : table.split('\n')) {
            const CodeTable::Line line = CodeTable::parseLine(QString::fromLatin1(bytes));
            if (line.shape != CodeTable::Line::Shape::Complete ||
                !staged.insert(line.oldCode).second)
                continue;
            q.bindValue(0, CodeTable::normalisedCode(line.newCode));
            q.bindValue(1, CodeTable::normalisedCode(line.oldCode));
            q.bindValue(2, CodeTable::stagedTitle(line.title));
            ok = ok && q.exec();
        }
        ok = ok && d.commit();
        const char* statements[] = {
            "CREATE INDEX Vecchio ON CodiciCorvel (CAST(CodTestataVecchio AS INTEGER))",
            "BEGIN",
            "CREATE TEMP TABLE m AS SELECT p.IDProd AS id, c.rowid AS r, c.CodTestataNuovo AS n "
            "FROM Prodotti p JOIN CodiciCorvel c ON CAST(c.CodTestataVecchio AS INTEGER) = "
            "CAST(p.CodiceTestata AS INTEGER) WHERE p.inforiv = 1 AND p.IDDL = 12 AND "
            "c.Modificato = 0",
            "CREATE INDEX temp.m_id ON m (id)",
            "CREATE INDEX temp.m_r ON m (r)",
            "UPDATE Prodotti SET CodiceTestata = (SELECT n FROM m WHERE id = Prodotti.IDProd) "
            "WHERE IDProd IN (SELECT id FROM m)",
            "UPDATE CodiciCorvel SET IdProdMod = (SELECT id FROM m WHERE r = CodiciCorvel.rowid), "
            "Modificato = 1 WHERE rowid IN (SELECT r FROM m)",
            "UPDATE Prodotti SET IDDL = 34 WHERE IDProd IN (SELECT IdProdMod FROM CodiciCorvel "
            "WHERE IdProdMod <> 0)",
            "COMMIT",
        };
        for (const char* sql : statements)
            ok = ok && q.exec(QString::fromLatin1(sql));
        if (ok)
            seconds = timer.nsecsElapsed() / 1e9;
        else
            std::fprintf(stderr, "setbased: %s\n", qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("floor"));
    return seconds;
}

// Adds the time spent in a writer's operations to a total.
class TimedWriter final : public TextWriter
{
public:
    TimedWriter(std::unique_ptr<TextWriter> inner, qint64& nanoseconds, qint64& syncNanoseconds,
                int& syncs)
        : inner_(std::move(inner)), nanoseconds_(nanoseconds), syncNanoseconds_(syncNanoseconds),
          syncs_(syncs)
    {
    }
    Error writeLine(const QString& line) override
    {
        return timed([&] { return inner_->writeLine(line); });
    }
    Error close() override
    {
        return timed([&] { return inner_->close(); });
    }
    qint64 size() const override { return inner_->size(); }
    Error rewriteLine(qint64 offset, const QString& line) override
    {
        return timed([&] { return inner_->rewriteLine(offset, line); });
    }
    Error truncate(qint64 size) override
    {
        return timed([&] { return inner_->truncate(size); });
    }
    Error sync() override
    {
        ++syncs_;
        const qint64 before = nanoseconds_;
        const Error e = timed([&] { return inner_->sync(); });
        syncNanoseconds_ += nanoseconds_ - before;
        return e;
    }

private:
    template <typename F> Error timed(F operation)
    {
        QElapsedTimer timer;
        timer.start();
        Error e = operation();
        nanoseconds_ += timer.nsecsElapsed();
        return e;
    }

    std::unique_ptr<TextWriter> inner_;
    qint64& nanoseconds_;
    qint64& syncNanoseconds_;
    int& syncs_;
};

// The program's files, with the restore file's writing timed.
class TimedFiles final : public TextFileSystem
{
public:
    explicit TimedFiles(TextFileSystem& inner) : inner_(inner) {}
    bool fileExists(const QString& path) override { return inner_.fileExists(path); }
    bool folderExists(const QString& path) override { return inner_.folderExists(path); }
    Error createFolder(const QString& path) override { return inner_.createFolder(path); }
    Error removeFile(const QString& path) override { return inner_.removeFile(path); }
    Error openRead(const QString& path, std::unique_ptr<TextReader>& reader,
                   Decoding decoding = Decoding::CodePage) override
    {
        return inner_.openRead(path, reader, decoding);
    }
    Error openWrite(const QString& path, bool append, std::unique_ptr<TextWriter>& writer) override
    {
        return inner_.openWrite(path, append, writer);
    }
    Error createNew(const QString& path, std::unique_ptr<TextWriter>& writer,
                    Encoding encoding = Encoding::CodePage) override
    {
        std::unique_ptr<TextWriter> inner;
        if (Error e = inner_.createNew(path, inner, encoding); e.failed())
            return e;
        // The run's list is created new too.
        if (!QFileInfo(path).fileName().startsWith(QStringLiteral("Ripristino"))) {
            writer = std::move(inner);
            return {};
        }
        writer =
            std::make_unique<TimedWriter>(std::move(inner), nanoseconds, syncNanoseconds, syncs);
        created = path;
        return {};
    }

    qint64 nanoseconds = 0;
    qint64 syncNanoseconds = 0;
    int syncs = 0;
    QString created;

private:
    TextFileSystem& inner_;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int products = option(args, QStringLiteral("--products"), 10000);
    const int lines = option(args, QStringLiteral("--lines"), 10000);
    const bool sqlServer = args.contains(QStringLiteral("--sqlserver"));
    const qsizetype rttAt = args.indexOf(QStringLiteral("--rtt-ms"));
    const double rttMs = rttAt >= 0 && rttAt + 1 < args.size() ? args[rttAt + 1].toDouble() : 0;
    const qsizetype versionAt = args.indexOf(QStringLiteral("--version"));
    const QString version =
        versionAt >= 0 && versionAt + 1 < args.size() ? args[versionAt + 1] : QString();

    TestPlatform tp;
    const QString folder = tp.path(QStringLiteral("db"));
    QDir().mkpath(folder);
    QList<fixture::ProductRow> rows;
    rows.reserve(products);
    for (int i = 0; i < products; ++i)
        rows.append({i + 1, QString::number(100000 + i), QStringLiteral("Titolo %1").arg(i), 12});
    if (fixture::createCatalogue(folder, QStringLiteral("MIRKELBENCH"), fixture::standardSubjects(),
                                 rows)
            .isEmpty())
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
    fixture::StandIn standIn;
    if (sqlServer) {
        config.DBUsername = QStringLiteral("mirkel");
        config.DBPassword = QStringLiteral("bench");
        if (const QString why =
                standIn.start(folder, config.DBUsername, config.DBPassword, version);
            !why.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(why));
            return 1;
        }
        standIn.command({{QStringLiteral("delay_ms"), rttMs}});
        config.DBServerName = standIn.server();
    }
    FakeView view;
    view.catalogueText = QStringLiteral("MIRKELBENCH");
    ErrorLog log(tp.platform.programFolder, tp.clock, tp.files);
    QString tabella;
    TimedFiles files(tp.files);
    const Platform platform{
        tp.platform.programFolder, tp.clock, tp.dialogs, files, tp.downloader, tp.shell};
    ConversionRun run(platform, log, config, view, tabella);

    QElapsedTimer timer;
    double started[int(ConversionRun::Stage::Done) + 1] = {};
    db::Traffic atStaging, atDone;
    qint64 requestsAtStaging = 0, requestsAtDone = 0;
    run.setStageHook([&](ConversionRun::Stage stage) {
        // The plan reads the table and the catalogue: it is the first of the three stages.
        if (stage == ConversionRun::Stage::Plan) {
            atStaging = db::traffic();
            requestsAtStaging = sqlServer ? standIn.requests() : 0;
        }
        if (stage == ConversionRun::Stage::Done) {
            atDone = db::traffic();
            requestsAtDone = sqlServer ? standIn.requests() : 0;
        }
        if (!timer.isValid())
            timer.start();
        started[int(stage)] = timer.nsecsElapsed() / 1e9;
    });
    run.execute();

    using Stage = ConversionRun::Stage;
    std::printf("plan %.3f s\n", started[int(Stage::Staging)] - started[int(Stage::Plan)]);
    std::printf("staging %.3f s\n", started[int(Stage::Rewrite)] - started[int(Stage::Staging)]);
    std::printf("rewrite %.3f s\n", started[int(Stage::Reassign)] - started[int(Stage::Rewrite)]);
    std::printf("reassignment %.3f s\n", started[int(Stage::Done)] - started[int(Stage::Reassign)]);
    std::printf("statements %lld\n", atDone.statements - atStaging.statements);
    std::printf("commits %lld\n", atDone.commits - atStaging.commits);
    const double stages = started[int(Stage::Done)] - started[int(Stage::Plan)];
    std::printf("three stages %.3f s\n", stages);
    if (sqlServer)
        std::printf("requests %lld\n", requestsAtDone - requestsAtStaging);
    std::printf("restore file %.3f s (%.1f %% of the three stages), %.3f s of it in %d syncs, "
                "%.1f MiB\n",
                files.nanoseconds / 1e9, stages > 0 ? 100 * files.nanoseconds / 1e9 / stages : 0,
                files.syncNanoseconds / 1e9, files.syncs,
                QFileInfo(files.created).size() / 1048576.0);
    const bool completed =
        tp.dialogs.texts() == QStringList{QStringLiteral("Procedura Completata")};

    // The missing-code report, on a fresh copy of the catalogue against the same table.
    if (fixture::createCatalogue(folder, QStringLiteral("MIRKELREPORT"),
                                 fixture::standardSubjects(), rows)
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

    // The floor, on a third copy of the catalogue.
    const QString floorFile = fixture::createCatalogue(folder, QStringLiteral("MIRKELFLOOR"),
                                                       fixture::standardSubjects(), rows);
    if (floorFile.isEmpty())
        return 1;
    const double floor = setBased(floorFile, table);
    std::printf("setbased %.3f s\n", floor);
    if (!sqlServer && floor > 0)
        std::printf("ratio %.2f\n", stages / floor);

    std::printf("peak %.1f MiB\n", peakMiB());
    return completed && reported ? 0 : 2;
}
