#include "conversion/ConversionRun.h"
#include "db/Lookups.h"
#include "errors/ErrorLog.h"
#include "platform/Cp1252.h"
#include "tests/support/Fakes.h"
#include "tests/support/HostFixture.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QSqlDatabase>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Logins through the real QODBC and FreeTDS path, against a listener that speaks enough TDS
// to record what arrives and then refuses the login as a server does for a wrong password.

namespace {

enum class Route { CatalogueList, Run };

// The Qt messages written while a login is tried, so the test can look for the password.
QMutex messagesLock;
QStringList qtMessages;
void recordMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&messagesLock);
    qtMessages.append(message);
}

bool contains(const QByteArray& bytes, const QString& secret)
{
    QByteArray utf16(reinterpret_cast<const char*>(secret.utf16()), secret.size() * 2);
    return bytes.contains(secret.toUtf8()) || bytes.contains(Cp1252::encode(secret)) ||
           bytes.contains(utf16);
}

} // namespace

class SqlServerLoginTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void loginArrivesIntact_data();
    void loginArrivesIntact();

private:
    // The logins the listener recorded so far, oldest first.
    QList<QJsonObject> logins() const;

    QTemporaryDir dir_;
    QProcess listener_;
    quint16 port_ = 0;
    bool browser_ = false;
};

void SqlServerLoginTest::initTestCase()
{
    if (const QString why = fixture::freeTdsUnavailable(); !why.isEmpty())
        QSKIP(qPrintable(why));
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        QSKIP("python3 is not installed");
    QVERIFY(dir_.isValid());
    listener_.setProgram(python);
    listener_.setArguments({QStringLiteral(CONVERTI_TDS_LISTENER),
                            dir_.filePath(QStringLiteral("logins.jsonl")),
                            QStringLiteral("--instance"), QStringLiteral("KIOSK")});
    listener_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    listener_.start();
    QVERIFY(listener_.waitForStarted(30000));
    QVERIFY(listener_.waitForReadyRead(30000));
    const QJsonObject ready = QJsonDocument::fromJson(listener_.readLine()).object();
    port_ = quint16(ready.value(QStringLiteral("port")).toInt());
    browser_ = ready.value(QStringLiteral("browser")).toBool();
    QVERIFY(port_ != 0);
}

void SqlServerLoginTest::cleanupTestCase()
{
    if (listener_.state() != QProcess::NotRunning) {
        listener_.closeWriteChannel();
        if (!listener_.waitForFinished(10000))
            listener_.kill();
        listener_.waitForFinished(10000);
    }
}

QList<QJsonObject> SqlServerLoginTest::logins() const
{
    QList<QJsonObject> found;
    QFile file(dir_.filePath(QStringLiteral("logins.jsonl")));
    if (!file.open(QIODevice::ReadOnly))
        return found;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            found.append(QJsonDocument::fromJson(line).object());
    }
    return found;
}

void SqlServerLoginTest::loginArrivesIntact_data()
{
    QTest::addColumn<Route>("route");
    QTest::addColumn<QString>("server"); // %1: the listener's port
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("catalogue");    // of the run; the list asks for master
    QTest::addColumn<QString>("refusedField"); // not sent at all: the field the message names

    const QString port = QStringLiteral("127.0.0.1,%1");
    QTest::newRow("list: .dsn, braces and ';' in the password")
        << Route::CatalogueList << port << "operatore;{x}"
        << QStringLiteral("Pa}ss;w{o}rd.Dsn=\u00e0\u00e9") << ""
        << "";
    QTest::newRow("run: lone closing brace") << Route::Run << port << "operatore;{x}"
                                             << "Sem}plice;1"
                                             << "MIRKEL;{2012}=x"
                                             << "";
    QTest::newRow("run: the OLE DB markers in the password")
        << Route::Run << port << "mirkel"
        << "x;Initial Catalog=y;Data Source=z" << QStringLiteral("MIRKEL \u00c8") << "";
    QTest::newRow("run: braces at the end") << Route::Run << port << "mirkel"
                                            << "Zq7;Segreto{x}"
                                            << "MIRKEL2012"
                                            << "";
    QTest::newRow("list: blanks and Latin-1")
        << Route::CatalogueList << port << QStringLiteral(" ut\u00e8nte ")
        << QStringLiteral(" p\u00e0ss w\u00f6rd ") << ""
        << "";
    QTest::newRow("run: .dsn in the user, a brace first in the password")
        << Route::Run << port << "chiosco.DSN"
        << "{Apri}=1"
        << "TELVOR DSN"
        << "";
    QTest::newRow("list: (local) named instance") << Route::CatalogueList << "(local)\\KIOSK"
                                                  << "sa"
                                                  << "Pw;1}"
                                                  << ""
                                                  << "";
    QTest::newRow("run: . named instance") << Route::Run << ".\\KIOSK"
                                           << "mirkel"
                                           << "{Pw}"
                                           << "MIRKEL2012"
                                           << "";
    QTest::newRow("run: a password FreeTDS cannot carry") << Route::Run << port << "mirkel"
                                                          << "Non};Passa"
                                                          << "MIRKEL2012"
                                                          << "DBPassword";
}

