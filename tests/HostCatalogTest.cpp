#include "db/HostCatalog.h"
#include "db/ConnectionString.h"
#include "db/Database.h"
#include "db/Lookups.h"
#include "errors/ErrorLog.h"
#include "platform/OdbcDriver.h"
#include "tests/support/Fakes.h"
#include "tests/support/HostFixture.h"
#include "tests/support/StandIn.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

#include <vector>

using db::Connection;
using db::HostCatalog;
using fixture::ProductRow;
using fixture::Subject;
using namespace ErrorNumber;

// One row at a time, through the batch statements the run sends.
static Error insertStagingRow(HostCatalog& host, const QString& newCode, const QString& oldCode,
                              const QString& title)
{
    return host.insertStagingRows({{newCode, oldCode, title}});
}

static Error applyConversion(HostCatalog& host, const db::Product& product,
                             const db::StagingRow& row)
{
    return host.applyConversions({{&product, &row}});
}

// Where the operations run: the embedded engine always, SQL Server when the environment
// names one. Each backend holds one test catalogue that reset() rebuilds.
class Backend
{
public:
    virtual ~Backend() = default;
    // Empty when usable, else why not.
    virtual QString prepare() = 0;
    // Whether being unusable fails the test rather than skipping it.
    virtual bool required() const { return false; }
    virtual void finish() {}
    virtual bool reset(const QList<Subject>& subjects, const QList<ProductRow>& products) = 0;
    virtual db::ConnectionTarget target(const QString& catalogue) const = 0;
    virtual QString catalogue() const = 0;
    virtual QList<QVariantList> select(const QString& sql) = 0;
    virtual bool exec(const QString& sql) = 0;
    // The stand-in behind the backend, which faults can be injected into; null elsewhere.
    virtual fixture::StandIn* standIn() { return nullptr; }
};

class SqliteBackend final : public Backend
{
public:
    QString prepare() override { return dir_.isValid() ? QString() : dir_.errorString(); }
    bool reset(const QList<Subject>& subjects, const QList<ProductRow>& products) override
    {
        file_ =
            fixture::createCatalogue(dir_.path(), QStringLiteral("Mirkel2012"), subjects, products);
        return !file_.isEmpty();
    }
    db::ConnectionTarget target(const QString& catalogue) const override
    {
        return db::connectionTarget(QStringLiteral("sqlite:") + dir_.path(),
                                    QStringLiteral("mirkel"), QStringLiteral("Pw'Secret;1"),
                                    catalogue);
    }
    QString catalogue() const override { return QStringLiteral("MIRKEL2012"); }
    QList<QVariantList> select(const QString& sql) override { return fixture::select(file_, sql); }
    bool exec(const QString& sql) override { return fixture::exec(file_, sql); }

private:
    QTemporaryDir dir_;
    QString file_;
};

// The same catalogue file served by the SQL Server stand-in, reached through QODBC and
// FreeTDS as a server is; the test reads and writes the file directly. version: the SQL
// Server it answers as, empty for the newest.
class StandInBackend final : public Backend
{
public:
    explicit StandInBackend(QString version = {}) : version_(std::move(version)) {}
    QString prepare() override
    {
        if (const QString why = fixture::freeTdsUnavailable(); !why.isEmpty())
            return why;
        required_ = true;
        if (!dir_.isValid())
            return dir_.errorString();
        return standIn_.start(dir_.path(), QStringLiteral("mirkel"), password(), version_);
    }
    bool required() const override { return required_; }
    bool reset(const QList<Subject>& subjects, const QList<ProductRow>& products) override
    {
        standIn_.clear();
        file_ =
            fixture::createCatalogue(dir_.path(), QStringLiteral("Mirkel2012"), subjects, products);
        return !file_.isEmpty();
    }
    db::ConnectionTarget target(const QString& catalogue) const override
    {
        return db::connectionTarget(standIn_.server(), QStringLiteral("mirkel"), password(),
                                    catalogue);
    }
    QString catalogue() const override { return QStringLiteral("MIRKEL2012"); }
    QList<QVariantList> select(const QString& sql) override { return fixture::select(file_, sql); }
    bool exec(const QString& sql) override { return fixture::exec(file_, sql); }
    fixture::StandIn* standIn() override { return &standIn_; }

private:
    static QString password() { return QStringLiteral("Pw'Segreto;1"); }
    QString version_;
    QTemporaryDir dir_;
    fixture::StandIn standIn_;
    QString file_;
    bool required_ = false;
};

