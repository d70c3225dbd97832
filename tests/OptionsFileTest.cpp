#include "app/core/OptionsFile.h"
#include "tests/support/Fakes.h"

#include <QDir>
#include <QtTest>

namespace {

const QString kUnset = QStringLiteral("<unset>");

struct Read
{
    QString destinazione = kUnset;
    QString nomeFile = kUnset;
    int pumps = 0;
};

Read readBack(TestPlatform& t)
{
    Read r;
    options::read(
        t.files, options::filePath(t.platform),
        [&r](options::Key key, const QString& value) {
            (key == options::Key::Destinazione ? r.destinazione : r.nomeFile) = value;
        },
        [&r] { ++r.pumps; });
    return r;
}

} // namespace

class OptionsFileTest : public QObject
{
    Q_OBJECT

private slots:
    void fileNameHasALeadingBlank();
    void reading_data();
    void reading();
    void noFileSetsNothing();
    void roundTrip_data();
    void roundTrip();
    void saveReplacesTheFile();
    void saveFailureIsReported();
};

void OptionsFileTest::fileNameHasALeadingBlank()
{
    TestPlatform t;
    QCOMPARE(options::filePath(t.platform),
             QDir::toNativeSeparators(t.folder()) + QDir::separator() + " mirkeloption.txt");
}

void OptionsFileTest::reading_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("destinazione");
    QTest::addColumn<QString>("nomeFile");
    QTest::addColumn<int>("pumps");

    QTest::newRow("as written") << QByteArray("DESTINAZIONE= [d:\\dati]\r\nNOMEFILE= [Tab.txt]\r\n")
                                << "d:\\dati"
                                << "Tab.txt" << 2;
    QTest::newRow("any order, LF endings, no final end")
        << QByteArray("NOMEFILE= [n]\nDESTINAZIONE= [d]") << "d"
        << "n" << 2;
    QTest::newRow("blanks around the key")
        << QByteArray("   DESTINAZIONE   = [x]\r\n") << "x" << kUnset << 1;
    QTest::newRow("tab is not a blank")
        << QByteArray("\tDESTINAZIONE= [x]\r\n") << kUnset << kUnset << 1;
    QTest::newRow("lower-case key is not recognised")
        << QByteArray("destinazione= [x]\r\nNomeFile= [y]\r\n") << kUnset << kUnset << 2;
    QTest::newRow("last line wins")
        << QByteArray("NOMEFILE= [a]\r\nNOMEFILE= [b]\r\n") << kUnset << "b" << 2;
    QTest::newRow("other keys are skipped, brackets or not")
        << QByteArray("ALTRO=niente\r\nNOMEFILE= [n]\r\n") << kUnset << "n" << 2;
    QTest::newRow("key line without brackets ends the reading")
        << QByteArray("DESTINAZIONE=d:\\dati\r\nNOMEFILE= [n]\r\n") << kUnset << kUnset << 0;
    QTest::newRow("empty line ends the reading")
        << QByteArray("\r\nDESTINAZIONE= [d]\r\nNOMEFILE= [n]\r\n") << kUnset << kUnset << 0;
    QTest::newRow("line without = ends the reading, earlier values stay")
        << QByteArray("DESTINAZIONE= [d]\r\ncommento\r\nNOMEFILE= [n]\r\n") << "d" << kUnset << 1;
    QTest::newRow("] before [ ends the reading")
        << QByteArray("NOMEFILE= ]x[\r\nDESTINAZIONE= [d]\r\n") << kUnset << kUnset << 0;
    QTest::newRow("no [ takes the line up to ]")
        << QByteArray("NOMEFILE= Tab.txt]\r\n") << kUnset << "NOMEFILE= Tab.txt" << 1;
    QTest::newRow("value stops at the first ]")
        << QByteArray("DESTINAZIONE= [a]b]\r\n") << "a" << kUnset << 1;
    QTest::newRow("empty value") << QByteArray("NOMEFILE= []\r\n") << kUnset << "" << 1;
    QTest::newRow("= inside the value")
        << QByteArray("NOMEFILE= [a=b]\r\n") << kUnset << "a=b" << 1;
    QTest::newRow("8-bit code page") << QByteArray("DESTINAZIONE= [c:\\citt\xE0 \x80]\r\n")
                                     << QStringLiteral("c:\\città €") << kUnset << 1;
}

