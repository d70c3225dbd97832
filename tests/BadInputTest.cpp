#include "app/core/OptionsFile.h"
#include "conversion/ConversionRun.h"
#include "db/CodeTable.h"
#include "db/HostConfigFile.h"
#include "errors/ErrorLog.h"
#include "tests/support/Fakes.h"
#include "tests/support/HostFixture.h"
#include "tests/support/RunFixture.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTest>

// Damaged, hostile and oversized input, from the files under tests/corpus and from files
// generated here: the host configuration, the code table, the options file and a download
// that is not a code table. Each case states what must come of it.

namespace {

const QString kCorpus = QStringLiteral(CONVERTI_CORPUS_DIR);
const QString kTable = QStringLiteral("TabellaCodiciVarno.txt");

QByteArray corpus(const QString& name)
{
    QFile file(kCorpus + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("corpus file %s is missing", qPrintable(name));
    return file.readAll();
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A host configuration built in the test, for sizes nobody should commit.
QByteArray hostXml(const QByteArray& beforeServer, const QByteArray& server = "SRV")
{
    return "<Mirkel debug=\"0\" terminal=\"T1\" inforivMaster=\"1\" toolbarShow=\"1\">" +
           beforeServer + "<DBServerName>" + server +
           "</DBServerName><DBAdminUsername>sa</DBAdminUsername><DBAdminPassword>adminpw"
           "</DBAdminPassword><DBUsername>mirkel</DBUsername><DBPassword>pw</DBPassword>"
           "</Mirkel>";
}

const QString kUnread = QStringLiteral("prima");

// Products of the catalogue every code-table case runs on.
QList<fixture::ProductRow> products()
{
    return {
        {1, QStringLiteral("678"), QStringLiteral("Giornale uno"), 12},
        {2, QStringLiteral("1001"), QStringLiteral("Rivista due"), 12},
        {3, QStringLiteral("555"), QStringLiteral("Terzo"), 12},
        {4, QStringLiteral("678"), QStringLiteral("Altro distributore"), 34},
        {5, QStringLiteral("1001"), QStringLiteral("Non in rivendita"), 12, 0},
        {7, QStringLiteral("1 OR 1=1"), QStringLiteral("Codice ostile"), 12},
        {8, QStringLiteral("0001"), QStringLiteral("Codice uno"), 12},
    };
}

const QStringList kProductsBefore = {
    QStringLiteral("P 1|678|12"),  QStringLiteral("P 2|1001|12"), QStringLiteral("P 3|555|12"),
    QStringLiteral("P 4|678|34"),  QStringLiteral("P 5|1001|12"), QStringLiteral("P 7|1 OR 1=1|12"),
    QStringLiteral("P 8|0001|12"),
};

// The end state of a table whose two lines convert products 1 and 2.
QStringList twoLinesConverted()
{
    QStringList end = kProductsBefore;
    end[0] = QStringLiteral("P 1|000900678|34");
    end[1] = QStringLiteral("P 2|000901001|34");
    end << QStringLiteral("S 1|000900678|000000678|GIORNALE UNO|1")
        << QStringLiteral("S 2|000901001|000001001|RIVISTA DUE|1");
    return end;
}

// The catalogue every code-table case runs on, with what the load counted.
class Run : public RunFixture
{
public:
    Run() : RunFixture(products()) {}

    void execute()
    {
        run([this](ConversionRun::Stage stage) {
            // A run that refuses the table ends after the load.
            if (stage == ConversionRun::Stage::Rewrite ||
                (stage == ConversionRun::Stage::Done && loadCaption.isEmpty()))
                loadCaption = view.caption(ViewLabel::LabelFatti);
        });
    }

    // The lines the load counted, as its label showed them when the load ended.
    int counted() const { return loadCaption.split(QLatin1Char(' '))[0].toInt(); }

    QStringList tables() const
    {
        QStringList names;
        for (const QVariantList& r : fixture::select(
                 catalogue,
                 QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")))
            names.append(r[0].toString());
        return names;
    }

    QString loadCaption;
};

} // namespace

class BadInputTest : public QObject
{
    Q_OBJECT

private slots:
    void hostConfig_data();
    void hostConfig();
    void hostConfigOfGreatSize_data();
    void hostConfigOfGreatSize();

    void codeTable_data();
    void codeTable();
    void millionLinesReadAndParsed();
    void millionLinesMostlyBlankThroughTheLoad();

    void optionsFile_data();
    void optionsFile();

    void downloadThatIsNoCodeTable_data();
    void downloadThatIsNoCodeTable();
};

void BadInputTest::hostConfig_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("password");
    QTest::newRow("well-formed") << "valid.xml" << true << "SRV"
                                 << "pw";
    QTest::newRow("empty file") << "empty.xml" << false << kUnread << kUnread;
    QTest::newRow("cut in the middle") << "truncated.xml" << false << kUnread << kUnread;
    QTest::newRow("another root") << "other-root.xml" << false << kUnread << kUnread;
    QTest::newRow("UTF-8 with byte-order mark")
        << "utf8-bom.xml" << true << QStringLiteral("SERVER\\CITT\u00C0")
        << QStringLiteral("p\u00E0ss\u20AC");
    QTest::newRow("ISO-8859-1") << "iso-8859-1.xml" << true << QStringLiteral("SERVER\\CITT\u00C0")
                                << QStringLiteral("p\u00E0ss\u00E9");
    QTest::newRow("windows-1252") << "windows-1252.xml" << true
                                  << QStringLiteral("SERVER\\CITT\u00C0")
                                  << QStringLiteral("\u20ACuro\u0153");
    // Bytes that are not the encoding declared make the document not well-formed.
    QTest::newRow("UTF-8 declared, Latin-1 bytes")
        << "utf8-declared-latin1-bytes.xml" << false << kUnread << kUnread;
    QTest::newRow("duplicate elements: the first counts")
        << "duplicate-elements.xml" << true << "PRIMO"
        << "pw";
    QTest::newRow("duplicate attribute")
        << "duplicate-attribute.xml" << false << kUnread << kUnread;
    QTest::newRow("entity expansion bomb") << "entity-bomb.xml" << false << kUnread << kUnread;
    QTest::newRow("NUL byte") << "nul-byte.xml" << false << kUnread << kUnread;
    QTest::newRow("binary") << "binary.xml" << false << kUnread << kUnread;
}

void BadInputTest::hostConfig()
{
    QFETCH(QString, file);
    QFETCH(bool, accepted);
    QFETCH(QString, server);
    QFETCH(QString, password);
    HostConfig config{kUnread, kUnread, kUnread, kUnread, kUnread};
    QCOMPARE(ReadHostConfig(kCorpus + QStringLiteral("/hostconfig/") + file, config), accepted);
    QCOMPARE(config.DBServerName, server);
    QCOMPARE(config.DBPassword, password);
}

void BadInputTest::hostConfigOfGreatSize_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("serverLength");
    const QByteArray comment = "<!--" + QByteArray(32 * 1024 * 1024, 'c') + "-->";
    QTest::newRow("32 MB comment before the settings") << hostXml(comment) << true << 3;
    QTest::newRow("8 MB server name")
        << hostXml({}, QByteArray(8 * 1024 * 1024, 's')) << true << 8 * 1024 * 1024;
    QByteArray siblings;
    for (int i = 0; i < 100000; ++i)
        siblings += "<bancobarcode9 code=\"1\"/>";
    QTest::newRow("100 000 other elements") << hostXml(siblings) << true << 3;
    // Deeper nesting only costs time: the parser's work grows with the square of the depth.
    const int depth = 5000;
    QTest::newRow("5 000 nested elements")
        << hostXml(QByteArray("<x>").repeated(depth) + QByteArray("</x>").repeated(depth)) << true
        << 3;
    QTest::newRow("5 000 unclosed elements")
        << hostXml(QByteArray("<x>").repeated(depth)) << false << 5;
}

void BadInputTest::hostConfigOfGreatSize()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, accepted);
    QFETCH(int, serverLength);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Mirkel.XML"));
    QVERIFY(writeBytes(path, bytes));
    HostConfig config{kUnread, kUnread, kUnread, kUnread, kUnread};
    QCOMPARE(ReadHostConfig(path, config), accepted);
    QCOMPARE(config.DBServerName.size(), serverLength);
}

