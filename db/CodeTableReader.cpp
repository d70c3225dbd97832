#include "db/CodeTableReader.h"

#include "errors/ErrorLog.h"
#include "platform/Parallel.h"
#include "platform/TextFiles.h"

#include <QFileInfo>
#include <vector>

namespace CodeTable {

Reader::Reader(TextFileSystem& files, ErrorLog* log, QString label)
    : files_(files), log_(log), label_(std::move(label))
{
}

Reader::~Reader() = default;

Error Reader::open(const QString& path)
{
    fileName_ = QFileInfo(path).fileName();
    causes_.clear();
    return files_.openRead(path, reader_, Decoding::AsSaved);
}

Error Reader::read(const std::function<void(const ReadLine&)>& line,
                   const std::function<void()>& step)
{
    Error failure;
    int number = 0;
    bool end = !reader_;
    std::vector<ReadLine> block;
    while (!end) {
        // A block of lines is read, cut into columns and judged on two threads, then handed on
        // in the file's order.
        block.clear();
        while (block.size() < kLinesPerBlock) {
            if (step)
                step();
            if (failure = reader_->atEnd(end); failure.failed())
                end = true;
            if (end)
                break;
            ReadLine read;
            if (failure = reader_->readLine(read.text); failure.failed()) {
                end = true;
                break;
            }
            read.number = ++number;
            if (!isBlankLine(read.text))
                block.push_back(std::move(read));
        }
        forEachIndex(block.size(), [&block](std::size_t i) { judge(block[i]); });
        for (const ReadLine& read : block) {
            if (read.fault.failed())
                logFault(read);
            line(read);
        }
    }
    logRest();
    reader_.reset();
    return failure;
}

void Reader::judge(ReadLine& read)
{
    read.columns = parseLine(read.text);
    using Shape = Line::Shape;
    if (read.columns.shape == Shape::BadCode)
        read.fault = badCodeError(read.columns);
    else if (read.columns.shape == Shape::Nul)
        read.fault = nulError(read.columns);
    else if (read.columns.shape != Shape::Complete)
        read.fault = missingTabError();
}

void Reader::logFault(const ReadLine& line)
{
    Cause& c = causes_[int(line.columns.shape)];
    if (++c.count <= kPerCause) {
        if (log_)
            log_->LogError(line.fault, label_,
                           QStringLiteral("riga %1 di %2").arg(line.number).arg(fileName_));
    } else if (c.count == kPerCause + 1) {
        c.firstUnlogged = line.fault;
    }
}

void Reader::logRest()
{
    for (const Cause& c : std::as_const(causes_)) {
        if (c.count > kPerCause && log_)
            log_->LogError(c.firstUnlogged, label_,
                           QStringLiteral("e altre %1 righe di %2 con lo stesso errore")
                               .arg(c.count - kPerCause)
                               .arg(fileName_));
    }
}

} // namespace CodeTable
