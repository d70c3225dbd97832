#include "report/CodeTableIndex.h"

#include "db/CodeTableReader.h"
#include "platform/TextFiles.h"

namespace report {

namespace {

const Error kTypeMismatch{ErrorNumber::TypeMismatch, QStringLiteral("Tipo non corrispondente")};

} // namespace

ProductCode ProductCode::fromField(const QString& text, bool null)
{
    if (null)
        return {};
    if (const std::optional<double> value = CodeTable::sqlNumber(text))
        return {Kind::Number, *value};
    return {Kind::NotNumber, 0};
}

CodeTableIndex CodeTableIndex::load(TextFileSystem& files, const QString& path, ErrorLog* log,
                                    const std::function<void()>& progress)
{
    CodeTableIndex index;
    CodeTable::Reader reader(files, log, QStringLiteral("ControllaCodiciNonPresentiNelFile"));
    if (Error e = reader.open(path); e.failed()) {
        index.failure_ = e;
        return index;
    }
    const Error e = reader.read(
        [&index](const CodeTable::ReadLine& line) {
            if (index.failure_)
                return;
            const CodeTable::Line& parsed = line.columns;
            if (parsed.shape == CodeTable::Line::Shape::TooShort) {
                // Nothing after this line can be reached by a search.
                index.failure_ = CodeTable::missingTabError();
                return;
            }
            // A line the run does not stage (a code that is no whole number from 0 to
            // 999,999,999,999,999) matches no product: the search passes over it.
            if (parsed.staged()) {
                const double key = CodeTable::readNumber(CodeTable::normalisedCode(parsed.oldCode));
                // Only the first line of a code can match: the search stops there.
                index.first_.try_emplace(key, index.dataLines_);
            }
            ++index.dataLines_;
        },
        progress);
    if (e.failed() && !index.failure_)
        index.failure_ = e;
    return index;
}

CodeSearch CodeTableIndex::search(const ProductCode& code) const
{
    switch (code.kind) {
    case ProductCode::Kind::Null:
        return notFound();
    case ProductCode::Kind::NotNumber:
        // The first comparison fails; without any data line no comparison happens.
        if (dataLines_ > 0)
            return {CodeSearch::Outcome::Failed, 0, kTypeMismatch};
        return notFound();
    case ProductCode::Kind::Number:
        if (const auto it = first_.find(code.value); it != first_.end())
            return {CodeSearch::Outcome::Present, it->second, {}};
        return notFound();
    }
    return notFound();
}

CodeSearch CodeTableIndex::notFound() const
{
    if (failure_)
        return {CodeSearch::Outcome::Failed, dataLines_, *failure_};
    return {CodeSearch::Outcome::Missing, dataLines_, {}};
}

} // namespace report
