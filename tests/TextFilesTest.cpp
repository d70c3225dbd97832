#include "platform/TextFiles.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#if defined(Q_OS_WIN)
#include <windows.h>
#endif

class TextFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void readsLines_data();
    void readsLines();
    void readingPastTheEndFails();
    void writesCrLfLines();
    void appendsAndCreates();
    void writerRefusesAfterClose();
    void openFailuresAreNumbered_data();
    void openFailuresAreNumbered();
    void fileKeptByAnotherProgramIsNamed();
    void removesReadOnlyFile();
    void removingMissingFileFails();
    void folders();

private:
    QString path(const QString& name) const { return QDir(dir_->path()).filePath(name); }
    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), bytes.size());
    }
    QByteArray read(const QString& name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    std::unique_ptr<QTemporaryDir> dir_;
    QtTextFileSystem files_;
};

void TextFilesTest::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TextFilesTest::readsLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("LF") << QByteArray("a\nb\n") << QStringList{"a", "b"};
    QTest::newRow("lone CR") << QByteArray("a\rb\r") << QStringList{"a", "b"};
    QTest::newRow("mixed") << QByteArray("a\r\nb\nc\rd\r\n") << QStringList{"a", "b", "c", "d"};
    QTest::newRow("last line without end") << QByteArray("a\r\nbc") << QStringList{"a", "bc"};
    QTest::newRow("only a line without end") << QByteArray("abc") << QStringList{"abc"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("one empty line") << QByteArray("\r\n") << QStringList{""};
    QTest::newRow("empty lines") << QByteArray("\n\n") << QStringList{"", ""};
    QTest::newRow("CR then CR LF") << QByteArray("\r\r\n") << QStringList{"", ""};
    QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
    QTest::newRow("tabs kept") << QByteArray("1\t2\t3\r\n") << QStringList{"1\t2\t3"};
    QTest::newRow("blanks kept") << QByteArray("  a  \r\n") << QStringList{"  a  "};
    QTest::newRow("NUL bytes") << QByteArray("a\0b\r\n\0", 6)
                               << QStringList{QString("a") + QChar(0) + "b", QString(QChar(0))};
    QTest::newRow("code page") << QByteArray("caff\xE8 \x80\r\n")
                               << QStringList{QStringLiteral("caffè €")};
    // However the file was saved, the same lines come out, without a byte-order mark (UTF-8
    // and UTF-16 LE go through the whole run in BadInputTest).
    const QStringList accents{QStringLiteral("perché è così €"), QStringLiteral("b")};
    QTest::newRow("UTF-16 BE") << "\xFE\xFF" + QStringEncoder(QStringConverter::Utf16BE)(
                                                   accents.join(QStringLiteral("\r\n")))
                               << accents;
    QTest::newRow("only a BOM") << QByteArray("\xEF\xBB\xBF") << QStringList{};
    // Read a piece at a time: a character split between pieces comes out whole.
    const QString wide = QString(40000, QChar(0x20AC)) + QStringLiteral("\r\nz");
    QTest::newRow("UTF-16 LE across buffers")
        << "\xFF\xFE" + QStringEncoder(QStringConverter::Utf16LE)(wide)
        << QStringList{QString(40000, QChar(0x20AC)), "z"};
    // Ctrl-Z ends a file saved by an old DOS editor; anywhere else it is a character.
    QTest::newRow("Ctrl-Z at the end") << QByteArray("a\r\nb\r\n\x1A") << QStringList{"a", "b"};
    QTest::newRow("Ctrl-Z inside")
        << QByteArray("a\x1A\r\n\x1A\x1A") << QStringList{"a\x1A", "\x1A"};
    // Code-page text that happens to hold one valid UTF-8 pair elsewhere is still code page.
    QTest::newRow("code page, not UTF-8")
        << QByteArray("\xC3\xA8\r\ncaff\xE8")
        << QStringList{QStringLiteral("Ã¨"), QStringLiteral("caffè")};

    // A CR LF split across the reader's 64 KiB buffer is still one end.
    const QByteArray first(64 * 1024 - 1, 'x');
    QTest::newRow("CR LF across buffers")
        << first + "\r\ny" << QStringList{QString::fromLatin1(first), "y"};
    const QByteArray mega(1024 * 1024, 'm');
    QTest::newRow("1 MB line") << mega + "\r\nend" << QStringList{QString::fromLatin1(mega), "end"};
}