void BadInputTest::codeTable_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("end");
    QTest::addColumn<int>("counted");
    QTest::addColumn<int>("logged");
    QTest::addColumn<bool>("refused"); // no line to stage: the run ends before any change

    for (const char* name : {"crlf", "lf", "cr", "no-final-end", "mixed-ends"})
        QTest::addRow("line ends: %s", name)
            << corpus(QStringLiteral("codetable/%1.txt").arg(QLatin1String(name)))
            << twoLinesConverted() << 2 << 0 << false;

    // A NUL in a title or a code refuses its line (an engine would cut the title there); a
    // line of NULs has no TAB. Each is refused with one logged error, and counted.
    QTest::newRow("NUL bytes") << corpus(QStringLiteral("codetable/nul-bytes.txt"))
                               << kProductsBefore << 3 << 3 << true;
    // The end mark of old DOS editors is no line.
    QTest::newRow("Ctrl-Z on a line of its own")
        << corpus(QStringLiteral("codetable/crlf.txt")) + "\x1A" << twoLinesConverted() << 2 << 0
        << false;

    // UTF-8 without a byte-order mark is read as UTF-8.
    QStringList utf8 = kProductsBefore;
    utf8[0] = QStringLiteral("P 1|000900678|34");
    utf8 << QStringLiteral("S 1|000900678|000000678|CITT\u00C0 \u00C9|1");
    QTest::newRow("UTF-8 text") << corpus(QStringLiteral("codetable/utf8.txt")) << utf8 << 1 << 0
                                << false;

    // However the table was saved, it ends as its Windows-1252 original does; a caption
    // line costs itself alone.
    const QString text = QStringLiteral("900678\tcitt\u00E0 perch\u00E9\t0678\t1\t\r\n"
                                        "901001\trivista pi\u00F9 \u20AC\t1001\t1\t\r\n");
    QStringList accents = kProductsBefore;
    accents[0] = QStringLiteral("P 1|000900678|34");
    accents[1] = QStringLiteral("P 2|000901001|34");
    accents << QStringLiteral("S 1|000900678|000000678|CITT\u00C0 PERCH\u00C9|1")
            << QStringLiteral("S 2|000901001|000001001|RIVISTA PI\u00D9 \u20AC|1");
    const QByteArray cp1252("900678\tcitt\xE0 perch\xE9\t0678\t1\t\r\n"
                            "901001\trivista pi\xF9 \x80\t1001\t1\t\r\n");
    QTest::newRow("Windows-1252") << cp1252 << accents << 2 << 0 << false;
    QTest::newRow("UTF-8 with BOM") << "\xEF\xBB\xBF" + text.toUtf8() << accents << 2 << 0 << false;
    QTest::newRow("UTF-8 without BOM") << text.toUtf8() << accents << 2 << 0 << false;
    QTest::newRow("UTF-16 LE with BOM")
        << "\xFF\xFE" + QStringEncoder(QStringConverter::Utf16LE)(text) << accents << 2 << 0
        << false;
    QTest::newRow("caption line first")
        << "CODICE NUOVO\tTITOLO\tCODICE VECCHIO\tCODICE\t\r\n" + cp1252 << accents << 3 << 1
        << false;

    // Titles and codes that try SQL are data; a code column that is no number refuses its
    // line, and a product code that is not a number matches nothing.
    QStringList sql = kProductsBefore;
    sql[0] = QStringLiteral("P 1|000900678|34");
    sql << QStringLiteral("S 1|000900678|000000678|'); DROP TABLE PRODOTTI;--|1");
    QTest::newRow("SQL in titles and codes")
        << corpus(QStringLiteral("codetable/sql.txt")) << sql << 5 << 4 << false;

    QTest::newRow("HTML error page") << corpus(QStringLiteral("codetable/html-error-page.txt"))
                                     << kProductsBefore << 3 << 3 << true;
    QTest::newRow("empty file") << corpus(QStringLiteral("codetable/empty.txt")) << kProductsBefore
                                << 0 << 0 << true;
    QTest::newRow("semicolons instead of TABs")
        << QByteArray("900678;giornale uno;0678;1;\r\n901001;rivista due;1001;1;\r\n")
        << kProductsBefore << 2 << 2 << true;

    const QByteArray megabyte(1024 * 1024, 'x');
    QStringList secondOnly = kProductsBefore;
    secondOnly[1] = QStringLiteral("P 2|000901001|34");
    secondOnly << QStringLiteral("S 2|000901001|000001001|RIVISTA DUE|1");
    QTest::newRow("1 MB title is refused")
        << "900678\t" + megabyte + "\t0678\t1\t\r\n901001\trivista due\t1001\t1\t\r\n"
        << secondOnly << 2 << 1 << false;
    QTest::newRow("1 MB line without TABs") << megabyte + "\r\n901001\trivista due\t1001\t1\t\r\n"
                                            << secondOnly << 2 << 1 << false;
    // Past 20 lines of one cause, one more line counts the rest.
    QTest::newRow("25 lines without TABs")
        << QByteArray("x\r\n").repeated(25) + "901001\trivista due\t1001\t1\t\r\n"
        << secondOnly << 26 << 21 << false;
    // More lines than the reader judges at once: none lost or counted twice between blocks.
    QTest::newRow("9,000 lines without TABs")
        << QByteArray("x\r\n").repeated(9000) + "901001\trivista due\t1001\t1\t\r\n"
        << secondOnly << 9001 << 21 << false;
    QTest::newRow("1 MB of blanks and one line")
        << QByteArray(1024 * 1024, ' ') + "\r\n901001\trivista due\t1001\t1\t" << secondOnly << 1
        << 0 << false;
}

