#pragma once

#include "platform/Error.h"

#include <QString>
#include <memory>

// Sequential text files, written in the host's 8-bit code page. Lines read may end in CR LF, LF or
// a lone CR, and the last one may have no end; a Ctrl-Z that ends the file is the end mark of old
// DOS editors and no character. Lines written end in CR LF. Failures come back as errors numbered
// as the host's file functions number them (53 file not found, 70 permission denied or a file
// another program keeps to itself, 75 a folder where a file should be, 76 path not found, 57
// device I/O, 58 file exists), each naming its file.
class TextReader
{
public:
    virtual ~TextReader() = default;
    virtual Error atEnd(bool& end) = 0;
    virtual Error readLine(QString& line) = 0;
};

class TextWriter
{
public:
    virtual ~TextWriter() = default;
    virtual Error writeLine(const QString& line) = 0;
    // Flushes and closes; later writes fail.
    virtual Error close() = 0;

    // The bytes written so far: where the next line starts.
    virtual qint64 size() const = 0;
    // Writes line over an earlier line of the same length that started at offset; fails on a
    // writer opened to append, whose writes all go to the end.
    virtual Error rewriteLine(qint64 offset, const QString& line) = 0;
    // Flushes what was written and returns once the disk holds it.
    virtual Error sync() = 0;
    // Drops every byte from size on, what a failed write left unflushed included; the next
    // line goes there. Needs no free space, so it works on a full disk.
    virtual Error truncate(qint64 size) = 0;
};

// How a file read is decoded.
enum class Decoding {
    CodePage, // the host's 8-bit code page
    // As the file was saved: a byte-order mark names UTF-8 or UTF-16 (and is dropped); a file
    // without one that is valid UTF-8 beyond ASCII is UTF-8; anything else the code page.
    AsSaved,
};

// How lines are written: in the host's code page, or as UTF-8 behind a byte-order mark (what
// Excel needs to open a list with accents by double click).
enum class Encoding { CodePage, Utf8WithBom };

class TextFileSystem
{
public:
    virtual ~TextFileSystem() = default;

    virtual bool fileExists(const QString& path) = 0;
    virtual bool folderExists(const QString& path) = 0;
    virtual Error createFolder(const QString& path) = 0;
    // Deletes even a read-only file.
    virtual Error removeFile(const QString& path) = 0;
    virtual Error openRead(const QString& path, std::unique_ptr<TextReader>& reader,
                           Decoding decoding = Decoding::CodePage) = 0;
    // Creates or replaces the file, or appends to it (creating it when missing).
    virtual Error openWrite(const QString& path, bool append,
                            std::unique_ptr<TextWriter>& writer) = 0;
    // Creates the file for writing; fails with FileExists, leaving it alone, when it exists.
    virtual Error createNew(const QString& path, std::unique_ptr<TextWriter>& writer,
                            Encoding encoding = Encoding::CodePage) = 0;

    // Opens, appends one line and closes.
    Error appendLine(const QString& path, const QString& line);
};

class QtTextFileSystem final : public TextFileSystem
{
public:
    bool fileExists(const QString& path) override;
    bool folderExists(const QString& path) override;
    Error createFolder(const QString& path) override;
    Error removeFile(const QString& path) override;
    Error openRead(const QString& path, std::unique_ptr<TextReader>& reader,
                   Decoding decoding = Decoding::CodePage) override;
    Error openWrite(const QString& path, bool append, std::unique_ptr<TextWriter>& writer) override;
    Error createNew(const QString& path, std::unique_ptr<TextWriter>& writer,
                    Encoding encoding = Encoding::CodePage) override;
};
