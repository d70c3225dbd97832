#include "db/Database.h"
#include "db/ConnectionString.h"
#include "tests/support/HostFixture.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>

using db::Connection;
using db::Rows;
using namespace ErrorNumber;

class DatabaseTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensCatalogueInAnyCase_data();
    void opensCatalogueInAnyCase();
    void failsOnMissingCatalogueWithoutCreatingIt_data();
    void failsOnMissingCatalogueWithoutCreatingIt();
    void failsOnFileThatIsNoDatabase();
    void folderNameNeedsNoEscaping_data();
    void folderNameNeedsNoEscaping();
    void masterListsCataloguesInNameOrder();

    void rowCountAndPosition_data();
    void rowCountAndPosition();
    void rowsAreASnapshot();
    void maxRowsStopsEarly();
    void nullReadsAsEmptyText();
    void fieldNamesIgnoreCase();

    void rejectedCommandsAreNumbered_data();
    void rejectedCommandsAreNumbered();

    void faultHookFailsTheNamedOperation_data();
    void faultHookFailsTheNamedOperation();
    void transactionRollsBack();
    void connectionsAreRemovedWhenClosed();
    void closedConnectionRefusesWork();

private:
    db::ConnectionTarget target(const QString& catalogue) const
    {
        return db::connectionTarget(QStringLiteral("sqlite:") + dir_->path(),
                                    QStringLiteral("mirkel"), QStringLiteral("pw"), catalogue);
    }
    // What the folder holds, less the write-ahead log files an open catalogue keeps beside
    // itself.
    QStringList folderEntries() const
    {
        QStringList entries =
            QDir(dir_->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
        entries.removeIf([](const QString& name) {
            return name.endsWith(QStringLiteral("-wal")) || name.endsWith(QStringLiteral("-shm"));
        });
        return entries;
    }

    std::unique_ptr<QTemporaryDir> dir_;
    QString mirkel_;
};

void DatabaseTest::init()
{
    db::setFaultHook({});
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    mirkel_ = fixture::createCatalogue(
        dir_->path(), QStringLiteral("Mirkel2012"), fixture::standardSubjects(),
        {{1, QStringLiteral("000000678"), QStringLiteral("Corriere"), 12},
         {2, QStringLiteral("000000679"), QString(), 12},
         {3, QString(), QStringLiteral("Senza codice"), 34}});
    QVERIFY(!mirkel_.isEmpty());
}

void DatabaseTest::cleanup()
{
    db::setFaultHook({});
}

void DatabaseTest::opensCatalogueInAnyCase_data()
{
    QTest::addColumn<QString>("catalogue");
    QTest::newRow("as listed") << "MIRKEL2012";
    QTest::newRow("as the file") << "Mirkel2012";
    QTest::newRow("lower case") << "mirkel2012";
}

void DatabaseTest::opensCatalogueInAnyCase()
{
    QFETCH(QString, catalogue);
    Connection c;
    const Error e = c.open(target(catalogue));
    QVERIFY2(!e.failed(), qPrintable(e.description));
    Rows rows;
    QVERIFY(!c.query(QStringLiteral("SELECT * FROM Soggetti"), {}, rows).failed());
    QCOMPARE(rows.count(), 3);
    QCOMPARE(folderEntries(), QStringList{QStringLiteral("Mirkel2012.sqlite")});
}

void DatabaseTest::failsOnMissingCatalogueWithoutCreatingIt_data()
{
    QTest::addColumn<QString>("catalogue");
    QTest::newRow("unknown name") << "MIRKEL2099";
    QTest::newRow("name of a prefix") << "MIRKEL";
    QTest::newRow("name with path") << "../Mirkel2012";
    QTest::newRow("empty") << "";
}

void DatabaseTest::failsOnMissingCatalogueWithoutCreatingIt()
{
    QFETCH(QString, catalogue);
    const QStringList before = folderEntries();
    Connection c;
    const Error e = c.open(target(catalogue));
    QCOMPARE(e.number, Unreachable);
    QVERIFY(!e.description.isEmpty());
    QVERIFY(!c.isOpen());
    QCOMPARE(folderEntries(), before);
}

void DatabaseTest::failsOnFileThatIsNoDatabase()
{
    QFile junk(QDir(dir_->path()).filePath(QStringLiteral("MIRKELJUNK.sqlite")));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();

    Connection c;
    const Error e = c.open(target(QStringLiteral("MIRKELJUNK")));
    QCOMPARE(e.number, Unreachable);
    QVERIFY(!c.isOpen());
}

