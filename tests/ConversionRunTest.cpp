#include "conversion/ConversionRun.h"
#include "conversion/Restore.h"
#include "conversion/RunFile.h"
#include "conversion/TableAcquisition.h"
#include "db/Database.h"
#include "db/HostCatalog.h"
#include "db/RestoreScript.h"
#include "errors/ErrorLog.h"
#include "tests/support/Fakes.h"
#include "tests/support/FaultyTextFiles.h"
#include "tests/support/HostFixture.h"
#include "tests/support/RunFixture.h"
#include "tests/support/StandIn.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

using fixture::ProductRow;
using Stage = ConversionRun::Stage;

namespace {

const QString kTable = QStringLiteral("TabellaCodiciVarno.txt");
const QString kAnotherRun = QStringLiteral(
    "Un'altra conversione e' in corso su questo database. Attendere che termini, poi riprovare.");

QList<ProductRow> standardProducts()
{
    return {
        {1, QStringLiteral("678"), QStringLiteral("Giornale uno"), 12},
        {2, QStringLiteral("1001"), QStringLiteral("Rivista due"), 12},
        {3, QStringLiteral("555"), QStringLiteral("Non in tabella"), 12},
        {4, QStringLiteral("678"), QStringLiteral("Altro distributore"), 34},
        {5, QStringLiteral("1001"), QStringLiteral("Non in rivendita"), 12, 0},
    };
}

// The run's list as Excel would read it: rows without the byte-order mark and the caption.
QStringList listRows(const RunFixture& f, const QString& prefix = QStringLiteral("Conversione"))
{
    const QStringList names = QDir(f.tp.path(QStringLiteral("LOGS")))
                                  .entryList({prefix + QStringLiteral("_*.csv")}, QDir::Files);
    if (names.size() != 1)
        return {QStringLiteral("%1 lists").arg(names.size())};
    const QByteArray bytes = f.tp.readFile(QStringLiteral("LOGS/") + names[0]);
    if (!bytes.startsWith("\xEF\xBB\xBFIDProd;Testata;Codice vecchio;Codice nuovo;Esito\r\n"))
        return {QStringLiteral("no caption")};
    QStringList rows = QString::fromUtf8(bytes).split(QStringLiteral("\r\n"));
    rows.removeFirst();
    rows.removeLast();
    return rows;
}

QByteArray standardTable()
{
    return "900678\tgiornale uno\t0678\t1\t\r\n"
           "901001\trivista due\t1001\t1\t\r\n"
           "907777\tsenza prodotto\t7777\t1\t\r\n";
}

// Fails the data layer from the moment a stage begins: every operation whose name is in ops
// (all when empty) after skipping `skip` of them.
struct FaultPlan
{
    Stage stage;
    Error error;
    int skip = 0;
    QList<QByteArray> ops;
    int limit = -1; // how many to fail; -1 all
    bool armed = false;

    std::function<void(Stage)> hook()
    {
        return [this](Stage s) {
            if (s == Stage::Done) {
                db::setFaultHook({});
                return;
            }
            if (s != stage || armed)
                return;
            armed = true;
            auto seen = std::make_shared<int>(0);
            auto failedSoFar = std::make_shared<int>(0);
            db::setFaultHook([this, seen, failedSoFar](const char* op) -> Error {
                if (!ops.isEmpty() && !ops.contains(QByteArray(op)))
                    return {};
                if ((*seen)++ < skip)
                    return {};
                if (limit >= 0 && *failedSoFar >= limit)
                    return {};
                ++*failedSoFar;
                return error;
            });
        };
    }
};

// Every table's definition and rows, each value as the literal quote() gives: equal dumps are
// equal catalogues, byte for byte.
QStringList dump(const QString& file)
{
    QStringList lines;
    for (const QVariantList& t : fixture::select(
             file, QStringLiteral(
                       "SELECT name, sql FROM sqlite_master WHERE type='table' ORDER BY name"))) {
        QStringList values{QStringLiteral("quote(rowid)")};
        for (const QVariantList& c : fixture::select(
                 file,
                 QStringLiteral("SELECT name FROM pragma_table_info('%1')").arg(t[0].toString())))
            values << QStringLiteral("quote(%1)").arg(c[0].toString());
        lines << t[1].toString();
        for (const QVariantList& r : fixture::select(
                 file, QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid")
                           .arg(values.join(QStringLiteral("||'|'||")), t[0].toString())))
            lines << r[0].toString();
    }
    return lines;
}

// Runs a restore file as sqlite3 -bail does: statement by statement, stopping at a failure;
// the rows it selects go to printed.
QString applyRestore(const QString& catalogue, const QString& restoreFile,
                     QStringList* printed = nullptr)
{
    QFile in(restoreFile);
    QString failure = in.open(QIODevice::ReadOnly) ? QString() : restoreFile;
    {
        QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "restore");
        d.setDatabaseName(catalogue);
        d.open();
        QSqlQuery q(d);
        QString sql;
        for (const QByteArray& line : in.readAll().split('\n')) {
            if (!line.startsWith("--"))
                sql += QString::fromLatin1(line).trimmed() + QLatin1Char(' ');
            if (sql.trimmed().endsWith(QLatin1Char(';')) && failure.isEmpty() && !q.exec(sql))
                failure = sql + ": " + q.lastError().text();
            while (printed && sql.trimmed().endsWith(QLatin1Char(';')) && q.isSelect() && q.next())
                *printed << q.value(0).toString();
            if (sql.trimmed().endsWith(QLatin1Char(';')))
                sql.clear();
        }
        // sqlite3 fails on a statement cut short at the end.
        if (failure.isEmpty() && !sql.trimmed().isEmpty())
            failure = QStringLiteral("incomplete: ") + sql;
    }
    QSqlDatabase::removeDatabase(QStringLiteral("restore"));
    return failure;
}

} // namespace

class ConversionRunTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { db::setFaultHook({}); }

    void admission_data();
    void admission();
    void noDistributorOptionKeepsButtonEnabled();
    void eitherOptionDoesTheSameWork();

    void localCopyIsUsedWithoutDownload();
    void downloadSuccessGoesOn();
    void downloadFailureOffersTheFileDialog();
    void downloadWithoutFileOffersTheFileDialog();
    void chiudiDuringDownloadEndsTheProgram();
    void folderInPlaceOfTheTableIsNamed();
    void fileChoiceEndings_data();
    void fileChoiceEndings();
    void connectionFailureEndsTheRunUsable();

    void stagingRules();
    void stagingTwiceInsertsNothingAndKeepsRows();
    void overlongTitleIsLoggedAndSkipped();
    void shortLinesAreSkippedWithOneLogLineEach();

    void completedRun();
    void previewChangesNothingAndForetellsTheRun();
    void firstProductOfAnOldCodeWins();
    void appliedProductsAreSkippedAndMoved();
    void productsOutside069NamedByRowsAreMovedAndPutBack();
    void noDistributor069();
    void noDistributor211LeavesDistributorsAlone();
    void emptyDistributor069();

    void trapFileNotFoundAndObjectNotSet_data();
    void trapFileNotFoundAndObjectNotSet();
    void trapRejectedCommandEndsTheRun();
    void trapOtherErrorsAreLoggedOnce();
    void secondErrorAfterDiversionEndsTheRun();
    void refusedConversionChangesNeither_data();
    void refusedConversionChangesNeither();
    void refusedMoveIsListed();
    void unreadableListEndsThePass();
    void engineFailureEndsTheRun_data();
    void engineFailureEndsTheRun();
    void lockedCatalogueEndsTheRun_data();
    void lockedCatalogueEndsTheRun();
    void logsFolderRefusingWritesSaysSo();
    void catalogueNamesInLogs();
    void secondRunAtOnceGivesTheWindowBack();
    void lockLeftOnAnotherPcIsNamed();
    void deadRunsLockWithThisProcessIdIsTakenOver();
    void codesMatchAsNumbers_data();
    void codesMatchAsNumbers();

    void rerunAfterInterruptionReachesTheSameEnd_data();
    void rerunAfterInterruptionReachesTheSameEnd();
    void restoreFilesPutTheCatalogueBack_data();
    void restoreFilesPutTheCatalogueBack();
    void restoreStatementsHoldAtMost500Rows();
    void ripristinaOnSqlServer_data();
    void ripristinaOnSqlServer();
};

void ConversionRunTest::admission_data()
{
    QTest::addColumn<QDate>("today");
    QTest::addColumn<bool>("admitted");
    QTest::newRow("day before the window") << QDate(2012, 12, 5) << false;
    QTest::newRow("first day") << QDate(2012, 12, 6) << true;
    QTest::newRow("last day") << QDate(2013, 1, 5) << true;
    QTest::newRow("day after the window") << QDate(2013, 1, 6) << false;
}

void ConversionRunTest::admission()
{
    QFETCH(QDate, today);
    QFETCH(bool, admitted);
    RunFixture f(standardProducts());
    f.table(standardTable());
    f.tp.clock.setToday(today);
    f.run();
    if (admitted) {
        QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
        // The window names each stage as it begins.
        QCOMPARE(f.view.history(ViewLabel::Label6),
                 (QStringList{QStringLiteral(" Lettura del database"),
                              QStringLiteral("Carico del file nella Tabella... "),
                              QStringLiteral(" Aggiornamento Codici Titoli"),
                              QStringLiteral(" Modifica codice DL Titoli Varno")}));
        return;
    }
    QCOMPARE(f.tp.dialogs.shown.size(), 1);
    const ShownMessage& m = f.tp.dialogs.shown[0];
    QCOMPARE(m.text,
             QStringLiteral(
                 "Procedura attivabile solo dopo il cambio gestionale fissata per il 06/12/2012"));
    QCOMPARE(m.icon, MsgIcon::Exclamation);
    QCOMPARE(m.title, QStringLiteral("Aggiornamento Codici Titoli"));
    QVERIFY(f.view.command1Enabled);
    QVERIFY(f.view.windowEnabled);
    QCOMPARE(f.view.unloads, 0);
    QVERIFY(f.staging().isEmpty());
    QCOMPARE(f.product(1), QStringLiteral("1|678|12"));
}

