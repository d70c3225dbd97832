#include "report/MissingCodeReport.h"
#include "app/core/Mod.h"
#include "db/CodeTable.h"
#include "db/Database.h"
#include "tests/support/Fakes.h"
#include "tests/support/HostFixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

namespace {

const QString kDone = QStringLiteral("Aggiornamento CodiciProdotti Terminato");
const QString kFailed = QStringLiteral("Errore: impossibile esportare i dati");
const QString kReport = QStringLiteral("CodiciMancanti/CodiciNonPresenti.txt");
const QString kTableName = QStringLiteral("TabellaCodiciVarno.txt");
// A product code the catalogue holds as Null.
const QString kNull = QStringLiteral("<null>");

// A well-formed code-table line whose old code (third column) is oldCode.
QByteArray line(const QByteArray& oldCode)
{
    return "12345\tTitolo\t" + oldCode + "\t1\t\r\n";
}

QByteArray table(const QList<QByteArray>& lines)
{
    QByteArray bytes;
    for (const QByteArray& l : lines)
        bytes += l;
    return bytes;
}

// A catalogue, a program folder and a window, as the report meets them.
struct Setup
{
    explicit Setup(const QStringList& codes)
    {
        hostFolder = tp.folder() + QStringLiteral("/host");
        QDir().mkpath(hostFolder);
        QList<fixture::ProductRow> rows;
        for (int i = 0; i < codes.size(); ++i)
            rows.append({i + 1, codes[i] == kNull ? QString() : codes[i],
                         QStringLiteral("Titolo %1").arg(i + 1), 12});
        catalogue = fixture::createCatalogue(hostFolder, QStringLiteral("MIRKEL2012"),
                                             fixture::standardSubjects(), rows);
        for (int i = 0; i < codes.size(); ++i) {
            if (codes[i] == kNull)
                fixture::exec(
                    catalogue,
                    QStringLiteral("UPDATE Prodotti SET CodiceTestata=NULL WHERE IDProd=%1")
                        .arg(i + 1));
        }
        config.DBServerName = QStringLiteral("sqlite:") + hostFolder;
        config.DBUsername = QStringLiteral("sa");
        config.DBPassword = QStringLiteral("pw");
        tablePath = tp.path(kTableName);
    }

    void writeTable(const QByteArray& bytes) const { tp.writeFile(kTableName, bytes); }
    Error run() { return run(tp.platform); }
    Error run(const Platform& platform)
    {
        return report::ControllaCodiciNonPresentiNelFile(platform, config, view, tablePath);
    }
    QByteArray report() const { return tp.readFile(kReport); }
    bool reportExists() const { return QFile::exists(tp.path(kReport)); }
    QString toolPath() const
    {
        return QDir::toNativeSeparators(tp.folder() +
                                        QStringLiteral("/CodiciMancanti/MirkelDunso.exe"));
    }

