#include "platform/Downloader.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

bool HttpDownloader::download(const QString& url, const QString& localFile)
{
    // QSaveFile writes beside the target and renames on commit, so a failed or partial
    // transfer never leaves a file that a later run would take for a local copy.
    QSaveFile out(localFile);
    if (!out.open(QIODevice::WriteOnly))
        return false;

    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(timeoutMs_);
    QNetworkReply* reply = manager.get(request);

    bool writeFailed = false;
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        const QByteArray chunk = reply->readAll();
        if (out.write(chunk) != chunk.size())
            writeFailed = true;
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);

    const QByteArray rest = reply->readAll();
    if (out.write(rest) != rest.size())
        writeFailed = true;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool ok =
        reply->error() == QNetworkReply::NoError && status >= 200 && status < 300 && !writeFailed;
    reply->deleteLater();
    if (!ok) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}
