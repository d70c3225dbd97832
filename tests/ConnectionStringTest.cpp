#include "db/ConnectionString.h"

#include <QTest>

using db::ConnectionTarget;
using db::Engine;

class ConnectionStringTest : public QObject
{
    Q_OBJECT

private slots:
    void firstConnectionString_data();
    void firstConnectionString();
    void connectionString_data();
    void connectionString();
    void parseBack_data();
    void parseBack();
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

void ConnectionStringTest::parseBack_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("catalogue"); // empty: the master string
    QTest::addColumn<int>("engine");
    QTest::addColumn<QString>("folder");

    const int sqlServer = int(Engine::SqlServer);
    const int sqlite = int(Engine::Sqlite);
    QTest::newRow("sql server") << "EDICOLA\\SQLEXPRESS"
                                << "mirkel"
                                << "pw"
                                << "MIRKEL2012" << sqlServer << "";
    QTest::newRow("master") << "EDICOLA"
                            << "sa"
                            << "pw"
                            << "" << sqlServer << "";
    QTest::newRow("empty password") << "EDICOLA"
                                    << "mirkel"
                                    << ""
                                    << "MIRKEL2012" << sqlServer << "";
    QTest::newRow("password with separators") << "10.0.0.5,1433"
                                              << "mirkel"
                                              << "a;b=c{d}"
                                              << "MIRKEL2012" << sqlServer << "";
    QTest::newRow("blanks kept") << "EDICOLA"
                                 << " mirkel "
                                 << " pw "
                                 << "TELVOR 1" << sqlServer << "";
    QTest::newRow("embedded") << "sqlite:/srv/host data"
                              << "u"
                              << "p"
                              << "Mirkel2012" << sqlite << "/srv/host data";
    QTest::newRow("embedded master") << "sqlite:C:\\host"
                                     << "u"
                                     << "p"
                                     << "" << sqlite << "C:\\host";
}

void ConnectionStringTest::parseBack()
{
    QFETCH(QString, server);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, catalogue);
    QFETCH(int, engine);
    QFETCH(QString, folder);

    const QString text = catalogue.isEmpty()
                             ? db::FirstConnectionString(server, user, password)
                             : db::ConnectionString(server, user, password, catalogue);
    const ConnectionTarget t = db::parseConnectionString(text);
    QCOMPARE(int(t.engine), engine);
    QCOMPARE(t.server, server);
    QCOMPARE(t.user, user);
    QCOMPARE(t.password, password);
    // The blank the host writes after "Initial Catalog=" is not part of the name.
    QCOMPARE(t.catalogue, catalogue.isEmpty() ? QStringLiteral("master") : catalogue);
    QCOMPARE(t.folder, folder);
}

void ConnectionStringTest::odbc_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("expected");

    const QString tail = QStringLiteral("TDS_Version=7.4;ClientCharset=UTF-8;");
    QTest::newRow("freetds plain")
        << "EDICOLA"
        << "pw"
        << "FreeTDS"
        << "DRIVER={FreeTDS};SERVER=EDICOLA;DATABASE=MIRKEL2012;UID=mirkel;PWD=pw;" + tail;
    QTest::newRow("freetds port apart")
        << "127.0.0.1,1433"
        << "pw"
        << "FreeTDS"
        << "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=1433;DATABASE=MIRKEL2012;UID=mirkel;PWD=pw;" +
               tail;
    QTest::newRow("freetds tcp prefix")
        << "tcp:db.example,1500"
        << "pw"
        << "FreeTDS"
        << "DRIVER={FreeTDS};SERVER=db.example;PORT=1500;DATABASE=MIRKEL2012;UID=mirkel;PWD=pw;" +
               tail;
    QTest::newRow("freetds local instance")
        << "(local)\\SQLEXPRESS"
        << "pw"
        << "FreeTDS"
        << "DRIVER={FreeTDS};SERVER=localhost\\SQLEXPRESS;DATABASE=MIRKEL2012;UID=mirkel;PWD=pw;" +
               tail;
    QTest::newRow("freetds dot")
        << "."
        << "pw"
        << "FreeTDS"
        << "DRIVER={FreeTDS};SERVER=localhost;DATABASE=MIRKEL2012;UID=mirkel;PWD=pw;" + tail;
    QTest::newRow("semicolon braced")
        << "EDICOLA"
        << "a;b"
        << "FreeTDS"
        << "DRIVER={FreeTDS};SERVER=EDICOLA;DATABASE=MIRKEL2012;UID=mirkel;PWD={a;b};" + tail;
    QTest::newRow("braces braced, closing doubled")
        << "EDICOLA"
        << "{x}y"
        << "FreeTDS"
        << "DRIVER={FreeTDS};SERVER=EDICOLA;DATABASE=MIRKEL2012;UID=mirkel;PWD={{x}}y};" + tail;
    QTest::newRow("outer blanks braced")
        << "EDICOLA"
        << " pw "
        << "FreeTDS"
        << "DRIVER={FreeTDS};SERVER=EDICOLA;DATABASE=MIRKEL2012;UID=mirkel;PWD={ pw };" + tail;
    QTest::newRow("empty password")
        << "EDICOLA"
        << ""
        << "FreeTDS"
        << "DRIVER={FreeTDS};SERVER=EDICOLA;DATABASE=MIRKEL2012;UID=mirkel;PWD=;" + tail;
    QTest::newRow("windows driver keeps the port")
        << "EDICOLA,1433"
        << "a;b"
        << "SQL Server"
        << "DRIVER={SQL Server};SERVER=EDICOLA,1433;DATABASE=MIRKEL2012;UID=mirkel;PWD={a;b};";
}

void ConnectionStringTest::odbc()
{
    QFETCH(QString, server);
    QFETCH(QString, password);
    QFETCH(QString, driver);
    QFETCH(QString, expected);

    // Through the OLE DB text, as the tool connects.
    const ConnectionTarget t = db::parseConnectionString(db::ConnectionString(
        server, QStringLiteral("mirkel"), password, QStringLiteral("MIRKEL2012")));
    QCOMPARE(db::odbcConnectionString(t, driver), expected);
}

QTEST_GUILESS_MAIN(ConnectionStringTest)
#include "ConnectionStringTest.moc"