void OptionsFileTest::reading()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, destinazione);
    QFETCH(QString, nomeFile);
    QFETCH(int, pumps);

    TestPlatform t;
    t.writeFile(QStringLiteral(" mirkeloption.txt"), content);
    const Read r = readBack(t);
    QCOMPARE(r.destinazione, destinazione);
    QCOMPARE(r.nomeFile, nomeFile);
    QCOMPARE(r.pumps, pumps);
}

void OptionsFileTest::noFileSetsNothing()
{
    TestPlatform t;
    // Without the leading blank it is another file.
    t.writeFile(QStringLiteral("mirkeloption.txt"), "DESTINAZIONE= [d]\r\n");
    const Read r = readBack(t);
    QCOMPARE(r.destinazione, kUnset);
    QCOMPARE(r.nomeFile, kUnset);
}

void OptionsFileTest::roundTrip_data()
{
    QTest::addColumn<QString>("destinazione");
    QTest::addColumn<QString>("nomeFile");
    QTest::addColumn<QString>("destinazioneBack");
    QTest::addColumn<QString>("nomeFileBack");

    QTest::newRow("plain") << "d:\\dati"
                           << "Tabella.txt"
                           << "d:\\dati"
                           << "Tabella.txt";
    QTest::newRow("blanks kept") << " d:\\a b "
                                 << ""
                                 << " d:\\a b "
                                 << "";
    QTest::newRow("] is not escaped") << "d:\\x]y"
                                      << "T.txt"
                                      << "d:\\x"
                                      << "T.txt";
}

void OptionsFileTest::roundTrip()
{
    QFETCH(QString, destinazione);
    QFETCH(QString, nomeFile);
    QFETCH(QString, destinazioneBack);
    QFETCH(QString, nomeFileBack);

    TestPlatform t;
    options::save(t.platform, destinazione, nomeFile);
    const Read r = readBack(t);
    QCOMPARE(r.destinazione, destinazioneBack);
    QCOMPARE(r.nomeFile, nomeFileBack);
}

void OptionsFileTest::saveReplacesTheFile()
{
    TestPlatform t;
    t.writeFile(QStringLiteral(" mirkeloption.txt"),
                "NOMEFILE= [old]\r\nDESTINAZIONE= [old]\r\nALTRO= [x]\r\nALTRO= [y]\r\n");
    options::save(t.platform, QStringLiteral("d:\\dati"), QStringLiteral("Tabella.txt"));

    QCOMPARE(t.readFile(QStringLiteral(" mirkeloption.txt")),
             QByteArray("DESTINAZIONE= [d:\\dati]\r\nNOMEFILE= [Tabella.txt]\r\n"));
    QCOMPARE(t.dialogs.shown.size(), 1);
    QCOMPARE(t.dialogs.shown[0].text, QStringLiteral("IMPOSTAZIONI SALVATE CON SUCCESSO! "));
    QCOMPARE(t.dialogs.shown[0].icon, MsgIcon::Information);
    QCOMPARE(t.dialogs.shown[0].title, QStringLiteral("OPZIONI"));
    QCOMPARE(t.dialogs.shown[0].buttons, MsgButtons::Ok);
}

void OptionsFileTest::saveFailureIsReported()
{
    TestPlatform t;
    // A folder where the file should be: it cannot be created.
    QVERIFY(QDir(t.folder()).mkdir(QStringLiteral(" mirkeloption.txt")));
    options::save(t.platform, QStringLiteral("d:\\dati"), QStringLiteral("Tabella.txt"));

    QCOMPARE(t.dialogs.shown.size(), 1);
    QCOMPARE(t.dialogs.shown[0].text, QStringLiteral("ERRORE: NEL SALVATAGGIO IMPOSTAZIONI"));
    QCOMPARE(t.dialogs.shown[0].icon, MsgIcon::Exclamation);
    QCOMPARE(t.dialogs.shown[0].title, QStringLiteral("OPZIONI"));
}

QTEST_GUILESS_MAIN(OptionsFileTest)
#include "OptionsFileTest.moc"
