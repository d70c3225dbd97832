#include "conversion/ConversionRun.h"
#include "db/ConnectionString.h"
#include "db/Lookups.h"
#include "errors/ErrorLog.h"
#include "platform/Cp1252.h"
#include "tests/support/Fakes.h"
#include "tests/support/HostFixture.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QSqlDatabase>
#include <QTest>

// Connections that fail on purpose, with recognisable passwords: neither password may reach
// a message box, a log file or an error text.

namespace {

const QString kPassword = QStringLiteral("Pw!Segreto;{x}2012");
const QString kAdminPassword = QStringLiteral("AdmRiservato#77");

// Every form in which a password could leak: whole, in the code page and in UTF-8, and
// its distinctive middle.
bool leaks(const QByteArray& bytes)
{
    for (const QString& secret : {kPassword, kAdminPassword}) {
        if (bytes.contains(secret.toUtf8()) || bytes.contains(Cp1252::encode(secret)))
            return true;
    }
    return bytes.contains("Segreto") || bytes.contains("Riservato");
}

bool leaks(const QString& text)
{
    return leaks(text.toUtf8());
}

bool freeTdsAvailable()
{
#ifdef Q_OS_WIN
    return false;
#else
    QProcess odbcinst;
    odbcinst.start(QStringLiteral("odbcinst"), {QStringLiteral("-q"), QStringLiteral("-d"),
                                                QStringLiteral("-n"), QStringLiteral("FreeTDS")});
    return odbcinst.waitForFinished(30000) && odbcinst.exitStatus() == QProcess::NormalExit &&
           odbcinst.exitCode() == 0 && QSqlDatabase::isDriverAvailable(QStringLiteral("QODBC"));
#endif
}

// Every file the program wrote into its folder, the catalogues aside.
QStringList leakingFiles(const QString& folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(QStringLiteral(".sqlite")) || path.contains(QStringLiteral(".sqlite-")))
            continue;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly) && leaks(file.readAll()))
            found.append(path);
    }
    return found;
}

enum class Target { ClosedPort, MissingCatalogue, MissingFolder };

} // namespace

class SecretsTest : public QObject
{
    Q_OBJECT

private slots:
    void failedRunShowsAndLogsNoPassword();
    void failedLookupLogsNoPassword();
    void failedCatalogueListTellsNoPassword();
    void failedRunShowsAndLogsNoPassword_data() { failedConnection_data(); }
    void failedLookupLogsNoPassword_data() { failedConnection_data(); }
    void failedCatalogueListTellsNoPassword_data();

private:
    static void failedConnection_data();
    // The server name for the target, or "" when the test cannot run here.
    static QString server(Target target, const TestPlatform& tp);
};

void SecretsTest::failedConnection_data()
{
    QTest::addColumn<Target>("target");
    QTest::newRow("SQL Server on a closed port") << Target::ClosedPort;
    QTest::newRow("embedded catalogue missing") << Target::MissingCatalogue;
    QTest::newRow("embedded folder missing") << Target::MissingFolder;
}

QString SecretsTest::server(Target target, const TestPlatform& tp)
{
    switch (target) {
    case Target::ClosedPort:
        return freeTdsAvailable() ? QStringLiteral("127.0.0.1,1") : QString();
    case Target::MissingCatalogue: {
        // A folder with another catalogue, so only the one asked for is missing.
        const QString folder = tp.path(QStringLiteral("db"));
        QDir().mkpath(folder);
        fixture::createCatalogue(folder, QStringLiteral("MIRKEL2011"), fixture::standardSubjects(),
                                 {});
        return QStringLiteral("sqlite:") + folder;
    }
    case Target::MissingFolder:
        return QStringLiteral("sqlite:") + tp.path(QStringLiteral("nessuna"));
    }
    return {};
}

void SecretsTest::failedRunShowsAndLogsNoPassword()
{
    QFETCH(Target, target);
    TestPlatform tp;
    HostConfig config;
    config.DBServerName = server(target, tp);
    if (config.DBServerName.isEmpty())
        QSKIP("the FreeTDS ODBC driver or Qt's QODBC driver is not installed");
    config.DBAdminUsername = QStringLiteral("sa");
    config.DBAdminPassword = kAdminPassword;
    config.DBUsername = QStringLiteral("mirkel");
    config.DBPassword = kPassword;
    tp.writeFile(QStringLiteral("TabellaCodiciVarno.txt"), "900678\tgiornale\t678\t1\t\r\n");
    ErrorLog log(tp.platform.programFolder, tp.clock, tp.files);
    FakeView view;
    view.catalogueText = QStringLiteral("MIRKEL2012");
    QString TabellaCodiciFile;
    ConversionRun(tp.platform, log, config, view, TabellaCodiciFile).execute();

    // The failure was told and logged, without the password.
    QVERIFY(!tp.dialogs.shown.isEmpty());
    for (const ShownMessage& m : tp.dialogs.shown) {
        QVERIFY2(!leaks(m.text), qPrintable(m.text));
        QVERIFY2(!leaks(m.title), qPrintable(m.title));
    }
    QVERIFY(!tp.logMessages().isEmpty());
    QCOMPARE(leakingFiles(tp.folder()), QStringList());
}

void SecretsTest::failedLookupLogsNoPassword()
{
    QFETCH(Target, target);
    TestPlatform tp;
    const QString serverName = server(target, tp);
    if (serverName.isEmpty())
        QSKIP("the FreeTDS ODBC driver or Qt's QODBC driver is not installed");
    ErrorLog log(tp.platform.programFolder, tp.clock, tp.files);
    QCOMPARE(db::FIEGDLCodiceGet(db::connectionTarget(serverName, QStringLiteral("mirkel"),
                                                      kPassword, QStringLiteral("MIRKEL2012")),
                                 QStringLiteral("069"), log),
             QString());
    const QStringList lines = tp.logMessages();
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines[0].endsWith(QStringLiteral(" Sorgente:FIEGDLCodiceGet ")));
    QCOMPARE(leakingFiles(tp.folder()), QStringList());
}

void SecretsTest::failedCatalogueListTellsNoPassword_data()
{
    // The list opens the server itself, not a catalogue.
    QTest::addColumn<Target>("target");
    QTest::newRow("SQL Server on a closed port") << Target::ClosedPort;
    QTest::newRow("embedded folder missing") << Target::MissingFolder;
}

void SecretsTest::failedCatalogueListTellsNoPassword()
{
    QFETCH(Target, target);
    TestPlatform tp;
    QString serverName = server(target, tp);
    if (serverName.isEmpty())
        QSKIP("the FreeTDS ODBC driver or Qt's QODBC driver is not installed");
    QStringList names;
    const Error e = db::DataBaseList(serverName, QStringLiteral("sa"), kAdminPassword, names);
    QVERIFY(e.failed());
    QVERIFY(!e.description.isEmpty());
    QVERIFY2(!leaks(e.description), qPrintable(e.description));
    QVERIFY(names.isEmpty());
}

QTEST_GUILESS_MAIN(SecretsTest)
#include "SecretsTest.moc"
