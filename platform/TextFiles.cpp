#include "platform/TextFiles.h"

#include "platform/Cp1252.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#if defined(Q_OS_WIN)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

Error TextFileSystem::appendLine(const QString& path, const QString& line)
{
    std::unique_ptr<TextWriter> writer;
    if (Error e = openWrite(path, true, writer); e.failed())
        return e;
    if (Error e = writer->writeLine(line); e.failed())
        return e;
    return writer->close();
}

namespace {

Error fileError(qint32 number, const QString& what, const QString& path)
{
    return {number, what + QStringLiteral(": ") + QDir::toNativeSeparators(path)};
}

Error accessDenied(const QString& path)
{
    return fileError(ErrorNumber::PermissionDenied, QStringLiteral("Accesso negato"), path);
}

// A file opened to be written is created when missing, so its absence is no cause there: the
// file or its folder refuses writes.
Error openFailure(const QFile& file, bool writing)
{
    const QFileInfo info(file.fileName());
    if (!info.dir().exists())
        return fileError(ErrorNumber::PathNotFound,
                         QStringLiteral("Impossibile trovare il percorso"), file.fileName());
    if (!writing && file.error() == QFileDevice::OpenError && !info.exists())
        return fileError(ErrorNumber::FileNotFound, QStringLiteral("Impossibile trovare il file"),
                         file.fileName());
    return accessDenied(file.fileName());
}

// Whether the write that just failed wanted space: the system's own error, read at once.
bool diskFull()
{
#if defined(Q_OS_WIN)
    const DWORD e = GetLastError();
    return e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL;
#else
    return errno == ENOSPC || errno == EDQUOT;
#endif
}

Error writeFailure(const QString& path, bool full = diskFull())
{
    if (full)
        return fileError(ErrorNumber::DiskFull, QStringLiteral("Disco pieno"), path);
    return fileError(ErrorNumber::DeviceIo, QStringLiteral("Errore di scrittura"), path);
}

class QtTextReader final : public TextReader
{
public:
    explicit QtTextReader(std::unique_ptr<QFile> file) : file_(std::move(file)) {}

    Error atEnd(bool& end) override
    {
        if (Error e = fill(); e.failed())
            return e;
        end = pos_ >= buffer_.size() && eof_;
        return {};
    }

    Error readLine(QString& line) override
    {
        QByteArray bytes;
        bool scanned = false;
        for (;;) {
            if (Error e = fill(); e.failed())
                return e;
            if (pos_ >= buffer_.size()) {
                if (!scanned)
                    return {62, QStringLiteral("Input oltre la fine del file")};
                break;
            }
            const char* begin = buffer_.constData() + pos_;
            const qsizetype left = buffer_.size() - pos_;
            qsizetype i = 0;
            while (i < left && begin[i] != '\n' && begin[i] != '\r')
                ++i;
            bytes.append(begin, i);
            pos_ += i;
            scanned = true;
            if (i < left) {
                const char endChar = begin[i];
                ++pos_;
                if (endChar == '\r') {
                    if (Error e = fill(); e.failed())
                        return e;
                    if (pos_ < buffer_.size() && buffer_[pos_] == '\n')
                        ++pos_;
                }
                break;
            }
        }
        line = Cp1252::decode(bytes);
        return {};
    }

private:
    // Makes sure unread bytes are buffered unless the file is exhausted.
    Error fill()
    {
        if (pos_ < buffer_.size() || eof_)
            return {};
        buffer_ = file_->read(64 * 1024);
        pos_ = 0;
        if (file_->error() != QFileDevice::NoError)
            return fileError(ErrorNumber::DeviceIo, QStringLiteral("Errore di I/O sul file"),
                             file_->fileName());
        if (buffer_.isEmpty())
            eof_ = true;
        return {};
    }

    std::unique_ptr<QFile> file_;
    QByteArray buffer_;
    qsizetype pos_ = 0;
    bool eof_ = false;
};

class QtTextWriter final : public TextWriter
{
public:
    QtTextWriter(std::unique_ptr<QFile> file, bool append)
        : file_(std::move(file)), append_(append), size_(append ? file_->size() : 0)
    {
    }

