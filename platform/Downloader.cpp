#include "platform/Downloader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringList>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>

QString sizeInWords(qint64 bytes)
{
    const QLocale italian(QLocale::Italian, QLocale::Italy);
    if (bytes < 1024)
        return italian.toString(bytes) + QStringLiteral(" byte");
    if (bytes < 1024 * 1024)
        return italian.toString(bytes / 1024.0, 'f', 1) + QStringLiteral(" KB");
    return italian.toString(bytes / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MB");
}

namespace {

// How often the caller hears of the download, and may end it.
constexpr int kTickMs = 100;
// Enough of the body to tell a web page.
constexpr qsizetype kHeadBytes = 512;

// Whether Qt's error only restates a status the server gave.
bool isHttpStatusError(QNetworkReply::NetworkError e)
{
    return (e >= QNetworkReply::ContentAccessDenied && e <= QNetworkReply::UnknownContentError) ||
           (e >= QNetworkReply::InternalServerError && e <= QNetworkReply::UnknownServerError);
}

// The network's trouble in the operator's words: Qt's own are English.
QString networkTrouble(QNetworkReply::NetworkError e, const QString& qtText)
{
    switch (e) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("il server ha rifiutato la connessione");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("server non trovato (la connessione a Internet funziona?)");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("il server ha chiuso la connessione prima della fine");
    case QNetworkReply::TimeoutError:
        return QStringLiteral("il server non risponde");
    default:
        return QStringLiteral("errore di rete (%1)").arg(qtText);
    }
}

// What a body is, as far as its type and its first bytes tell.
QString bodyInWords(const QByteArray& head, const QString& type, qint64 size)
{
    if (size == 0)
        return QStringLiteral("una risposta vuota");
    const QString kind =
        type.contains(QLatin1String("html"), Qt::CaseInsensitive) || head.trimmed().startsWith('<')
            ? QStringLiteral("una pagina web")
            : QStringLiteral("un file");
    return kind + (type.isEmpty() ? QString() : QStringLiteral(" (") + type + QLatin1Char(')')) +
           QStringLiteral(" di ") + sizeInWords(size);
}

enum class End { Running, Finished, Stopped, TimedOut, TooLarge, WriteFailed };

// One download as it went: how it ended and what came.
struct Transfer
{
    End end = End::Running;
    qint64 received = 0;
    qint64 announced = -1;
    QByteArray head; // the body's first bytes
    int status = 0;
    QString reason;
    QString type;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorText;
};

// Streams url's body to out, bounded in time and size, telling progress as it goes.
Transfer fetch(const QString& url, QIODevice& out, int boundMs, qint64 maxBytes,
               DownloadProgress& progress)
{
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = manager.get(request);
    // What Qt holds unread stays small: the body goes to the file as it comes.
    reply->setReadBufferSize(256 * 1024);

    Transfer t;
    const auto stop = [&](End why) {
        if (t.end != End::Running)
            return;
        t.end = why;
        reply->abort();
    };
    const auto take = [&] {
        while (t.end == End::Running && reply->bytesAvailable() > 0) {
            const QByteArray piece = reply->read(64 * 1024);
            t.head += piece.left(kHeadBytes - t.head.size());
            t.received += piece.size();
            if (t.received > maxBytes)
                stop(End::TooLarge);
            else if (out.write(piece) != piece.size())
                stop(End::WriteFailed);
        }
    };
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        t.announced = length.isValid() ? length.toLongLong() : -1;
        if (t.announced > maxBytes)
            stop(End::TooLarge);
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, take);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // The bound holds for the whole download: a byte now and then does not stretch it.
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (elapsed.elapsed() >= boundMs)
            stop(End::TimedOut);
        else if (!progress.going(t.received, t.announced))
            stop(End::Stopped);
    });
    if (!progress.going(0, -1))
        stop(End::Stopped);
    tick.start(kTickMs);
    // Every event is delivered as it comes, the operator's too: the window that shows the
    // download answers its Chiudi, its close box and a selection of its text.
    if (!reply->isFinished())
        loop.exec();
    tick.stop();
    take();
    if (t.end == End::Running)
        t.end = End::Finished;
    t.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    t.reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().trimmed();
    t.type = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    t.error = reply->error();
    t.errorText = reply->errorString();
    return t;
}

