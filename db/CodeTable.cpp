#include "db/CodeTable.h"

#include <cmath>

namespace CodeTable {

namespace {

// What SQL Server skips around a number: spaces, tabs, carriage returns and line feeds.
bool isSqlBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

QStringView trimSqlBlanks(QStringView text)
{
    while (!text.isEmpty() && isSqlBlank(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && isSqlBlank(text.back()))
        text.chop(1);
    return text;
}

// The value of an optional sign and at most 15 digits, exactly: every code is such a number,
// and converting it by hand spares the general text-to-number conversion.
char16_t unicodeOf(QChar c)
{
    return c.unicode();
}
char16_t unicodeOf(char c)
{
    return char16_t(uchar(c));
}

template <typename Text> std::optional<double> plainInteger(const Text& t)
{
    const auto at = [&t](qsizetype i) {
        return unicodeOf(t[i]);
    };
    qsizetype i = 0;
    const bool negative = !t.isEmpty() && at(0) == u'-';
    if (!t.isEmpty() && (at(0) == u'-' || at(0) == u'+'))
        ++i;
    if (i == t.size() || t.size() - i > 15)
        return std::nullopt;
    qint64 value = 0;
    for (; i < t.size(); ++i) {
        if (at(i) < u'0' || at(i) > u'9')
            return std::nullopt;
        value = value * 10 + (at(i) - u'0');
    }
    return value == 0 ? 0.0 : double(negative ? -value : value);
}

} // namespace

bool isBlankLine(const QString& line)
{
    return trimBlanks(line).isEmpty();
}

namespace {

// What readNumber reads: the value, whether it met a digit, and whether it stopped at a
// character that cannot continue a number rather than at the column's end.
struct Reading
{
    double value = 0;
    bool digits = false;
    bool stoppedEarly = false;
};

Reading read(const QString& text)
{
    // Keep only what can form a number, skipping the characters the host ignores.
    Reading result;
    QByteArray number;
    number.reserve(text.size());
    bool digits = false, point = false, exponent = false, exponentDigits = false;
    for (QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        const bool signAllowed = number.isEmpty() || (exponent && number.endsWith('E'));
        if (c >= u'0' && c <= u'9') {
            number.append(static_cast<char>(c));
            (exponent ? exponentDigits : digits) = true;
        } else if ((c == u'+' || c == u'-') && signAllowed) {
            number.append(static_cast<char>(c));
        } else if (c == u'.' && !point && !exponent) {
            number.append('.');
            point = true;
        } else if ((c == u'e' || c == u'E' || c == u'd' || c == u'D') && digits && !exponent) {
            number.append('E');
            exponent = true;
        } else {
            result.stoppedEarly = true;
            break;
        }
    }
    result.digits = digits;
    if (!digits)
        return result;
    if (exponent && !exponentDigits) {
        while (!number.isEmpty() &&
               (number.endsWith('E') || number.endsWith('+') || number.endsWith('-')))
            number.chop(1);
    }
    if (const std::optional<double> plain = plainInteger(number)) {
        result.value = *plain;
        return result;
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    result.value = ok && std::isfinite(value) ? value : 0;
    return result;
}

} // namespace

double readNumber(const QString& text)
{
    return read(text).value;
}

std::optional<double> readCode(const QString& text)
{
    const Reading r = read(text);
    if (!r.digits || r.stoppedEarly || !isWholeCode(r.value))
        return std::nullopt;
    return r.value;
}

bool isWholeCode(double number)
{
    return number >= 0 && number <= kLargestCode && number == std::trunc(number);
}

std::optional<double> sqlNumber(const QString& text)
{
    // [+-]?(digits[.digits?] | .digits)([eE][+-]?digits)?, read by hand: the run reads every
    // product's code and every staging row's, and a pattern match costs more than the rest.
    const QStringView t = trimSqlBlanks(text);
    qsizetype i = 0;
    const auto digits = [&] {
        const qsizetype from = i;
        while (i < t.size() && t[i] >= u'0' && t[i] <= u'9')
            ++i;
        return i - from;
    };
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        ++i;
    qsizetype mantissa = digits();
    if (i < t.size() && t[i] == u'.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return std::nullopt;
    if (i < t.size() && (t[i] == u'e' || t[i] == u'E')) {
        ++i;
        if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
            ++i;
        if (digits() == 0)
            return std::nullopt;
    }
    if (i != t.size())
        return std::nullopt;
    if (const std::optional<double> plain = plainInteger(t))
        return *plain;
    bool ok = false;
    const double value = t.toDouble(&ok);
    // Out of range overflows in the host, which matches nothing.
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value == 0 ? 0.0 : value; // -0 and 0 are one key
}

QString decimalText(double number)
{
    if (number == std::trunc(number) && std::fabs(number) < 1e15)
        return QString::number(static_cast<qint64>(number));
    return QString::number(number, 'G', 15);
}

QString normalisedCode(double number)
{
    const QString text = decimalText(number);
    if (text.size() >= 9)
        return text.right(9);
    return QString(9 - text.size(), QLatin1Char('0')) + text;
}

Line parseLine(const QString& line)
{
    Line result;
    QStringView rest(line);
    QStringView columns[3];
    for (int i = 0; i < 3; ++i) {
        const qsizetype tab = rest.indexOf(kTab);
        if (tab < 0)
            return result;
        columns[i] = rest.left(tab);
        rest = rest.mid(tab + 1);
    }
    result.title = trimBlanks(columns[1].toString());
    const std::optional<double> newCode = readCode(columns[0].toString());
    const std::optional<double> oldCode = readCode(columns[2].toString());
    result.newCode = newCode.value_or(0);
    result.oldCode = oldCode.value_or(0);
    result.oldCodeRead = oldCode.has_value();
    // A NUL in any column refuses the line, whatever else it holds.
    if (const qsizetype nul = line.indexOf(QChar(0)); nul >= 0) {
        result.shape = Line::Shape::Nul;
        result.badColumn = int(QStringView(line).left(nul).count(kTab)) + 1;
    } else if (!newCode || !oldCode) {
        result.shape = Line::Shape::BadCode;
        result.badColumn = newCode ? 3 : 1;
        result.badText = (newCode ? columns[2] : columns[0]).toString();
    } else {
        result.shape = rest.contains(kTab) ? Line::Shape::Complete : Line::Shape::NoColumnFour;
    }
    return result;
}

Error missingTabError()
{
    return {ErrorNumber::InvalidArgument,
            QStringLiteral("Chiamata di routine o argomento non validi")};
}

Error badCodeError(const Line& line)
{
    return {ErrorNumber::TypeMismatch,
            QStringLiteral("Tipo non corrispondente: il codice %1 \"%2\" non e' un numero")
                .arg(line.badColumn == 1 ? QStringLiteral("nuovo") : QStringLiteral("vecchio"),
                     line.badText)};
}

Error nulError(const Line& line)
{
    return {ErrorNumber::InvalidArgument,
            QStringLiteral("Chiamata di routine o argomento non validi: la colonna %1 contiene "
                           "un carattere NUL")
                .arg(line.badColumn)};
}

QString stagedTitle(const QString& title)
{
    // Letter by letter, each keeping its place: QString::toUpper's full mapping turns "ß"
    // into "SS", and a title grown past its column is refused by the engine.
    QString upper = title;
    for (qsizetype i = 0; i < upper.size(); ++i) {
        const QChar c = upper.at(i);
        if (c.isHighSurrogate() && i + 1 < upper.size() && upper.at(i + 1).isLowSurrogate()) {
            const char32_t u = QChar::toUpper(QChar::surrogateToUcs4(c, upper.at(i + 1)));
            if (QChar::requiresSurrogates(u)) {
                upper[i] = QChar(QChar::highSurrogate(u));
                upper[i + 1] = QChar(QChar::lowSurrogate(u));
            }
            ++i;
        } else {
            const char32_t u = QChar::toUpper(char32_t(c.unicode()));
            if (!QChar::requiresSurrogates(u))
                upper[i] = QChar(char16_t(u));
        }
    }
    return trimBlanks(upper);
}

} // namespace CodeTable
