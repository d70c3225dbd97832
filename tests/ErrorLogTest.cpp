#include "errors/ErrorLog.h"
#include "tests/support/Fakes.h"

#include <QDir>
#include <QFile>
#include <QTest>

class ErrorLogTest : public QObject
{
    Q_OBJECT

private slots:
    void lineLayout_data();
    void lineLayout();
    void errorText_data();
    void errorText();
    void folderCreatedOnDemand();
    void existingFolderUsedAsItIs();
    void fileNamedAfterTheDay();
    void sameDayAppends();
    void nextDayStartsNewFile();
    void unwritableLogIsIgnored_data();
    void unwritableLogIsIgnored();
};

void ErrorLogTest::lineLayout_data()
{
    QTest::addColumn<qint32>("number");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("command rejected")
        << qint32(-2147217900) << "Sintassi non corretta."
        << "CMDiNVERTI"
        << ""
        << QByteArray("ERROR:\tErrore numero: -2147217900 Descrizione: Sintassi non corretta. "
                      "Sorgente:CMDiNVERTI ");
    QTest::newRow("positive number, extra text")
        << qint32(53) << "Impossibile trovare il file"
        << "cmdSelezionaDest_Click"
        << "nota"
        << QByteArray("ERROR:\tErrore numero: 53 Descrizione: Impossibile trovare il file "
                      "Sorgente:cmdSelezionaDest_Click nota");
    QTest::newRow("lowest number")
        << qint32(-2147483647 - 1) << "d"
        << "L"
        << "" << QByteArray("ERROR:\tErrore numero: -2147483648 Descrizione: d Sorgente:L ");
    QTest::newRow("empty description")
        << qint32(-2147467259) << ""
        << "FIEGDLCodiceGet"
        << ""
        << QByteArray("ERROR:\tErrore numero: -2147467259 Descrizione:  Sorgente:FIEGDLCodiceGet ");
    QTest::newRow("line breaks unchanged")
        << qint32(5) << "prima\r\nseconda\nterza"
        << "CMDiNVERTI"
        << ""
        << QByteArray("ERROR:\tErrore numero: 5 Descrizione: prima\r\nseconda\nterza "
                      "Sorgente:CMDiNVERTI ");
    QTest::newRow("code page") << qint32(5) << "perché 5€"
                               << "CMDiNVERTI"
                               << ""
                               << QByteArray("ERROR:\tErrore numero: 5 Descrizione: perch\xE9 "
                                             "5\x80 Sorgente:CMDiNVERTI ");
    QTest::newRow("number 0") << qint32(0) << "ignored"
                              << "CMDiNVERTI"
                              << "" << QByteArray("ERROR:\t");
    QTest::newRow("number 0 with extra") << qint32(0) << "ignored"
                                         << "CMDiNVERTI"
                                         << "solo questo" << QByteArray("ERROR:\tsolo questo");
}

void ErrorLogTest::lineLayout()
{
    QFETCH(qint32, number);
    QFETCH(QString, description);
    QFETCH(QString, label);
    QFETCH(QString, extra);
    QFETCH(QByteArray, line);

    TestPlatform tp;
    tp.clock.current = QDateTime(QDate(2012, 12, 24), QTime(17, 5, 9));
    ErrorLog log(tp.folder(), tp.clock, tp.files);
    log.LogError({number, description}, label, extra);
    // Day first, 24-hour clock: unambiguous.
    QCOMPARE(tp.readFile(QStringLiteral("LOGS/Errore_2012_12_24.txt")),
             QByteArray("24/12/2012 17:05:09 ") + line + "\r\n");
}

void ErrorLogTest::errorText_data()
{
    QTest::addColumn<qint32>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("error") << qint32(-2147217865)
                           << "Errore numero: -2147217865 Descrizione: D Sorgente:L";
    QTest::newRow("none") << qint32(0) << "";
}

void ErrorLogTest::errorText()
{
    QFETCH(qint32, number);
    QFETCH(QString, text);
    QCOMPARE(ErrorLog::ErrorText({number, QStringLiteral("D")}, QStringLiteral("L")), text);
}

void ErrorLogTest::folderCreatedOnDemand()
{
    TestPlatform tp;
    ErrorLog log(tp.folder(), tp.clock, tp.files);
    QVERIFY(!QDir(tp.path(QStringLiteral("LOGS"))).exists());
    log.LogError({91, QStringLiteral("Variabile oggetto non impostata")}, QStringLiteral("X"));
    QVERIFY(QDir(tp.path(QStringLiteral("LOGS"))).exists());
    QCOMPARE(tp.logMessages().size(), 1);
}

