#pragma once

#include "platform/Error.h"
#include "platform/HostText.h"

#include <QString>
#include <optional>

// The code table: a text file whose data lines hold TAB-separated columns
//   1 new title code, 2 title, 3 old title code, 4 a number not used, 5.. not read.
// Pure functions, shared by the staging load and the missing-code report.
namespace CodeTable {

inline constexpr char16_t kTab = u'\t';

// A line that is empty once blanks are trimmed carries no data and is not counted.
bool isBlankLine(const QString& line);

// Reads a column as a number the way the host's tools do: blanks, tabs and line feeds are
// ignored anywhere, then an optional sign, digits, a decimal point and an exponent are read
// up to the first character that cannot continue the number; no leading digits reads as 0.
double readNumber(const QString& text);

// A code column read as readNumber reads it, when it holds a whole number from 0 to
// kLargestCode and nothing else; a column without digits, or with text after its number,
// is no code. Read as 0, such a column would give a product the code 000000000.
std::optional<double> readCode(const QString& text);

// The number's decimal text: digits (and a sign) for whole numbers, scientific otherwise.
QString decimalText(double number);

// Decimal text padded with 0 to nine characters, or its last nine when longer:
// 678 -> "000000678".
QString normalisedCode(double number);

// The largest code a column may hold: beyond fifteen digits a number loses its units.
inline constexpr double kLargestCode = 999999999999999.0;

// Whether a code column read as a number is one the staging table can hold: a whole number
// from 0 to kLargestCode. Anything else would stage as text that is no number.
bool isWholeCode(double number);

// A title code as the host's SQL reads a number written unquoted in a query: blanks, tabs,
// carriage returns and line feeds around it, leading zeros, a sign, a decimal part and an
// exponent are allowed; anything else, the empty text included, is no number. Both the run
// and the missing-code report match codes through this one reading.
std::optional<double> sqlNumber(const QString& text);

struct Line
{
    enum class Shape {
        Complete,     // four TABs or more
        NoColumnFour, // exactly three TABs: columns 1 to 3 are there, column 4's cut fails
        TooShort,     // fewer than three TABs: the old code is missing
        BadCode,      // a code column is no code (see readCode)
        // Columns 1 to 3 are there and a column holds a NUL, which no editor writes on
        // purpose: the engines would cut the title there.
        Nul,
    };
    Shape shape = Shape::TooShort;
    int badColumn = 0; // BadCode: 1 for the new code, 3 for the old one; Nul: the first with one
    QString badText;   // BadCode: that column as written
    double newCode = 0;
    QString title; // column 2, blanks trimmed
    double oldCode = 0;
    bool oldCodeRead = false; // column 3 is there and is a code

    // Whether the run stages the line: it has its old code, and both codes are ones the
    // staging table can hold. The missing-code report indexes only such lines.
    bool staged() const { return shape == Shape::Complete || shape == Shape::NoColumnFour; }
};

// Cuts a data line into its columns.
Line parseLine(const QString& line);

// What the host reports when a column's ending TAB is missing.
Error missingTabError();
// Why a BadCode line is refused, naming the column and quoting it.
Error badCodeError(const Line& line);
// Why a line with a NUL is refused, naming the column.
Error nulError(const Line& line);

// The title as it is staged: upper case letter by letter, so that it keeps its length,
// blanks trimmed.
QString stagedTitle(const QString& title);

} // namespace CodeTable
