#include "tests/support/HostFixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

namespace fixture {

namespace {

// Opens a private connection for one call and removes it afterwards.
class Session
{
public:
    explicit Session(const QString& file) : name_(QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db.setDatabaseName(file);
        db.open();
    }
    ~Session() { QSqlDatabase::removeDatabase(name_); }
    QSqlDatabase db() const { return QSqlDatabase::database(name_, false); }

private:
    QString name_;
};

} // namespace

QList<Subject> standardSubjects()
{
    return {{12, QStringLiteral("DL"), QStringLiteral("069")},
            {34, QStringLiteral("DL"), QStringLiteral("211")},
            {56, QStringLiteral("ED"), QStringLiteral("300")}};
}

QString createCatalogue(const QString& folder, const QString& name, const QList<Subject>& subjects,
                        const QList<ProductRow>& products)
{
    const QString file = QDir(folder).filePath(name + QStringLiteral(".sqlite"));
    QFile::remove(file);
    {
        Session s(file);
        QSqlDatabase db = s.db();
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("CREATE TABLE Soggetti (IDSoggetto int PRIMARY KEY, "
                                   "IDTipoSoggetto nvarchar(2), CodiceFIEG nvarchar(10))")) ||
            !q.exec(QStringLiteral("CREATE TABLE Prodotti (IDProd int PRIMARY KEY, "
                                   "CodiceTestata nvarchar(20), Testata nvarchar(100), "
                                   "IDDL int, inforiv int)")))
            return {};
        db.transaction();
        q.prepare(QStringLiteral("INSERT INTO Soggetti VALUES (?,?,?)"));
        for (const Subject& s : subjects) {
            q.addBindValue(s.id);
            q.addBindValue(s.kind);
            q.addBindValue(s.fieg);
            if (!q.exec())
                return {};
        }
        q.prepare(QStringLiteral("INSERT INTO Prodotti VALUES (?,?,?,?,?)"));
        for (const ProductRow& p : products) {
            q.addBindValue(p.id);
            q.addBindValue(p.code);
            q.addBindValue(p.title);
            q.addBindValue(p.distributor);
            q.addBindValue(p.inforiv);
            if (!q.exec())
                return {};
        }
        if (!db.commit())
            return {};
    }
    return file;
}

QList<QVariantList> select(const QString& file, const QString& sql)
{
    QList<QVariantList> rows;
    Session s(file);
    QSqlQuery q(s.db());
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

bool exec(const QString& file, const QString& sql)
{
    Session s(file);
    QSqlQuery q(s.db());
    return q.exec(sql);
}

QStringList snapshot(const QString& file)
{
    QStringList lines;
    for (const QVariantList& r :
         select(file,
                QStringLiteral("SELECT IDProd, CodiceTestata, IDDL FROM Prodotti ORDER BY IDProd")))
        lines.append(
            QStringLiteral("P %1|%2|%3").arg(r[0].toString(), r[1].toString(), r[2].toString()));
    for (const QVariantList& r :
         select(file, QStringLiteral("SELECT IdProdMod, CodTestataNuovo, CodTestataVecchio, "
                                     "Titolo, Modificato FROM CodiciCorvel ORDER BY "
                                     "CodTestataVecchio, CodTestataNuovo, IdProdMod")))
        lines.append(QStringLiteral("S %1|%2|%3|%4|%5")
                         .arg(r[0].toString(), r[1].toString(), r[2].toString(), r[3].toString(),
                              r[4].toString()));
    return lines;
}

QString freeTdsUnavailable()
{
#ifdef Q_OS_WIN
    return QStringLiteral("uses the FreeTDS driver of the Linux build");
#else
    QProcess odbcinst;
    odbcinst.start(QStringLiteral("odbcinst"), {QStringLiteral("-q"), QStringLiteral("-d"),
                                                QStringLiteral("-n"), QStringLiteral("FreeTDS")});
    if (!odbcinst.waitForFinished(30000) || odbcinst.exitStatus() != QProcess::NormalExit ||
        odbcinst.exitCode() != 0)
        return QStringLiteral("the FreeTDS ODBC driver is not registered (run scripts/setup, or "
                              "odbcinst -i -d -f /usr/share/tdsodbc/odbcinst.ini)");
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QODBC")))
        return QStringLiteral("Qt's QODBC driver is not installed (libqt6sql6-odbc)");
    return {};
#endif
}

} // namespace fixture