    Error writeLine(const QString& line) override
    {
        if (!file_->isOpen())
            return fileError(ErrorNumber::DeviceIo, QStringLiteral("File chiuso"),
                             file_->fileName());
        const QByteArray bytes = lineBytes(line);
        if (file_->write(bytes) != bytes.size())
            return writeFailure(file_->fileName());
        size_ += bytes.size();
        return {};
    }

    Error close() override
    {
        if (!file_->isOpen())
            return {};
        const bool flushed = file_->flush();
        const bool full = !flushed && diskFull();
        file_->close();
        if (!flushed || file_->error() != QFileDevice::NoError)
            return writeFailure(file_->fileName(), full);
        return {};
    }

    qint64 size() const override { return size_; }

    Error rewriteLine(qint64 offset, const QString& line) override
    {
        const QByteArray bytes = lineBytes(line);
        if (!file_->isOpen() || append_ || offset < 0 || offset + bytes.size() > size_)
            return fileError(ErrorNumber::DeviceIo, QStringLiteral("Riscrittura non possibile"),
                             file_->fileName());
        // Back to the end afterwards, where the next line goes.
        if (!file_->seek(offset) || file_->write(bytes) != bytes.size() || !file_->seek(size_))
            return writeFailure(file_->fileName());
        return {};
    }

    Error sync() override
    {
        if (!file_->isOpen())
            return fileError(ErrorNumber::DeviceIo, QStringLiteral("File chiuso"),
                             file_->fileName());
        if (!file_->flush() || !syncHandle(file_->handle()))
            return writeFailure(file_->fileName());
        return {};
    }

private:
    static QByteArray lineBytes(const QString& line)
    {
        QByteArray bytes = Cp1252::encode(line);
        bytes.append("\r\n", 2);
        return bytes;
    }

    // Waits until the disk holds the file's data (and its size, which reading it back needs).
    static bool syncHandle(int handle)
    {
#if defined(Q_OS_WIN)
        return _commit(handle) == 0;
#elif defined(Q_OS_LINUX)
        return ::fdatasync(handle) == 0;
#else
        return ::fsync(handle) == 0;
#endif
    }

    std::unique_ptr<QFile> file_;
    bool append_;
    qint64 size_;
};

} // namespace

bool QtTextFileSystem::fileExists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

bool QtTextFileSystem::folderExists(const QString& path)
{
    return QFileInfo(path).isDir();
}

Error QtTextFileSystem::createFolder(const QString& path)
{
    if (QDir().mkdir(path))
        return {};
    if (QFileInfo(path).dir().exists())
        return accessDenied(path);
    return fileError(ErrorNumber::PathNotFound, QStringLiteral("Impossibile creare la cartella"),
                     path);
}

Error QtTextFileSystem::removeFile(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return fileError(ErrorNumber::FileNotFound, QStringLiteral("Impossibile trovare il file"),
                         path);
    file.setPermissions(file.permissions() | QFileDevice::WriteOwner | QFileDevice::WriteUser);
    if (!file.remove())
        return accessDenied(path);
    return {};
}

Error QtTextFileSystem::openRead(const QString& path, std::unique_ptr<TextReader>& reader)
{
    auto file = std::make_unique<QFile>(path);
    if (QFileInfo(path).isDir() || !file->open(QIODevice::ReadOnly))
        return openFailure(*file, false);
    reader = std::make_unique<QtTextReader>(std::move(file));
    return {};
}

Error QtTextFileSystem::openWrite(const QString& path, bool append,
                                  std::unique_ptr<TextWriter>& writer)
{
    auto file = std::make_unique<QFile>(path);
    const QIODevice::OpenMode mode =
        QIODevice::WriteOnly | (append ? QIODevice::Append : QIODevice::Truncate);
    if (!file->open(mode))
        return openFailure(*file, true);
    writer = std::make_unique<QtTextWriter>(std::move(file), append);
    return {};
}

Error QtTextFileSystem::createNew(const QString& path, std::unique_ptr<TextWriter>& writer)
{
    auto file = std::make_unique<QFile>(path);
    if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        writer = std::make_unique<QtTextWriter>(std::move(file), false);
        return {};
    }
    if (file->exists())
        return fileError(ErrorNumber::FileExists, QStringLiteral("Il file esiste già"), path);
    return openFailure(*file, true);
}