// MIRKEL_TEST_SQLSERVER holds "server;user;password" (the password may hold ';'). The test
// creates a scratch catalogue and drops it at the end.
class SqlServerBackend final : public Backend
{
public:
    QString prepare() override
    {
        const QString serverSetting = qEnvironmentVariable("MIRKEL_TEST_SQLSERVER");
        if (serverSetting.isEmpty())
            return QStringLiteral("MIRKEL_TEST_SQLSERVER is not set (\"server;user;password\")");
        const qsizetype first = serverSetting.indexOf(QLatin1Char(';'));
        const qsizetype second =
            first < 0 ? -1 : serverSetting.indexOf(QLatin1Char(';'), first + 1);
        if (second < 0)
            return QStringLiteral("MIRKEL_TEST_SQLSERVER must be \"server;user;password\"");
        server_ = serverSetting.left(first);
        user_ = serverSetting.mid(first + 1, second - first - 1);
        password_ = serverSetting.mid(second + 1);
        catalogue_ = QStringLiteral("MIRKELTEST_%1_%2")
                         .arg(QCoreApplication::applicationPid())
                         .arg(QRandomGenerator::global()->bounded(100000));
        if (!openDirect(QStringLiteral("master")))
            return QStringLiteral("cannot reach the SQL Server: ") + lastError_;
        if (!exec(QStringLiteral("CREATE DATABASE [%1]").arg(catalogue_)))
            return QStringLiteral("cannot create the scratch catalogue: ") + lastError_;
        created_ = true;
        closeDirect();
        if (!openDirect(catalogue_))
            return QStringLiteral("cannot open the scratch catalogue: ") + lastError_;
        return {};
    }

    void finish() override
    {
        closeDirect();
        if (created_ && openDirect(QStringLiteral("master"))) {
            exec(QStringLiteral("ALTER DATABASE [%1] SET SINGLE_USER WITH ROLLBACK IMMEDIATE")
                     .arg(catalogue_));
            exec(QStringLiteral("DROP DATABASE [%1]").arg(catalogue_));
        }
        closeDirect();
    }

    bool reset(const QList<Subject>& subjects, const QList<ProductRow>& products) override
    {
        const QStringList ddl{
            QStringLiteral("IF OBJECT_ID('CodiciCorvel') IS NOT NULL DROP TABLE CodiciCorvel"),
            QStringLiteral("IF OBJECT_ID('Prodotti') IS NOT NULL DROP TABLE Prodotti"),
            QStringLiteral("IF OBJECT_ID('Soggetti') IS NOT NULL DROP TABLE Soggetti"),
            QStringLiteral("CREATE TABLE Soggetti (IDSoggetto int PRIMARY KEY, IDTipoSoggetto "
                           "nvarchar(2) NULL, CodiceFIEG nvarchar(10) NULL)"),
            QStringLiteral("CREATE TABLE Prodotti (IDProd int PRIMARY KEY, CodiceTestata "
                           "nvarchar(20) NULL, Testata nvarchar(100) NULL, IDDL int NULL, "
                           "inforiv int NULL)")};
        for (const QString& sql : ddl) {
            if (!exec(sql))
                return false;
        }
        QSqlQuery q(QSqlDatabase::database(kDirect, false));
        for (const Subject& s : subjects) {
            q.prepare(QStringLiteral("INSERT INTO Soggetti VALUES (?,?,?)"));
            q.addBindValue(s.id);
            q.addBindValue(s.kind);
            q.addBindValue(s.fieg);
            if (!q.exec())
                return false;
        }
        for (const ProductRow& p : products) {
            q.prepare(QStringLiteral("INSERT INTO Prodotti VALUES (?,?,?,?,?)"));
            q.addBindValue(p.id);
            q.addBindValue(p.code);
            q.addBindValue(p.title);
            q.addBindValue(p.distributor);
            q.addBindValue(p.inforiv);
            if (!q.exec())
                return false;
        }
        return true;
    }

    db::ConnectionTarget target(const QString& catalogue) const override
    {
        return db::connectionTarget(server_, user_, password_, catalogue);
    }
    QString catalogue() const override { return catalogue_; }

    QList<QVariantList> select(const QString& sql) override
    {
        QList<QVariantList> rows;
        QSqlQuery q(QSqlDatabase::database(kDirect, false));
        if (!q.exec(sql))
            return rows;
        while (q.next()) {
            QVariantList row;
            for (int i = 0; i < q.record().count(); ++i)
                row.append(q.value(i));
            rows.append(row);
        }
        return rows;
    }

    bool exec(const QString& sql) override
    {
        QSqlQuery q(QSqlDatabase::database(kDirect, false));
        if (q.exec(sql))
            return true;
        lastError_ = q.lastError().text();
        return false;
    }

private:
    bool openDirect(const QString& catalogue)
    {
        QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), kDirect);
        d.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=15"));
        const db::OdbcLogin login = db::odbcLogin(target(catalogue), sqlServerOdbcDriver());
        d.setDatabaseName(login.text);
        d.setUserName(login.user);
        d.setPassword(login.password);
        if (d.open())
            return true;
        lastError_ = d.lastError().text();
        return false;
    }
    void closeDirect()
    {
        if (QSqlDatabase::contains(kDirect)) {
            QSqlDatabase::database(kDirect, false).close();
            QSqlDatabase::removeDatabase(kDirect);
        }
    }

    static inline const QString kDirect = QStringLiteral("host-catalog-test-direct");
    QString server_, user_, password_, catalogue_, lastError_;
    bool created_ = false;
};

class HostCatalogTest : public QObject
{
    Q_OBJECT

public:
    explicit HostCatalogTest(Backend& backend) : b_(backend) {}

private slots:
    void initTestCase();
    void cleanupTestCase() { b_.finish(); }
    void init();
    void cleanup() { db::setFaultHook({}); }