void ConversionRunTest::noDistributorOptionKeepsButtonEnabled()
{
    RunFixture f(standardProducts());
    f.table(standardTable());
    f.view.options[0] = f.view.options[1] = false;
    f.run();
    QCOMPARE(f.tp.dialogs.texts(),
             QStringList{QStringLiteral(
                 "Che stai facendo??? Scegli un distributore, non sbagliare!!!!!!!!!!!")});
    QCOMPARE(f.tp.dialogs.shown[0].icon, MsgIcon::None);
    QCOMPARE(f.tp.dialogs.shown[0].title, Dialogs::defaultTitle());
    QVERIFY(f.view.command1Enabled);
    QVERIFY(f.view.windowEnabled);
    QCOMPARE(f.view.unloads, 0);
    QCOMPARE(f.product(1), QStringLiteral("1|678|12"));
}

void ConversionRunTest::eitherOptionDoesTheSameWork()
{
    RunFixture first(standardProducts());
    first.table(standardTable());
    first.run();
    RunFixture second(standardProducts());
    second.table(standardTable());
    second.view.options[0] = false;
    second.view.options[1] = true;
    second.run();
    QCOMPARE(fixture::snapshot(second.catalogue), fixture::snapshot(first.catalogue));
    QCOMPARE(second.tp.dialogs.texts(), first.tp.dialogs.texts());
}

void ConversionRunTest::localCopyIsUsedWithoutDownload()
{
    RunFixture f(standardProducts());
    f.table(standardTable());
    f.run();
    QVERIFY(f.tp.downloader.urls.isEmpty());
    QCOMPARE(f.TabellaCodiciFile, f.tp.path(kTable));
    QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
}

void ConversionRunTest::downloadSuccessGoesOn()
{
    RunFixture f(standardProducts());
    f.tp.downloader.content = standardTable();
    f.run();
    QCOMPARE(f.tp.downloader.urls, QStringList{TableAcquisition::downloadUrl()});
    QVERIFY(TableAcquisition::downloadUrl().endsWith(
        QStringLiteral("/download/TabellaCodici/TabellaCodiciVarno.txt")));
    QCOMPARE(f.tp.dialogs.texts(), (QStringList{QStringLiteral("Download completato con successo"),
                                                QStringLiteral("Procedura Completata")}));
    QCOMPARE(f.tp.dialogs.shown[0].icon, MsgIcon::Information);
    QCOMPARE(f.tp.dialogs.shown[0].title, Dialogs::defaultTitle());
    QCOMPARE(f.product(1), QStringLiteral("1|000900678|34"));
}

void ConversionRunTest::downloadFailureOffersTheFileDialog()
{
    RunFixture f(standardProducts());
    f.tp.writeFile(QStringLiteral("elsewhere/codici.txt"), standardTable());
    f.tp.dialogs.fileAnswers.push_back(f.tp.path(QStringLiteral("elsewhere/codici.txt")));
    f.run();
    QCOMPARE(f.tp.dialogs.shown[0].text,
             QStringLiteral("Errore durante il download il file per la conversione puo' non essere "
                            "ancora disponibile!"));
    QCOMPARE(f.tp.dialogs.shown[0].icon, MsgIcon::Critical);
    QCOMPARE(f.tp.dialogs.shown[0].details, QStringLiteral("Nessuna risposta dal server"));
    QCOMPARE(f.tp.dialogs.openFileCalls.size(), 1);
    QCOMPARE(f.tp.dialogs.openFileCalls[0].presetName, kTable);
    QCOMPARE(f.tp.dialogs.openFileCalls[0].folder, f.tp.platform.programFolder);
    QCOMPARE(f.TabellaCodiciFile, f.tp.path(QStringLiteral("elsewhere/codici.txt")));
    QCOMPARE(f.tp.dialogs.texts().last(), QStringLiteral("Procedura Completata"));
    QCOMPARE(f.product(2), QStringLiteral("2|000901001|34"));
}

void ConversionRunTest::chiudiDuringDownloadEndsTheProgram()
{
    // The window says the table is downloading; Chiudi ends the download and the program, as
    // it ends any wait, and nothing is kept or changed.
    RunFixture f(standardProducts());
    f.tp.downloader.content = standardTable();
    f.view.onWait = [&f] {
        f.view.closePressed = true;
    };
    f.run();
    QVERIFY(f.view.waits.value(0).startsWith(
        QStringLiteral("Download della tabella dei codici in corso: 0 byte ricevuti di ")));
    QCOMPARE(f.view.waits.last(), QString());
    QVERIFY(f.view.unloads == 1 && f.tp.dialogs.shown.isEmpty() && f.staging().isEmpty());
    QVERIFY(!QFile::exists(f.tp.path(kTable)));
}

void ConversionRunTest::folderInPlaceOfTheTableIsNamed()
{
    RunFixture f(standardProducts());
    QVERIFY(QDir().mkpath(f.tp.path(kTable)));
    f.run();
    QVERIFY(f.tp.downloader.urls.isEmpty() && f.view.windowEnabled && f.staging().isEmpty());
    QCOMPARE(f.tp.dialogs.texts(), QStringList{"Impossibile leggere il file dei codici. E' una "
                                               "cartella, non un file: " +
                                               QDir::toNativeSeparators(f.tp.path(kTable))});
}

void ConversionRunTest::downloadWithoutFileOffersTheFileDialog()
{
    RunFixture f(standardProducts());
    f.tp.downloader.claimsSuccessWithoutFile = true;
    f.run();
    QCOMPARE(f.tp.downloader.urls.size(), 1);
    QCOMPARE(f.tp.dialogs.openFileCalls.size(), 1);
    QCOMPARE(f.tp.dialogs.texts(),
             (QStringList{QStringLiteral("Download completato con successo"),
                          QStringLiteral(" Percorso file TabellaCodici non Trovata!")}));
    QVERIFY(f.view.windowEnabled);
}

void ConversionRunTest::fileChoiceEndings_data()
{
    QTest::addColumn<int>("answer"); // 0 cancel, 1 "*.txt", 2 a path that does not exist
    QTest::newRow("cancelled dialog") << 0;
    QTest::newRow("no file chosen") << 1;
    QTest::newRow("missing file") << 2;
}

void ConversionRunTest::fileChoiceEndings()
{
    QFETCH(int, answer);
    RunFixture f(standardProducts());
    if (answer == 1)
        f.tp.dialogs.fileAnswers.push_back(QStringLiteral("*.txt"));
    else if (answer == 2)
        f.tp.dialogs.fileAnswers.push_back(f.tp.path(QStringLiteral("nowhere.txt")));
    f.run();
    if (answer == 2) {
        // X4: the window closes.
        QCOMPARE(f.tp.dialogs.texts().last(), QStringLiteral("FILE NON TROVATO"));
        QVERIFY(f.view.command1Enabled);
        QVERIFY(!f.view.windowEnabled);
        QCOMPARE(f.view.unloads, 1);
        // The table is read before anything is created.
        QVERIFY(!fixture::exec(f.catalogue, QStringLiteral("SELECT * FROM CodiciCorvel")));
    } else {
        // X3: the window stays usable.
        QCOMPARE(f.tp.dialogs.texts().last(),
                 QStringLiteral(" Percorso file TabellaCodici non Trovata!"));
        QCOMPARE(f.tp.dialogs.shown.last().icon, MsgIcon::None);
        QVERIFY(f.view.command1Enabled);
        QVERIFY(f.view.windowEnabled);
        QVERIFY(f.view.closeEnabled);
        QCOMPARE(f.view.unloads, 0);
    }
    QCOMPARE(f.product(1), QStringLiteral("1|678|12"));
}

void ConversionRunTest::connectionFailureEndsTheRunUsable()
{
    RunFixture f(standardProducts());
    f.table(standardTable());
    f.view.catalogueText = QStringLiteral("MIRKEL1999");
    f.run();
    QCOMPARE(f.tp.dialogs.shown.size(), 1);
    QCOMPARE(f.tp.dialogs.shown[0].icon, MsgIcon::Critical);
    QVERIFY(f.tp.dialogs.shown[0].text.contains(QStringLiteral("MIRKEL1999")));
    QVERIFY(!f.tp.dialogs.shown[0].text.contains(QStringLiteral("secret")));
    QVERIFY(f.view.command1Enabled);
    QVERIFY(f.view.windowEnabled);
    QCOMPARE(f.view.unloads, 0);
    const QStringList log = f.logLines();
    QCOMPARE(log.size(), 1);
    QVERIFY(log[0].startsWith(QStringLiteral("ERROR:\tErrore numero: -2147467259 Descrizione: ")));
    QVERIFY(log[0].endsWith(QStringLiteral(" Sorgente:CMDiNVERTI ")));
    QVERIFY(!QFileInfo::exists(f.tp.path(QStringLiteral("db/MIRKEL1999.sqlite"))));
}

void ConversionRunTest::stagingRules()
{
    RunFixture f({});
    f.table("1\tprimo\t0678\t1\t\r\n"
            "2\tduplicato nello stesso file\t000678\t1\t\r\n"
            "\r\n"
            "     \r\n"
            "1234567890123\tcodici lunghi\t9876543210987\t1\t\n"
            "3\t  giornale d'esempio  \tabc\t1\t\r"
            "4\t'); DROP TABLE Prodotti;--\t1 OR 1=1\t0\t");
    f.run();
    QCOMPARE(f.staging(), (QStringList{
                              QStringLiteral("0|000000001|000000678|PRIMO|0"),
                              QStringLiteral("0|567890123|543210987|CODICI LUNGHI|0"),
                          }));
    // Blank lines are not counted; the duplicate and the refused lines are.
    QCOMPARE(f.view.history(ViewLabel::LabelFatti).last(), QStringLiteral("5 - Elaborati"));
    QVERIFY(!f.view.labelVisible(ViewLabel::Label7));
    QVERIFY(f.view.labelVisible(ViewLabel::Label6));
    // A code column that is no number refuses its line, naming it, instead of staging 0.
    const QStringList log = f.logLines();
    QCOMPARE(log.size(), 2);
    QVERIFY2(log[0].contains(QStringLiteral("il codice vecchio \"abc\"")) &&
                 log[0].endsWith(QStringLiteral(" riga 6 di TabellaCodiciVarno.txt")),
             qPrintable(log[0]));
    QVERIFY2(log[1].endsWith(QStringLiteral(" riga 7 di TabellaCodiciVarno.txt")),
             qPrintable(log[1]));
    QVERIFY(fixture::exec(f.catalogue, QStringLiteral("SELECT * FROM Prodotti")));
}

