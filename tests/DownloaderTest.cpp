#include "platform/Downloader.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <limits>

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
        } else if (path == "/trickle") {
            // A byte every tenth of a second, without end.
            socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
            auto* timer = new QTimer(socket);
            connect(timer, &QTimer::timeout, socket, [socket] { socket->write("\t"); });
            timer->start(100);
        } else if (path == "/huge") {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 314572800\r\n\r\n");
        } else if (path == "/endless") {
            socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
            const QByteArray block(64 * 1024, '\t');
            socket->write(block);
            connect(socket, &QTcpSocket::bytesWritten, socket, [socket, block] {
                if (socket->bytesToWrite() < block.size())
                    socket->write(block);
            });
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

// Ends the download once stopAfter bytes have arrived; the last count it heard is kept.
struct Progress final : DownloadProgress
{
    bool going(qint64 received, qint64) override { return (heard = received) < stopAfter; }
    qint64 stopAfter = std::numeric_limits<qint64>::max();
    qint64 heard = -1;
};

// The test's own judge of a received file: a table holds a TAB.
QString needsTab(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) && f.readAll().contains('\t') ? QString()
                                                                     : QStringLiteral("niente TAB");
}

class DownloaderTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void answers_data();
    void answers();
    void failureKeepsEarlierFile();
    void refusedConnectionFails();
    void progressEndsTheDownload();
    void unwritableTargetFails();

private:
    QString target() const { return QDir(dir_->path()).filePath(QStringLiteral("Tabella.txt")); }
    QStringList folderEntries() const
    {
        return QDir(dir_->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }
    bool fetch(const QString& url, DownloadFailure& failure, Progress* progress = nullptr) const
    {
        Progress quiet;
        HttpDownloader downloader(2000, 1024 * 1024);
        return downloader.download(url, target(), needsTab, progress ? *progress : quiet, failure);
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
    QTest::addColumn<QByteArray>("content"); // kept when the download succeeds
    QTest::addColumn<QStringList>("told");   // what the failure says, when it fails

    const QByteArray body("Codice\tNuovo\r\n000000678\t000000901\tCorriere\xE8\r\n");
    const QString page = QStringLiteral("Ricevuto: una pagina web (text/plain) di ");
    QTest::newRow("200") << "/ok" << body << QStringList();
    QTest::newRow("200, chunked") << "/chunked" << QByteArray("Codice\t1") << QStringList();
    QTest::newRow("redirect on the same server") << "/old" << body << QStringList();
    // The check judges what came with 200; anything else fails without it.
    QTest::newRow("200, empty body")
        << "/empty" << QByteArray() << QStringList{"200 OK", "una risposta vuota. niente TAB"};
    QTest::newRow("200, a page with no TAB")
        << "/proxy-page" << QByteArray() << QStringList{"200 OK", page + "46 byte. niente TAB"};
    QTest::newRow("404") << "/missing" << QByteArray()
                         << QStringList{"Risposta del server: 404 Not Found", page + "24 byte."};
    QTest::newRow("redirect to a 404") << "/old-missing" << QByteArray() << QStringList{"404"};
    QTest::newRow("500") << "/error" << QByteArray()
                         << QStringList{"500 Internal Server Error", "un file (text/plain)"};
    QTest::newRow("body cut short")
        << "/short" << QByteArray() << QStringList{"200 OK", "Trasferimento non concluso"};
    // Bounded as a whole, and in size.
    QTest::newRow("silent server") << "/silent" << QByteArray() << QStringList{"entro 2 secondi"};
    QTest::newRow("a byte at a time")
        << "/trickle" << QByteArray() << QStringList{"entro 2 secondi: ricevuti "};
    QTest::newRow("300 MB announced") << "/huge" << QByteArray() << QStringList{"piu' di 1,0 MB"};
    QTest::newRow("no end") << "/endless" << QByteArray() << QStringList{"piu' di 1,0 MB"};
}

void DownloaderTest::answers()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, told);
    HttpServer server;
    QVERIFY(server.listening());

    DownloadFailure failure;
    QCOMPARE(fetch(server.url(path), failure), told.isEmpty());
    QVERIFY(!server.requested.isEmpty());
    QCOMPARE(server.requested.first(), path);
    if (told.isEmpty()) {
        QFile file(target());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("Tabella.txt")});
        return;
    }
    // No file, and no half-written leftover beside it; the operator is told what came.
    QCOMPARE(folderEntries(), QStringList{});
    QVERIFY(!failure.stopped);
    QVERIFY(failure.what.startsWith(QStringLiteral("Indirizzo: ") + server.url(path)));
    for (const QString& words : told)
        QVERIFY2(failure.what.contains(words), qPrintable(failure.what));
}

void DownloaderTest::failureKeepsEarlierFile()
{
    QFile earlier(target());
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("copia precedente\r\n");
    earlier.close();

    HttpServer server;
    QVERIFY(server.listening());
    for (const char* path : {"/missing", "/short", "/proxy-page"}) {
        DownloadFailure failure;
        QVERIFY(!fetch(server.url(QString::fromLatin1(path)), failure));
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
    DownloadFailure failure;
    QVERIFY(!fetch(QStringLiteral("http://127.0.0.1:%1/ok").arg(port), failure));
    QCOMPARE(folderEntries(), QStringList{});
}

void DownloaderTest::progressEndsTheDownload()
{
    // Its no ends the download at once, saying nothing and keeping nothing.
    HttpServer server;
    QVERIFY(server.listening());
    Progress progress;
    progress.stopAfter = 3;
    DownloadFailure failure;
    QVERIFY(!fetch(server.url(QStringLiteral("/trickle")), failure, &progress));
    QVERIFY(failure.stopped && failure.what.isEmpty() && progress.heard >= 3);
    QCOMPARE(folderEntries(), QStringList{});
}

void DownloaderTest::unwritableTargetFails()
{
    HttpServer server;
    QVERIFY(server.listening());
    HttpDownloader downloader(30000);
    Progress progress;
    DownloadFailure failure;
    QVERIFY(!downloader.download(server.url(QStringLiteral("/ok")),
                                 QDir(dir_->path()).filePath(QStringLiteral("manca/Tabella.txt")),
                                 needsTab, progress, failure));
    QCOMPARE(folderEntries(), QStringList{});
}

QTEST_GUILESS_MAIN(DownloaderTest)
#include "DownloaderTest.moc"