    void stagingTableCreationKeepsRows();
    void stagingRowsAreReadAsStored();
    void fullBatchWithNulGoesInWhole();
    void productIdForCode_data();
    void productIdForCode();
    void distributorId_data();
    void distributorId();
    void fiegLookupFindsDistributor();
    void fiegLookupFailureIsLoggedOnce_data();
    void fiegLookupFailureIsLoggedOnce();
    void productsOfDistributorInCodeOrder();
    void applyConversionChangesBoth();
    void twinRowsGoToOneProductEach();
    void applyConversionIsBothOrNeither_data();
    void applyConversionIsBothOrNeither();
    void appliedProductsMoveToDistributor();
    void reportReadsNullAsEmpty();
    void valuesAreStoredLiterally();
    void overLongStagingValuesAreRejected_data();
    void overLongStagingValuesAreRejected();
    void serverRefusalsAreClassified_data();
    void serverRefusalsAreClassified();
    void serverBefore2000IsRefused();
    void heldLockEndsTheWait();
    void conversionLockIsTheSessions();

private:
    // Opens the test catalogue; fails the test on error.
    bool open(Connection& c)
    {
        const Error e = c.open(b_.target(b_.catalogue()));
        if (e.failed())
            qWarning("%s", qPrintable(e.description));
        return !e.failed();
    }
    QString productCode(int id)
    {
        const auto rows = b_.select(
            QStringLiteral("SELECT CodiceTestata FROM Prodotti WHERE IDProd = %1").arg(id));
        return rows.isEmpty() ? QStringLiteral("<none>") : rows[0][0].toString();
    }
    // Staging rows as "new|old|IdProdMod|Modificato", in a stable order.
    QStringList stagingRows()
    {
        QStringList lines;
        for (const QVariantList& r :
             b_.select(QStringLiteral("SELECT CodTestataNuovo, CodTestataVecchio, IdProdMod, "
                                      "Modificato FROM CodiciCorvel ORDER BY CodTestataNuovo")))
            lines.append(QStringLiteral("%1|%2|%3|%4")
                             .arg(r[0].toString().trimmed(), r[1].toString().trimmed(),
                                  r[2].toString(), r[3].toString()));
        return lines;
    }
    // The first staging row not yet applied whose old code is the text given.
    std::optional<db::StagingRow> freeRow(HostCatalog& host, const QString& oldCode)
    {
        std::vector<db::StagingRow> rows;
        if (host.stagingRows(rows).failed())
            return std::nullopt;
        for (const db::StagingRow& row : rows) {
            if (row.oldCode.trimmed() == oldCode && row.applied.toInt() == 0)
                return row;
        }
        return std::nullopt;
    }
    bool stage(HostCatalog& host, const QString& newCode, const QString& oldCode)
    {
        return !insertStagingRow(host, newCode, oldCode, QStringLiteral("Titolo")).failed();
    }

    Backend& b_;
};

void HostCatalogTest::initTestCase()
{
    const QString why = b_.prepare();
    if (!why.isEmpty() && b_.required())
        QFAIL(qPrintable(why));
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
}

void HostCatalogTest::init()
{
    db::setFaultHook({});
    QVERIFY(b_.reset(fixture::standardSubjects(),
                     {{7, QStringLiteral("000000678"), QStringLiteral("Corriere"), 12},
                      {8, QStringLiteral(" 0679 "), QStringLiteral("Gazzetta"), 12},
                      {9, QStringLiteral("000000680"), QStringLiteral("Stampa"), 12, 0},
                      {10, QStringLiteral("000000681"), QStringLiteral("Altro"), 34}}));
}

void HostCatalogTest::stagingTableCreationKeepsRows()
{
    Connection c;
    QVERIFY(open(c));
    HostCatalog host(c);
    QVERIFY(!host.createStagingTable().failed());
    QVERIFY(stage(host, QStringLiteral("000000901"), QStringLiteral("000000678")));
    QVERIFY(!host.createStagingTable().failed());
    QCOMPARE(stagingRows(), QStringList{QStringLiteral("000000901|000000678|0|0")});
}

void HostCatalogTest::stagingRowsAreReadAsStored()
{
    Connection c;
    QVERIFY(open(c));
    HostCatalog host(c);
    QVERIFY(!host.createStagingTable().failed());
    QVERIFY(stage(host, QStringLiteral("000000903"), QStringLiteral("000000679")));
    QVERIFY(stage(host, QStringLiteral("000000901"), QStringLiteral("000000678")));
    QVERIFY(stage(host, QStringLiteral("000000902"), QStringLiteral("000000678")));
    QVERIFY(b_.exec(QStringLiteral("UPDATE CodiciCorvel SET IdProdMod = 99, Modificato = 1 "
                                   "WHERE CodTestataNuovo = '000000901'")));

    std::vector<db::StagingRow> rows;
    QVERIFY(!host.stagingRows(rows).failed());
    QCOMPARE(rows.size(), std::size_t(3));
    // In old-code order.
    QCOMPARE(rows[0].oldCode.trimmed(), QStringLiteral("000000678"));
    QCOMPARE(rows[2].oldCode.trimmed(), QStringLiteral("000000679"));
    QCOMPARE(rows[2].newCode.trimmed(), QStringLiteral("000000903"));
    int applied = 0;
    for (const db::StagingRow& row : rows) {
        if (row.applied.toInt() == 1) {
            ++applied;
            QCOMPARE(row.productId.toInt(), 99);
            QCOMPARE(row.newCode.trimmed(), QStringLiteral("000000901"));
        }
    }
    QCOMPARE(applied, 1);
}

