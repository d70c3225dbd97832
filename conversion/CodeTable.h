#pragma once

#include "platform/Error.h"
#include "platform/HostText.h"

#include <QString>

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

// The number's decimal text: digits (and a sign) for whole numbers, scientific otherwise.
QString decimalText(double number);

// Decimal text padded with 0 to nine characters, or its last nine when longer:
// 678 -> "000000678".
QString normalisedCode(double number);

struct Line
{
    enum class Shape {
        Complete,     // four TABs or more
        NoColumnFour, // exactly three TABs: columns 1 to 3 are there, column 4's cut fails
        TooShort,     // fewer than three TABs: the old code is missing
    };
    Shape shape = Shape::TooShort;
    double newCode = 0;
    QString title; // column 2, blanks trimmed
    double oldCode = 0;
};

// Cuts a data line into its columns.
Line parseLine(const QString& line);

// What the host reports when a column's ending TAB is missing.
Error missingTabError();

// The title as it is staged: upper case letter by letter, so that it keeps its length,
// blanks trimmed.
QString stagedTitle(const QString& title);

} // namespace CodeTable