// What went wrong, in the operator's words, line by line; nothing when a whole 2xx body came.
QStringList trouble(const Transfer& t, int boundMs, qint64 maxBytes, const QString& folder)
{
    switch (t.end) {
    case End::TimedOut:
        return {QStringLiteral("Il download non si e' concluso entro %1 secondi: ricevuti %2.")
                    .arg(boundMs / 1000)
                    .arg(sizeInWords(t.received))};
    case End::TooLarge:
        return {QStringLiteral("Il server invia piu' di %1: nessuna tabella dei codici e' cosi' "
                               "grande.")
                    .arg(sizeInWords(maxBytes))};
    case End::WriteFailed:
        return {QStringLiteral("Impossibile scrivere il file ricevuto nella cartella %1 (disco "
                               "pieno?).")
                    .arg(folder)};
    case End::Running:
    case End::Finished:
    case End::Stopped:
        break;
    }
    if (t.status == 0)
        return {QStringLiteral("Nessuna risposta dal server: ") +
                networkTrouble(t.error, t.errorText) + QLatin1Char('.')};
    if (t.error == QNetworkReply::NoError && t.status >= 200 && t.status < 300)
        return {};
    QStringList lines{
        QStringLiteral("Risposta del server: %1 %2").arg(t.status).arg(t.reason).trimmed()};
    if (t.error != QNetworkReply::NoError && !isHttpStatusError(t.error))
        lines << QStringLiteral("Trasferimento non concluso: ") +
                     networkTrouble(t.error, t.errorText) + QLatin1Char('.');
    return lines << QStringLiteral("Ricevuto: ") + bodyInWords(t.head, t.type, t.received) +
                        QLatin1Char('.');
}

} // namespace

bool HttpDownloader::download(const QString& url, const QString& localFile, const Check& check,
                              DownloadProgress& progress, DownloadFailure& failure)
{
    failure = {};
    QStringList lines{QStringLiteral("Indirizzo: ") + url};
    const auto fail = [&](const QStringList& more) {
        failure.what = (lines + more).join(QLatin1Char('\n'));
        return false;
    };
    // Beside the target, so that taking its place is a rename; gone with this object unless
    // it took it.
    const QFileInfo target(localFile);
    const QString folder = QDir::toNativeSeparators(target.absolutePath());
    QTemporaryFile part(
        target.absoluteDir().filePath(target.fileName() + QStringLiteral(".XXXXXX.scaricamento")));
    if (!part.open())
        return fail({QStringLiteral("Impossibile scrivere nella cartella ") + folder});

    const Transfer t = fetch(url, part, boundMs_, maxBytes_, progress);
    if (t.end == End::Stopped) {
        failure.stopped = true;
        return false;
    }
    if (const QStringList why = trouble(t, boundMs_, maxBytes_, folder); !why.isEmpty())
        return fail(why);
    lines << QStringLiteral("Risposta del server: %1 %2").arg(t.status).arg(t.reason).trimmed();
    if (!part.flush())
        return fail(
            {QStringLiteral("Impossibile scrivere il file ricevuto nella cartella ") + folder});
    // Closed, so that the check may open it on any system; the name stays until part goes.
    part.close();
    if (const QString why = check(part.fileName()); !why.isEmpty())
        return fail({QStringLiteral("Ricevuto: ") + bodyInWords(t.head, t.type, t.received) +
                     QStringLiteral(". ") + why});
    if (QFile::exists(localFile) && !QFile::remove(localFile))
        return fail(
            {QStringLiteral("Impossibile sostituire ") + QDir::toNativeSeparators(localFile)});
    if (!part.rename(localFile))
        return fail(
            {QStringLiteral("Impossibile scrivere ") + QDir::toNativeSeparators(localFile)});
    part.setAutoRemove(false);
    return true;
}