    TestPlatform tp;
    FakeView view;
    HostConfig config;
    QString hostFolder;
    QString catalogue;
    QString tablePath;
};

// The report line of a product, as bytes in the file.
QByteArray reportLine(const QByteArray& code, const QByteArray& title)
{
    return code + "\xA7" + title + " \xA7\r\n";
}

// The report as first written: the table is read from its top for every product, the count
// shown after every compared line. Kept deliberately naive, as the reference to compare with.
struct Quadratic
{
    QByteArray report;
    QStringList fatti;      // LabelFatti as it stands after each product that changed it
    QStringList modificati; // every LabelModificati caption
    bool failed = false;
};

Quadratic quadratic(const QStringList& codes, const std::optional<QByteArray>& tableBytes)
{
    Quadratic q;
    int missing = 0;
    for (int p = 0; p < codes.size(); ++p) {
        if (!tableBytes) {
            q.failed = true;
            return q;
        }
        QList<QByteArray> lines = tableBytes->split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        int compared = 0;
        bool present = false;
        for (QByteArray bytes : lines) {
            if (bytes.endsWith('\r'))
                bytes.chop(1);
            const QString text = QString::fromLatin1(bytes);
            if (text.trimmed().isEmpty() && !text.contains(QLatin1Char('\t')))
                continue;
            const QStringList columns = text.split(QLatin1Char('\t'));
            const bool shortLine = columns.size() < 4;
            bool codeIsNumber = false;
            const double code = codes[p].trimmed().toDouble(&codeIsNumber);
            if (shortLine || (codes[p] != kNull && !codeIsNumber)) {
                if (compared > 0)
                    q.fatti.append(QStringLiteral("%1 - Elaborati").arg(compared));
                q.failed = true;
                return q;
            }
            // A line whose code columns hold no number is refused: it matches nothing.
            if (!CodeTable::readCode(columns[0]) || !CodeTable::readCode(columns[2])) {
                ++compared;
                continue;
            }
            const QString padded = QStringLiteral("00000000000000") +
                                   CodeTable::decimalText(CodeTable::readNumber(columns[2]));
            const double key = CodeTable::readNumber(padded.right(9));
            if (codes[p] != kNull && code == key) {
                present = true;
                break;
            }
            ++compared;
        }
        if (compared > 0)
            q.fatti.append(QStringLiteral("%1 - Elaborati").arg(compared));
        if (!present) {
            const QByteArray code = codes[p] == kNull ? QByteArray() : codes[p].toLatin1();
            q.report += reportLine(code, "Titolo " + QByteArray::number(p + 1));
            q.modificati.append(QStringLiteral("%1 - CodiciMancanti").arg(++missing));
        }
    }
    return q;
}

// Steps ten milliseconds every time it is read; set back by backMs after the first read.
class SteppingClock final : public Clock
{
public:
    QDateTime now() const override
    {
        ++reads;
        return start.addMSecs(10 * reads - (reads > 1 ? backMs : 0));
    }
    QDateTime start = QDateTime(QDate(2012, 12, 10), QTime(10, 0, 0));
    qint64 backMs = 0;
    mutable qint64 reads = 0;
};

// Reads the report at the moment the companion tool is started.
class PeekingShell final : public Shell
{
public:
    explicit PeekingShell(QString report) : report_(std::move(report)) {}
    void openFolder(const QString&) override {}
    bool startDetached(const QString&, const QStringList&) override
    {
        QFile file(report_);
        if (file.open(QIODevice::ReadOnly))
            seen = file.readAll();
        return true;
    }
    QByteArray seen;

private:
    QString report_;
};

void verifyFailureShown(const FakeDialogs& dialogs)
{
    QCOMPARE(dialogs.shown.size(), 1);
    QCOMPARE(dialogs.shown[0].text, kFailed);
    QCOMPARE(dialogs.shown[0].icon, MsgIcon::None);
    QCOMPARE(dialogs.shown[0].title, Dialogs::defaultTitle());
    QCOMPARE(dialogs.shown[0].buttons, MsgButtons::Ok);
}

} // namespace

class MissingCodeReportTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { db::setFaultHook({}); }

    void numericMatching_data();
    void numericMatching();
    void missingLineLayout();
    void blankLinesNotCounted();
    void emptyTableReportsEveryProduct_data();
    void emptyTableReportsEveryProduct();
    void noProduct();
    void existingReport_data();
    void existingReport();
    void shortLineFailsAtTheProductThatReachesIt();
    void nonNumericCodeKeepsEarlierLines();
    void sameAsQuadraticSearch_data();
    void sameAsQuadraticSearch();
    void failures_data();
    void failures();
    void connectionFailureIsReturned();
    void companionToolCommandLine();
    void companionToolThatCannotStart();
    void reportCompleteWhenToolStarts();
    void pumpsNeitherNeverNorPerLine_data();
    void pumpsNeitherNeverNorPerLine();
};

void MissingCodeReportTest::numericMatching_data()
{
    QTest::addColumn<QByteArray>("tableCode");
    QTest::addColumn<QString>("productCode");
    QTest::addColumn<bool>("present");
    QTest::newRow("leading zeros in the table") << QByteArray("0678") << "678" << true;
    QTest::newRow("leading zeros in the product") << QByteArray("678") << "000678" << true;
    QTest::newRow("blanks around the product code") << QByteArray("678") << " 678 " << true;
    QTest::newRow("another code") << QByteArray("678") << "679" << false;
    QTest::newRow("ten digits keep their last nine")
        << QByteArray("1234567890") << "234567890" << true;
    QTest::newRow("ten-digit product code is not cut")
        << QByteArray("1234567890") << "1234567890" << false;
    QTest::newRow("non-numeric column matches nothing") << QByteArray("abc") << "0" << false;
    QTest::newRow("decimal product code") << QByteArray("678") << "678.0" << true;
    QTest::newRow("line the run does not stage") << QByteArray("-66") << "0" << false;
}

