#include "db/ConnectionString.h"

#include <QTest>

class ConnectionStringTest : public QObject
{
    Q_OBJECT

private slots:
    void firstConnectionString_data();
    void firstConnectionString();
    void connectionString_data();
    void connectionString();
    void odbc_data();
    void odbc();
};

void ConnectionStringTest::firstConnectionString_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expected");

    QTest::newRow("named instance")
        << "EDICOLA\\SQLEXPRESS"
        << "sa"
        << "segreta"
        << "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Password=segreta;"
           "Initial Catalog=master;Data Source=EDICOLA\\SQLEXPRESS";
    QTest::newRow("empty password")
        << "srv"
        << "mirkel"
        << ""
        << "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=mirkel;Password=;"
           "Initial Catalog=master;Data Source=srv";
    QTest::newRow("values kept as they are")
        << " srv "
        << " u ser"
        << "p;w=d "
        << "Provider=SQLOLEDB.1;Persist Security Info=False;User ID= u ser;Password=p;w=d ;"
           "Initial Catalog=master;Data Source= srv ";
}

void ConnectionStringTest::firstConnectionString()
{
    QFETCH(QString, server);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, expected);
    QCOMPARE(db::FirstConnectionString(server, user, password), expected);
}

void ConnectionStringTest::connectionString_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QString>("expected");

    QTest::newRow("blank before the catalogue")
        << "EDICOLA"
        << "mirkel"
        << "pw"
        << "MIRKEL2012"
        << "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=mirkel;Password=pw;"
           "Initial Catalog= MIRKEL2012;Data Source=EDICOLA";
    QTest::newRow("empty password")
        << "EDICOLA"
        << "mirkel"
        << ""
        << "MIRKEL2012"
        << "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=mirkel;Password=;"
           "Initial Catalog= MIRKEL2012;Data Source=EDICOLA";
    QTest::newRow("empty catalogue")
        << "EDICOLA"
        << "mirkel"
        << "pw"
        << ""
        << "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=mirkel;Password=pw;"
           "Initial Catalog= ;Data Source=EDICOLA";
    QTest::newRow("embedded engine")
        << "sqlite:/tmp/host"
        << "u"
        << "p"
        << "TELVORNORD"
        << "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=u;Password=p;"
           "Initial Catalog= TELVORNORD;Data Source=sqlite:/tmp/host";
}

void ConnectionStringTest::connectionString()
{
    QFETCH(QString, server);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, catalogue);
    QFETCH(QString, expected);
    QCOMPARE(db::ConnectionString(server, user, password, catalogue), expected);
}

