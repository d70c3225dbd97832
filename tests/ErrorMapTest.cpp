#include "db/ErrorMap.h"

#include <QTest>

using db::Engine;
using namespace ErrorNumber;

class ErrorMapTest : public QObject
{
    Q_OBJECT

private slots:
    void sqlServer_data();
    void sqlServer();
    void sqlite_data();
    void sqlite();
};

void ErrorMapTest::sqlServer_data()
{
    QTest::addColumn<QString>("native");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("opening");
    QTest::addColumn<qint32>("expected");

    QTest::newRow("syntax") << "102"
                            << "Incorrect syntax near 'x'." << false << CommandText;
    QTest::newRow("unknown function")
        << "195"
        << "'SERVERPROPERTY' is not a recognized function name." << false << CommandText;
    QTest::newRow("unknown procedure") << "2812"
                                       << "" << false << CommandText;
    QTest::newRow("unknown table") << "208"
                                   << "Invalid object name 'X'." << false << UnknownObject;
    QTest::newRow("unknown column") << "207"
                                    << "Invalid column name 'X'." << false << UnknownObject;
    QTest::newRow("prepare failure beside the cause") << "8180;208"
                                                      << "" << false << UnknownObject;
    QTest::newRow("cause before prepare failure") << "208;8180"
                                                  << "" << false << UnknownObject;
    QTest::newRow("conversion") << "245"
                                << "Conversion failed" << false << ConversionFailed;
    QTest::newRow("truncation") << "8152"
                                << "String or binary data would be truncated." << false
                                << Truncation;
    QTest::newRow("truncation, newer servers") << "2628"
                                               << "" << false << Truncation;
    QTest::newRow("null not allowed") << "515"
                                      << "" << false << ConstraintViolation;
    QTest::newRow("duplicate key") << "2627"
                                   << "" << false << ConstraintViolation;
    QTest::newRow("lock time-out")
        << "1222"
        << "Lock request time out period exceeded." << false << LockTimeout;
    QTest::newRow("anything else in a command") << "50000"
                                                << "raised" << false << Unspecified;
    QTest::newRow("deadlock victim") << "1205"
                                     << "" << false << Unspecified;
    QTest::newRow("full log") << "9002"
                              << "" << false << Unspecified;
    QTest::newRow("lost connection") << "20004"
                                     << "Read from the server failed" << false << Unspecified;
    QTest::newRow("permission refused")
        << "229"
        << "The UPDATE permission was denied" << false << AccessDenied;
    QTest::newRow("no native code in a command") << ""
                                                 << "" << false << CommandText;
    QTest::newRow("login refused") << "18456"
                                   << "Login failed for user 'x'." << true << LoginFailed;
    QTest::newRow("server unreachable")
        << "0"
        << "Unable to connect to data source" << true << Unreachable;
    QTest::newRow("no native code when opening") << ""
                                                 << "" << true << Unreachable;
    // A missing catalogue comes with a login failure as well; the catalogue is what counts.
    QTest::newRow("missing catalogue then login") << "4060;18456"
                                                  << "" << true << Unreachable;
    QTest::newRow("login then missing catalogue") << "18456;4060"
                                                  << "" << true << Unreachable;
    QTest::newRow("missing catalogue, last code only")
        << "18456"
        << "Cannot open database \"MIRKEL2099\" requested by the login. The login failed. "
           "Login failed for user 'mirkel'."
        << true << Unreachable;
    QTest::newRow("syntax code while opening") << "102"
                                               << "" << true << Unreachable;
}

void ErrorMapTest::sqlServer()
{
    QFETCH(QString, native);
    QFETCH(QString, text);
    QFETCH(bool, opening);
    QFETCH(qint32, expected);
    QCOMPARE(db::mapErrorNumber(Engine::SqlServer, native, text, opening), expected);
}

void ErrorMapTest::sqlite_data()
{
    QTest::addColumn<QString>("native");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("opening");
    QTest::addColumn<qint32>("expected");

    QTest::newRow("syntax") << "1"
                            << "near \"SELEC\": syntax error" << false << CommandText;
    QTest::newRow("no such table") << "1"
                                   << "no such table: Nulla" << false << UnknownObject;
    QTest::newRow("no such column") << "1"
                                    << "no such column: Nulla" << false << UnknownObject;
    QTest::newRow("size check")
        << "275"
        << "CHECK constraint failed: String or binary data would be truncated" << false
        << Truncation;
    QTest::newRow("unique") << "2067"
                            << "UNIQUE constraint failed: Prodotti.IDProd" << false
                            << ConstraintViolation;
    QTest::newRow("not null") << "1299"
                              << "NOT NULL constraint failed" << false << ConstraintViolation;
    QTest::newRow("mismatch") << "20"
                              << "datatype mismatch" << false << ConversionFailed;
    QTest::newRow("busy beyond the wait") << "5"
                                          << "database is locked" << false << LockTimeout;
    QTest::newRow("read-only catalogue")
        << "8"
        << "attempt to write a readonly database" << false << AccessDenied;
    QTest::newRow("disk I/O") << "10"
                              << "disk I/O error" << false << Unspecified;
    QTest::newRow("corrupt") << "11"
                             << "database disk image is malformed" << false << Unspecified;
    QTest::newRow("disk full") << "13"
                               << "database or disk is full" << false << Unspecified;
    QTest::newRow("not a database") << "26"
                                    << "file is not a database" << false << Unreachable;
    QTest::newRow("cannot open") << "14"
                                 << "unable to open database file" << true << Unreachable;
}

void ErrorMapTest::sqlite()
{
    QFETCH(QString, native);
    QFETCH(QString, text);
    QFETCH(bool, opening);
    QFETCH(qint32, expected);
    QCOMPARE(db::mapErrorNumber(Engine::Sqlite, native, text, opening), expected);
}

QTEST_GUILESS_MAIN(ErrorMapTest)
#include "ErrorMapTest.moc"
