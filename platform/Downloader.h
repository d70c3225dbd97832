#pragma once

#include <QString>

// Fetches a file over HTTP.
class Downloader
{
public:
    virtual ~Downloader() = default;
    // True only when the whole body of a 2xx answer was written to localFile. On any failure
    // no file is left at localFile (an earlier one there is not touched).
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