void DatabaseTest::folderNameNeedsNoEscaping_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("blank") << "host data";
#ifdef Q_OS_WIN
    QTest::newRow("hash") << "host #1"; // Windows forbids '?' in a name
#else
    QTest::newRow("hash and question mark") << "host #1?";
#endif
    QTest::newRow("percent") << "host%20x%";
    QTest::newRow("accent") << QStringLiteral("società");
    QTest::newRow("semicolon") << "a;b";
}

void DatabaseTest::folderNameNeedsNoEscaping()
{
    QFETCH(QString, folder);
    const QString path = QDir(dir_->path()).filePath(folder);
    QVERIFY(QDir().mkpath(path));
    QVERIFY(
        !fixture::createCatalogue(path, QStringLiteral("Mirkel1"), fixture::standardSubjects(), {})
             .isEmpty());
    Connection c;
    const Error e =
        c.open(db::connectionTarget(QStringLiteral("sqlite:") + path, QStringLiteral("u"),
                                    QString(), QStringLiteral("MIRKEL1")));
    QVERIFY2(!e.failed(), qPrintable(e.description));
    Rows rows;
    QVERIFY(!c.query(QStringLiteral("SELECT * FROM Soggetti"), {}, rows).failed());
    QCOMPARE(rows.count(), 3);
    QCOMPARE(QDir(path).entryList({QStringLiteral("*.sqlite")}, QDir::Files),
             QStringList{QStringLiteral("Mirkel1.sqlite")});
}

void DatabaseTest::masterListsCataloguesInNameOrder()
{
    for (const char* name : {"telvorNord", "model", "OLDMIRKEL"})
        QVERIFY(
            !fixture::createCatalogue(dir_->path(), QString::fromLatin1(name), {}, {}).isEmpty());
    // Neither a folder nor a file of another kind is a catalogue.
    QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("MIRKELDIR.sqlite")));
    QFile other(QDir(dir_->path()).filePath(QStringLiteral("MIRKEL.sqlite.bak")));
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.close();

    Connection c;
    QVERIFY(!c.open(db::firstConnectionTarget(QStringLiteral("sqlite:") + dir_->path(),
                                              QStringLiteral("x"), QString()))
                 .failed());
    QStringList names;
    QVERIFY(!c.catalogues(names).failed());
    // The server sorts names without regard to case.
    QCOMPARE(names, (QStringList{QStringLiteral("Mirkel2012"), QStringLiteral("model"),
                                 QStringLiteral("OLDMIRKEL"), QStringLiteral("telvorNord")}));
}

void DatabaseTest::rowCountAndPosition_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("count");
    QTest::newRow("none") << "SELECT * FROM Prodotti WHERE IDProd = 99" << 0;
    QTest::newRow("one") << "SELECT * FROM Prodotti WHERE IDProd = 1" << 1;
    QTest::newRow("three") << "SELECT * FROM Prodotti" << 3;
}

void DatabaseTest::rowCountAndPosition()
{
    QFETCH(QString, sql);
    QFETCH(int, count);
    Connection c;
    QVERIFY(!c.open(target(QStringLiteral("MIRKEL2012"))).failed());
    Rows rows;
    QVERIFY(!c.query(sql, {}, rows).failed());
    QCOMPARE(rows.count(), count);
    // Right after opening: both true for an empty result, both false otherwise.
    QCOMPARE(rows.bof(), count == 0);
    QCOMPARE(rows.eof(), count == 0);
    int walked = 0;
    for (; !rows.eof(); rows.moveNext()) {
        QVERIFY(rows.value(QStringLiteral("IDProd")).isValid());
        QVERIFY(!rows.bof());
        ++walked;
    }
    QCOMPARE(walked, count);
    QVERIFY(!rows.value(QStringLiteral("IDProd")).isValid());
}

void DatabaseTest::rowsAreASnapshot()
{
    Connection c;
    QVERIFY(!c.open(target(QStringLiteral("MIRKEL2012"))).failed());
    Rows rows;
    QVERIFY(!c.query(QStringLiteral("SELECT * FROM Prodotti ORDER BY IDProd"), {}, rows).failed());
    QVERIFY(
        !c.execute(QStringLiteral("INSERT INTO Prodotti VALUES (4, '1', 't', 12, 1)")).failed());
    QVERIFY(!c.execute(QStringLiteral("DELETE FROM Prodotti WHERE IDProd = 2")).failed());
    QCOMPARE(rows.count(), 3);
    rows.moveNext();
    QCOMPARE(rows.text(QStringLiteral("IDProd")), QStringLiteral("2"));
}