void TextFilesTest::readsLines()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    write(QStringLiteral("in.txt"), bytes);

    std::unique_ptr<TextReader> reader;
    QVERIFY(!files_.openRead(path(QStringLiteral("in.txt")), reader, Decoding::AsSaved).failed());
    QStringList read;
    bool end = false;
    for (;;) {
        QVERIFY(!reader->atEnd(end).failed());
        if (end)
            break;
        QString line;
        const Error e = reader->readLine(line);
        QVERIFY2(!e.failed(), qPrintable(e.description));
        read.append(line);
        QVERIFY(read.size() <= lines.size() + 1);
    }
    QCOMPARE(read.size(), lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i)
        QVERIFY2(read[i] == lines[i], qPrintable(QStringLiteral("line %1").arg(i)));
}

void TextFilesTest::readingPastTheEndFails()
{
    write(QStringLiteral("in.txt"), "only\r\n");
    std::unique_ptr<TextReader> reader;
    QVERIFY(!files_.openRead(path(QStringLiteral("in.txt")), reader).failed());
    QString line;
    QVERIFY(!reader->readLine(line).failed());
    QCOMPARE(line, QStringLiteral("only"));
    const Error e = reader->readLine(line);
    QCOMPARE(e.number, 62);
    QVERIFY(!e.description.isEmpty());

    write(QStringLiteral("empty.txt"), {});
    QVERIFY(!files_.openRead(path(QStringLiteral("empty.txt")), reader).failed());
    QCOMPARE(reader->readLine(line).number, 62);
}

void TextFilesTest::writesCrLfLines()
{
    std::unique_ptr<TextWriter> writer;
    QVERIFY(!files_.openWrite(path(QStringLiteral("out.txt")), false, writer).failed());
    QVERIFY(!writer->writeLine(QStringLiteral("caffè 1€")).failed());
    QVERIFY(!writer->writeLine(QString()).failed());
    QVERIFY(!writer->writeLine(QStringLiteral("Łx")).failed());
    QVERIFY(!writer->close().failed());
    QCOMPARE(read(QStringLiteral("out.txt")), QByteArray("caff\xE8 1\x80\r\n\r\n?x\r\n"));

    // Writing anew replaces the file.
    QVERIFY(!files_.openWrite(path(QStringLiteral("out.txt")), false, writer).failed());
    QVERIFY(!writer->writeLine(QStringLiteral("z")).failed());
    QVERIFY(!writer->close().failed());
    QCOMPARE(read(QStringLiteral("out.txt")), QByteArray("z\r\n"));
}

void TextFilesTest::appendsAndCreates()
{
    const QString file = path(QStringLiteral("log.txt"));
    QVERIFY(!files_.appendLine(file, QStringLiteral("one")).failed());
    QVERIFY(!files_.appendLine(file, QStringLiteral("two")).failed());
    std::unique_ptr<TextWriter> writer;
    QVERIFY(!files_.openWrite(file, true, writer).failed());
    QVERIFY(!writer->writeLine(QStringLiteral("three")).failed());
    QVERIFY(!writer->close().failed());
    QCOMPARE(read(QStringLiteral("log.txt")), QByteArray("one\r\ntwo\r\nthree\r\n"));

    // What was written reads back line by line.
    std::unique_ptr<TextReader> reader;
    QVERIFY(!files_.openRead(file, reader).failed());
    QString line;
    for (const char* expected : {"one", "two", "three"}) {
        QVERIFY(!reader->readLine(line).failed());
        QCOMPARE(line, QString::fromLatin1(expected));
    }
    bool end = false;
    QVERIFY(!reader->atEnd(end).failed());
    QVERIFY(end);
}

