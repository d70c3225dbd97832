#include "db/ConnectionString.h"
#include "db/Database.h"
#include "db/Lookups.h"
#include "errors/ErrorLog.h"
#include "tests/support/Fakes.h"
#include "tests/support/HostFixture.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QSqlDatabase>
#include <QTcpServer>
#include <QTest>

// The SQL Server path through ODBC, without a server: what must hold when none answers.
class SqlServerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void closedPortFailsAsUnreachable_data();
    void closedPortFailsAsUnreachable();
    void silentServerFailsWithinLoginTimeout();
    void catalogueListFailsOnClosedPort();
    void lookupOnClosedPortLogsWithoutPassword();

private:
    // Recognisable, and holding the characters that need bracing.
    static QString password() { return QStringLiteral("Zq7;Segreto{x}"); }
    QString closedServer() const { return QStringLiteral("127.0.0.1,%1").arg(closedPort_); }

    quint16 closedPort_ = 1;
};

void SqlServerTest::initTestCase()
{
    if (const QString why = fixture::freeTdsUnavailable(); !why.isEmpty())
        QSKIP(qPrintable(why));
    // A port that was just free; port 1 as well, which nothing here listens on.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    closedPort_ = probe.serverPort();
}

void SqlServerTest::closedPortFailsAsUnreachable_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("master");
    QTest::newRow("port 1, catalogue") << "127.0.0.1,1" << false;
    QTest::newRow("port 1, master") << "127.0.0.1,1" << true;
    QTest::newRow("freed port") << "" << false;
}

void SqlServerTest::closedPortFailsAsUnreachable()
{
    QFETCH(QString, server);
    QFETCH(bool, master);
    if (server.isEmpty())
        server = closedServer();
    const QStringList before = QSqlDatabase::connectionNames();
    const db::ConnectionTarget target =
        master ? db::firstConnectionTarget(server, QStringLiteral("sa"), password())
               : db::connectionTarget(server, QStringLiteral("mirkel"), password(),
                                      QStringLiteral("MIRKEL2012"));
    QElapsedTimer timer;
    timer.start();
    Error e;
    {
        db::Connection c;
        e = c.open(target);
        QVERIFY(!c.isOpen());
    }
    QVERIFY(timer.elapsed() < 30000); // only guards against a hang
    QCOMPARE(e.number, ErrorNumber::Unreachable);
    QVERIFY(!e.description.isEmpty());
    QVERIFY2(!e.description.contains(QStringLiteral("Segreto")), qPrintable(e.description));
    QCOMPARE(QSqlDatabase::connectionNames(), before);
}

void SqlServerTest::silentServerFailsWithinLoginTimeout()
{
    // The kernel completes the handshake for a listening socket; nobody ever answers.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    QElapsedTimer timer;
    timer.start();
    db::Connection c;
    const Error e = c.open(
        db::connectionTarget(QStringLiteral("127.0.0.1,%1").arg(silent.serverPort()),
                             QStringLiteral("mirkel"), password(), QStringLiteral("MIRKEL2012")));
    QVERIFY(timer.elapsed() < 120000); // only guards against a hang
    QCOMPARE(e.number, ErrorNumber::Unreachable);
    QVERIFY(!e.description.contains(QStringLiteral("Segreto")));
}

void SqlServerTest::catalogueListFailsOnClosedPort()
{
    QStringList names{QStringLiteral("left over")};
    const Error e = db::DataBaseList(closedServer(), QStringLiteral("sa"), password(), names);
    QCOMPARE(e.number, ErrorNumber::Unreachable);
    QVERIFY(names.isEmpty());
    QVERIFY(!e.description.contains(QStringLiteral("Segreto")));
}

void SqlServerTest::lookupOnClosedPortLogsWithoutPassword()
{
    TestPlatform tp;
    ErrorLog log(tp.folder(), tp.clock, tp.files);
    QCOMPARE(db::FIEGDLCodiceGet(db::connectionTarget(closedServer(), QStringLiteral("mirkel"),
                                                      password(), QStringLiteral("MIRKEL2012")),
                                 QStringLiteral("069"), log),
             QString());
    const QStringList lines = tp.logMessages();
    QCOMPARE(lines.size(), 1);
    QVERIFY(
        lines[0].startsWith(QStringLiteral("ERROR:\tErrore numero: -2147467259 Descrizione: ")));
    QVERIFY(lines[0].endsWith(QStringLiteral(" Sorgente:FIEGDLCodiceGet ")));
    QVERIFY(!lines[0].contains(QStringLiteral("Segreto")));
}

QTEST_GUILESS_MAIN(SqlServerTest)
#include "SqlServerTest.moc"