void HostCatalogTest::fullBatchWithNulGoesInWhole()
{
    // A NUL in one title keeps the batch out of JSON: it goes as one VALUES list of a whole
    // transaction's rows, three values each, which must fit the engine's limits.
    Connection c;
    QVERIFY(open(c));
    HostCatalog host(c);
    QVERIFY(!host.createStagingTable().failed());
    std::vector<HostCatalog::NewStagingRow> batch;
    const std::size_t size = HostCatalog::rowsPerStatement(c.engine());
    for (std::size_t i = 0; i < size; ++i)
        batch.push_back({QString::number(900000000 + i), QString::number(100000000 + i),
                         i == 7 ? QStringLiteral("GIOR") + QChar(0) + QStringLiteral("NALE")
                                : QStringLiteral("Titolo")});
    const Error e = host.insertStagingRows(batch);
    QVERIFY2(!e.failed(), qPrintable(e.description));
    std::vector<db::StagingRow> rows;
    QVERIFY(!host.stagingRows(rows).failed());
    QCOMPARE(rows.size(), size);
    QCOMPARE(rows.back().oldCode.trimmed(), QString::number(100000000 + size - 1));

    // A whole batch of conversions as one VALUES list too, each row marked for its product:
    // the odd rows as staged since the rows were read, found by their codes.
    std::vector<db::Product> products(size);
    std::vector<HostCatalog::Conversion> conversions;
    for (std::size_t i = 0; i < size; ++i) {
        products[i].id = qlonglong(1000 + i);
        if (i % 2)
            rows[i].rowId = QVariant();
        conversions.push_back({&products[i], &rows[i]});
    }
    // The embedded engine's JSON cannot hold it; SQL Server finds the rows by their codes.
    if (c.engine() == db::Engine::Sqlite)
        rows[6].newCode += QChar(0);
    const Error applied = host.applyConversions(conversions);
    QVERIFY2(!applied.failed(), qPrintable(applied.description));
    QVERIFY(!host.stagingRows(rows).failed());
    for (std::size_t i = 0; i < size; ++i)
        QCOMPARE(rows[i].productId.toLongLong(), qlonglong(1000 + i));
}

void HostCatalogTest::productIdForCode_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("id");
    QTest::newRow("zero padded") << 678 << 7;
    QTest::newRow("blanks and a zero") << 679 << 8;
    QTest::newRow("not received") << 680 << 9;
    QTest::newRow("other distributor") << 681 << 10;
    QTest::newRow("none") << 1 << 0;
}

void HostCatalogTest::productIdForCode()
{
    QFETCH(int, code);
    QFETCH(int, id);
    Connection c;
    QVERIFY(open(c));
    qint32 found = -1;
    QVERIFY(!db::getIDProdCodTestata(c, code, found).failed());
    QCOMPARE(found, id);
    // The caller's connection stays open.
    QVERIFY(c.isOpen());
    QVERIFY(!HostCatalog(c).productIdForCode(code, found).failed());
    QCOMPARE(found, id);
}

void HostCatalogTest::distributorId_data()
{
    QTest::addColumn<QList<Subject>>("subjects");
    QTest::addColumn<QString>("fieg");
    QTest::addColumn<QString>("id");

    const QList<Subject> standard = fixture::standardSubjects();
    QTest::newRow("exact") << standard << "069"
                           << "12";
    QTest::newRow("other") << standard << "211"
                           << "34";
    QTest::newRow("not a distributor") << standard << "300"
                                       << "";
    QTest::newRow("none") << standard << "999"
                          << "";
    QTest::newRow("contained, after") << QList<Subject>{{40, "DL", "1069"}} << "069"
                                      << "40";
    QTest::newRow("contained, before") << QList<Subject>{{41, "DL", "0690"}} << "069"
                                       << "41";
    QTest::newRow("only a non-distributor has it")
        << QList<Subject>{{42, "ED", "069"}, {43, "DL", "211"}} << "069"
        << "";
    QTest::newRow("several: the first")
        << QList<Subject>{{50, "ED", "069"}, {51, "DL", "1069"}, {52, "DL", "069"}} << "069"
        << "51";
    QTest::newRow("quote in the argument") << standard << "069') OR ('1'='1"
                                           << "";
    QTest::newRow("underscore is a wildcard") << standard << "_69"
                                              << "12";
}

void HostCatalogTest::distributorId()
{
    QFETCH(QList<Subject>, subjects);
    QFETCH(QString, fieg);
    QFETCH(QString, id);
    QVERIFY(b_.reset(subjects, {}));
    Connection c;
    QVERIFY(open(c));
    QString found = QStringLiteral("unset");
    QVERIFY(!HostCatalog(c).distributorId(fieg, found).failed());
    QCOMPARE(found, id);
}