void ConnectionStringTest::odbc_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QString>("driver");
    QTest::addColumn<bool>("qtQuotes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("appended"); // the password Qt is to append
    QTest::addColumn<QString>("refused");  // the field the message names

    const QString tds = QStringLiteral("DRIVER={FreeTDS};SERVER=");
    const QString tail = QStringLiteral(";TDS_Version=7.4;ClientCharset=UTF-8;");
    const QString login = QStringLiteral(";DATABASE=MIRKEL2012;UID=mirkel;PWD=");
    QTest::newRow("freetds port apart")
        << "127.0.0.1,1433"
        << "pw"
        << "MIRKEL2012"
        << "FreeTDS" << false << tds + "127.0.0.1;PORT=1433" + login + "pw" + tail << ""
        << "";
    QTest::newRow("freetds tcp prefix")
        << "tcp:db.example,1500"
        << "pw"
        << "MIRKEL2012"
        << "FreeTDS" << false << tds + "db.example;PORT=1500" + login + "pw" + tail << ""
        << "";
    QTest::newRow("freetds local instance")
        << "(local)\\SQLEXPRESS"
        << "pw"
        << "MIRKEL2012"
        << "FreeTDS" << false << tds + "127.0.0.1\\SQLEXPRESS" + login + "pw" + tail << ""
        << "";
    QTest::newRow("freetds dot") << "."
                                 << "pw"
                                 << "MIRKEL2012"
                                 << "FreeTDS" << false << tds + "127.0.0.1" + login + "pw" + tail
                                 << ""
                                 << "";
    QTest::newRow("freetds keeps closing braces single")
        << "EDICOLA"
        << "{a;b}c"
        << "MIRKEL2012"
        << "FreeTDS" << false << tds + "EDICOLA" + login + "{{a;b}c}" + tail << ""
        << "";
    QTest::newRow("freetds cannot carry };") << "EDICOLA"
                                             << "x};y"
                                             << "MIRKEL2012"
                                             << "FreeTDS" << false << ""
                                             << ""
                                             << "DBPassword";
    QTest::newRow("freetds speaks no named pipes") << "np:\\\\EDICOLA\\pipe\\sql\\query"
                                                   << "pw"
                                                   << "MIRKEL2012"
                                                   << "FreeTDS" << false << ""
                                                   << ""
                                                   << "DBServerName";
    QTest::newRow("port not a number") << "EDICOLA,14x3"
                                       << "pw"
                                       << "MIRKEL2012"
                                       << "FreeTDS" << false << ""
                                       << ""
                                       << "DBServerName";
    QTest::newRow(".dsn password beside the text")
        << "EDICOLA"
        << "a}b;c.DSN"
        << "MIRKEL2012"
        << "FreeTDS" << false << tds + "EDICOLA;DATABASE=MIRKEL2012;UID=mirkel" + tail.chopped(1)
        << "{a}b;c.DSN};"
        << "";
    QTest::newRow(".dsn password where Qt may quote") << "EDICOLA"
                                                      << "a}b;c.DSN"
                                                      << "MIRKEL2012"
                                                      << "FreeTDS" << true << ""
                                                      << ""
                                                      << "DBPassword";
    QTest::newRow(".dsn catalogue") << "EDICOLA"
                                    << "pw"
                                    << "MIRKEL.DSN"
                                    << "FreeTDS" << false << ""
                                    << ""
                                    << "database";
    QTest::newRow(".dsn server") << "db.dsnet.example"
                                 << "pw"
                                 << "MIRKEL2012"
                                 << "SQL Server" << false << ""
                                 << ""
                                 << "DBServerName";
    QTest::newRow("windows doubles closing braces")
        << "(local)\\SQLEXPRESS"
        << "{x}y"
        << "MIRKEL2012"
        << "SQL Server" << false
        << "DRIVER={SQL Server};SERVER=(local)\\SQLEXPRESS" + login + "{{x}}y};"
        << ""
        << "";
    QTest::newRow("windows keeps the port, braces outer blanks")
        << "EDICOLA,1433"
        << " pw "
        << "MIRKEL2012"
        << "SQL Server" << false << "DRIVER={SQL Server};SERVER=EDICOLA,1433" + login + "{ pw };"
        << ""
        << "";
}

void ConnectionStringTest::odbc()
{
    QFETCH(QString, server);
    QFETCH(QString, password);
    QFETCH(QString, catalogue);
    QFETCH(QString, driver);
    QFETCH(bool, qtQuotes);
    QFETCH(QString, text);
    QFETCH(QString, appended);
    QFETCH(QString, refused);

    const db::OdbcLogin login =
        db::odbcLogin(db::connectionTarget(server, QStringLiteral("mirkel"), password, catalogue),
                      driver, qtQuotes);
    QCOMPARE(login.text, text);
    QCOMPARE(login.user, QString());
    QCOMPARE(login.password, appended);
    if (refused.isEmpty()) {
        QCOMPARE(login.refusal, QString());
    } else {
        QVERIFY2(login.refusal.contains(QStringLiteral(" ") + refused + QStringLiteral(" ")),
                 qPrintable(login.refusal));
        QVERIFY2(!login.refusal.contains(password), qPrintable(login.refusal));
    }
}

QTEST_GUILESS_MAIN(ConnectionStringTest)
#include "ConnectionStringTest.moc"
