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

} // namespace

bool HttpDownloader::download(const QString& url, const QString& localFile, const Check& check,
                              DownloadProgress& progress, DownloadFailure& failure)
{
    failure = {};
    QStringList lines{QStringLiteral("Indirizzo: ") + url};
    const auto fail = [&](const QString& line) {
        lines << line;
        failure.what = lines.join(QLatin1Char('\n'));
        return false;
    };
    // Beside the target, so that taking its place is a rename; gone with this object unless
    // it took it.
    const QFileInfo target(localFile);
    QTemporaryFile part(
        target.absoluteDir().filePath(target.fileName() + QStringLiteral(".XXXXXX.scaricamento")));
    if (!part.open())
        return fail(QStringLiteral("Impossibile scrivere nella cartella ") +
                    QDir::toNativeSeparators(target.absolutePath()));

    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = manager.get(request);
    // What Qt holds unread stays small: the body goes to the file as it comes.
    reply->setReadBufferSize(256 * 1024);

    End end = End::Running;
    qint64 received = 0;
    qint64 announced = -1;
    QByteArray head;
    const auto stop = [&](End why) {
        if (end != End::Running)
            return;
        end = why;
        reply->abort();
    };
    const auto take = [&] {
        while (end == End::Running && reply->bytesAvailable() > 0) {
            const QByteArray piece = reply->read(64 * 1024);
            head += piece.left(kHeadBytes - head.size());
            received += piece.size();
            if (received > maxBytes_)
                stop(End::TooLarge);
            else if (part.write(piece) != piece.size())
                stop(End::WriteFailed);
        }
    };
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        announced = length.isValid() ? length.toLongLong() : -1;
        if (announced > maxBytes_)
            stop(End::TooLarge);
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, take);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // The bound holds for the whole download: a byte now and then does not stretch it.
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (elapsed.elapsed() >= boundMs_)
            stop(End::TimedOut);
        else if (!progress.going(received, announced))
            stop(End::Stopped);
    });
    if (!progress.going(0, -1))
        stop(End::Stopped);
    tick.start(kTickMs);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    tick.stop();
    take();
    if (end == End::Running)
        end = End::Finished;

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString reason =
        reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().trimmed();
    const QString type = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    switch (end) {
    case End::Stopped:
        failure.stopped = true;
        return false;
    case End::TimedOut:
        return fail(QStringLiteral("Il download non si e' concluso entro %1 secondi: ricevuti %2.")
                        .arg(boundMs_ / 1000)
                        .arg(sizeInWords(received)));
    case End::TooLarge:
        return fail(QStringLiteral("Il server invia piu' di %1: nessuna tabella dei codici e' "
                                   "cosi' grande.")
                        .arg(sizeInWords(maxBytes_)));
    case End::WriteFailed:
        return fail(QStringLiteral("Impossibile scrivere il file ricevuto nella cartella %1 "
                                   "(disco pieno?).")
                        .arg(QDir::toNativeSeparators(target.absolutePath())));
    case End::Running:
    case End::Finished:
        break;
    }
    if (status == 0)
        return fail(QStringLiteral("Nessuna risposta dal server: ") +
                    networkTrouble(error, errorText) + QLatin1Char('.'));
    lines << QStringLiteral("Risposta del server: %1 %2").arg(status).arg(reason).trimmed();
    if (error != QNetworkReply::NoError && !isHttpStatusError(error))
        lines << QStringLiteral("Trasferimento non concluso: ") + networkTrouble(error, errorText) +
                     QLatin1Char('.');
    const QString body = QStringLiteral("Ricevuto: ") + bodyInWords(head, type, received) + '.';
    if (error != QNetworkReply::NoError || status < 200 || status >= 300)
        return fail(body);
    if (!part.flush())
        return fail(QStringLiteral("Impossibile scrivere il file ricevuto nella cartella %1.")
                        .arg(QDir::toNativeSeparators(target.absolutePath())));
    // Closed, so that the check may open it on any system; the name stays until part goes.
    part.close();
    if (const QString why = check(part.fileName()); !why.isEmpty())
        return fail(body + QLatin1Char(' ') + why);
    if (QFile::exists(localFile) && !QFile::remove(localFile))
        return fail(QStringLiteral("Impossibile sostituire ") +
                    QDir::toNativeSeparators(localFile));
    if (!part.rename(localFile))
        return fail(QStringLiteral("Impossibile scrivere ") + QDir::toNativeSeparators(localFile));
    part.setAutoRemove(false);
    return true;
}