void BadInputTest::codeTable()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, end);
    QFETCH(int, counted);
    QFETCH(int, logged);
    QFETCH(bool, refused);
    Run r;
    r.tp.writeFile(kTable, bytes);
    r.execute();
    if (refused) {
        // One box that names the file; the window stays usable.
        QCOMPARE(r.tp.dialogs.texts().size(), 1);
        QVERIFY(r.tp.dialogs.texts()[0].contains(QDir::toNativeSeparators(r.tp.path(kTable))));
        QVERIFY(r.view.windowEnabled);
    } else {
        QCOMPARE(r.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
    }
    QCOMPARE(fixture::snapshot(r.catalogue), end);
    QCOMPARE(r.counted(), counted);
    const QStringList lines = r.tp.logMessages();
    QCOMPARE(lines.size(), logged);
    static const QRegularExpression logLine(
        QStringLiteral(" Sorgente:CMDiNVERTI (riga \\d+ di TabellaCodiciVarno.txt|e altre "
                       "\\d+ righe di TabellaCodiciVarno.txt con lo stesso errore)?$"));
    for (const QString& line : lines)
        QVERIFY2(logLine.match(line).hasMatch(), qPrintable(line));
    // Nothing but the intended rows changed: the host's tables are all still there, and the
    // distributors are as they were.
    QStringList tables{QStringLiteral("Prodotti"), QStringLiteral("Soggetti")};
    if (!refused)
        tables.prepend(QStringLiteral("CodiciCorvel"));
    QCOMPARE(r.tables(), tables);
    QCOMPARE(fixture::select(r.catalogue, QStringLiteral("SELECT count(*) FROM Soggetti"))[0][0],
             QVariant(3));
}