void HostCatalogTest::fiegLookupFindsDistributor()
{
    TestPlatform tp;
    ErrorLog log(tp.folder(), tp.clock, tp.files);
    QCOMPARE(db::FIEGDLCodiceGet(b_.target(b_.catalogue()), QStringLiteral("069"), log),
             QStringLiteral("12"));
    QCOMPARE(db::FIEGDLCodiceGet(b_.target(b_.catalogue().toLower()), QStringLiteral("211"), log),
             QStringLiteral("34"));
    QVERIFY(!QDir(tp.path(QStringLiteral("LOGS"))).exists());
}

void HostCatalogTest::fiegLookupFailureIsLoggedOnce_data()
{
    QTest::addColumn<bool>("missingCatalogue");
    QTest::addColumn<qint32>("number");
    QTest::newRow("catalogue missing") << true << Unreachable;
    QTest::newRow("no Soggetti table") << false << UnknownObject;
}

void HostCatalogTest::fiegLookupFailureIsLoggedOnce()
{
    QFETCH(bool, missingCatalogue);
    QFETCH(qint32, number);
    QString catalogue = b_.catalogue();
    if (missingCatalogue)
        catalogue += QStringLiteral("_MANCA");
    else
        QVERIFY(b_.exec(QStringLiteral("DROP TABLE Soggetti")));

    TestPlatform tp;
    tp.clock.current = QDateTime(QDate(2012, 12, 20), QTime(9, 30, 0));
    ErrorLog log(tp.folder(), tp.clock, tp.files);
    QCOMPARE(db::FIEGDLCodiceGet(b_.target(catalogue), QStringLiteral("069"), log), QString());

    const QStringList logFiles =
        QDir(tp.path(QStringLiteral("LOGS"))).entryList(QDir::Files | QDir::NoDotAndDotDot);
    QCOMPARE(logFiles, QStringList{QStringLiteral("Errore_2012_12_20.txt")});
    const QStringList lines = tp.logMessages();
    QCOMPARE(lines.size(), 1);
    const QString prefix = QStringLiteral("ERROR:\tErrore numero: %1 Descrizione: ").arg(number);
    QVERIFY2(lines[0].startsWith(prefix), qPrintable(lines[0]));
    QVERIFY2(lines[0].endsWith(QStringLiteral(" Sorgente:FIEGDLCodiceGet ")), qPrintable(lines[0]));
    const QString password = b_.target(catalogue).password;
    if (!password.isEmpty())
        QVERIFY(!tp.readFile(QStringLiteral("LOGS/Errore_2012_12_20.txt"))
                     .contains(password.toLatin1()));
    if (missingCatalogue)
        QVERIFY(!QFile::exists(QDir(tp.folder()).filePath(catalogue + QStringLiteral(".sqlite"))));
}

void HostCatalogTest::productsOfDistributorInCodeOrder()
{
    Connection c;
    QVERIFY(open(c));
    std::vector<db::Product> products;
    QVERIFY(!HostCatalog(c).productsOf(QStringLiteral("12"), products).failed());
    // Text order: the blank sorts before the digits. Product 9 is not received (inforiv 0).
    QCOMPARE(products.size(), std::size_t(2));
    QCOMPARE(products[0].id.toInt(), 8);
    QCOMPARE(products[0].code, QStringLiteral(" 0679 "));
    QCOMPARE(products[1].id.toInt(), 7);
    QCOMPARE(products[1].code, QStringLiteral("000000678"));
}

void HostCatalogTest::applyConversionChangesBoth()
{
    Connection c;
    QVERIFY(open(c));
    // As the run does: the lock first, on the same session, must hide no later count.
    bool granted = false;
    std::optional<Connection::LockHolder> holder;
    QVERIFY(!c.lockConversion(granted, holder).failed() && granted);
    HostCatalog host(c);
    QVERIFY(!host.createStagingTable().failed());
    QVERIFY(stage(host, QStringLiteral("000000901"), QStringLiteral("000000678")));
    QVERIFY(stage(host, QStringLiteral("000000902"), QStringLiteral("000000678")));

    const std::optional<db::StagingRow> row = freeRow(host, QStringLiteral("000000678"));
    QVERIFY(row.has_value());
    const Error e = applyConversion(host, {7, QStringLiteral("000000678")}, *row);
    QVERIFY2(!e.failed(), qPrintable(e.description));
    QCOMPARE(productCode(7), row->newCode.trimmed());
    // Exactly the one row was marked, with the product it went to.
    const QStringList staged = stagingRows();
    QCOMPARE(staged.filter(QStringLiteral("|7|1")).size(), 1);
    QCOMPARE(staged.filter(QStringLiteral("|0|0")).size(), 1);
}