void ErrorLogTest::existingFolderUsedAsItIs()
{
    TestPlatform tp;
    tp.writeFile(QStringLiteral("LOGS/altro.txt"), "keep");
    ErrorLog log(tp.folder(), tp.clock, tp.files);
    log.AppendErrorLog(QStringLiteral("messaggio"));
    QCOMPARE(tp.readFile(QStringLiteral("LOGS/altro.txt")), QByteArray("keep"));
    QCOMPARE(tp.logMessages(), QStringList{QStringLiteral("messaggio")});
}

void ErrorLogTest::fileNamedAfterTheDay()
{
    TestPlatform tp;
    tp.clock.setToday(QDate(2013, 1, 5));
    ErrorLog log(tp.folder(), tp.clock, tp.files);
    log.LogError({1, QStringLiteral("d")}, QStringLiteral("L"));
    QCOMPARE(QDir(tp.path(QStringLiteral("LOGS"))).entryList(QDir::Files),
             QStringList{QStringLiteral("Errore_2013_01_05.txt")});
}

void ErrorLogTest::sameDayAppends()
{
    TestPlatform tp;
    tp.clock.current = QDateTime(QDate(2012, 12, 10), QTime(0, 0, 0));
    ErrorLog log(tp.folder(), tp.clock, tp.files);
    log.LogError({1, QStringLiteral("primo")}, QStringLiteral("L"));
    tp.clock.current = QDateTime(QDate(2012, 12, 10), QTime(23, 59, 59));
    log.LogError({2, QStringLiteral("secondo")}, QStringLiteral("L"));
    QCOMPARE(QDir(tp.path(QStringLiteral("LOGS"))).entryList(QDir::Files).size(), 1);
    QCOMPARE(tp.readFile(QStringLiteral("LOGS/Errore_2012_12_10.txt")),
             QByteArray("10/12/2012 00:00:00 ERROR:\tErrore numero: 1 Descrizione: primo "
                        "Sorgente:L \r\n"
                        "10/12/2012 23:59:59 ERROR:\tErrore numero: 2 Descrizione: secondo "
                        "Sorgente:L \r\n"));
}

void ErrorLogTest::nextDayStartsNewFile()
{
    TestPlatform tp;
    tp.clock.current = QDateTime(QDate(2012, 12, 31), QTime(23, 59, 59));
    ErrorLog log(tp.folder(), tp.clock, tp.files);
    log.LogError({1, QStringLiteral("vecchio")}, QStringLiteral("L"));
    tp.clock.current = QDateTime(QDate(2013, 1, 1), QTime(0, 0, 0));
    log.LogError({2, QStringLiteral("nuovo")}, QStringLiteral("L"));
    QCOMPARE(QDir(tp.path(QStringLiteral("LOGS"))).entryList(QDir::Files, QDir::Name),
             (QStringList{QStringLiteral("Errore_2012_12_31.txt"),
                          QStringLiteral("Errore_2013_01_01.txt")}));
    QCOMPARE(tp.logMessages(), QStringList{QStringLiteral(
                                   "ERROR:\tErrore numero: 2 Descrizione: nuovo Sorgente:L ")});
    QVERIFY(tp.readFile(QStringLiteral("LOGS/Errore_2012_12_31.txt")).contains("vecchio"));
    QVERIFY(!tp.readFile(QStringLiteral("LOGS/Errore_2012_12_31.txt")).contains("nuovo"));
}

void ErrorLogTest::unwritableLogIsIgnored_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::newRow("LOGS is a file") << "LOGS";
    QTest::newRow("today's file is a folder") << "LOGS/Errore_2012_12_10.txt/x";
    QTest::newRow("program folder gone") << "";
}

void ErrorLogTest::unwritableLogIsIgnored()
{
    QFETCH(QString, obstacle);
    TestPlatform tp;
    tp.clock.setToday(QDate(2012, 12, 10));
    QString folder = tp.folder();
    if (obstacle.isEmpty())
        folder += QStringLiteral("/gone");
    else
        tp.writeFile(obstacle, "x");
    ErrorLog log(folder, tp.clock, tp.files);
    log.LogError({-2147217900, QStringLiteral("d")}, QStringLiteral("L"));
    log.AppendErrorLog(QStringLiteral("again"));
    // Nothing was written, and nothing else was disturbed.
    QVERIFY(!QFile::exists(tp.path(QStringLiteral("gone"))));
    if (!obstacle.isEmpty())
        QCOMPARE(tp.readFile(obstacle), QByteArray("x"));
}

QTEST_GUILESS_MAIN(ErrorLogTest)
#include "ErrorLogTest.moc"
