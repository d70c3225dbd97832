#include "conversion/ConversionRun.h"
#include "db/Database.h"
#include "errors/ErrorLog.h"
#include "platform/Platform.h"
#include "tests/support/Fakes.h"
#include "tests/support/FaultyTextFiles.h"
#include "tests/support/HostFixture.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

// Fails every operation of a small conversion run in turn, once in the data layer and once in
// the text-file layer, and checks after each run that it ended, that products and staging
// rows agree, that the log says what the trap says it should, and that a clean run then
// reaches the end state of one uninterrupted run.

namespace {

const QString kTable = QStringLiteral("TabellaCodiciVarno.txt");

QList<fixture::ProductRow> products()
{
    return {
        {1, QStringLiteral("678"), QStringLiteral("Giornale uno"), 12},
        {2, QStringLiteral("1001"), QStringLiteral("Rivista due"), 12},
        {3, QStringLiteral("555"), QStringLiteral("Non in tabella"), 12},
        {4, QStringLiteral("678"), QStringLiteral("Altro distributore"), 34},
        {5, QStringLiteral("1001"), QStringLiteral("Non in rivendita"), 12, 0},
        {6, QStringLiteral("42"), QStringLiteral("Tre colonne"), 12},
    };
}

// The last line has three TABs only: it is staged with one logged error, so that a clean run
// writes the log too and the log's file operations are among those failed in turn.
const QByteArray kTableBytes = "900678\tgiornale uno\t0678\t1\t\r\n"
                               "901001\trivista d'oggi\t1001\t1\t\r\n"
                               "907777\tsenza prodotto\t7777\t1\t\r\n"
                               "900042\ttre colonne\t42\t1\r\n";

enum class Layer { Data, Text };

// One program folder with its catalogue; every run in it goes through the failing text layer.
class Sweep
{
public:
    Sweep()
        : faulty(tp.files), platform{tp.platform.programFolder,
                                     tp.clock,
                                     tp.dialogs,
                                     faulty,
                                     tp.downloader,
                                     tp.shell},
          log(tp.platform.programFolder, tp.clock, faulty)
    {
        const QString folder = tp.path(QStringLiteral("db"));
        QDir().mkpath(folder);
        config.DBServerName = QStringLiteral("sqlite:") + folder;
        config.DBUsername = QStringLiteral("sa");
        config.DBPassword = QStringLiteral("pw");
        catalogue = fixture::createCatalogue(folder, QStringLiteral("MIRKEL2012"),
                                             fixture::standardSubjects(), products());
        tp.writeFile(kTable, kTableBytes);
    }

    // A file choice, when the trap sends the run there, picks the same table again.
    void run()
    {
        tp.dialogs.fileAnswers = {tp.path(kTable)};
        view = FakeView();
        ConversionRun r(platform, log, config, view, TabellaCodiciFile);
        r.execute();
    }