void HostCatalogTest::twinRowsGoToOneProductEach()
{
    // Two rows an older run left with the same codes, taken in one batch with a third row.
    Connection c;
    QVERIFY(open(c));
    HostCatalog host(c);
    QVERIFY(!host.createStagingTable().failed());
    QVERIFY(stage(host, QStringLiteral("000000901"), QStringLiteral("000000678")));
    QVERIFY(stage(host, QStringLiteral("000000901"), QStringLiteral("000000678")));
    QVERIFY(stage(host, QStringLiteral("000000903"), QStringLiteral("000000679")));
    std::vector<db::StagingRow> rows;
    QVERIFY(!host.stagingRows(rows).failed());
    QCOMPARE(rows.size(), std::size_t(3));
    const db::Product first{7, QStringLiteral("000000678")};
    const db::Product second{9, QStringLiteral("000000680")};
    const db::Product third{8, QStringLiteral(" 0679 ")};
    QVERIFY(!c.begin().failed());
    Error e = host.applyConversions({{&first, &rows[0]}, {&second, &rows[1]}, {&third, &rows[2]}});
    e = e.failed() ? e : c.commit();
    QVERIFY2(!e.failed(), qPrintable(e.description));
    QStringList marked = stagingRows();
    marked.sort();
    QCOMPARE(marked, (QStringList{QStringLiteral("000000901|000000678|7|1"),
                                  QStringLiteral("000000901|000000678|9|1"),
                                  QStringLiteral("000000903|000000679|8|1")}));
}

void HostCatalogTest::applyConversionIsBothOrNeither_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<qint32>("number");
    QTest::newRow("staging update fails") << "second execute" << qint32(-2147217871);
    QTest::newRow("product update fails") << "first execute" << qint32(-2147217871);
    QTest::newRow("commit fails") << "commit" << qint32(-2147217871);
    QTest::newRow("row taken meanwhile") << "taken" << RowNotFound;
}

void HostCatalogTest::applyConversionIsBothOrNeither()
{
    QFETCH(QString, failure);
    QFETCH(qint32, number);
    Connection c;
    QVERIFY(open(c));
    HostCatalog host(c);
    QVERIFY(!host.createStagingTable().failed());
    QVERIFY(stage(host, QStringLiteral("000000901"), QStringLiteral("000000678")));
    const std::optional<db::StagingRow> row = freeRow(host, QStringLiteral("000000678"));
    QVERIFY(row.has_value());

    QStringList before = stagingRows();
    if (failure == QLatin1String("taken")) {
        QVERIFY(b_.exec(QStringLiteral("UPDATE CodiciCorvel SET IdProdMod = 99, Modificato = 1")));
        before = stagingRows();
    } else {
        int executes = 0;
        db::setFaultHook([&](const char* op) -> Error {
            const QString name = QString::fromLatin1(op);
            // A write that returns what it wrote is a query.
            if (name == QLatin1String("execute") || name == QLatin1String("query"))
                ++executes;
            const bool fail = (failure == QLatin1String("commit") && name == failure) ||
                              (failure == QLatin1String("first execute") && executes == 1) ||
                              (failure == QLatin1String("second execute") && executes == 2);
            return fail ? Error{-2147217871, QStringLiteral("Timeout scaduto")} : Error{};
        });
    }

    // As the run writes it: the caller's transaction holds the two updates together.
    Error e = c.begin();
    if (!e.failed())
        e = applyConversion(host, {7, QStringLiteral("000000678")}, *row);
    if (e.failed())
        c.rollback();
    else
        e = c.commit();
    QCOMPARE(e.number, number);
    db::setFaultHook({});
    QCOMPARE(productCode(7), QStringLiteral("000000678"));
    QCOMPARE(stagingRows(), before);
    // The connection is usable and outside any transaction afterwards.
    QVERIFY(!c.execute(QStringLiteral("UPDATE Prodotti SET Testata = ? WHERE IDProd = ?"),
                       {QStringLiteral("Nuova"), 8})
                 .failed());
    Connection other;
    QVERIFY(open(other));
    db::Rows rows;
    QVERIFY(!other.query(QStringLiteral("SELECT Testata FROM Prodotti WHERE IDProd = 8"), {}, rows)
                 .failed());
    QCOMPARE(rows.text(QStringLiteral("Testata")), QStringLiteral("Nuova"));
}

void HostCatalogTest::appliedProductsMoveToDistributor()
{
    Connection c;
    QVERIFY(open(c));
    HostCatalog host(c);
    QVERIFY(!host.createStagingTable().failed());
    QVERIFY(stage(host, QStringLiteral("000000901"), QStringLiteral("000000678")));
    QVERIFY(stage(host, QStringLiteral("000000902"), QStringLiteral("000000999")));
    const std::optional<db::StagingRow> row = freeRow(host, QStringLiteral("000000678"));
    QVERIFY(row.has_value());
    QVERIFY(!applyConversion(host, {7, QStringLiteral("000000678")}, *row).failed());

    std::vector<db::ProductDistributor> applied;
    QVERIFY(!host.appliedProductDistributors(applied).failed());
    std::vector<QVariant> ids;
    for (const db::ProductDistributor& product : applied)
        ids.push_back(product.id);
    QCOMPARE(ids.size(), std::size_t(1));
    QCOMPARE(ids[0].toInt(), 7);
    QVERIFY(!host.assignDistributor(ids[0], QStringLiteral("34")).failed());
    // A product that no longer exists is passed over.
    QVERIFY(!host.assignDistributor(4242, QStringLiteral("34")).failed());
    const auto moved = b_.select(QStringLiteral("SELECT IDProd FROM Prodotti WHERE IDDL = 34 "
                                                "ORDER BY IDProd"));
    QCOMPARE(moved.size(), 2);
    QCOMPARE(moved[0][0].toInt(), 7);
    QCOMPARE(moved[1][0].toInt(), 10);
    // All at once: only the products applied rows name.
    QVERIFY(!host.assignDistributor(QStringLiteral("12")).failed());
    QCOMPARE(b_.select(QStringLiteral("SELECT IDProd FROM Prodotti WHERE IDDL = 12 ORDER BY "
                                      "IDProd")),
             (QList<QVariantList>{{7}, {8}, {9}}));
}

