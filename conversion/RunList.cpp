#include "conversion/RunList.h"

#include "conversion/RunFile.h"
#include "db/HostCatalog.h"
#include "platform/Platform.h"
#include "platform/TextFiles.h"

#include <QDir>
#include <QStringList>
#include <algorithm>

namespace {

// Excel opens a double-clicked list as though each field were typed in: "0678" and "678 " turn
// into the number 678, "1/2" into a date, and "=1+1" or "+39 ..." run as formulas. Written as
// the formula ="...", a field shows its text exactly, and none of that text is ever evaluated;
// LibreOffice Calc does the same where its import evaluates formulas, and shows the ="..." as
// text where not. Excel takes at most 255 characters in one text constant (counted here with
// quotes doubled): longer text is joined from several with &.
constexpr qsizetype kConstantLimit = 255;

QString field(const QString& value)
{
    if (value.isEmpty())
        return value;
    QString formula = QStringLiteral("=\"");
    qsizetype used = 0;
    for (qsizetype i = 0; i < value.size();) {
        // A doubled quote or a surrogate pair is never cut in two.
        const bool quote = value[i] == u'"';
        const qsizetype n = value[i].isHighSurrogate() && i + 1 < value.size() ? 2 : 1;
        const qsizetype width = quote ? 2 : n;
        if (used + width > kConstantLimit) {
            formula += QStringLiteral("\"&\"");
            used = 0;
        }
        formula += quote ? QStringView(u"\"\"") : QStringView(value).mid(i, n);
        used += width;
        i += n;
    }
    formula += u'"';
    // Both programs take the quotes inside a field that does not start with one as they stand;
    // the separator and line ends need the whole field between quotes.
    if (!value.contains(u';') && !value.contains(u'\n') && !value.contains(u'\r'))
        return formula;
    return u'"' + formula.replace(u'"', QStringLiteral("\"\"")) + u'"';
}

// Appends the field to a row: most fields are short and plain, one constant with nothing to
// double or quote.
void appendField(QString& row, const QString& value)
{
    row += u';';
    if (value.isEmpty())
        return;
    if (value.size() <= kConstantLimit && std::none_of(value.begin(), value.end(), [](QChar c) {
            return c == u'"' || c == u';' || c == u'\n' || c == u'\r';
        })) {
        row += QLatin1String("=\"");
        row += value;
        row += u'"';
        return;
    }
    row += field(value);
}

// IDProd stays a number, to sort as one: a whole number within Excel's 15 digits reads back as
// written. Anything else is text.
QString idField(const QString& id)
{
    const QStringView digits = QStringView(id).mid(id.startsWith(u'-') ? 1 : 0);
    const bool number =
        !digits.isEmpty() && digits.size() <= 15 && (digits.size() == 1 || digits[0] != u'0') &&
        std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    return number ? id : field(id);
}

} // namespace

RunList::RunList(const Platform& platform, QString catalogue, QDateTime started, QString prefix)
    : platform_(platform), catalogue_(std::move(catalogue)), started_(std::move(started)),
      prefix_(std::move(prefix))
{
}

RunList::~RunList()
{
    if (!writer_)
        return;
    if (!failure_.failed() && !pending_.isEmpty())
        writer_->writeLine(pending_);
    writer_->close();
}

QString RunList::path() const
{
    return QDir::toNativeSeparators(path_);
}

void RunList::add(const db::Product& product, const QString& newCode, const QString& outcome)
{
    if (failure_.failed())
        return;
    if (!writer_) {
        if (Error e = create(); e.failed()) {
            fail(e);
            return;
        }
    }
    // The rows wait in one text until the next flush writes them at once.
    if (!pending_.isEmpty())
        pending_ += QLatin1String("\r\n");
    pending_ += idField(product.id.toString());
    for (const QString* value : {&product.title, &product.code, &newCode, &outcome})
        appendField(pending_, *value);
    ++rows_;
}

void RunList::flush()
{
    if (!writer_ || failure_.failed())
        return;
    const Error written = pending_.isEmpty() ? Error() : writer_->writeLine(pending_);
    pending_.resize(0);
    if (Error e = written.failed() ? written : writer_->sync(); e.failed()) {
        fail(e);
        return;
    }
    syncedRows_ = rows_;
    syncedSize_ = writer_->size();
}

void RunList::fail(const Error& e)
{
    failure_ = e;
    if (!writer_)
        return;
    // The rows on the disk stay whole; a file this list created that holds none goes, as an
    // empty list would read as a catalogue without products of 069.
    if (syncedRows_ > 0 && !writer_->truncate(syncedSize_).failed()) {
        writer_->close();
        writer_.reset();
        return;
    }
    writer_.reset();
    if (syncedRows_ == 0)
        platform_.files.removeFile(path_);
}

Error RunList::create()
{
    Error e = createRunFile(platform_, prefix_, catalogue_, started_, QStringLiteral("csv"),
                            Encoding::Utf8WithBom, path_, writer_);
    if (e.failed())
        return e;
    return writer_->writeLine(QStringLiteral("IDProd;Testata;Codice vecchio;Codice nuovo;Esito"));
}
