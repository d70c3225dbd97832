#pragma once

#include <QString>

// Fetches a TAB-separated text table over HTTP.
class Downloader
{
public:
    virtual ~Downloader() = default;
    // True only when the whole body of a 2xx answer was written to localFile. A body that is
    // empty or holds no TAB (an error page from a proxy, say) is no table and fails too. On
    // any failure no file is left at localFile (an earlier one there is not touched).
    virtual bool download(const QString& url, const QString& localFile) = 0;
};

class HttpDownloader final : public Downloader
{
public:
    explicit HttpDownloader(int timeoutMs = 60000) : timeoutMs_(timeoutMs) {}
    bool download(const QString& url, const QString& localFile) override;

private:
    int timeoutMs_;
};