void HostCatalogTest::reportReadsNullAsEmpty()
{
    QVERIFY(b_.exec(QStringLiteral("INSERT INTO Prodotti (IDProd, CodiceTestata, Testata, IDDL, "
                                   "inforiv) VALUES (11, NULL, NULL, 12, 1)")));
    Connection c;
    QVERIFY(open(c));
    std::vector<db::ReportProduct> products;
    QVERIFY(!HostCatalog(c).reportProducts(products).failed());
    QCOMPARE(products.size(), std::size_t(4));
    int empty = 0;
    for (const db::ReportProduct& p : products) {
        if (p.code.isEmpty() && p.title.isEmpty())
            ++empty;
    }
    QCOMPARE(empty, 1);
}

void HostCatalogTest::valuesAreStoredLiterally()
{
    Connection c;
    QVERIFY(open(c));
    HostCatalog host(c);
    QVERIFY(!host.createStagingTable().failed());
    const QString title = QStringLiteral("L'Eco'); DROP TABLE Prodotti; --");
    QVERIFY(!insertStagingRow(host, QStringLiteral("000000901"), QStringLiteral("000000678"), title)
                 .failed());
    const auto rows = b_.select(QStringLiteral("SELECT Titolo FROM CodiciCorvel"));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][0].toString().trimmed(), title);
    QCOMPARE(b_.select(QStringLiteral("SELECT IDProd FROM Prodotti")).size(), 4);

    const QString code = QStringLiteral("9'); --");
    QVERIFY(!insertStagingRow(host, code, QStringLiteral("000000679"), QString()).failed());
    const std::optional<db::StagingRow> row = freeRow(host, QStringLiteral("000000679"));
    QVERIFY(row.has_value());
    QCOMPARE(row->newCode.trimmed(), code);
    QVERIFY(!applyConversion(host, {8, QStringLiteral(" 0679 ")}, *row).failed());
    QCOMPARE(productCode(8).trimmed(), code);
    QCOMPARE(productCode(7), QStringLiteral("000000678"));
}

void HostCatalogTest::overLongStagingValuesAreRejected_data()
{
    QTest::addColumn<QString>("newCode");
    QTest::addColumn<QString>("title");
    QTest::addColumn<qint32>("number");
    QTest::newRow("title of 50") << "000000901" << QString(50, QChar(0xE8)) << 0;
    QTest::newRow("title of 51") << "000000901" << QString(51, QLatin1Char('T')) << Truncation;
    QTest::newRow("code of 10") << "0000000901"
                                << "t" << Truncation;
    // 26 characters in 52 UTF-16 units: the plan must refuse exactly what the engine refuses
    // (-1: whatever titleRefusal says for the engine).
    QString beyond;
    for (int i = 0; i < 26; ++i)
        beyond += QString::fromUcs4(U"\U0001D11E", 1);
    QTest::newRow("title beyond the BMP") << "000000901" << beyond << -1;
}

void HostCatalogTest::overLongStagingValuesAreRejected()
{
    QFETCH(QString, newCode);
    QFETCH(QString, title);
    QFETCH(qint32, number);
    Connection c;
    QVERIFY(open(c));
    HostCatalog host(c);
    QVERIFY(!host.createStagingTable().failed());
    if (number == -1 && c.engine() != db::Engine::Sqlite)
        QSKIP("FreeTDS refuses a character beyond the BMP before it reaches the server");
    if (number == -1)
        number = HostCatalog::titleRefusal(c.engine(), title).number;
    QCOMPARE(insertStagingRow(host, newCode, QStringLiteral("000000678"), title).number, number);
    QCOMPARE(stagingRows().size(), number == 0 ? 1 : 0);
}

void HostCatalogTest::serverRefusalsAreClassified_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QList<int>>("messages"); // -1: the connection drops
    QTest::addColumn<qint32>("number");
    const QString insert = QStringLiteral("INSERT INTO CodiciCorvel");
    QTest::newRow("duplicate key") << insert << QList<int>{2627, 3621} << ConstraintViolation;
    QTest::newRow("truncated, newer servers") << insert << QList<int>{2628, 3621} << Truncation;
    QTest::newRow("deadlock victim") << insert << QList<int>{1205} << Unspecified;
    QTest::newRow("permission") << insert << QList<int>{229} << AccessDenied;
    QTest::newRow("connection dropped") << insert << QList<int>{-1} << Unspecified;
    QTest::newRow("no table permission")
        << QStringLiteral("CREATE TABLE") << QList<int>{262} << AccessDenied;
    QTest::newRow("read-only database") << insert << QList<int>{3906} << AccessDenied;
    QTest::newRow("transaction log full") << insert << QList<int>{9002} << Unspecified;
    // The index wants ALTER permission, which the table never needed: it is done without.
    QTest::newRow("no index permission") << QStringLiteral("CREATE INDEX") << QList<int>{1088} << 0;
    // A refusal of the statement itself, as SQL Server 2000 gives it for what it lacks.
    QTest::newRow("unknown view in the index batch")
        << QStringLiteral("sysindexes") << QList<int>{208} << UnknownObject;
}