void BadInputTest::millionLinesReadAndParsed()
{
    // Every kind of line end, so that some CR LF pairs straddle the reader's buffer.
    QTemporaryDir dir;
    const QString path = dir.filePath(kTable);
    const int count = 1000000;
    {
        QByteArray bytes;
        bytes.reserve(40 * count);
        const char* ends[] = {"\r\n", "\n", "\r"};
        for (int i = 0; i < count; ++i) {
            bytes += QByteArray::number(900000 + i % 100000) + "\ttitolo " + QByteArray::number(i) +
                     "\t" + QByteArray::number(i) + "\t1\t" + ends[(i / 7) % 3];
        }
        QVERIFY(writeBytes(path, bytes));
    }
    QtTextFileSystem files;
    std::unique_ptr<TextReader> reader;
    QVERIFY(!files.openRead(path, reader, Decoding::AsSaved).failed());
    int read = 0;
    for (;;) {
        bool end = true;
        QVERIFY(!reader->atEnd(end).failed());
        if (end)
            break;
        QString line;
        QVERIFY(!reader->readLine(line).failed());
        const CodeTable::Line columns = CodeTable::parseLine(line);
        // Each line must come back whole and in order: its old code is its number.
        if (columns.shape != CodeTable::Line::Shape::Complete || columns.oldCode != read ||
            columns.title != QStringLiteral("titolo %1").arg(read))
            QFAIL(qPrintable(QStringLiteral("line %1 read as \"%2\"").arg(read).arg(line)));
        ++read;
    }
    QCOMPARE(read, count);
}

