#include "platform/TextFiles.h"

#include "platform/Cp1252.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <optional>

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

Error readError(const QString& path)
{
    return fileError(ErrorNumber::DeviceIo, QStringLiteral("Errore di I/O sul file"), path);
}

Error accessDenied(const QString& path)
{
    return fileError(ErrorNumber::PermissionDenied, QStringLiteral("Accesso negato"), path);
}

// Whether another program holds the file open and shares it with no one (Excel, an editor):
// Windows then refuses every other open, which is no matter of permissions. Asked again at
// once, since what Qt's failed open left in the last error is not to be trusted.
bool inUseElsewhere(const QString& path)
{
#if defined(Q_OS_WIN)
    const HANDLE h =
        CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                    GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    const DWORD e = GetLastError();
    return e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION;
#else
    // Locks here are advisory: they never keep a reader out.
    Q_UNUSED(path);
    return false;
#endif
}

// A file opened to be written is created when missing, so its absence is no cause there: the
// file or its folder refuses writes.
Error openFailure(const QFile& file, bool writing)
{
    const QFileInfo info(file.fileName());
    if (!info.dir().exists())
        return fileError(ErrorNumber::PathNotFound,
                         QStringLiteral("Impossibile trovare il percorso"), file.fileName());
    if (info.isDir())
        return fileError(ErrorNumber::PathFileAccess,
                         QStringLiteral("E' una cartella, non un file"), file.fileName());
    if (!writing && file.error() == QFileDevice::OpenError && !info.exists())
        return fileError(ErrorNumber::FileNotFound, QStringLiteral("Impossibile trovare il file"),
                         file.fileName());
    if (info.exists() && inUseElsewhere(file.fileName()))
        return fileError(ErrorNumber::PermissionDenied,
                         QStringLiteral("File in uso da un altro programma"), file.fileName());
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

// How a file read was saved. Editors save the code table as UTF-8 or UTF-16 as readily as in
// the host's code page, and a text decoded in the wrong one would reach the catalogue garbled.
enum class ReadAs { Cp1252, Utf8 };

// Whether bytes are well-formed UTF-8, fed a piece at a time; a sequence may span pieces.
class Utf8Check
{
public:
    void feed(QByteArrayView bytes)
    {
        for (const char c : bytes) {
            const uchar b = uchar(c);
            if (pending_ > 0) {
                if (b < low_ || b > high_)
                    valid_ = false;
                low_ = 0x80, high_ = 0xBF;
                --pending_;
                continue;
            }
            if (b < 0x80)
                continue;
            multiByte_ = true;
            // The second byte's range rules out overlong forms, surrogates and values past
            // U+10FFFF.
            if (b >= 0xC2 && b <= 0xDF)
                pending_ = 1;
            else if (b >= 0xE0 && b <= 0xEF)
                pending_ = 2, low_ = b == 0xE0 ? 0xA0 : 0x80, high_ = b == 0xED ? 0x9F : 0xBF;
            else if (b >= 0xF0 && b <= 0xF4)
                pending_ = 3, low_ = b == 0xF0 ? 0x90 : 0x80, high_ = b == 0xF4 ? 0x8F : 0xBF;
            else
                valid_ = false;
        }
    }
    // UTF-8 that holds at least one character beyond ASCII: plain ASCII reads alike either way.
    bool isMultiByteUtf8() const { return valid_ && pending_ == 0 && multiByte_; }

private:
    bool valid_ = true;
    bool multiByte_ = false;
    int pending_ = 0;
    uchar low_ = 0x80, high_ = 0xBF;
};

class QtTextReader final : public TextReader
{
public:
    // utf16: the file is UTF-16 in that byte order, past its mark; it is handed on as UTF-8,
    // whose line ends are single bytes, a piece at a time.
    QtTextReader(std::unique_ptr<QIODevice> device, QString path, ReadAs encoding,
                 std::optional<QStringConverter::Encoding> utf16 = std::nullopt)
        : device_(std::move(device)), path_(std::move(path)), encoding_(encoding)
    {
        if (utf16)
            utf16_.emplace(*utf16);
    }

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
        line = encoding_ == ReadAs::Utf8 ? QString::fromUtf8(bytes) : Cp1252::decode(bytes);
        return {};
    }

private:
    // Makes sure unread bytes are buffered unless the file is exhausted.
    Error fill()
    {
        while (pos_ >= buffer_.size() && !eof_) {
            buffer_.resize(64 * 1024);
            const qint64 read = device_->read(buffer_.data(), buffer_.size());
            buffer_.resize(std::max<qint64>(read, 0));
            pos_ = 0;
            if (read < 0)
                return readError(path_);
            eof_ = buffer_.isEmpty();
            // A piece may end inside a character: the decoder keeps its bytes for the next.
            if (utf16_)
                buffer_ = QString((*utf16_)(buffer_)).toUtf8();
            // Old DOS editors end a text with Ctrl-Z: a mark, not a character of the last line.
            if (!eof_ && buffer_.endsWith('\x1A') && device_->atEnd())
                buffer_.chop(1);
        }
        return {};
    }

    std::unique_ptr<QIODevice> device_;
    QString path_;
    ReadAs encoding_;
    std::optional<QStringDecoder> utf16_;
    QByteArray buffer_;
    qsizetype pos_ = 0;
    bool eof_ = false;
};