void ConversionRunTest::stagingTwiceInsertsNothingAndKeepsRows()
{
    RunFixture f({});
    QVERIFY(fixture::exec(
        f.catalogue,
        QStringLiteral("CREATE TABLE CodiciCorvel (IdProdMod int, CodTestataNuovo nchar(9), "
                       "CodTestataVecchio nchar(9), Titolo nchar(50), Modificato int)")));
    QVERIFY(fixture::exec(
        f.catalogue,
        QStringLiteral(
            "INSERT INTO CodiciCorvel VALUES (77,'000000999','000000678','VECCHIO',1)")));
    f.table(standardTable());
    f.run();
    const QStringList afterFirst = f.staging();
    QCOMPARE(afterFirst.first(), QStringLiteral("77|000000999|000000678|VECCHIO|1"));
    QCOMPARE(afterFirst.size(), 3);
    QCOMPARE(f.view.history(ViewLabel::LabelFatti).last(), QStringLiteral("3 - Elaborati"));

    f.tp.dialogs.shown.clear();
    f.run();
    QCOMPARE(f.staging(), afterFirst);
    QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
}

void ConversionRunTest::overlongTitleIsLoggedAndSkipped()
{
    RunFixture f({});
    f.table("1\t" + QByteArray(51, 'x') +
            "\t10\t1\t\r\n"
            "2\t" +
            QByteArray(50, 'y') + "\t20\t1\t\r\n");
    f.run();
    QCOMPARE(f.staging(), QStringList{QStringLiteral("0|000000002|000000020|") + QString(50, 'Y') +
                                      QStringLiteral("|0")});
    const QStringList log = f.logLines();
    QCOMPARE(log.size(), 1);
    QVERIFY(log[0].startsWith(QStringLiteral("ERROR:\tErrore numero: -2147217833 Descrizione: ")));
    QVERIFY2(log[0].endsWith(QStringLiteral("titolo di 51 caratteri, ne sono ammessi 50 "
                                            "Sorgente:CMDiNVERTI riga 1 di "
                                            "TabellaCodiciVarno.txt")),
             qPrintable(log[0]));
    QCOMPARE(f.view.history(ViewLabel::LabelFatti).last(), QStringLiteral("2 - Elaborati"));
    QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
}

void ConversionRunTest::shortLinesAreSkippedWithOneLogLineEach()
{
    RunFixture f({});
    f.table("1\tbuona\t10\t1\t\r\n"
            "2\tcorta\t20\r\n"      // two TABs: no old code
            "3\ttre tab\t30\t1\r\n" // three TABs: staged
            "senza tab\r\n");
    f.run();
    QCOMPARE(f.staging(), (QStringList{QStringLiteral("0|000000001|000000010|BUONA|0"),
                                       QStringLiteral("0|000000003|000000030|TRE TAB|0")}));
    const QStringList log = f.logLines();
    QCOMPARE(log.size(), 3);
    for (const QString& line : log)
        QVERIFY(line.startsWith(QStringLiteral("ERROR:\tErrore numero: 5 Descrizione: ")));
    // Every data line counts, staged or not.
    QCOMPARE(f.view.caption(ViewLabel::LabelFatti), QStringLiteral("4 - Elaborati"));
}

void ConversionRunTest::completedRun()
{
    RunFixture f(standardProducts());
    f.table(standardTable());
    QStringList labelsAtReassign;
    int progressAtReassign = -1, maximumAtReassign = -1;
    f.run([&](Stage s) {
        if (s == Stage::Reassign) {
            labelsAtReassign = {f.view.caption(ViewLabel::LabelFatti),
                                f.view.caption(ViewLabel::LabelModificati),
                                f.view.caption(ViewLabel::Label6)};
            progressAtReassign = f.view.progressValue;
            maximumAtReassign = f.view.progressMaximum;
        }
    });
    // Products of 069 with inforiv=1 in code order: 1001 (id 2), 555 (id 3), 678 (id 1).
    QCOMPARE(labelsAtReassign,
             (QStringList{QStringLiteral("3 - Elaborati"), QStringLiteral("2 - Modificati"),
                          QStringLiteral(" Aggiornamento Codici Titoli")}));
    QCOMPARE(maximumAtReassign, 3);
    QCOMPARE(progressAtReassign, 3);

    QCOMPARE(f.product(1), QStringLiteral("1|000900678|34"));
    QCOMPARE(f.product(2), QStringLiteral("2|000901001|34"));
    QCOMPARE(f.product(3), QStringLiteral("3|555|12"));
    QCOMPARE(f.product(4), QStringLiteral("4|678|34"));
    QCOMPARE(f.product(5), QStringLiteral("5|1001|12"));
    QCOMPARE(f.staging(), (QStringList{QStringLiteral("1|000900678|000000678|GIORNALE UNO|1"),
                                       QStringLiteral("2|000901001|000001001|RIVISTA DUE|1"),
                                       QStringLiteral("0|000907777|000007777|SENZA PRODOTTO|0")}));

    // X6, with the numbers below; the list gives every product of 069 its outcome.
    QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
    QCOMPARE(f.tp.dialogs.shown[0].icon, MsgIcon::None);
    const QString details = f.tp.dialogs.shown[0].details;
    QVERIFY2(details.contains(QStringLiteral("3 righe lette, 3 caricate")) &&
                 details.contains(QStringLiteral("3 trovati, 2 convertiti, 1 rimasti al 069 "
                                                 "(di cui 1 senza codice nella tabella)")) &&
                 details.contains(QStringLiteral("distributore 211: 2.")) &&
                 details.contains(QDir::toNativeSeparators(f.tp.path(QStringLiteral("LOGS")))),
             qPrintable(details));
    QCOMPARE(listRows(f),
             (QStringList{
                 QStringLiteral(
                     "3;=\"Non in tabella\";=\"555\";;=\"codice non presente nella tabella\""),
                 QStringLiteral("2;=\"Rivista due\";=\"1001\";=\"000901001\";=\"convertito e "
                                "spostato al distributore 211\""),
                 QStringLiteral("1;=\"Giornale uno\";=\"678\";=\"000900678\";=\"convertito e "
                                "spostato al distributore 211\""),
             }));
    QCOMPARE(f.view.caption(ViewLabel::Label6), QStringLiteral(" Modifica codice DL Titoli Varno"));
    QCOMPARE(f.view.progressMaximum, 2);
    QCOMPARE(f.view.progressValue, 2);
    QVERIFY(f.view.command1Enabled);
    QVERIFY(!f.view.windowEnabled);
    QCOMPARE(f.view.unloads, 1);
    QVERIFY(f.logLines().isEmpty());
}

// Any day, changing nothing: the run then does what the preview listed.
void ConversionRunTest::previewChangesNothingAndForetellsTheRun()
{
    RunFixture f(standardProducts());
    f.table(standardTable() + "908888\t" + QByteArray(51, 'x') + "\t555\t1\t\r\n");
    const QStringList before = dump(f.catalogue);
    f.tp.clock.setToday(QDate(2013, 2, 1));
    f.preview();
    QCOMPARE(dump(f.catalogue), before);
    QCOMPARE(f.tp.dialogs.texts(),
             QStringList{QStringLiteral("Anteprima completata: nessun dato e' stato modificato.")});
    const QString foretold = f.tp.dialogs.shown[0].details;
    QVERIFY2(
        foretold.contains(QStringLiteral("4 righe lette, 3 da caricare in CodiciCorvel, 0 gia' "
                                         "presenti, 1 scartate")) &&
            foretold.contains(QStringLiteral("3 trovati, 2 da convertire, 1 resteranno")) &&
            foretold.contains(QStringLiteral("da spostare al distributore 211: 2.")),
        qPrintable(foretold));
    QVERIFY(QDir(f.tp.path(QStringLiteral("LOGS")))
                .entryList({QStringLiteral("Ripristino_*")}, QDir::Files)
                .isEmpty());
    QVERIFY(f.view.windowEnabled && f.view.command1Enabled && f.view.unloads == 0);

    f.tp.dialogs.shown.clear();
    f.tp.clock.setToday(QDate(2012, 12, 10));
    f.run();
    QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
    QStringList preview = listRows(f, QStringLiteral("Anteprima"));
    preview.replaceInStrings(QStringLiteral("sara' "), QString());
    QCOMPARE(preview, listRows(f));
    QVERIFY(listRows(f).filter(QStringLiteral("titolo di 51 caratteri")).size() == 1);
}

void ConversionRunTest::firstProductOfAnOldCodeWins()
{
    // "0678" sorts before "678": product 7 is reached first and takes the code.
    RunFixture f({{6, QStringLiteral("678"), QStringLiteral("a"), 12},
                  {7, QStringLiteral("0678"), QStringLiteral("b"), 12},
                  {8, QStringLiteral("ABC"), QStringLiteral("non numerico"), 12},
                  {9, QStringLiteral("1001 "), QStringLiteral("con blank"), 12}});
    f.table(standardTable());
    f.run();
    QCOMPARE(f.product(7), QStringLiteral("7|000900678|34"));
    QCOMPARE(f.product(6), QStringLiteral("6|678|12"));
    QCOMPARE(f.product(8), QStringLiteral("8|ABC|12"));
    QCOMPARE(f.product(9), QStringLiteral("9|000901001|34"));
    QCOMPARE(f.view.history(ViewLabel::LabelFatti).last(), QStringLiteral("4 - Elaborati"));
    QCOMPARE(f.view.history(ViewLabel::LabelModificati).last(), QStringLiteral("2 - Modificati"));
    QVERIFY(f.logLines().isEmpty());
}

