#pragma once

#include "platform/Error.h"

#include <QString>
#include <functional>
#include <optional>
#include <unordered_map>

class ErrorLog;
class TextFileSystem;

namespace report {

// A product's CodiceTestata as the host compares it with a number.
struct ProductCode
{
    enum class Kind {
        Null,      // never equal to anything, and no error
        Number,    // compares by value
        NotNumber, // the comparison itself fails (type mismatch)
    };
    Kind kind = Kind::Null;
    double value = 0;

    // Read as the run reads it (CodeTable::sqlNumber): "0678", "+5", "1.5" and "1e3" are
    // numbers; anything else, the empty text included, is not.
    static ProductCode fromField(const QString& text, bool null);
};

// The outcome of searching the code table for one product, as a search from the table's
// first line would end.
struct CodeSearch
{
    enum class Outcome { Present, Missing, Failed };
    Outcome outcome = Outcome::Missing;
    // Data lines compared without a match before the outcome; blank lines do not count.
    int compared = 0;
    Error error; // why the search failed
};

// The code table read once, with the position of the first data line for every old code.
// Searching it gives, in constant time, what a line-by-line search from the top gives,
// failures included: the table reads as far as its first data line with fewer than three
// TABs (or the first failing read), and a search that gets there fails.
class CodeTableIndex
{
public:
    // Reads the whole file as the run reads it, logging the same refused lines when log is
    // given. Never fails itself: an unopenable or unreadable file becomes a failure point
    // that searches reach. progress is called once per line read.
    static CodeTableIndex load(TextFileSystem& files, const QString& path, ErrorLog* log = nullptr,
                               const std::function<void()>& progress = {});

    CodeSearch search(const ProductCode& code) const;


private:
    CodeSearch notFound() const;

    // Key: the third column normalised to nine characters and read back as a number, for
    // the lines the run stages (CodeTable::Line::staged); the others match nothing.
    // Value: how many data lines come before its first line.
    std::unordered_map<double, int> first_;
    int dataLines_ = 0; // data lines before the failure point, or in the whole file
    std::optional<Error> failure_;
};

} // namespace report