    TestPlatform tp;
    FaultyTextFiles faulty;
    Platform platform;
    ErrorLog log;
    HostConfig config;
    FakeView view;
    QString TabellaCodiciFile;
    QString catalogue;
};

QStringList column(const QString& file, const QString& sql)
{
    QStringList values;
    for (const QVariantList& row : fixture::select(file, sql))
        values.append(row.value(0).toString());
    return values;
}

// Products that hold a staged new code against the products staging rows name: a product
// converted without its row marked, or a row marked without its product converted, shows here.
QString mismatch(const QString& file)
{
    const QStringList converted = column(
        file, QStringLiteral("SELECT IDProd FROM Prodotti WHERE IDDL IN (12,34) AND CodiceTestata "
                             "IN (SELECT CodTestataNuovo FROM CodiciCorvel) ORDER BY IDProd"));
    const QStringList marked =
        column(file, QStringLiteral("SELECT IdProdMod FROM CodiciCorvel WHERE IdProdMod<>0 "
                                    "ORDER BY IdProdMod"));
    const QStringList halfMarked = column(
        file,
        QStringLiteral("SELECT rowid FROM CodiciCorvel WHERE (IdProdMod<>0) <> (Modificato=1)"));
    const QStringList wrongCode = column(
        file, QStringLiteral("SELECT c.IdProdMod FROM CodiciCorvel c JOIN Prodotti p ON "
                             "p.IDProd=c.IdProdMod WHERE p.CodiceTestata<>c.CodTestataNuovo"));
    if (converted != marked)
        return QStringLiteral("converted %1, marked %2")
            .arg(converted.join(QLatin1Char(',')), marked.join(QLatin1Char(',')));
    if (!halfMarked.isEmpty())
        return QStringLiteral("rows marked by half: ") + halfMarked.join(QLatin1Char(','));
    if (!wrongCode.isEmpty())
        return QStringLiteral("marked rows whose product lacks the new code: ") +
               wrongCode.join(QLatin1Char(','));
    return {};
}

// Rows the run must never touch, as "IDProd|CodiceTestata|IDDL".
QStringList untouched(const QString& file)
{
    QStringList rows;
    for (const QVariantList& r :
         fixture::select(file, QStringLiteral("SELECT IDProd, CodiceTestata, IDDL FROM Prodotti "
                                              "WHERE IDProd IN (3,4,5) ORDER BY IDProd")))
        rows.append(r[0].toString() + '|' + r[1].toString() + '|' + r[2].toString());
    return rows;
}

const QStringList kUntouched = {QStringLiteral("3|555|12"), QStringLiteral("4|678|34"),
                                QStringLiteral("5|1001|12")};

const QRegularExpression
    kLogLine(QStringLiteral("^ERROR:\\tErrore numero: -?\\d+ Descrizione: .* Sorgente:(CMDiNVERTI|"
                            "FIEGDLCodiceGet) (riga \\d+ di \\S+)?$"));

bool isLogOperation(const QString& name)
{
    return name == QLatin1String("folderExists") || name == QLatin1String("createFolder") ||
           name == QLatin1String("openWrite") || name == QLatin1String("writeLine") ||
           name == QLatin1String("close");
}

} // namespace

class FaultSweepTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { db::setFaultHook({}); }

    void cleanRunIsTheReference();
    void everyOperationFailsInTurn_data();
    void everyOperationFailsInTurn();
};