void ConversionRunTest::appliedProductsAreSkippedAndMoved()
{
    // Product 1 was converted by an interrupted run but not yet moved; product 40 was deleted
    // after its conversion.
    RunFixture f({{1, QStringLiteral("000900678"), QStringLiteral("gia convertito"), 12},
                  {2, QStringLiteral("1001"), QStringLiteral("da convertire"), 12}});
    QVERIFY(fixture::exec(
        f.catalogue,
        QStringLiteral("CREATE TABLE CodiciCorvel (IdProdMod int, CodTestataNuovo nchar(9), "
                       "CodTestataVecchio nchar(9), Titolo nchar(50), Modificato int)")));
    QVERIFY(fixture::exec(
        f.catalogue,
        QStringLiteral(
            "INSERT INTO CodiciCorvel VALUES (1,'000900678','000000678','GIORNALE UNO',1),"
            "(40,'000900555','000000555','CANCELLATO',1)")));
    f.table(standardTable());
    QStringList atReassign;
    f.run([&](Stage s) {
        if (s == Stage::Reassign)
            atReassign = {f.view.caption(ViewLabel::LabelFatti),
                          QString::number(f.view.progressValue)};
    });
    QCOMPARE(atReassign, (QStringList{QStringLiteral("1 - Elaborati"), QStringLiteral("2")}));
    QCOMPARE(f.product(1), QStringLiteral("1|000900678|34"));
    QCOMPARE(f.product(2), QStringLiteral("2|000901001|34"));
    QCOMPARE(f.view.progressMaximum, 3);
    QCOMPARE(f.view.progressValue, 3);
    QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
    QVERIFY(f.logLines().isEmpty());
    QCOMPARE(
        listRows(f),
        (QStringList{QStringLiteral("1;=\"gia convertito\";=\"000900678\";;=\"convertito da "
                                    "una conversione precedente e spostato al distributore "
                                    "211\""),
                     QStringLiteral("2;=\"da convertire\";=\"1001\";=\"000901001\";=\"convertito "
                                    "e spostato al distributore 211\"")}));
}

void ConversionRunTest::productsOutside069NamedByRowsAreMovedAndPutBack()
{
    // Rows an earlier run applied name a product of 069 no longer received and one of another
    // distributor: the move reads them itself, and the restore file puts them back.
    RunFixture f({{1, QStringLiteral("678"), QStringLiteral("da convertire"), 12},
                  {3, QStringLiteral("000900777"), QStringLiteral("non in rivendita"), 12, 0},
                  {4, QStringLiteral("000900888"), QStringLiteral("altro distributore"), 99}});
    QVERIFY(fixture::exec(
        f.catalogue,
        QStringLiteral("CREATE TABLE CodiciCorvel (IdProdMod int, CodTestataNuovo nchar(9), "
                       "CodTestataVecchio nchar(9), Titolo nchar(50), Modificato int)")));
    QVERIFY(fixture::exec(f.catalogue,
                          QStringLiteral("INSERT INTO CodiciCorvel VALUES "
                                         "(3,'000900777','000000777','NON IN RIVENDITA',1),"
                                         "(4,'000900888','000000888','ALTRO',1)")));
    const QStringList before = dump(f.catalogue);
    f.table(standardTable());
    f.run();
    QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
    QCOMPARE(f.product(1) + f.product(3) + f.product(4),
             QStringLiteral("1|000900678|343|000900777|344|000900888|34"));
    const QDir logs(f.tp.path(QStringLiteral("LOGS")));
    const QStringList files = logs.entryList({QStringLiteral("Ripristino_*.sql")});
    QCOMPARE(files.size(), 1);
    QCOMPARE(applyRestore(f.catalogue, logs.filePath(files[0])), QString());
    QCOMPARE(dump(f.catalogue), before);
}

void ConversionRunTest::noDistributor069()
{
    RunFixture f(standardProducts(), {{34, QStringLiteral("DL"), QStringLiteral("211")}});
    f.table(standardTable());
    f.run();
    QCOMPARE(f.tp.dialogs.texts(), (QStringList{QStringLiteral("Codice Fieg 069 non trovato!"),
                                                QStringLiteral("Procedura Terminata")}));
    QCOMPARE(f.view.caption(ViewLabel::Label6), QStringLiteral(" Aggiornamento Codici Titoli"));
    QVERIFY(f.view.command1Enabled);
    QVERIFY(!f.view.windowEnabled);
    QCOMPARE(f.view.unloads, 1);
    QCOMPARE(f.product(1), QStringLiteral("1|678|12"));
    QCOMPARE(f.staging().size(), 3); // the load happened before the look-up
}

void ConversionRunTest::noDistributor211LeavesDistributorsAlone()
{
    RunFixture f(standardProducts(), {{12, QStringLiteral("DL"), QStringLiteral("069")}});
    f.table(standardTable());
    f.run();
    QCOMPARE(f.tp.dialogs.texts(), (QStringList{QStringLiteral("Codice Fieg 211 non trovato!"),
                                                QStringLiteral("Procedura Terminata")}));
    QCOMPARE(f.view.unloads, 1);
    QVERIFY(!f.view.windowEnabled);
    QCOMPARE(f.product(1), QStringLiteral("1|000900678|12"));
    QCOMPARE(f.product(2), QStringLiteral("2|000901001|12"));

    // Once the distributor exists, the next run moves what was converted.
    QVERIFY(
        fixture::exec(f.catalogue, QStringLiteral("INSERT INTO Soggetti VALUES (34,'DL','211')")));
    f.run();
    QCOMPARE(f.product(1), QStringLiteral("1|000900678|34"));
    QCOMPARE(f.product(2), QStringLiteral("2|000901001|34"));
}

void ConversionRunTest::emptyDistributor069()
{
    RunFixture f({{4, QStringLiteral("678"), QStringLiteral("altro"), 34}});
    f.table(standardTable());
    int maximum = -1, value = -1;
    f.run([&](Stage s) {
        if (s == Stage::Reassign) {
            maximum = f.view.progressMaximum;
            value = f.view.progressValue;
        }
    });
    QCOMPARE(maximum, 0);
    QCOMPARE(value, 0);
    // The load's count stays; the modified label keeps its design caption.
    QCOMPARE(f.view.caption(ViewLabel::LabelFatti), QStringLiteral("3 - Elaborati"));
    QVERIFY(f.view.history(ViewLabel::LabelModificati).isEmpty());
    QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
}

void ConversionRunTest::trapFileNotFoundAndObjectNotSet_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QStringList>("messagesBeforeDialog");
    QTest::newRow("file not found")
        << 53 << QStringList{QStringLiteral("Impossibile trovare il file")};
    QTest::newRow("object not set") << 91 << QStringList{};
}

void ConversionRunTest::trapFileNotFoundAndObjectNotSet()
{
    QFETCH(int, number);
    QFETCH(QStringList, messagesBeforeDialog);
    RunFixture f(standardProducts());
    f.table(standardTable());
    f.tp.dialogs.fileAnswers.push_back(f.tp.path(kTable));
    // The plan's first look at CodiciCorvel fails once (after the 069 look-up).
    FaultPlan plan{Stage::Plan, {number, QStringLiteral("guasto")}, 1, {"query"}, 1};
    f.run(plan.hook());
    QCOMPARE(f.tp.dialogs.openFileCalls.size(), 1);
    QCOMPARE(f.tp.dialogs.texts(),
             messagesBeforeDialog + QStringList{QStringLiteral("Procedura Completata")});
    QVERIFY(f.logLines().isEmpty());
    QCOMPARE(f.product(1), QStringLiteral("1|000900678|34"));
}

// The engine refuses rows of its own accord: a trigger fails the statement that writes them,
// with an error of the statement's kind (SQLITE_ERROR) or of the row's (a constraint).
void refuseStaging(RunFixture& f, const QString& oldCodes, const QString& failure)
{
    QVERIFY(fixture::exec(
        f.catalogue,
        QStringLiteral("CREATE TABLE CodiciCorvel (IdProdMod int, CodTestataNuovo nchar(9), "
                       "CodTestataVecchio nchar(9), Titolo nchar(50), Modificato int)")));
    QVERIFY(fixture::exec(f.catalogue,
                          QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON CodiciCorvel WHEN "
                                         "NEW.CodTestataVecchio IN (%1) BEGIN SELECT %2; END")
                              .arg(oldCodes, failure)));
}

// A refusal of the statement itself ends the run, logged once, before any product changes.
void ConversionRunTest::trapRejectedCommandEndsTheRun()
{
    RunFixture f(standardProducts());
    f.table(standardTable());
    refuseStaging(f, QStringLiteral("'000001001'"), QStringLiteral("json('no')"));
    f.run();
    const QStringList log = f.logLines();
    QCOMPARE(log.size(), 1);
    QVERIFY(log[0].startsWith(QStringLiteral("ERROR:\tErrore numero: -2147217900 ")));
    QCOMPARE(f.staging().size(), 0);
    QCOMPARE(f.product(2), QStringLiteral("2|1001|12"));
    QCOMPARE(f.product(1), QStringLiteral("1|678|12"));
    QCOMPARE(f.tp.dialogs.shown.size(), 1);
    QCOMPARE(f.tp.dialogs.shown[0].icon, MsgIcon::Critical);
}

void ConversionRunTest::trapOtherErrorsAreLoggedOnce()
{
    RunFixture f(standardProducts());
    f.table(standardTable());
    refuseStaging(f, QStringLiteral("'000001001','000007777'"),
                  QStringLiteral("RAISE(ABORT, 'riga rifiutata')"));
    f.run();
    const QStringList log = f.logLines();
    QCOMPARE(log.size(), 2);
    for (const QString& line : log)
        QVERIFY2(line.startsWith(QStringLiteral("ERROR:\tErrore numero: -2147217873 ")) &&
                     line.contains(QStringLiteral(" Sorgente:CMDiNVERTI riga ")) &&
                     !line.contains(QStringLiteral("riga rifiutata")),
                 qPrintable(line));
    QCOMPARE(f.staging().size(), 1);
    QCOMPARE(f.view.caption(ViewLabel::LabelFatti), QStringLiteral("3 - Elaborati"));
    QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
}