void HostCatalogTest::serverRefusalsAreClassified()
{
    QFETCH(QString, statement);
    QFETCH(QList<int>, messages);
    QFETCH(qint32, number);
    fixture::StandIn* server = b_.standIn();
    if (!server)
        QSKIP("refusals are injected into the SQL Server stand-in");
    if (messages == QList<int>{-1})
        server->drop(statement);
    else
        server->fail(statement, messages);
    Connection c;
    QVERIFY(open(c));
    HostCatalog host(c);
    Error indexRefused;
    Error e = host.createStagingTable(&indexRefused);
    if (statement == QLatin1String("CREATE INDEX"))
        QCOMPARE(indexRefused.number, AccessDenied);
    if (!e.failed())
        e = insertStagingRow(host, QStringLiteral("000000901"), QStringLiteral("000000678"),
                             QStringLiteral("Titolo"));
    QCOMPARE(e.number, number);
    QCOMPARE(c.deadlocked(), messages == QList<int>{1205});
    // The engine's refusals to write come with an Italian sentence before its own words.
    const bool told = e.description.startsWith(QStringLiteral("Il database")) ||
                      e.description.startsWith(QStringLiteral("L'utente"));
    QCOMPARE(told, QList<int>({229, 262, 3906, 9002}).contains(messages.first()));
}

void HostCatalogTest::serverBefore2000IsRefused()
{
    fixture::StandIn* server = b_.standIn();
    if (!server)
        QSKIP("the version is injected into the SQL Server stand-in");
    // SQL Server 7 knows no SERVERPROPERTY.
    server->fail(QStringLiteral("SERVERPROPERTY"), {195});
    Connection c;
    const Error e = c.open(b_.target(b_.catalogue()));
    QCOMPARE(e.number, Unspecified);
    QVERIFY2(e.description.contains(QStringLiteral("SQL Server 2000")), qPrintable(e.description));
    QVERIFY(!c.isOpen());
}

void HostCatalogTest::heldLockEndsTheWait()
{
    // Another session holds a product, as the host program may, for longer than allowed.
    db::setLockTimeoutMs(300);
    Connection holder;
    QVERIFY(open(holder));
    QVERIFY(!holder.begin().failed());
    QVERIFY(!holder
                 .execute(QStringLiteral("UPDATE Prodotti SET Testata = ? WHERE IDProd = ?"),
                          {QStringLiteral("Tenuta"), 7})
                 .failed());
    Connection c;
    const bool opened = open(c);
    const Error e = opened ? c.execute(QStringLiteral("UPDATE Prodotti SET CodiceTestata=? WHERE "
                                                      "IDProd=?"),
                                       {QStringLiteral("000000901"), 7})
                           : Error{};
    holder.rollback();
    db::setLockTimeoutMs(20000);
    QVERIFY(opened);
    QCOMPARE(e.number, LockTimeout);
    QCOMPARE(productCode(7), QStringLiteral("000000678"));
}

void HostCatalogTest::conversionLockIsTheSessions()
{
    // Held while its connection lives, refused to another meanwhile, free once it closes.
    auto first = std::make_unique<Connection>();
    Connection second;
    QVERIFY(open(*first) && open(second));
    bool granted = false;
    std::optional<Connection::LockHolder> holder;
    QVERIFY(!first->lockConversion(granted, holder).failed() && granted);
    QVERIFY(!second.lockConversion(granted, holder).failed());
    QVERIFY(!granted);
    first.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!second.lockConversion(granted, holder).failed() && granted, 10000);
}

// Both backends, or only the one named first ("sqlite" or "sqlserver"): each run writes its
// own -o file, which the second run would otherwise overwrite.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::vector<char*> args(argv, argv + argc);
    const QByteArray only = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    const bool one = only == "sqlite" || only == "sqlserver";
    if (one)
        args.erase(args.begin() + 1);
    const int n = int(args.size());
    SqliteBackend sqlite;
    StandInBackend standIn;
    StandInBackend standIn2000(QStringLiteral("2000"));
    SqlServerBackend sqlServer;
    HostCatalogTest onSqlite(sqlite);
    HostCatalogTest onStandIn(standIn);
    HostCatalogTest onStandIn2000(standIn2000);
    HostCatalogTest onSqlServer(sqlServer);
    int failures = 0;
    if (!one || only == "sqlite")
        failures += QTest::qExec(&onSqlite, n, args.data());
    if (!one || only == "sqlserver") {
        failures += QTest::qExec(&onStandIn, n, args.data());
        failures += QTest::qExec(&onStandIn2000, n, args.data());
        failures += QTest::qExec(&onSqlServer, n, args.data());
    }
    return failures;
}

#include "HostCatalogTest.moc"