void DatabaseTest::maxRowsStopsEarly()
{
    Connection c;
    QVERIFY(!c.open(target(QStringLiteral("MIRKEL2012"))).failed());
    Rows rows;
    QVERIFY(
        !c.query(QStringLiteral("SELECT * FROM Prodotti ORDER BY IDProd"), {}, rows, 1).failed());
    QCOMPARE(rows.count(), 1);
    QCOMPARE(rows.text(QStringLiteral("IDProd")), QStringLiteral("1"));
}

void DatabaseTest::nullReadsAsEmptyText()
{
    Connection c;
    QVERIFY(!c.open(target(QStringLiteral("MIRKEL2012"))).failed());
    Rows rows;
    QVERIFY(
        !c.query(QStringLiteral("SELECT * FROM Prodotti WHERE IDProd = ?"), {2}, rows).failed());
    QCOMPARE(rows.count(), 1);
    QVERIFY(rows.value(QStringLiteral("Testata")).isNull());
    QCOMPARE(rows.text(QStringLiteral("Testata")), QString());
    QCOMPARE(rows.text(QStringLiteral("CodiceTestata")), QStringLiteral("000000679"));
}

void DatabaseTest::fieldNamesIgnoreCase()
{
    Connection c;
    QVERIFY(!c.open(target(QStringLiteral("MIRKEL2012"))).failed());
    Rows rows;
    QVERIFY(!c.query(QStringLiteral("select idprod, codicetestata from prodotti where idprod = 1"),
                     {}, rows)
                 .failed());
    QCOMPARE(rows.text(QStringLiteral("IDProd")), QStringLiteral("1"));
    QCOMPARE(rows.text(QStringLiteral("CODICETESTATA")), QStringLiteral("000000678"));
    QVERIFY(!rows.value(QStringLiteral("Nulla")).isValid());
}

void DatabaseTest::rejectedCommandsAreNumbered_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("asQuery");
    QTest::addColumn<qint32>("expected");

    QTest::newRow("syntax, execute") << "SELEC * FROM Prodotti" << false << CommandText;
    QTest::newRow("syntax, query") << "SELECT * FROM Prodotti WHERE" << true << CommandText;
    QTest::newRow("unknown table, execute") << "DELETE FROM Nulla" << false << UnknownObject;
    QTest::newRow("unknown table, query") << "SELECT * FROM Nulla" << true << UnknownObject;
    QTest::newRow("unknown column") << "SELECT Nulla FROM Prodotti" << true << UnknownObject;
    QTest::newRow("duplicate key")
        << "INSERT INTO Prodotti VALUES (1, '5', 'x', 12, 1)" << false << ConstraintViolation;
}

void DatabaseTest::rejectedCommandsAreNumbered()
{
    QFETCH(QString, sql);
    QFETCH(bool, asQuery);
    QFETCH(qint32, expected);
    Connection c;
    QVERIFY(!c.open(target(QStringLiteral("MIRKEL2012"))).failed());
    Rows rows;
    const Error e = asQuery ? c.query(sql, {}, rows) : c.execute(sql);
    QCOMPARE(e.number, expected);
    QVERIFY(!e.description.isEmpty());
    // The connection stays usable after a rejected command.
    QVERIFY(!c.query(QStringLiteral("SELECT * FROM Prodotti"), {}, rows).failed());
    QCOMPARE(rows.count(), 3);
}

void DatabaseTest::faultHookFailsTheNamedOperation_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("open") << "open";
    QTest::newRow("execute") << "execute";
    QTest::newRow("query") << "query";
    QTest::newRow("begin") << "begin";
    QTest::newRow("commit") << "commit";
    QTest::newRow("catalogues") << "catalogues";
}