void ConversionRunTest::secondErrorAfterDiversionEndsTheRun()
{
    RunFixture f(standardProducts());
    f.table(standardTable());
    f.tp.dialogs.fileAnswers.push_back(f.tp.path(kTable));
    // The plan's queries: the 069 look-up, then whether CodiciCorvel exists.
    FaultPlan plan{Stage::Plan,
                   {ErrorNumber::ObjectNotSet, QStringLiteral("Variabile oggetto non impostata")},
                   1,
                   {"query"},
                   1};
    auto first = plan.hook();
    FaultPlan second{Stage::Rewrite,
                     {ErrorNumber::CommandText, QStringLiteral("Sintassi errata")},
                     0,
                     {"query"},
                     1};
    auto then = second.hook();
    f.run([&](Stage s) {
        first(s);
        then(s);
    });
    QCOMPARE(f.tp.dialogs.openFileCalls.size(), 1);
    QCOMPARE(f.tp.dialogs.shown.size(), 1);
    QCOMPARE(f.tp.dialogs.shown[0].text, QStringLiteral("Sintassi errata"));
    QCOMPARE(f.tp.dialogs.shown[0].icon, MsgIcon::Critical);
    QVERIFY(f.view.command1Enabled);
    QVERIFY(f.view.windowEnabled);
    QCOMPARE(f.view.unloads, 0);
}

// Runs f; from the stage at on, the catalogue refuses what the trigger's event names, as SQL
// Server refuses an over-long value.
void runRefusing(RunFixture& f, Stage at, const QString& event)
{
    f.run([&](Stage s) {
        if (s == at)
            QVERIFY(fixture::exec(f.catalogue,
                                  QStringLiteral("CREATE TRIGGER refuse %1 BEGIN SELECT "
                                                 "RAISE(ABORT, 'String or binary data would be "
                                                 "truncated'); END")
                                      .arg(event)));
    });
}

void ConversionRunTest::refusedConversionChangesNeither_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::newRow("new code refused")
        << "BEFORE UPDATE OF CodiceTestata ON Prodotti WHEN NEW.IDProd = 2";
    QTest::newRow("mark refused") << "BEFORE UPDATE ON CodiciCorvel WHEN NEW.IdProdMod = 2";
}

void ConversionRunTest::refusedConversionChangesNeither()
{
    QFETCH(QString, trigger);
    RunFixture f(standardProducts());
    f.table(standardTable());
    runRefusing(f, Stage::Rewrite, trigger);
    // Product 2 (code 1001) is refused alone; product 1, in the same batch, converts.
    QCOMPARE(f.product(2), QStringLiteral("2|1001|12"));
    QCOMPARE(f.product(1), QStringLiteral("1|000900678|34"));
    QCOMPARE(f.staging().at(1), QStringLiteral("0|000901001|000001001|RIVISTA DUE|0"));
    const QStringList log = f.logLines();
    QCOMPARE(log.size(), 1);
    QVERIFY(log[0].startsWith(QStringLiteral("ERROR:\tErrore numero: -2147217833 ")));
    QCOMPARE(f.view.caption(ViewLabel::LabelModificati), QStringLiteral("1 - Modificati"));
    QCOMPARE(f.view.caption(ViewLabel::LabelFatti), QStringLiteral("3 - Elaborati"));
    QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
}

void ConversionRunTest::refusedMoveIsListed()
{
    // The catalogue refuses to move product 2 alone: converted, it stays on 069 and says why.
    RunFixture f(standardProducts());
    f.table(standardTable());
    runRefusing(f, Stage::Reassign,
                QStringLiteral("BEFORE UPDATE OF IDDL ON Prodotti WHEN NEW.IDProd = 2"));
    QCOMPARE(f.product(1) + f.product(2), QStringLiteral("1|000900678|342|000901001|12"));
    const QStringList rows = listRows(f);
    QVERIFY2(
        rows.contains(QStringLiteral("1;=\"Giornale uno\";=\"678\";=\"000900678\";=\"convertito "
                                     "e spostato al distributore 211\"")),
        qPrintable(rows.join(u'\n')));
    // A field with the separator goes between quotes, its own doubled.
    QVERIFY2(rows.contains(QStringLiteral(
                 "2;=\"Rivista due\";=\"1001\";=\"000901001\";\"=\"\"convertito; spostamento al "
                 "distributore 211 non riuscito: un valore e' piu' lungo di quanto la tabella "
                 "ammette\"\"\"")),
             qPrintable(rows.join(u'\n')));
    QCOMPARE(f.logLines().size(), 1);
    QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
}

void ConversionRunTest::unreadableListEndsThePass()
{
    RunFixture f(standardProducts());
    f.table(standardTable());
    // The plan's queries: the 069 look-up, whether CodiciCorvel exists, the products.
    FaultPlan plan{Stage::Plan,
                   {ErrorNumber::ConversionFailed, QStringLiteral("Conversione non riuscita")},
                   2,
                   {"query"},
                   1};
    f.run(plan.hook());
    QCOMPARE(f.product(1), QStringLiteral("1|678|12"));
    QCOMPARE(f.product(2), QStringLiteral("2|1001|12"));
    QCOMPARE(f.logLines().size(), 1);
    QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
}

void ConversionRunTest::engineFailureEndsTheRun_data()
{
    QTest::addColumn<int>("stage");
    QTest::addColumn<QByteArray>("operation");
    QTest::addColumn<int>("skip");
    QTest::addColumn<qint32>("number");
    QTest::newRow("busy while staging")
        << int(Stage::Staging) << QByteArray("execute") << 3 << ErrorNumber::Unspecified;
    QTest::newRow("lost connection in the rewrite")
        << int(Stage::Rewrite) << QByteArray("execute") << 1 << ErrorNumber::Unspecified;
    QTest::newRow("commit refused in the rewrite")
        << int(Stage::Rewrite) << QByteArray("commit") << 0 << ErrorNumber::Unspecified;
    QTest::newRow("permission refused at the reassignment")
        << int(Stage::Reassign) << QByteArray("execute") << 0 << ErrorNumber::AccessDenied;
    QTest::newRow("distributors unreadable at the reassignment")
        << int(Stage::Reassign) << QByteArray("query") << 0 << ErrorNumber::ConversionFailed;
    // The plan's queries: the 069 look-up, whether CodiciCorvel exists, the products.
    QTest::newRow("unknown number reading the products")
        << int(Stage::Plan) << QByteArray("query") << 2 << qint32(-2147217887);
    // Every value is bound: a refused text or object is the statement's fault, not a row's.
    QTest::newRow("syntax refused while staging")
        << int(Stage::Staging) << QByteArray("execute") << 3 << ErrorNumber::CommandText;
    QTest::newRow("unknown object in the rewrite")
        << int(Stage::Rewrite) << QByteArray("execute") << 1 << ErrorNumber::UnknownObject;
}

void ConversionRunTest::engineFailureEndsTheRun()
{
    QFETCH(int, stage);
    QFETCH(QByteArray, operation);
    QFETCH(int, skip);
    QFETCH(qint32, number);
    RunFixture f(standardProducts());
    f.table(standardTable());
    FaultPlan plan{Stage(stage), {number, QStringLiteral("motore in errore")}, skip, {operation}};
    f.run(plan.hook());
    QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("motore in errore")});
    QCOMPARE(f.tp.dialogs.shown[0].icon, MsgIcon::Critical);
    QCOMPARE(f.logLines(), QStringList{QStringLiteral("ERROR:\tErrore numero: %1 Descrizione: "
                                                      "motore in errore Sorgente:CMDiNVERTI ")
                                           .arg(number)});
    QVERIFY(f.view.command1Enabled);
    QVERIFY(f.view.windowEnabled);
    QCOMPARE(f.view.unloads, 0);
    // Nothing half-applied: a product holds its new code exactly when its row is marked.
    for (const QString& row : f.staging()) {
        const QStringList field = row.split(QLatin1Char('|'));
        if (field[0] != QLatin1String("0"))
            QVERIFY(f.product(field[0].toInt()).startsWith(field[0] + '|' + field[1]));
    }
    QVERIFY(f.product(1) == QStringLiteral("1|678|12") ||
            f.staging().contains(QStringLiteral("1|000900678|000000678|GIORNALE UNO|1")));
    // The list keeps what was decided before the failure: every converted product.
    const QStringList rows = f.staging().filter(QRegularExpression(QStringLiteral("^[1-9]")));
    for (const QString& row : rows) {
        const QString id = row.section(QLatin1Char('|'), 0, 0);
        QVERIFY2(listRows(f)
                         .filter(QRegularExpression(QLatin1Char('^') + id + QLatin1Char(';')))
                         .size() == 1,
                 qPrintable(row));
    }
}

void ConversionRunTest::lockedCatalogueEndsTheRun_data()
{
    QTest::addColumn<QString>("held"); // and product 1 afterwards
    QTest::addColumn<bool>("restore"); // held for "Ripristina" after a run
    QTest::newRow("for good") << QStringLiteral("for good|1|678|12") << false;
    QTest::newRow("released during the wait") << QStringLiteral("released|1|000900678|34") << false;
    QTest::newRow("Chiudi during the wait") << QStringLiteral("Chiudi|1|678|12") << false;
    QTest::newRow("Ripristina, for good") << QStringLiteral("for good|1|000900678|34") << true;
    QTest::newRow("Ripristina, released") << QStringLiteral("released|1|678|12") << true;
    QTest::newRow("Ripristina, Chiudi") << QStringLiteral("Chiudi|1|000900678|34") << true;
}

