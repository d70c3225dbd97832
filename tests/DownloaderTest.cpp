#include "platform/Downloader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A small HTTP server on 127.0.0.1, answering by hand so that it can also misbehave. It
// runs on the test's thread: the downloader's own event loop serves it.
class HttpServer : public QObject
{
public:
    HttpServer()
    {
        connect(&server_, &QTcpServer::newConnection, this, &HttpServer::accept);
        server_.listen(QHostAddress::LocalHost);
    }
    bool listening() const { return server_.isListening(); }
    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
    }
    QStringList requested;

private:
    void accept()
    {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        }
    }

    void serve(QTcpSocket* socket)
    {
        QByteArray& request = pending_[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QByteArray path = request.split(' ').value(1);
        request.clear();
        requested.append(QString::fromLatin1(path));

        const QByteArray body("Codice\tNuovo\r\n000000678\t000000901\tCorriere\xE8\r\n");
        if (path == "/ok") {
            reply(socket, "200 OK", body);
        } else if (path == "/empty") {
            reply(socket, "200 OK", {});
        } else if (path == "/proxy-page") {
            reply(socket, "200 OK", "<html>\r\n<body>Accesso negato</body>\r\n</html>\r\n");
        } else if (path == "/chunked") {
            socket->write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: "
                          "close\r\n\r\n5\r\nCodic\r\n3\r\ne\t1\r\n0\r\n\r\n");
            socket->disconnectFromHost();
        } else if (path == "/old") {
            socket->write("HTTP/1.1 302 Found\r\nLocation: /ok\r\nContent-Length: 0\r\n\r\n");
        } else if (path == "/old-missing") {
            socket->write("HTTP/1.1 301 Moved\r\nLocation: /missing\r\nContent-Length: 0\r\n\r\n");
        } else if (path == "/error") {
            reply(socket, "500 Internal Server Error", "guasto");
        } else if (path == "/short") {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\n");
            socket->write(body);
            socket->disconnectFromHost();
        } else if (path == "/silent") {
            // Reads the request and never answers.
        } else {
            reply(socket, "404 Not Found", "<html>non trovato</html>");
        }
    }

    static void reply(QTcpSocket* socket, const QByteArray& status, const QByteArray& body)
    {
        socket->write("HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }

    QTcpServer server_;
    QHash<QTcpSocket*, QByteArray> pending_;
};

} // namespace

class DownloaderTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void answers_data();
    void answers();
    void failureKeepsEarlierFile();
    void refusedConnectionFails();
    void silentServerFailsAfterTimeout();
    void unwritableTargetFails();

private:
    QString target() const { return QDir(dir_->path()).filePath(QStringLiteral("Tabella.txt")); }
    QStringList folderEntries() const
    {
        return QDir(dir_->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    std::unique_ptr<QTemporaryDir> dir_;
};

void DownloaderTest::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void DownloaderTest::answers_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("content"); // when ok

    const QByteArray body("Codice\tNuovo\r\n000000678\t000000901\tCorriere\xE8\r\n");
    QTest::newRow("200") << "/ok" << true << body;
    QTest::newRow("200, empty body") << "/empty" << false << QByteArray();
    QTest::newRow("200, a page with no TAB") << "/proxy-page" << false << QByteArray();
    QTest::newRow("200, chunked") << "/chunked" << true << QByteArray("Codice\t1");
    QTest::newRow("redirect on the same server") << "/old" << true << body;
    QTest::newRow("404") << "/missing" << false << QByteArray();
    QTest::newRow("redirect to a 404") << "/old-missing" << false << QByteArray();
    QTest::newRow("500") << "/error" << false << QByteArray();
    QTest::newRow("body cut short") << "/short" << false << QByteArray();
}

void DownloaderTest::answers()
{
    QFETCH(QString, path);
    QFETCH(bool, ok);
    QFETCH(QByteArray, content);
    HttpServer server;
    QVERIFY(server.listening());

    HttpDownloader downloader(30000);
    QCOMPARE(downloader.download(server.url(path), target()), ok);
    QVERIFY(!server.requested.isEmpty());
    QCOMPARE(server.requested.first(), path);
    if (ok) {
        QFile file(target());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("Tabella.txt")});
    } else {
        // No file, and no half-written leftover beside it.
        QCOMPARE(folderEntries(), QStringList{});
    }
}

void DownloaderTest::failureKeepsEarlierFile()
{
    QFile earlier(target());
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("copia precedente\r\n");
    earlier.close();

    HttpServer server;
    QVERIFY(server.listening());
    HttpDownloader downloader(30000);
    for (const char* path : {"/missing", "/short"}) {
        QVERIFY(!downloader.download(server.url(QString::fromLatin1(path)), target()));
        QVERIFY(earlier.open(QIODevice::ReadOnly));
        QCOMPARE(earlier.readAll(), QByteArray("copia precedente\r\n"));
        earlier.close();
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("Tabella.txt")});
    }
}

void DownloaderTest::refusedConnectionFails()
{
    quint16 port = 0;
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        port = closed.serverPort();
    }
    HttpDownloader downloader(30000);
    QVERIFY(!downloader.download(QStringLiteral("http://127.0.0.1:%1/ok").arg(port), target()));
    QCOMPARE(folderEntries(), QStringList{});
}

void DownloaderTest::silentServerFailsAfterTimeout()
{
    HttpServer server;
    QVERIFY(server.listening());
    HttpDownloader downloader(500);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!downloader.download(server.url(QStringLiteral("/silent")), target()));
    QVERIFY(timer.elapsed() < 30000); // only guards against a hang
    QCOMPARE(folderEntries(), QStringList{});
}

void DownloaderTest::unwritableTargetFails()
{
    HttpServer server;
    QVERIFY(server.listening());
    HttpDownloader downloader(30000);
    QVERIFY(!downloader.download(server.url(QStringLiteral("/ok")),
                                 QDir(dir_->path()).filePath(QStringLiteral("manca/Tabella.txt"))));
    QCOMPARE(folderEntries(), QStringList{});
}

QTEST_GUILESS_MAIN(DownloaderTest)
#include "DownloaderTest.moc"
