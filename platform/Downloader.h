#pragma once

#include <QString>
#include <functional>

// Hears how a download goes, and may end it.
class DownloadProgress
{
public:
    virtual ~DownloadProgress() = default;
    // Called as the download starts and then a few times a second until it ends, with the
    // bytes received so far and the size the server announced (-1 when it named none).
    // Returning false ends the download at once.
    virtual bool going(qint64 received, qint64 announced) = 0;
};

// Why a download brought no file.
struct DownloadFailure
{
    bool stopped = false; // DownloadProgress::going() ended it
    // What came instead, in the operator's words: the server's status, a web page, a size, the
    // network's trouble. Empty when stopped.
    QString what;
};

// Fetches a file over HTTP.
class Downloader
{
public:
    // Judges a received file before it takes its place: empty when it may, else why not, in
    // the operator's words.
    using Check = std::function<QString(const QString& receivedFile)>;

    virtual ~Downloader() = default;
    // The body of a 2xx answer goes a piece at a time to a temporary file in localFile's
    // folder, and takes localFile's place only when check accepts it: true only then. On any
    // failure no file is left at localFile (an earlier one there is not touched) nor beside it,
    // and failure says why.
    virtual bool download(const QString& url, const QString& localFile, const Check& check,
                          DownloadProgress& progress, DownloadFailure& failure) = 0;
};

// Over Qt's network access. The whole download is bounded in time (not each wait for a byte)
// and in size: a server that trickles, stalls or sends without end fails it.
class HttpDownloader final : public Downloader
{
public:
    static constexpr int kBoundMs = 120000;
    static constexpr qint64 kMaxBytes = 64 * 1024 * 1024;

    explicit HttpDownloader(int boundMs = kBoundMs, qint64 maxBytes = kMaxBytes)
        : boundMs_(boundMs), maxBytes_(maxBytes)
    {
    }
    bool download(const QString& url, const QString& localFile, const Check& check,
                  DownloadProgress& progress, DownloadFailure& failure) override;

private:
    int boundMs_;
    qint64 maxBytes_;
};

// A size as the operator reads it: "850 byte", "12,5 KB", "64,0 MB".
QString sizeInWords(qint64 bytes);