void FaultSweepTest::cleanRunIsTheReference()
{
    // What the sweep compares with must itself be right.
    Sweep s;
    s.run();
    QCOMPARE(s.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
    const QStringList end = fixture::snapshot(s.catalogue);
    QVERIFY(end.contains(QStringLiteral("P 1|000900678|34")));
    QVERIFY(end.contains(QStringLiteral("P 2|000901001|34")));
    QVERIFY(end.contains(QStringLiteral("P 6|000900042|34")));
    QCOMPARE(untouched(s.catalogue), kUntouched);
    QCOMPARE(mismatch(s.catalogue), QString());
    QCOMPARE(s.tp.logMessages().size(), 1); // the line with three TABs
}

void FaultSweepTest::everyOperationFailsInTurn_data()
{
    QTest::addColumn<Layer>("layer");
    QTest::addColumn<qint32>("number");
    QTest::newRow("data layer, generic error") << Layer::Data << qint32(-2147217871);
    QTest::newRow("data layer, file not found") << Layer::Data << ErrorNumber::FileNotFound;
    QTest::newRow("data layer, object not set") << Layer::Data << ErrorNumber::ObjectNotSet;
    QTest::newRow("data layer, rejected command") << Layer::Data << ErrorNumber::CommandText;
    QTest::newRow("text layer, device error") << Layer::Text << ErrorNumber::DeviceIo;
    QTest::newRow("text layer, file not found") << Layer::Text << ErrorNumber::FileNotFound;
    QTest::newRow("text layer, object not set") << Layer::Text << ErrorNumber::ObjectNotSet;
    QTest::newRow("text layer, rejected command") << Layer::Text << ErrorNumber::CommandText;
}

void FaultSweepTest::everyOperationFailsInTurn()
{
    QFETCH(Layer, layer);
    QFETCH(qint32, number);

    QStringList reference;
    QStringList operations;
    QStringList paths;
    {
        Sweep s;
        QStringList dataOps;
        db::setFaultHook([&dataOps](const char* op) {
            dataOps.append(QString::fromLatin1(op));
            return Error();
        });
        s.run();
        db::setFaultHook({});
        reference = fixture::snapshot(s.catalogue);
        operations = layer == Layer::Data ? dataOps : s.faulty.operations();
        paths = s.faulty.paths();
    }
    QVERIFY(operations.size() > 10);

    for (int n = 1; n <= operations.size(); ++n) {
        const QString op = operations[n - 1];
        const QString where = QStringLiteral("failing operation %1 (%2)").arg(n).arg(op);
        const QByteArray atBytes = where.toLocal8Bit();
        const char* at = atBytes.constData();
        // A description no other error carries, to find the injected failure in the log.
        const Error injected{number, QStringLiteral("guasto provocato %1").arg(n)};

        Sweep s;
        int seen = 0;
        if (layer == Layer::Data) {
            db::setFaultHook(
                [&seen, n, injected](const char*) { return ++seen == n ? injected : Error(); });
        } else {
            s.faulty.failAt(n, injected);
        }
        s.run();
        db::setFaultHook({});
        QVERIFY2(layer == Layer::Text ? s.faulty.failed() : seen >= n, at);
        s.faulty.failAt(0, {});

        // The run ended: either the window closed, or it is usable again.
        QVERIFY2(s.view.unloads == 1 || (s.view.windowEnabled && s.view.command1Enabled), at);
        QVERIFY2(s.view.unloads <= 1, at);
        QVERIFY2(mismatch(s.catalogue).isEmpty(), qPrintable(where + ": " + mismatch(s.catalogue)));
        QVERIFY2(untouched(s.catalogue) == kUntouched, at);

        // The log: only well-formed lines; the injected failure at most once, and only where
        // the trap that caught it writes such errors.
        const QStringList lines = s.tp.logMessages();
        QStringList injectedLines;
        for (const QString& line : lines) {
            QVERIFY2(kLogLine.match(line).hasMatch(), qPrintable(where + ": " + line));
            if (line.contains(injected.description + QLatin1Char(' ')))
                injectedLines.append(line);
        }
        QVERIFY2(injectedLines.size() <= 1, qPrintable(where + ": " + injectedLines.join('\n')));
        const bool silentInRun =
            number == ErrorNumber::FileNotFound || number == ErrorNumber::ObjectNotSet;
        // A restore file that cannot be written ends the run, logged whatever the number; its
        // close, after the last block was synced, has nothing to report.
        if (layer == Layer::Text && paths[n - 1].contains(QStringLiteral("Ripristino_")) &&
            op != QLatin1String("close")) {
            QVERIFY2(injectedLines.size() == 1 &&
                         s.tp.dialogs.shown.last().icon == MsgIcon::Critical,
                     at);
        } else if (layer == Layer::Text && paths[n - 1].contains(QStringLiteral("Conversione_")) &&
                   op != QLatin1String("close")) {
            // A list that cannot be written is logged once, whatever the number; the run goes
            // on without it.
            QVERIFY2(injectedLines.size() == 1, at);
        } else if (silentInRun) {
            // Only the distributor look-up, whose trap logs every error, may write it.
            for (const QString& line : injectedLines)
                QVERIFY2(line.endsWith(QStringLiteral("Sorgente:FIEGDLCodiceGet ")),
                         qPrintable(where + ": " + line));
        } else if (layer == Layer::Data ||
                   !(op == QLatin1String("fileExists") || isLogOperation(op))) {
            // Every failure of the data layer, and of reading the table, is logged once; a
            // failing test for a file carries no error, and a log that cannot be written is
            // dropped.
            QVERIFY2(injectedLines.size() == 1, at);
            QVERIFY2(injectedLines[0].startsWith(
                         QStringLiteral("ERROR:\tErrore numero: %1 ").arg(number)),
                     qPrintable(where + ": " + injectedLines[0]));
        }
        // A list that could not be written leaves no file without a row.
        for (const QString& list : QDir(s.tp.path("LOGS")).entryList({"Conversione_*"}))
            QVERIFY2(s.tp.readFile("LOGS/" + list).count("\r\n") >= 2, at);
        const int notFoundBoxes =
            s.tp.dialogs.texts().count(QStringLiteral("Impossibile trovare il file"));
        QVERIFY2(notFoundBoxes <= (number == ErrorNumber::FileNotFound ? 1 : 0), at);

        // A clean run afterwards ends as one uninterrupted run does.
        s.run();
        QVERIFY2(s.view.unloads == 1, at);
        const QStringList end = fixture::snapshot(s.catalogue);
        if (end != reference)
            QFAIL(qPrintable(where + ": end state\n  " + end.join(QStringLiteral("\n  ")) +
                             "\nexpected\n  " + reference.join(QStringLiteral("\n  "))));
    }
}

QTEST_GUILESS_MAIN(FaultSweepTest)
#include "FaultSweepTest.moc"
