#pragma once

#include "db/CodeTable.h"
#include "platform/Error.h"

#include <QMap>
#include <QString>
#include <functional>
#include <memory>

class ErrorLog;
class TextFileSystem;
class TextReader;

namespace CodeTable {

// A data line of the code table as read: where it stands in the file, its text and columns,
// and the fault the host reports for it. A line with exactly three TABs has a fault and is
// still staged (Line::staged()).
struct ReadLine
{
    int number = 0; // in the file, blank lines included
    QString text;
    Line columns;
    Error fault;
};

// The one reader of the code table, for the run, the preview and the missing-code report:
// the same lines are refused and logged whoever reads. Blank lines are passed over; every
// other line is cut into its columns and judged. A faulty line is logged under the reader's
// label with "riga N di <file>", at most kPerCause lines of one cause, then one line that
// counts the rest.
class Reader
{
public:
    // log may be null: nothing is logged.
    Reader(TextFileSystem& files, ErrorLog* log, QString label);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Opens the file as it was saved (byte-order mark, UTF-8, else the code page).
    Error open(const QString& path);
    // Hands every data line to line, in the file's order, and calls step once for each line
    // read, blank ones too. Lines are read a block at a time: step runs for the lines of a
    // block before line does.
    // Returns the failure that ended the reading before the file's end; none at its end. A
    // stream that cannot say whether it is at its end ends the reading too: going round
    // again would never end.
    Error read(const std::function<void(const ReadLine&)>& line,
               const std::function<void()>& step = {});

    // The file's name without its folder, as log lines and the list name it.
    const QString& fileName() const { return fileName_; }

private:
    // Cuts the line into its columns and finds its fault.
    static void judge(ReadLine& line);
    void logFault(const ReadLine& line);
    void logRest();

    static constexpr int kPerCause = 20;
    static constexpr std::size_t kLinesPerBlock = 4096;
    struct Cause
    {
        int count = 0;
        Error firstUnlogged;
    };
    TextFileSystem& files_;
    ErrorLog* log_;
    QString label_;
    QString fileName_;
    std::unique_ptr<TextReader> reader_;
    QMap<int, Cause> causes_;
};

} // namespace CodeTable