void DatabaseTest::faultHookFailsTheNamedOperation()
{
    QFETCH(QString, operation);
    const Error injected{-2147217871, QStringLiteral("Timeout scaduto")};
    QStringList seen;
    db::setFaultHook([&](const char* op) {
        seen.append(QString::fromLatin1(op));
        return QString::fromLatin1(op) == operation ? injected : Error{};
    });

    Connection c;
    Error e = c.open(target(QStringLiteral("MIRKEL2012")));
    if (operation == QLatin1String("open")) {
        QCOMPARE(e.number, injected.number);
        QCOMPARE(e.description, injected.description);
        QVERIFY(!c.isOpen());
        return;
    }
    QVERIFY(!e.failed());

    Rows rows;
    QStringList names;
    if (operation == QLatin1String("execute"))
        e = c.execute(QStringLiteral("DELETE FROM Prodotti"));
    else if (operation == QLatin1String("query"))
        e = c.query(QStringLiteral("SELECT * FROM Prodotti"), {}, rows);
    else if (operation == QLatin1String("begin"))
        e = c.begin();
    else if (operation == QLatin1String("catalogues"))
        e = c.catalogues(names);
    else {
        QVERIFY(!c.begin().failed());
        QVERIFY(!c.execute(QStringLiteral("DELETE FROM Prodotti")).failed());
        e = c.commit();
    }
    QCOMPARE(e.number, injected.number);
    QVERIFY(seen.contains(operation));
    QCOMPARE(rows.count(), 0);

    // Nothing reached the table: a failed commit rolls back.
    db::setFaultHook({});
    QCOMPARE(fixture::select(mirkel_, QStringLiteral("SELECT * FROM Prodotti")).size(), 3);
}

void DatabaseTest::transactionRollsBack()
{
    Connection c;
    QVERIFY(!c.open(target(QStringLiteral("MIRKEL2012"))).failed());
    QVERIFY(!c.begin().failed());
    QVERIFY(!c.execute(QStringLiteral("DELETE FROM Prodotti")).failed());
    c.rollback();
    QCOMPARE(fixture::select(mirkel_, QStringLiteral("SELECT * FROM Prodotti")).size(), 3);
    QVERIFY(!c.begin().failed());
    QVERIFY(!c.execute(QStringLiteral("DELETE FROM Prodotti WHERE IDProd = 3")).failed());
    QVERIFY(!c.commit().failed());
    QCOMPARE(fixture::select(mirkel_, QStringLiteral("SELECT * FROM Prodotti")).size(), 2);
}

void DatabaseTest::connectionsAreRemovedWhenClosed()
{
    const QStringList before = QSqlDatabase::connectionNames();
    for (int i = 0; i < 5; ++i) {
        Connection scoped;
        QVERIFY(!scoped.open(target(QStringLiteral("MIRKEL2012"))).failed());
        Rows rows;
        QVERIFY(!scoped.query(QStringLiteral("SELECT * FROM Prodotti"), {}, rows).failed());
        QCOMPARE(QSqlDatabase::connectionNames().size(), before.size() + 1);
    }
    {
        Connection reopened;
        QVERIFY(!reopened.open(target(QStringLiteral("MIRKEL2012"))).failed());
        QVERIFY(!reopened.open(target(QStringLiteral("mirkel2012"))).failed());
        QCOMPARE(QSqlDatabase::connectionNames().size(), before.size() + 1);
        reopened.close();
        QCOMPARE(QSqlDatabase::connectionNames(), before);
        QVERIFY(!reopened.isOpen());
    }
    {
        Connection failed;
        QVERIFY(failed.open(target(QStringLiteral("MIRKEL2099"))).failed());
        const db::ConnectionTarget nowhere =
            db::firstConnectionTarget(QStringLiteral("sqlite:/nonexistent/folder"), {}, {});
        QVERIFY(failed.open(nowhere).failed());
    }
    QCOMPARE(QSqlDatabase::connectionNames(), before);
}

void DatabaseTest::closedConnectionRefusesWork()
{
    Connection c;
    Rows rows;
    QVERIFY(c.query(QStringLiteral("SELECT 1"), {}, rows).failed());
    QVERIFY(c.execute(QStringLiteral("SELECT 1")).failed());
    QVERIFY(!c.open(target(QStringLiteral("MIRKEL2012"))).failed());
    c.close();
    QVERIFY(c.query(QStringLiteral("SELECT * FROM Prodotti"), {}, rows).failed());
    // A missing engine folder is an unreachable server.
    QCOMPARE(
        c.open(db::connectionTarget(QStringLiteral("sqlite:/nonexistent/folder"),
                                    QStringLiteral("u"), QString(), QStringLiteral("MIRKEL2012")))
            .number,
        Unreachable);
}

QTEST_GUILESS_MAIN(DatabaseTest)
#include "DatabaseTest.moc"