void TextFilesTest::writerRefusesAfterClose()
{
    std::unique_ptr<TextWriter> writer;
    QVERIFY(!files_.openWrite(path(QStringLiteral("out.txt")), false, writer).failed());
    QVERIFY(!writer->writeLine(QStringLiteral("a")).failed());
    QVERIFY(!writer->close().failed());
    QVERIFY(writer->writeLine(QStringLiteral("b")).failed());
    QVERIFY(!writer->close().failed());
    QCOMPARE(read(QStringLiteral("out.txt")), QByteArray("a\r\n"));
}

void TextFilesTest::openFailuresAreNumbered_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("forWriting");
    QTest::addColumn<qint32>("number");
    QTest::newRow("missing file") << "nothing.txt" << false << ErrorNumber::FileNotFound;
    QTest::newRow("missing folder, read") << "nowhere/x.txt" << false << ErrorNumber::PathNotFound;
    QTest::newRow("missing folder, write") << "nowhere/x.txt" << true << ErrorNumber::PathNotFound;
    QTest::newRow("folder as file, read") << "sub" << false << ErrorNumber::PathFileAccess;
    QTest::newRow("folder as file, write") << "sub" << true << ErrorNumber::PathFileAccess;
    // Created when missing: a new file refused is denied, not missing.
    QTest::newRow("new file refused") << QString(300, 'x') << true << ErrorNumber::PermissionDenied;
}

void TextFilesTest::openFailuresAreNumbered()
{
    QFETCH(QString, name);
    QFETCH(bool, forWriting);
    QFETCH(qint32, number);
    QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("sub")));
    Error e;
    if (forWriting) {
        std::unique_ptr<TextWriter> writer;
        e = files_.openWrite(path(name), false, writer);
        QVERIFY(!writer);
    } else {
        std::unique_ptr<TextReader> reader;
        e = files_.openRead(path(name), reader);
        QVERIFY(!reader);
    }
    QCOMPARE(e.number, number);
    QVERIFY(!e.description.isEmpty());
    QVERIFY(!QFile::exists(path(QStringLiteral("nowhere"))));
}

void TextFilesTest::fileKeptByAnotherProgramIsNamed()
{
#if defined(Q_OS_WIN)
    // Held as Excel holds a file it has open: shared with no one.
    write(QStringLiteral("tenuto.txt"), "x\r\n");
    const QString file = QDir::toNativeSeparators(path(QStringLiteral("tenuto.txt")));
    const HANDLE held = CreateFileW(reinterpret_cast<const wchar_t*>(file.utf16()), GENERIC_READ, 0,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::unique_ptr<TextReader> reader;
    const Error e = files_.openRead(file, reader);
    CloseHandle(held);
    QCOMPARE(e.description, QStringLiteral("File in uso da un altro programma: ") + file);
#else
    QSKIP("only Windows keeps other programs out of a file");
#endif
}

void TextFilesTest::removesReadOnlyFile()
{
    write(QStringLiteral("ro.txt"), "x");
    QFile::setPermissions(path(QStringLiteral("ro.txt")), QFileDevice::ReadOwner);
    QVERIFY(!files_.removeFile(path(QStringLiteral("ro.txt"))).failed());
    QVERIFY(!files_.fileExists(path(QStringLiteral("ro.txt"))));
}

void TextFilesTest::removingMissingFileFails()
{
    QCOMPARE(files_.removeFile(path(QStringLiteral("none.txt"))).number, ErrorNumber::FileNotFound);
}

void TextFilesTest::folders()
{
    const QString sub = path(QStringLiteral("LOGS"));
    QVERIFY(!files_.folderExists(sub));
    QVERIFY(!files_.createFolder(sub).failed());
    QVERIFY(files_.folderExists(sub));
    QVERIFY(!files_.fileExists(sub));
    // One level only.
    QVERIFY(files_.createFolder(path(QStringLiteral("a/b"))).failed());
    write(QStringLiteral("f.txt"), "x");
    QVERIFY(files_.fileExists(path(QStringLiteral("f.txt"))));
    QVERIFY(!files_.folderExists(path(QStringLiteral("f.txt"))));
}

QTEST_GUILESS_MAIN(TextFilesTest)
#include "TextFilesTest.moc"
