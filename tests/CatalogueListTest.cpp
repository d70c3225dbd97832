#include "db/Database.h"
#include "db/Lookups.h"
#include "tests/support/HostFixture.h"

#include <QTemporaryDir>
#include <QTest>

class CatalogueListTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { db::setFaultHook({}); }

    void matchesLike_data();
    void matchesLike();
    void dataBaseList_data();
    void dataBaseList();
    void unreachableServerFails();
    void failedListingReachesTheCaller();
};

void CatalogueListTest::matchesLike_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("matches");

    QTest::newRow("prefix exactly") << "MIRKEL"
                                    << "MIRKEL*" << true;
    QTest::newRow("prefix and more") << "MIRKEL2012"
                                     << "MIRKEL*" << true;
    QTest::newRow("prefix inside") << "OLDMIRKEL"
                                   << "MIRKEL*" << false;
    QTest::newRow("case counts") << "Mirkel2012"
                                 << "MIRKEL*" << false;
    QTest::newRow("too short") << "MIRKE"
                               << "MIRKEL*" << false;
    QTest::newRow("star alone, empty text") << ""
                                            << "*" << true;
    QTest::newRow("star in the middle, empty run") << "AC"
                                                   << "A*C" << true;
    QTest::newRow("star in the middle") << "ABBC"
                                        << "A*C" << true;
    QTest::newRow("wrong end") << "ABD"
                               << "A*C" << false;
    QTest::newRow("tail found late") << "ABCBC"
                                     << "A*BC" << true;
    QTest::newRow("two stars") << "AXBYC"
                               << "A*B*C" << true;
    QTest::newRow("no star, equal") << "MODEL"
                                    << "MODEL" << true;
    QTest::newRow("no star, longer") << "MODELS"
                                     << "MODEL" << false;
    QTest::newRow("empty pattern") << "X"
                                   << "" << false;
    QTest::newRow("question mark is itself") << "ABC"
                                             << "A?C" << false;
    QTest::newRow("question mark matches itself") << "A?C"
                                                  << "A?C" << true;
    QTest::newRow("brackets are themselves") << "A"
                                             << "[A]*" << false;
    QTest::newRow("brackets match themselves") << "[A]B"
                                               << "[A]*" << true;
    QTest::newRow("hash is itself") << "T1"
                                    << "T#" << false;
}

void CatalogueListTest::matchesLike()
{
    QFETCH(QString, text);
    QFETCH(QString, pattern);
    QFETCH(bool, matches);
    QCOMPARE(db::matchesLike(text, pattern), matches);
}

void CatalogueListTest::dataBaseList_data()
{
    QTest::addColumn<QStringList>("catalogues");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("the usual server")
        << QStringList{"Mirkel2012", "telvorNord", "OLDMIRKEL", "model"}
        << QStringList{"MIRKEL2012", "TELVORNORD"};
    QTest::newRow("exactly MIRKEL") << QStringList{"MIRKEL", "tempdb"} << QStringList{"MIRKEL"};
    QTest::newRow("none matching")
        << QStringList{"model", "msdb", "tempdb", "XMIRKEL"} << QStringList{};
    QTest::newRow("no catalogues") << QStringList{} << QStringList{};
    QTest::newRow("server order ignores case") << QStringList{"TELVOR1", "mirkel1", "Mirkel0"}
                                               << QStringList{"MIRKEL0", "MIRKEL1", "TELVOR1"};
    QTest::newRow("prefix cut short")
        << QStringList{"TELVO", "MIRKE", "Telvor"} << QStringList{"TELVOR"};
}

void CatalogueListTest::dataBaseList()
{
    QFETCH(QStringList, catalogues);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    for (const QString& name : catalogues)
        QVERIFY(!fixture::createCatalogue(dir.path(), name, {}, {}).isEmpty());

    QStringList names{QStringLiteral("left over")};
    // User and password do not matter to the embedded engine.
    const Error e = db::DataBaseList(QStringLiteral("sqlite:") + dir.path(),
                                     QStringLiteral("mirkel"), QStringLiteral("x;y"), names);
    QVERIFY2(!e.failed(), qPrintable(e.description));
    QCOMPARE(names, expected);
}

void CatalogueListTest::unreachableServerFails()
{
    QStringList names;
    const Error e = db::DataBaseList(QStringLiteral("sqlite:/nonexistent/host folder"),
                                     QStringLiteral("mirkel"), QString(), names);
    QCOMPARE(e.number, ErrorNumber::Unreachable);
    QVERIFY(names.isEmpty());
}

void CatalogueListTest::failedListingReachesTheCaller()
{
    QTemporaryDir dir;
    QVERIFY(!fixture::createCatalogue(dir.path(), QStringLiteral("MIRKEL1"), {}, {}).isEmpty());
    db::setFaultHook([](const char* op) {
        return qstrcmp(op, "catalogues") == 0 ? Error{-2147217900, QStringLiteral("sp_databases")}
                                              : Error{};
    });
    QStringList names;
    const Error e = db::DataBaseList(QStringLiteral("sqlite:") + dir.path(),
                                     QStringLiteral("mirkel"), QString(), names);
    QCOMPARE(e.number, ErrorNumber::CommandText);
    QVERIFY(names.isEmpty());
}

QTEST_GUILESS_MAIN(CatalogueListTest)
#include "CatalogueListTest.moc"