class QtTextWriter final : public TextWriter
{
public:
    QtTextWriter(std::unique_ptr<QFile> file, bool append, Encoding encoding = Encoding::CodePage)
        : file_(std::move(file)), append_(append), encoding_(encoding),
          size_(append ? file_->size() : 0)
    {
    }

    // Writes the byte-order mark a new UTF-8 file begins with.
    Error start()
    {
        if (encoding_ != Encoding::Utf8WithBom)
            return {};
        if (file_->write("\xEF\xBB\xBF", 3) != 3)
            return writeFailure(file_->fileName());
        size_ += 3;
        return {};
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

    Error truncate(qint64 size) override
    {
        if (!file_->isOpen() || append_ || size < 0 || size > size_)
            return fileError(ErrorNumber::DeviceIo, QStringLiteral("Troncamento non possibile"),
                             file_->fileName());
        // Resizing flushes first, which a full disk refuses: closing drops what stays buffered
        // (whatever reaches the file is cut off below), and the file opens again as it is.
        file_->close();
        if (!file_->open(QIODevice::ReadWrite) || !file_->resize(size) || !file_->seek(size))
            return fileError(ErrorNumber::DeviceIo, QStringLiteral("Errore di scrittura"),
                             file_->fileName());
        size_ = size;
        return {};
    }

private:
    QByteArray lineBytes(const QString& line) const
    {
        QByteArray bytes =
            encoding_ == Encoding::Utf8WithBom ? line.toUtf8() : Cp1252::encode(line);
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
    Encoding encoding_;
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

Error QtTextFileSystem::openRead(const QString& path, std::unique_ptr<TextReader>& reader,
                                 Decoding decoding)
{
    auto file = std::make_unique<QFile>(path);
    if (QFileInfo(path).isDir() || !file->open(QIODevice::ReadOnly))
        return openFailure(*file, false);
    if (decoding == Decoding::CodePage) {
        reader = std::make_unique<QtTextReader>(std::move(file), path, ReadAs::Cp1252);
        return {};
    }
    // A byte-order mark says how the file was saved, and is no part of its first line.
    const QByteArray start = file->peek(3);
    if (start.startsWith("\xFF\xFE") || start.startsWith("\xFE\xFF")) {
        const auto order =
            start.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE;
        if (!file->seek(2))
            return readError(path);
        reader = std::make_unique<QtTextReader>(std::move(file), path, ReadAs::Utf8, order);
        return {};
    }
    ReadAs encoding = ReadAs::Cp1252;
    if (start == "\xEF\xBB\xBF") {
        encoding = ReadAs::Utf8;
        file->seek(3);
    } else {
        // Without a mark the whole file decides: one pass, then back to its start.
        Utf8Check check;
        for (QByteArray piece; !(piece = file->read(64 * 1024)).isEmpty();)
            check.feed(piece);
        if (file->error() != QFileDevice::NoError || !file->seek(0))
            return readError(path);
        if (check.isMultiByteUtf8())
            encoding = ReadAs::Utf8;
    }
    reader = std::make_unique<QtTextReader>(std::move(file), path, encoding);
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

Error QtTextFileSystem::createNew(const QString& path, std::unique_ptr<TextWriter>& writer,
                                  Encoding encoding)
{
    auto file = std::make_unique<QFile>(path);
    if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        auto created = std::make_unique<QtTextWriter>(std::move(file), false, encoding);
        if (Error e = created->start(); e.failed())
            return e;
        writer = std::move(created);
        return {};
    }
    if (file->exists())
        return fileError(ErrorNumber::FileExists, QStringLiteral("Il file esiste già"), path);
    return openFailure(*file, true);
}