void BadInputTest::millionLinesMostlyBlankThroughTheLoad()
{
    // A million lines; blank ones cost no database work, so the whole file can go through
    // the real load and the rest of the run.
    QByteArray bytes;
    bytes.reserve(4 * 1000000);
    const char* blanks[] = {"\r\n", "   \n", "\r", " \r\n"};
    for (int i = 0; i < 1000000; ++i) {
        if (i == 250000)
            bytes += "900678\tgiornale uno\t0678\t1\t\n";
        else if (i == 999999)
            bytes += "901001\trivista due\t1001\t1\t";
        else
            bytes += blanks[i % 4];
    }
    Run r;
    r.tp.writeFile(kTable, bytes);
    r.execute();
    QCOMPARE(r.tp.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
    QCOMPARE(fixture::snapshot(r.catalogue), twoLinesConverted());
    QCOMPARE(r.counted(), 2);
    QVERIFY(r.tp.logMessages().isEmpty());
}

void BadInputTest::optionsFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("destinazione");
    QTest::addColumn<QString>("nomeFile");
    const QString before = QStringLiteral("iniziale");
    QTest::newRow("as written") << corpus(QStringLiteral("options/valid.txt")) << "d:\\dati"
                                << "Tabella.txt";
    QTest::newRow("CR line ends") << corpus(QStringLiteral("options/cr-ends.txt")) << "d:\\dati"
                                  << "Tab.txt";
    // The mark is three characters of the code page in front of the key.
    QTest::newRow("UTF-8 byte-order mark hides the first key")
        << corpus(QStringLiteral("options/utf8-bom.txt")) << before << "Tab.txt";
    QTest::newRow("NUL in a value stays")
        << corpus(QStringLiteral("options/nul-bytes.txt"))
        << QStringLiteral("d:\\d") + QChar(0) + QStringLiteral("ti") << "Tab.txt";
    QTest::newRow("NUL in a key makes another key")
        << corpus(QStringLiteral("options/nul-in-key.txt")) << before << "Tab.txt";
    QTest::newRow("empty key is skipped")
        << corpus(QStringLiteral("options/equals-only.txt")) << before << "Tab.txt";
    QTest::newRow("UTF-8 value read in the code page")
        << corpus(QStringLiteral("options/utf8-value.txt")) << before
        << QStringLiteral("citt\u00C3\u00A0.txt");
    const QByteArray big(1024 * 1024, 'd');
    QTest::newRow("1 MB value") << "DESTINAZIONE= [" + big + "]\r\nNOMEFILE= [x]" << QString(big)
                                << "x";
    QTest::newRow("binary") << QByteArray("\x01\x02\x03\xFF\xFE=[]\x00") << before << before;
}

void BadInputTest::optionsFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, destinazione);
    QFETCH(QString, nomeFile);
    TestPlatform tp;
    tp.writeFile(QStringLiteral(" mirkeloption.txt"), bytes);
    QString d = QStringLiteral("iniziale");
    QString n = QStringLiteral("iniziale");
    options::read(
        tp.files, options::filePath(tp.platform),
        [&](options::Key key, const QString& value) {
            (key == options::Key::Destinazione ? d : n) = value;
        },
        [] {});
    QCOMPARE(d, destinazione);
    QCOMPARE(n, nomeFile);
}

void BadInputTest::downloadThatIsNoCodeTable_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("HTML error page") << corpus(QStringLiteral("codetable/html-error-page.txt"));
    QTest::newRow("empty download") << QByteArray();
    QTest::newRow("only a caption line")
        << QByteArray("CODICE NUOVO\tTITOLO\tCODICE VECCHIO\tX\t\r\n");
}

void BadInputTest::downloadThatIsNoCodeTable()
{
    // The server answered, but what it sent is no code table: nothing is kept, and the run
    // goes on as after a failed download, saying what came.
    QFETCH(QByteArray, content);
    Run r;
    r.tp.downloader.content = content;
    r.execute();
    QCOMPARE(r.tp.dialogs.texts(),
             (QStringList{QStringLiteral("Errore durante il download il file per la conversione "
                                         "puo' non essere ancora disponibile!"),
                          QStringLiteral(" Percorso file TabellaCodici non Trovata!")}));
    QVERIFY2(
        r.tp.dialogs.shown[0].details.startsWith(QStringLiteral("Non e' una tabella dei codici: ")),
        qPrintable(r.tp.dialogs.shown[0].details));
    QCOMPARE(QDir(r.tp.folder()).entryList(QDir::Files), QStringList());
    QCOMPARE(fixture::snapshot(r.catalogue), kProductsBefore);
    QVERIFY(r.tp.logMessages().isEmpty());
}

QTEST_GUILESS_MAIN(BadInputTest)
#include "BadInputTest.moc"