void ConversionRunTest::lockedCatalogueEndsTheRun()
{
    QFETCH(QString, held);
    const QString product1 = held.section(QLatin1Char('|'), 1);
    held = held.section(QLatin1Char('|'), 0, 0);
    QFETCH(bool, restore);
    RunFixture f(standardProducts());
    f.table(standardTable());
    if (restore) {
        f.run();
        f.view.unloads = 0;
        f.tp.dialogs.messageAnswers.push_back(MsgAnswer::Yes);
    }
    const qsizetype shown = f.tp.dialogs.shown.size() + (restore ? 1 : 0);
    // Another program holds the catalogue's write lock from before the button is pressed.
    db::setLockTimeoutMs(held == QLatin1String("for good") ? 500 : 20000);
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "other");
        other.setDatabaseName(f.catalogue);
        QVERIFY(other.open());
        QSqlQuery lock(other);
        QVERIFY(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
        f.view.onWait = [&] {
            if (held == QLatin1String("released"))
                lock.exec(QStringLiteral("ROLLBACK"));
            f.view.closePressed = held == QLatin1String("Chiudi");
        };
        if (restore)
            Restore(f.tp.platform, f.log, f.config, f.view).execute();
        else
            f.run();
        lock.exec(QStringLiteral("ROLLBACK"));
    }
    QSqlDatabase::removeDatabase("other");
    db::setLockTimeoutMs(20000);
    QVERIFY(f.view.waits.first().startsWith(QStringLiteral("In attesa: il database e' bloccato")));
    QVERIFY(f.view.waits.last().isEmpty());
    QCOMPARE(f.product(1), product1);
    if (held == QLatin1String("released"))
        return;
    // Chiudi closes the window without a box; past the bound, what to do about it, then the
    // engine's own words.
    const QStringList texts = f.tp.dialogs.texts().mid(shown);
    QCOMPARE(f.view.unloads, held == QLatin1String("Chiudi") ? 1 : 0);
    QCOMPARE(texts.size(), held == QLatin1String("Chiudi") ? 0 : 1);
    QVERIFY(texts.isEmpty() || (texts[0].startsWith(QStringLiteral("Un altro programma")) &&
                                texts[0].contains(QStringLiteral("locked"))));
    QCOMPARE(f.logLines().size(), 1);
    QVERIFY(f.view.windowEnabled);
}

void ConversionRunTest::logsFolderRefusingWritesSaysSo()
{
    RunFixture f(standardProducts());
    f.table(standardTable());
    FaultyTextFiles files(f.tp.files);
    files.failOn(QStringLiteral("createFolder"),
                 {ErrorNumber::PermissionDenied, QStringLiteral("Accesso negato: LOGS")});
    const Platform platform{f.tp.folder(), f.tp.clock,      f.tp.dialogs,
                            files,         f.tp.downloader, f.tp.shell};
    ErrorLog log(f.tp.folder(), f.tp.clock, files);
    ConversionRun(platform, log, f.config, f.view, f.TabellaCodiciFile).execute();
    // Nothing changes; the box says why, and that the log could not be written either.
    const QStringList texts = f.tp.dialogs.texts();
    QCOMPARE(texts.size(), 1);
    QVERIFY2(texts[0].contains(QStringLiteral("ripristino")) &&
                 texts[0].endsWith(QStringLiteral("registro degli errori: Accesso negato: LOGS")),
             qPrintable(texts[0]));
    QCOMPARE(f.product(1), QStringLiteral("1|678|12"));
    QVERIFY(f.view.windowEnabled && !f.view.labelVisible(ViewLabel::Label6));
}

void ConversionRunTest::catalogueNamesInLogs()
{
    // Files of its own for each catalogue, whatever its name holds, that any folder takes; an
    // ordinary name as it is. None needs the _2 of a second run in the same second.
    TestPlatform tp;
    for (const QString& catalogue : QStringList{"MIRKEL_2012", "MIRKEL]2012", "MIRKEL;2012",
                                                QString(240, u'M'), QString(240, u'M') + u'X'}) {
        QString path;
        std::unique_ptr<TextWriter> writer;
        QVERIFY(!createRunFile(tp.platform, "Ripristino", catalogue, tp.clock.now(), "sql",
                               Encoding::CodePage, path, writer)
                     .failed());
        const QString name = QFileInfo(path).fileName();
        QVERIFY2(name.endsWith("_2012_12_10_100000.sql") && name.size() <= 100, qPrintable(name));
        QVERIFY(catalogue != "MIRKEL_2012" ||
                name == "Ripristino_MIRKEL_2012_2012_12_10_100000.sql");
    }
}

void ConversionRunTest::secondRunAtOnceGivesTheWindowBack()
{
    RunFixture f(standardProducts());
    f.table(standardTable());
    // The other cash desk presses the button while this run is in its rewrite.
    FakeView otherView;
    QString otherFile;
    f.run([&](Stage s) {
        if (s != Stage::Rewrite)
            return;
        ConversionRun other(f.tp.platform, f.log, f.config, otherView, otherFile);
        other.execute();
    });
    // The message as it was, then the lock file and its holder: this PC, this process.
    QCOMPARE(f.tp.dialogs.texts().size(), 2);
    const QString refused = f.tp.dialogs.texts()[0];
    const QString expectedStart = kAnotherRun + QStringLiteral("\n\nFile di blocco: ") +
                                  QDir::toNativeSeparators(f.catalogue + QStringLiteral(".lock")) +
                                  QStringLiteral("\nPC: ");
    QVERIFY2(refused.startsWith(expectedStart), qPrintable(refused));
    QVERIFY2(
        refused.contains(QStringLiteral("\nProcesso: %1").arg(QCoreApplication::applicationPid())),
        qPrintable(refused));
    QVERIFY2(QRegularExpression(QStringLiteral("\nDal: \\d\\d/\\d\\d/\\d{4} "
                                               "\\d\\d:\\d\\d:\\d\\d$"))
                 .match(refused)
                 .hasMatch(),
             qPrintable(refused));
    QCOMPARE(f.tp.dialogs.shown[0].icon, MsgIcon::Exclamation);
    QCOMPARE(f.tp.dialogs.texts()[1], QStringLiteral("Procedura Completata"));
    QVERIFY(otherView.command1Enabled);
    QVERIFY(otherView.windowEnabled);
    QCOMPARE(otherView.unloads, 0);
    QCOMPARE(f.product(1), QStringLiteral("1|000900678|34"));
    QCOMPARE(f.staging().size(), 3);

    // Once the first has ended, the second may run: it finds nothing left to do.
    ConversionRun again(f.tp.platform, f.log, f.config, otherView, otherFile);
    again.execute();
    QCOMPARE(f.tp.dialogs.texts().last(), QStringLiteral("Procedura Completata"));
    QCOMPARE(f.staging().size(), 3);
}