void MissingCodeReportTest::numericMatching()
{
    QFETCH(QByteArray, tableCode);
    QFETCH(QString, productCode);
    QFETCH(bool, present);
    Setup s({productCode});
    s.writeTable(line(tableCode));
    QVERIFY(!s.run().failed());
    QCOMPARE(s.tp.dialogs.texts(), QStringList{kDone});
    QCOMPARE(s.report().isEmpty(), present);
}

void MissingCodeReportTest::missingLineLayout()
{
    Setup s({QStringLiteral("00123")});
    fixture::exec(s.catalogue, QStringLiteral("UPDATE Prodotti SET Testata='Città d''oro'"));
    s.writeTable(table({line("5"), line("6")}));
    QVERIFY(!s.run().failed());
    // The code as stored, the separator as byte 0xA7, the title in the 8-bit code page.
    QCOMPARE(s.report(), QByteArray("00123\xA7"
                                    "Citt\xE0 d'oro \xA7\r\n"));
    QCOMPARE(s.view.history(ViewLabel::LabelModificati), QStringList{"1 - CodiciMancanti"});
    QCOMPARE(s.view.history(ViewLabel::LabelFatti), QStringList{"2 - Elaborati"});
}

void MissingCodeReportTest::blankLinesNotCounted()
{
    Setup s({"6", "7", "5"});
    s.writeTable(table({"\r\n", "   \r\n", line("5"), "\r\n", line("6"), "  \r\n"}));
    QVERIFY(!s.run().failed());
    QCOMPARE(s.report(), reportLine("7", "Titolo 2"));
    // 5 matches on its first data line, compares nothing and leaves the label alone.
    QCOMPARE(s.view.history(ViewLabel::LabelFatti),
             (QStringList{"1 - Elaborati", "2 - Elaborati"}));
}

void MissingCodeReportTest::emptyTableReportsEveryProduct_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("blank lines only") << QByteArray("\r\n   \r\n\r\n ");
}

void MissingCodeReportTest::emptyTableReportsEveryProduct()
{
    QFETCH(QByteArray, bytes);
    Setup s({"30", "10", "20"});
    fixture::exec(s.catalogue, "INSERT INTO Prodotti VALUES (9, '40', 'Fuori', 12, 0)");
    s.writeTable(bytes);
    QVERIFY(!s.run().failed());
    // In the query's order, and only products with inforiv = 1.
    QCOMPARE(s.report(), reportLine("30", "Titolo 1") + reportLine("10", "Titolo 2") +
                             reportLine("20", "Titolo 3"));
    QCOMPARE(s.view.history(ViewLabel::LabelModificati),
             (QStringList{"1 - CodiciMancanti", "2 - CodiciMancanti", "3 - CodiciMancanti"}));
    QVERIFY(s.view.history(ViewLabel::LabelFatti).isEmpty());
    QCOMPARE(s.tp.dialogs.texts(), QStringList{kDone});
}

void MissingCodeReportTest::noProduct()
{
    Setup s({});
    // Without a product the table is never opened, so not having one does not matter.
    s.tablePath.clear();
    QVERIFY(!s.run().failed());
    QVERIFY(s.reportExists());
    QCOMPARE(s.report(), QByteArray());
    QCOMPARE(s.tp.shell.started.size(), 1);
    QCOMPARE(s.tp.shell.started[0].program, s.toolPath());
    QCOMPARE(s.tp.shell.started[0].arguments, QStringList{"1"});
    QCOMPARE(s.tp.dialogs.shown.size(), 1);
    QCOMPARE(s.tp.dialogs.shown[0].text, kDone);
    QCOMPARE(s.tp.dialogs.shown[0].icon, MsgIcon::None);
    QCOMPARE(s.tp.dialogs.shown[0].title, Dialogs::defaultTitle());
    QCOMPARE(s.tp.dialogs.shown[0].buttons, MsgButtons::Ok);
}