void SqlServerLoginTest::loginArrivesIntact()
{
    QFETCH(Route, route);
    QFETCH(QString, server);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, catalogue);
    QFETCH(QString, refusedField);
    const bool instance = server.contains(QLatin1Char('\\'));
    if (instance && !browser_)
        QSKIP("UDP port 1434 is taken: no SQL Server Browser reply for the named instance");
    if (!instance)
        server = server.arg(port_);

    const qsizetype before = logins().size();
    TestPlatform tp;
    QStringList shown;
    int critical = 0;
    {
        QMutexLocker lock(&messagesLock);
        qtMessages.clear();
    }
    const QtMessageHandler previous = qInstallMessageHandler(recordMessage);
    if (route == Route::CatalogueList) {
        QStringList names;
        const Error e = db::DataBaseList(server, user, password, names);
        QVERIFY(names.isEmpty());
        QCOMPARE(e.number,
                 refusedField.isEmpty() ? ErrorNumber::LoginFailed : ErrorNumber::Unreachable);
        shown.append(e.description);
    } else {
        HostConfig config;
        config.DBServerName = server;
        config.DBUsername = user;
        config.DBPassword = password;
        tp.writeFile(QStringLiteral("TabellaCodiciVarno.txt"), "900678\tgiornale\t678\t1\t\r\n");
        ErrorLog log(tp.platform.programFolder, tp.clock, tp.files);
        FakeView view;
        view.catalogueText = catalogue;
        QString TabellaCodiciFile;
        ConversionRun(tp.platform, log, config, view, TabellaCodiciFile).execute();
        for (const ShownMessage& m : tp.dialogs.shown) {
            shown << m.text << m.title;
            if (m.icon == MsgIcon::Critical)
                ++critical;
        }
        QCOMPARE(tp.dialogs.shown.size(), 1);
        QCOMPARE(critical, 1);
        const QStringList lines = tp.logMessages();
        QCOMPARE(lines.size(), 1);
        const qint32 number =
            refusedField.isEmpty() ? ErrorNumber::LoginFailed : ErrorNumber::Unreachable;
        QVERIFY2(lines[0].startsWith(
                     QStringLiteral("ERROR:\tErrore numero: %1 Descrizione: ").arg(number)),
                 qPrintable(lines[0]));
        QVERIFY(view.command1Enabled);
        QVERIFY(view.windowEnabled);
    }
    qInstallMessageHandler(previous);

    // What reached the server, value by value.
    const QList<QJsonObject> arrived = logins().mid(before);
    if (refusedField.isEmpty()) {
        QCOMPARE(arrived.size(), 1);
        const QJsonObject login = arrived.first();
        QCOMPARE(login.value(QStringLiteral("user")).toString(), user);
        QCOMPARE(login.value(QStringLiteral("password")).toString(), password);
        QCOMPARE(login.value(QStringLiteral("database")).toString(),
                 route == Route::Run ? catalogue : QStringLiteral("master"));
        QVERIFY(login.value(QStringLiteral("server"))
                    .toString()
                    .startsWith(QStringLiteral("127.0.0.1")));
    } else {
        QCOMPARE(arrived.size(), 0);
        QVERIFY2(shown.first().contains(refusedField), qPrintable(shown.first()));
    }

    // The password shows nowhere: no box, no error text, no log file, no Qt message.
    for (const QString& text : shown)
        QVERIFY2(!contains(text.toUtf8(), password), qPrintable(text));
    QDirIterator files(tp.folder(), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(!contains(file.readAll(), password), qPrintable(file.fileName()));
    }
    QMutexLocker lock(&messagesLock);
    for (const QString& message : std::as_const(qtMessages))
        QVERIFY2(!contains(message.toUtf8(), password), qPrintable(message));
}

QTEST_GUILESS_MAIN(SqlServerLoginTest)
#include "SqlServerLoginTest.moc"
