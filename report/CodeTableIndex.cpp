#include "report/CodeTableIndex.h"

#include "conversion/CodeTable.h"
#include "platform/TextFiles.h"

#include <cmath>
#include <memory>

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

CodeTableIndex CodeTableIndex::load(TextFileSystem& files, const QString& path,
                                    const std::function<void()>& progress)
{
    CodeTableIndex index;
    std::unique_ptr<TextReader> reader;
    if (Error e = files.openRead(path, reader, Decoding::AsSaved); e.failed()) {
        index.failure_ = e;
        return index;
    }
    QString line;
    for (;;) {
        if (progress)
            progress();
        bool end = false;
        if (Error e = reader->atEnd(end); e.failed()) {
            index.failure_ = e;
            break;
        }
        if (end)
            break;
        if (Error e = reader->readLine(line); e.failed()) {
            index.failure_ = e;
            break;
        }
        if (CodeTable::isBlankLine(line))
            continue;
        const CodeTable::Line parsed = CodeTable::parseLine(line);
        if (parsed.shape == CodeTable::Line::Shape::TooShort) {
            // Nothing after this line can be reached by a search.
            index.failure_ = CodeTable::missingTabError();
            break;
        }
        // A line the run does not stage (a code that is no whole number from 0 to
        // 999,999,999,999,999) matches no product: the search passes over it.
        if (parsed.staged()) {
            const double key = CodeTable::readNumber(CodeTable::normalisedCode(parsed.oldCode));
            // Only the first line of a code can match: the search stops there.
            index.first_.try_emplace(key, index.dataLines_);
        }
        ++index.dataLines_;
    }
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