void MissingCodeReportTest::existingReport_data()
{
    QTest::addColumn<MsgAnswer>("answer");
    QTest::addColumn<bool>("replaced");
    QTest::newRow("yes") << MsgAnswer::Yes << true;
    QTest::newRow("no") << MsgAnswer::No << false;
}

void MissingCodeReportTest::existingReport()
{
    QFETCH(MsgAnswer, answer);
    QFETCH(bool, replaced);
    Setup s({"7"});
    s.writeTable(line("5"));
    const QByteArray old = "vecchio\r\n";
    s.tp.writeFile(kReport, old);
    // Read-only, so that Yes has to force the deletion.
    QFile(s.tp.path(kReport)).setPermissions(QFileDevice::ReadOwner);
    s.tp.dialogs.messageAnswers.push_back(answer);

    QVERIFY(!s.run().failed());

    const ShownMessage question = s.tp.dialogs.shown.value(0);
    QCOMPARE(question.text,
             "Il file " +
                 QDir::toNativeSeparators(s.tp.folder() + "/CodiciMancanti/CodiciNonPresenti.txt") +
                 " esiste gia, Sovrascrivere?");
    QCOMPARE(question.icon, MsgIcon::Question);
    QCOMPARE(question.title, QStringLiteral("Conferma"));
    QCOMPARE(question.buttons, MsgButtons::YesNo);
    if (replaced) {
        QCOMPARE(s.report(), reportLine("7", "Titolo 1"));
        QCOMPARE(s.tp.dialogs.texts(), (QStringList{question.text, kDone}));
        QCOMPARE(s.tp.shell.started.size(), 1);
    } else {
        QCOMPARE(s.report(), old);
        QCOMPARE(s.tp.dialogs.shown.size(), 1);
        QVERIFY(s.tp.shell.started.isEmpty());
        QVERIFY(s.view.history(ViewLabel::LabelFatti).isEmpty());
        QVERIFY(s.view.history(ViewLabel::LabelModificati).isEmpty());
    }
}

void MissingCodeReportTest::shortLineFailsAtTheProductThatReachesIt()
{
    Setup s({"100", "200", "300", "999"});
    s.writeTable(table({line("100"), line("200"), "1\tdue tab\t\r\n", line("300")}));
    QVERIFY(!s.run().failed());
    verifyFailureShown(s.tp.dialogs);
    // 100 and 200 match above the short line; 300 compares both lines, then reaches it.
    QCOMPARE(s.view.history(ViewLabel::LabelFatti),
             (QStringList{"1 - Elaborati", "2 - Elaborati"}));
    QVERIFY(s.view.history(ViewLabel::LabelModificati).isEmpty());
    QVERIFY(s.reportExists());
    QCOMPARE(s.report(), QByteArray());
    QVERIFY(s.tp.shell.started.isEmpty());
}

void MissingCodeReportTest::nonNumericCodeKeepsEarlierLines()
{
    // The host cannot compare "ABC" with a number: the report stops at that product.
    Setup s({"11", "7", "ABC", "12"});
    s.writeTable(table({line("7"), line("8")}));
    QVERIFY(!s.run().failed());
    verifyFailureShown(s.tp.dialogs);
    QCOMPARE(s.report(), reportLine("11", "Titolo 1"));
    QCOMPARE(s.view.history(ViewLabel::LabelModificati), QStringList{"1 - CodiciMancanti"});
    QVERIFY(s.tp.shell.started.isEmpty());
}

