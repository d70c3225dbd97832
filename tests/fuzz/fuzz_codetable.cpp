#include "FuzzFile.h"
#include "db/CodeTable.h"
#include "platform/TextFiles.h"

#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void parse(const QString& line)
{
    if (CodeTable::isBlankLine(line))
        return;
    const CodeTable::Line columns = CodeTable::parseLine(line);
    if (columns.shape == CodeTable::Line::Shape::TooShort)
        return;
    // Both codes are staged in nine characters, whatever the columns held.
    check(CodeTable::normalisedCode(columns.newCode).size() == 9);
    check(CodeTable::normalisedCode(columns.oldCode).size() == 9);
    const QString title = CodeTable::stagedTitle(columns.title);
    check(!title.startsWith(QLatin1Char(' ')) && !title.endsWith(QLatin1Char(' ')));
    // Upper-casing keeps the title's length.
    check(title.size() == columns.title.size());
}

} // namespace

// The code table as the staging load reads it: the file split into lines in the 8-bit code
// page, each line cut into its columns.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QtTextFileSystem files;
    std::unique_ptr<TextReader> reader;
    check(!files.openRead(fuzzFile(data, size), reader, Decoding::AsSaved).failed());
    qsizetype characters = 0;
    size_t lines = 0;
    for (;;) {
        bool end = true;
        check(!reader->atEnd(end).failed());
        if (end)
            break;
        QString line;
        check(!reader->readLine(line).failed());
        check(++lines <= size); // every line consumes a byte at least
        characters += line.size();
        parse(line);
    }
    // One character per byte: no byte is lost or doubled, line ends aside.
    check(characters <= static_cast<qsizetype>(size));
    return 0;
}