void ConversionRunTest::lockLeftOnAnotherPcIsNamed()
{
    RunFixture f(standardProducts());
    f.table(standardTable());
    // The program on the other cash desk died holding the lock: its process cannot be seen
    // from here, so the lock is not taken over; the message says where it is and whose it is.
    const QString lockFile = f.catalogue + QStringLiteral(".lock");
    {
        QFile file(lockFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("4242\nConvertiCodiceTestata.exe\nCASSA2\n");
        QVERIFY(file.flush());
        QVERIFY(file.setFileTime(QDateTime(QDate(2012, 12, 10), QTime(9, 30)),
                                 QFileDevice::FileModificationTime));
    }
    f.run();
    QCOMPARE(f.tp.dialogs.texts(),
             QStringList{kAnotherRun + QStringLiteral("\n\nFile di blocco: ") +
                         QDir::toNativeSeparators(lockFile) +
                         QStringLiteral("\nPC: CASSA2\nProcesso: 4242 (ConvertiCodiceTestata.exe)"
                                        "\nDal: 10/12/2012 09:30:00")});
    QCOMPARE(f.tp.dialogs.shown[0].icon, MsgIcon::Exclamation);
    QVERIFY(f.view.command1Enabled);
    QVERIFY(f.view.windowEnabled);
    QVERIFY(f.logLines().isEmpty());
    QCOMPARE(f.product(1), QStringLiteral("1|678|12"));
    QVERIFY(QFile::exists(lockFile));
}

void ConversionRunTest::deadRunsLockWithThisProcessIdIsTakenOver()
{
    RunFixture f(standardProducts());
    f.table(standardTable());
    // The lock file a killed run left, naming the id this process now has.
    QLockFile live(f.catalogue + QStringLiteral(".live"));
    QVERIFY(live.tryLock(0));
    QFile from(f.catalogue + QStringLiteral(".live")), to(f.catalogue + QStringLiteral(".lock"));
    QVERIFY(from.open(QIODevice::ReadOnly) && to.open(QIODevice::WriteOnly));
    QVERIFY(to.write(from.readAll()) > 0);
    to.close();
    f.run();
    QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
}

void ConversionRunTest::codesMatchAsNumbers_data()
{
    QTest::addColumn<QString>("productCode");
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("logged");
    QTest::addColumn<QString>("listed"); // the old code as the list writes it
    const QByteArray standard = standardTable();
    QTest::newRow("decimal old code is a bad line")
        << "1" << QByteArray("77\tdecimale\t1.5\t1\t\r\n88\tuno\t1\t1\t\r\n") << "000000088" << 1
        << "=\"1\"";
    QTest::newRow("negative new code is a bad line")
        << "2" << QByteArray("-66\tx\t2\t1\t\r\n9\ty\t9\t1\t\r\n") << "2" << 1 << "=\"2\"";
    QTest::newRow("seventeen digits are a bad line")
        << "3" << QByteArray("12345678901234567\tlungo\t3\t1\t\r\n9\ty\t9\t1\t\r\n") << "3" << 1
        << "=\"3\"";
    QTest::newRow("fifteen digits keep their last nine")
        << "987654321"
        << QByteArray("999999999999999\tlungo\t123456789987654321\t1\t\r\n"
                      "5\tcorto\t999987654321\t1\t\r\n")
        << "000000005" << 1 << "=\"987654321\"";
    QTest::newRow("whole number written as decimal")
        << "7" << QByteArray("70\tsette\t7.0\t1\t\r\n") << "000000070" << 0 << "=\"7\"";
    QTest::newRow("sign") << "+678" << standard << "000900678" << 0 << "=\"+678\"";
    QTest::newRow("decimal part") << "678.0" << standard << "000900678" << 0 << "=\"678.0\"";
    QTest::newRow("exponent") << "6.78e2" << standard << "000900678" << 0 << "=\"6.78e2\"";
    QTest::newRow("blanks and zeros")
        << " 000678 " << standard << "000900678" << 0 << "=\" 000678 \"";
    QTest::newRow("tab and line ends around")
        << "\t678\r\n"
        << standard << "000900678" << 0 << "\"=\"\"\t678\r\n\"\"\"";
    QTest::newRow("not a number") << "678abc" << standard << "678abc" << 0 << "=\"678abc\"";
    QTest::newRow("empty") << "" << standard << "" << 0 << "";
    // Excel's text constants hold 255 characters: a doubled quote counts two and is not split.
    const QString x(150, u'x'), y(149, u'y');
    QTest::newRow("long, with a quote")
        << x + '"' + y << standard << x + '"' + y << 0
        << "=\"" + x + "\"\"" + y.left(103) + "\"&\"" + y.mid(103) + '"';
}

void ConversionRunTest::codesMatchAsNumbers()
{
    QFETCH(QString, productCode);
    QFETCH(QByteArray, table);
    QFETCH(QString, expected);
    QFETCH(int, logged);
    QFETCH(QString, listed);
    RunFixture f({{1, productCode, QStringLiteral("prodotto"), 12}});
    // Rows an older tool left: codes that are no number match nothing and stop nothing.
    QVERIFY(fixture::exec(
        f.catalogue,
        QStringLiteral("CREATE TABLE CodiciCorvel (IdProdMod int, CodTestataNuovo nchar(9), "
                       "CodTestataVecchio nchar(9), Titolo nchar(50), Modificato int)")));
    QVERIFY(fixture::exec(f.catalogue, QStringLiteral("INSERT INTO CodiciCorvel VALUES "
                                                      "(0,'000000011','000000-66','VECCHIO',0),"
                                                      "(0,'000000012','12346E+16','VECCHIO',0),"
                                                      "(0,'000000013','abc','VECCHIO',0)")));
    f.table(table);
    f.run();
    QCOMPARE(f.product(1).section(QLatin1Char('|'), 1, 1), expected);
    QCOMPARE(f.logLines().size(), logged);
    QCOMPARE(f.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
    QVERIFY2(listRows(f).join("\r\n").contains(";=\"prodotto\";" + listed + ';'),
             qPrintable(listRows(f).join("\r\n")));
}

void ConversionRunTest::rerunAfterInterruptionReachesTheSameEnd_data()
{
    QTest::addColumn<int>("stage");
    QTest::addColumn<int>("skip");
    QTest::newRow("after the staging load") << int(Stage::Rewrite) << 0;
    QTest::newRow("half way through the rewrite") << int(Stage::Rewrite) << 5;
    QTest::newRow("at the reassignment") << int(Stage::Reassign) << 0;
}

void ConversionRunTest::rerunAfterInterruptionReachesTheSameEnd()
{
    QFETCH(int, stage);
    QFETCH(int, skip);
    QList<ProductRow> products = standardProducts();
    for (int i = 0; i < 8; ++i)
        products.append({100 + i, QString::number(2000 + i), QStringLiteral("extra"), 12});
    QByteArray table = standardTable();
    for (int i = 0; i < 8; ++i)
        table += QByteArray::number(95000 + i) + "\textra\t" + QByteArray::number(2000 + i) +
                 "\t1\t\r\n";

    RunFixture reference(products);
    reference.table(table);
    reference.run();

    RunFixture f(products);
    f.table(table);
    // From that point on the database is gone.
    FaultPlan plan{Stage(stage),
                   {ErrorNumber::Unreachable, QStringLiteral("connessione persa")},
                   skip,
                   {},
                   -1};
    f.run(plan.hook());
    QVERIFY(fixture::snapshot(f.catalogue) != fixture::snapshot(reference.catalogue));
    // The distributor look-up reports its own failure as a missing distributor.
    QVERIFY(f.view.windowEnabled || f.view.unloads == 1);

    f.run();
    QCOMPARE(fixture::snapshot(f.catalogue), fixture::snapshot(reference.catalogue));
}

// "Ripristina", pressed as the operator would: yes to its question, which offers every file
// and, when products is not 0, that many products. With failAt, the first press fails at that
// statement and must leave the catalogue as it found it. printed gets the list's rows of the
// products left and the last box's numbers.
void pressRipristina(RunFixture& f, int failAt, QStringList& printed, int products = 2105)
{
    Restore restore(f.tp.platform, f.log, f.config, f.view);
    // A catalogue whose name differs only in what a file name cannot hold shares the name.
    const QDir logs(f.tp.path(QStringLiteral("LOGS")));
    const QStringList files = logs.entryList({QStringLiteral("Ripristino_*.sql")});
    QByteArray other = f.tp.readFile(QStringLiteral("LOGS/") + files.value(0));
    const qsizetype end = other.indexOf("\r\n", other.indexOf("\r\n-- catalogo: ") + 2);
    other.insert(end, other.contains("\r\nGO\r\n") ? " + NCHAR(224)" : " || char(224)");
    f.tp.writeFile(QStringLiteral("LOGS/Ripristino_MIRKEL2012_9.sql"), other);
    if (failAt > 0) {
        const QStringList before = dump(f.catalogue);
        int seen = 0;
        db::setFaultHook([&seen, failAt](const char* op) {
            return QByteArray(op) == "execute" && ++seen == failAt
                       ? Error{ErrorNumber::DeviceIo, QStringLiteral("interrotto")}
                       : Error();
        });
        f.tp.dialogs.messageAnswers.push_back(MsgAnswer::Yes);
        restore.execute();
        db::setFaultHook({});
        QCOMPARE(f.tp.dialogs.shown.last().icon, MsgIcon::Critical);
        QCOMPARE(dump(f.catalogue), before);
    }
    f.tp.dialogs.messageAnswers.push_back(MsgAnswer::Yes);
    restore.execute();
    const ShownMessage question = f.tp.dialogs.shown[f.tp.dialogs.shown.size() - 2];
    QCOMPARE(question.buttons, MsgButtons::YesNo);
    QVERIFY(products == 0 ||
            question.text.contains(
                QStringLiteral("conversione del 10/12/2012 10:00:00: %1 prodotti").arg(products)));
    QCOMPARE(question.text.count(QStringLiteral("- conversione del")), files.size());
    const ShownMessage done = f.tp.dialogs.shown.last();
    QCOMPARE(done.text, QStringLiteral("Ripristino completato."));
    for (const QString& row : listRows(f, QStringLiteral("Ripristinati")))
        if (row.contains(QStringLiteral("Lasciato")))
            printed << row;
    printed << done.details.section(u'\n', 0, 0);
    // Applied files carry their mark: a second press offers nothing.
    restore.execute();
    QCOMPARE(f.tp.dialogs.shown.last().text,
             QStringLiteral("Nessun file di ripristino da applicare per il catalogo MIRKEL2012."));
}

void ConversionRunTest::restoreFilesPutTheCatalogueBack_data()
{
    QTest::addColumn<int>("stage"); // where the first run loses its database; -1 nowhere
    QTest::addColumn<QByteArray>("operation");
    QTest::addColumn<int>("skip");
    // "Ripristina" instead of the files run by hand: 0 no, 1 yes, more: its first press fails
    // at that statement, as a kill would leave it (the file under way rolled back); -1 yes, on
    // a file a crash cut in a block that never committed, whose end is no failure; -2 yes, after
    // the files were run by hand, which leaves it nothing to put back.
    QTest::addColumn<int>("press");
    QTest::newRow("two whole runs") << -1 << QByteArray() << 0 << 0;
    QTest::newRow("lost in the staging load")
        << int(Stage::Staging) << QByteArray("commit") << 1 << 0;
    QTest::newRow("lost half way through the rewrite")
        << int(Stage::Rewrite) << QByteArray("commit") << 1 << 0;
    QTest::newRow("lost at the reassignment")
        << int(Stage::Reassign) << QByteArray("execute") << 0 << 0;
    QTest::newRow("restore file cannot be written") << -1 << QByteArray("sync") << 0 << 0;
    // The header's thirteen lines, two blocks of the staging load with their trailers; the disk
    // fills up half way through the rewrite's first block.
    QTest::newRow("disk full in the third block") << -1 << QByteArray("writeLine") << 18 << 0;
    // The third block is on the disk, the second's trailer half turned into a comment.
    QTest::newRow("disk full spending a trailer") << -1 << QByteArray("rewriteLine") << 2 << 0;
    QTest::newRow("the host changed products since") << -1 << QByteArray("host") << 0 << 0;
    QTest::newRow("by Ripristina") << -1 << QByteArray("host") << 0 << 1;
    // After the products were put back, before the commit.
    QTest::newRow("by Ripristina, stopped in a file") << -1 << QByteArray("host") << 0 << 32;
    QTest::newRow("by Ripristina, the file cut by a crash") << -1 << QByteArray("host") << 0 << -1;
    QTest::newRow("by hand, then by Ripristina") << -1 << QByteArray("host") << 0 << -2;
    // Two files, the newer one over what the older one left: newest first.
    QTest::newRow("lost half way through the rewrite, by Ripristina")
        << int(Stage::Rewrite) << QByteArray("commit") << 1 << 1;
}

void ConversionRunTest::restoreFilesPutTheCatalogueBack()
{
    QFETCH(int, stage);
    QFETCH(QByteArray, operation);
    QFETCH(int, skip);
    QFETCH(int, press);
    // More changes a stage than one transaction holds, so that it commits more than once.
    QList<ProductRow> products = standardProducts();
    products << ProductRow{6, QStringLiteral(" 0042\t"), QStringLiteral("L'Espresso \"oggi\""), 12}
             << ProductRow{7, QString(), QStringLiteral("Senza codice"), 12};
    QByteArray table = standardTable() + "900042\tl'espresso \"oggi\"\t42\t1\t\r\n";
    const int extra = int(db::HostCatalog::rowsPerStatement(db::Engine::Sqlite)) + 100;
    for (int i = 0; i < extra; ++i) {
        products.append({100 + i, QString::number(20000 + i), QStringLiteral("extra"), 12});
        table += QByteArray::number(950000 + i) + "\textra\t" + QByteArray::number(20000 + i) +
                 "\t1\t\r\n";
    }
    RunFixture f(products);
    f.table(table);
    // Rows an older run left: one applied to product 7, which has neither code nor
    // distributor; one free, whose new code holds a quote, for product 3 (code 555).
    QVERIFY(fixture::exec(
        f.catalogue,
        QStringLiteral("CREATE TABLE CodiciCorvel (IdProdMod int, CodTestataNuovo nchar(9), "
                       "CodTestataVecchio nchar(9), Titolo nchar(50), Modificato int)")));
    QVERIFY(fixture::exec(f.catalogue, QStringLiteral("INSERT INTO CodiciCorvel VALUES "
                                                      "(7,'000000999','000000777','VECCHIO',1),"
                                                      "(NULL,'9''55','000000555',NULL,0)")));
    QVERIFY(
        fixture::exec(f.catalogue, QStringLiteral("UPDATE Prodotti SET IDDL=NULL WHERE IDProd=7")));
    const QStringList before = dump(f.catalogue);

    FaultyTextFiles files(f.tp.files);
    const bool cut = operation == "writeLine" || operation == "rewriteLine";
    const bool fileFails = cut || operation == "sync";
    files.writePartway(true);
    if (fileFails)
        files.failOn(QString::fromLatin1(operation),
                     {ErrorNumber::DeviceIo, QStringLiteral("disco pieno")}, skip);
    const Platform platform{f.tp.folder(), f.tp.clock,      f.tp.dialogs,
                            files,         f.tp.downloader, f.tp.shell};
    ConversionRun first(platform, f.log, f.config, f.view, f.TabellaCodiciFile);
    FaultPlan plan{
        Stage(stage), {ErrorNumber::Unspecified, QStringLiteral("persa")}, skip, {operation}};
    first.setStageHook(plan.hook());
    first.execute();
    if (cut) {
        // Cut back to the staging load's two blocks, which committed: they alone restore.
        QVERIFY(f.tp.dialogs.shown.last().text.contains(QStringLiteral("integro")));
        const QDir logs(f.tp.path(QStringLiteral("LOGS")));
        const QStringList files = logs.entryList({QStringLiteral("Ripristino_*.sql")});
        QCOMPARE(files.size(), 1);
        QCOMPARE(applyRestore(f.catalogue, logs.filePath(files[0])), QString());
        QCOMPARE(dump(f.catalogue), before);
    }
    if (operation == "sync") {
        QCOMPARE(dump(f.catalogue), before);
        QCOMPARE(f.logLines().size(), 1);
        QVERIFY(f.logLines()[0].contains(QStringLiteral("ripristino")));
        QCOMPARE(f.tp.dialogs.shown.last().icon, MsgIcon::Critical);
    }
    f.run();
    QCOMPARE(f.tp.dialogs.texts().last(), QStringLiteral("Procedura Completata"));
    QCOMPARE(f.product(3), QStringLiteral("3|9'55|34"));

    // The host recodes a converted product, moves another to a third distributor and adds
    // one to 211: those stay as it left them, and the file lists the first two.
    const auto exec = [&](const char* sql) {
        return fixture::exec(f.catalogue, QString::fromLatin1(sql));
    };
    const bool host = operation == "host";
    if (host)
        QVERIFY(exec("UPDATE Prodotti SET CodiceTestata='777' WHERE IDProd=100") &&
                exec("UPDATE Prodotti SET IDDL=99 WHERE IDProd=101") &&
                exec("INSERT INTO Prodotti VALUES (5000,'1','nuovo',34,1)"));
    // Newest first, as support runs them.
    const QDir logs(f.tp.path(QStringLiteral("LOGS")));
    QStringList printed;
    const QString newest = QStringLiteral("LOGS/Ripristino_MIRKEL2012_2012_12_10_100000.sql");
    if (press == -1)
        f.tp.writeFile(newest, f.tp.readFile(newest) +
                                   "BEGIN TRANSACTION;\r\nUPDATE Prodotti SET Testata='x' WHERE "
                                   "IDProd=3;\r\nWITH v (o, n) AS (VALUES\r\n('1;");
    const QStringList restoreFiles =
        logs.entryList({QStringLiteral("Ripristino_MIRKEL2012_2012_12_10_100000*.sql")},
                       QDir::Files, QDir::Name | QDir::Reversed);
    for (int times = press == 0 ? 1 : press == -2 ? 2 : 0; times > 0; --times) {
        printed.clear();
        for (const QString& name : restoreFiles)
            QCOMPARE(applyRestore(f.catalogue, logs.filePath(name), &printed), QString());
    }
    // Run again, the file finds nothing of its own to put back.
    if (press == -2)
        QCOMPARE(printed.last(),
                 QStringLiteral("Ripristino: 0 prodotti rimessi come erano, 2 lasciati perche' "
                                "cambiati dopo la conversione. 2103 prodotti erano gia' come "
                                "prima della conversione: niente da rimettere."));
    if (press != 0) {
        printed.clear();
        pressRipristina(f, press > 1 ? press : 0, printed, host ? 2105 : 0);
        // A product one file found as before and a newer one put back was put back.
        QVERIFY2(press == -2 || !printed.last().contains(QStringLiteral("gia' come prima")),
                 qPrintable(printed.last()));
    }
    if (host) {
        const QStringList left =
            press == 0
                ? QStringList{QStringLiteral("Lasciato: IDProd 100, CodiceTestata 777, IDDL 34: "
                                             "codice cambiato dopo la conversione"),
                              QStringLiteral("Lasciato: IDProd 101, CodiceTestata 000950001, IDDL "
                                             "99: distributore cambiato dopo la conversione"),
                              QStringLiteral("Ripristino: 2103 prodotti rimessi come erano, 2 "
                                             "lasciati perche' cambiati dopo la conversione.")}
                : QStringList{QStringLiteral("100;;=\"777\";=\"777\";=\"Lasciato: codice cambiato "
                                             "dopo la conversione (IDDL ora 34)\""),
                              QStringLiteral("101;;=\"000950001\";=\"000950001\";=\"Lasciato: "
                                             "distributore cambiato dopo la conversione (IDDL ora "
                                             "99)\""),
                              press == -2
                                  ? QStringLiteral("1 file applicati: 0 prodotti rimessi come "
                                                   "erano, 2 lasciati perche' cambiati dopo la "
                                                   "conversione. 2103 prodotti erano gia' come "
                                                   "prima della conversione: niente da rimettere.")
                                  : QStringLiteral("1 file applicati: 2103 prodotti rimessi come "
                                                   "erano, 2 lasciati perche' cambiati dopo la "
                                                   "conversione.")};
        QCOMPARE(printed.mid(printed.size() - 3), left);
        QCOMPARE(f.product(100) + f.product(101) + f.product(5000),
                 QStringLiteral("100|777|34101|000950001|995000|1|34"));
        QVERIFY(exec("UPDATE Prodotti SET CodiceTestata=IDProd+19900, IDDL=12 WHERE IDProd<102 "
                     "AND IDProd>99") &&
                exec("DELETE FROM Prodotti WHERE IDProd=5000"));
    }
    QCOMPARE(dump(f.catalogue), before);
}

void ConversionRunTest::restoreStatementsHoldAtMost500Rows()
{
    // The distributors' block holds every moved product: 1,001 of them make three statements.
    for (const db::Engine engine : {db::Engine::SqlServer, db::Engine::Sqlite}) {
        db::RestoreScript script(engine, QStringLiteral("MIRKEL"));
        for (int id = 0; id < 1001; ++id)
            script.productDistributor({id, QStringLiteral("1")}, 12, 34);
        QList<int> rows;
        for (const QString& statement : script.takeBlock()) {
            if (statement.contains(QStringLiteral("INSERT")))
                rows << int(engine == db::Engine::Sqlite
                                ? statement.count(QStringLiteral("\r\n("))
                                : statement.count(QStringLiteral("SELECT ")) - 1);
        }
        QCOMPARE(rows, (QList<int>{500, 500, 1}));
    }
}

void ConversionRunTest::ripristinaOnSqlServer_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("failAt"); // as in pressRipristina
    QTest::newRow("newest") << QString() << 0;
    QTest::newRow("2000") << QStringLiteral("2000") << 0;
    // In the blocks, their transaction open.
    QTest::newRow("2000, stopped in the file") << QStringLiteral("2000") << 9;
}

void ConversionRunTest::ripristinaOnSqlServer()
{
    // The file's batches through the program's own ODBC connection, on the stand-in.
    QFETCH(QString, version);
    QFETCH(int, failAt);
    if (const QString why = fixture::freeTdsUnavailable(); !why.isEmpty())
        QSKIP(qPrintable(why));
    RunFixture f(standardProducts()
                 << ProductRow{6, QStringLiteral("42"), QStringLiteral("T"), 12});
    f.table(standardTable() + "900042\tt\t42\t1\t\r\n");
    QVERIFY(fixture::exec(
        f.catalogue,
        QStringLiteral("CREATE TABLE CodiciCorvel (IdProdMod int, CodTestataNuovo nchar(9), "
                       "CodTestataVecchio nchar(9), Titolo nchar(50), Modificato int)")));
    fixture::StandIn server;
    const QString why = server.start(f.tp.path(QStringLiteral("db")), QStringLiteral("mirkel"),
                                     QStringLiteral("Pw1"), version);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    f.config.DBServerName = server.server();
    f.config.DBUsername = QStringLiteral("mirkel");
    f.config.DBPassword = QStringLiteral("Pw1");
    const QStringList before = dump(f.catalogue);
    f.run();
    QCOMPARE(f.tp.dialogs.texts().last(), QStringLiteral("Procedura Completata"));
    QVERIFY(
        fixture::exec(f.catalogue, QStringLiteral("UPDATE Prodotti SET CodiceTestata='777' "
                                                  "WHERE IDProd=1")) &&
        fixture::exec(f.catalogue, QStringLiteral("UPDATE Prodotti SET IDDL=99 WHERE IDProd=2")));
    QStringList printed;
    pressRipristina(f, failAt, printed, 3);
    // The list's rows are read as on the embedded engine (e2e_operator_run_sqlserver).
    QCOMPARE(printed.last(), QStringLiteral("1 file applicati: 1 prodotti rimessi come erano, 2 "
                                            "lasciati perche' cambiati dopo la conversione."));
    QVERIFY(fixture::exec(f.catalogue, QStringLiteral("UPDATE Prodotti SET CodiceTestata=CASE "
                                                      "IDProd WHEN 1 THEN '678' ELSE '1001' END, "
                                                      "IDDL=12 WHERE IDProd<3")));
    QCOMPARE(dump(f.catalogue), before);
}

QTEST_GUILESS_MAIN(ConversionRunTest)
#include "ConversionRunTest.moc"