void MissingCodeReportTest::sameAsQuadraticSearch_data()
{
    QTest::addColumn<QStringList>("codes");
    QTest::addColumn<std::optional<QByteArray>>("bytes");

    QTest::newRow("duplicates and blank lines")
        << QStringList{"12", "500", "678", "999", "0012", "13", kNull, "500"}
        << std::optional(table({line("500"), "\r\n", line("678"), "   \r\n", line("500"),
                                line("0678"), line("12"), "\r\n"}));
    QTest::newRow("three TABs are enough; three TABs alone are no code")
        << QStringList{"42", "43", "0"}
        << std::optional(table({"1\tT\t42\t\r\n", "\t\t\t\r\n", line("44")}));
    QTest::newRow("short line late")
        << QStringList{"3", "1", "4", "2"}
        << std::optional(table({line("1"), line("2"), line("3"), "x\ty\r\n", line("4")}));
    QTest::newRow("tab-only line is short")
        << QStringList{"5", "6"} << std::optional(table({line("5"), "\t\r\n"}));
    QTest::newRow("short line first")
        << QStringList{"5"} << std::optional(table({"\r\n", "x\r\n", line("5")}));
    QTest::newRow("null code never matches")
        << QStringList{kNull, "7", kNull} << std::optional(table({line("0"), line("7")}));
    QTest::newRow("non-numeric code without data lines")
        << QStringList{"abc", "", "5"} << std::optional(table({"\r\n", "  \r\n"}));
    QTest::newRow("non-numeric code fails")
        << QStringList{"9", "abc", "7"} << std::optional(table({line("7"), line("8")}));
    QTest::newRow("no table file") << QStringList{"1"} << std::optional<QByteArray>();

    // A larger table with many duplicates and blank lines, and codes both present and not.
    QRandomGenerator random(20121206);
    QList<QByteArray> lines;
    for (int i = 0; i < 400; ++i) {
        if (random.bounded(10) == 0)
            lines.append("  \r\n");
        const int code = random.bounded(300);
        lines.append(
            line(random.bounded(2) ? QByteArray::number(code) : "000" + QByteArray::number(code)));
    }
    QStringList codes;
    for (int i = 0; i < 150; ++i)
        codes.append(QString::number(random.bounded(400)));
    QTest::newRow("generated") << codes << std::optional(table(lines));
}

void MissingCodeReportTest::sameAsQuadraticSearch()
{
    QFETCH(QStringList, codes);
    QFETCH(std::optional<QByteArray>, bytes);
    Setup s(codes);
    if (bytes)
        s.writeTable(*bytes);
    const Quadratic expected = quadratic(codes, bytes);

    QVERIFY(!s.run().failed());

    QCOMPARE(s.report(), expected.report);
    QCOMPARE(s.view.history(ViewLabel::LabelFatti), expected.fatti);
    QCOMPARE(s.view.history(ViewLabel::LabelModificati), expected.modificati);
    QCOMPARE(s.tp.dialogs.texts(), QStringList{expected.failed ? kFailed : kDone});
    QCOMPARE(s.tp.shell.started.size(), expected.failed ? 0 : 1);
}

enum class Fault { TableUnnamed, TableMissing, TableIsFolder, FolderBlocked, QueryFails };

void MissingCodeReportTest::failures_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("reportCreated");
    QTest::newRow("table path empty") << Fault::TableUnnamed << true;
    QTest::newRow("table file missing") << Fault::TableMissing << true;
    QTest::newRow("table names a folder") << Fault::TableIsFolder << true;
    QTest::newRow("report folder cannot be created") << Fault::FolderBlocked << false;
    QTest::newRow("product query fails") << Fault::QueryFails << true;
}

void MissingCodeReportTest::failures()
{
    QFETCH(Fault, fault);
    QFETCH(bool, reportCreated);
    Setup s({"7", "8"});
    s.writeTable(line("8"));
    switch (fault) {
    case Fault::TableUnnamed:
        s.tablePath.clear();
        break;
    case Fault::TableMissing:
        s.tablePath = s.tp.path("altra.txt");
        break;
    case Fault::TableIsFolder:
        s.tablePath = s.tp.folder();
        break;
    case Fault::FolderBlocked:
        s.tp.writeFile("CodiciMancanti", "un file, non una cartella");
        break;
    case Fault::QueryFails:
        db::setFaultHook([](const char* op) {
            return QByteArray(op) == "query" ? Error{ErrorNumber::Unreachable, "giù"} : Error{};
        });
        break;
    }

    QVERIFY(!s.run().failed());

    verifyFailureShown(s.tp.dialogs);
    QCOMPARE(s.reportExists(), reportCreated);
    QCOMPARE(s.report(), QByteArray());
    QVERIFY(s.view.history(ViewLabel::LabelFatti).isEmpty());
    QVERIFY(s.view.history(ViewLabel::LabelModificati).isEmpty());
    QVERIFY(s.tp.shell.started.isEmpty());
}

