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
    bool sawTab = false;
    const auto keep = [&](const QByteArray& chunk) {
        sawTab = sawTab || chunk.contains('\t');
        if (out.write(chunk) != chunk.size())
            writeFailed = true;
    };
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] { keep(reply->readAll()); });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);

    keep(reply->readAll());
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // Every line of the table holds a TAB: a body without one (empty included) is some
    // other answer served with 200, which must not become the local copy.
    const bool ok = reply->error() == QNetworkReply::NoError && status >= 200 && status < 300 &&
                    !writeFailed && sawTab;
    reply->deleteLater();
    if (!ok) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}