void MissingCodeReportTest::connectionFailureIsReturned()
{
    Setup s({"7"});
    s.writeTable(line("8"));
    s.view.catalogueText = QStringLiteral("MIRKELNESSUNO");
    QVERIFY(s.run().failed());
    QVERIFY(s.tp.dialogs.shown.isEmpty());
    QVERIFY(!QFileInfo::exists(s.tp.path("CodiciMancanti")));
    QVERIFY(s.tp.shell.started.isEmpty());
}

void MissingCodeReportTest::companionToolCommandLine()
{
    Setup s({"7", "8"});
    s.writeTable(line("8"));
    // Stands in for the companion tool: records how it was called and what report it found.
    QVERIFY(QDir().mkpath(s.tp.path("CodiciMancanti")));
    QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + "/" CONVERTI_COMPANION_STAND_IN,
                        s.tp.path("CodiciMancanti/MirkelDunso.exe")));
    QtShell shell;
    const Platform platform{
        s.tp.platform.programFolder, s.tp.clock, s.tp.dialogs, s.tp.files, s.tp.downloader, shell};

    QVERIFY(!s.run(platform).failed());
    QCOMPARE(s.tp.dialogs.texts(), QStringList{kDone});

    const QString args = s.tp.path("CodiciMancanti/args.txt");
    QDeadlineTimer deadline(20000);
    while (!QFile::exists(args) && !deadline.hasExpired())
        QThread::msleep(20);
    QVERIFY2(QFile::exists(args), "the companion tool did not run");
    QCOMPARE(s.tp.readFile("CodiciMancanti/args.txt"), s.toolPath().toLocal8Bit() + "\n1\n1\n");
    // The tool found the report complete.
    QCOMPARE(s.tp.readFile("CodiciMancanti/seen.txt"), reportLine("7", "Titolo 1"));
}

void MissingCodeReportTest::companionToolThatCannotStart()
{
    Setup s({"7"});
    s.writeTable(line("8"));
    QtShell shell; // no tool in the folder
    const Platform platform{
        s.tp.platform.programFolder, s.tp.clock, s.tp.dialogs, s.tp.files, s.tp.downloader, shell};
    QVERIFY(!s.run(platform).failed());
    verifyFailureShown(s.tp.dialogs);
    QCOMPARE(s.report(), reportLine("7", "Titolo 1"));
}

void MissingCodeReportTest::reportCompleteWhenToolStarts()
{
    Setup s({"7", "8", "9"});
    s.writeTable(line("8"));
    PeekingShell shell(s.tp.path(kReport));
    const Platform platform{
        s.tp.platform.programFolder, s.tp.clock, s.tp.dialogs, s.tp.files, s.tp.downloader, shell};
    QVERIFY(!s.run(platform).failed());
    QCOMPARE(shell.seen, reportLine("7", "Titolo 1") + reportLine("9", "Titolo 3"));
}

void MissingCodeReportTest::pumpsNeitherNeverNorPerLine_data()
{
    QTest::addColumn<qint64>("backMs");
    QTest::newRow("steady clock") << qint64(0);
    QTest::newRow("clock set back an hour") << qint64(3600000);
}

void MissingCodeReportTest::pumpsNeitherNeverNorPerLine()
{
    QFETCH(qint64, backMs);
    QStringList codes;
    for (int i = 0; i < 2000; ++i)
        codes.append(QString::number(i));
    Setup s(codes);
    QList<QByteArray> lines;
    for (int i = 0; i < 2000; i += 2)
        lines.append(line(QByteArray::number(i)));
    s.writeTable(table(lines));
    SteppingClock clock;
    clock.backMs = backMs;
    const Platform platform{
        s.tp.platform.programFolder, clock, s.tp.dialogs, s.tp.files, s.tp.downloader, s.tp.shell};
    QVERIFY(!s.run(platform).failed());
    QCOMPARE(s.tp.dialogs.texts(), QStringList{kDone});
    QVERIFY(s.view.pumps > 0);
    QVERIFY(s.view.pumps < 2000 / 10);
}

QTEST_GUILESS_MAIN(MissingCodeReportTest)
#include "MissingCodeReportTest.moc"
