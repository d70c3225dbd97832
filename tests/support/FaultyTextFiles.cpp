#include "tests/support/FaultyTextFiles.h"

namespace {

class FaultyReader final : public TextReader
{
public:
    FaultyReader(std::unique_ptr<TextReader> inner, std::shared_ptr<FaultyTextFiles::State> state)
        : inner_(std::move(inner)), state_(std::move(state))
    {
    }

    Error atEnd(bool& end) override
    {
        if (Error e = state_->next("atEnd"); e.failed())
            return e;
        return inner_->atEnd(end);
    }

    Error readLine(QString& line) override
    {
        if (Error e = state_->next("readLine"); e.failed())
            return e;
        return inner_->readLine(line);
    }

private:
    std::unique_ptr<TextReader> inner_;
    std::shared_ptr<FaultyTextFiles::State> state_;
};

class FaultyWriter final : public TextWriter
{
public:
    FaultyWriter(std::unique_ptr<TextWriter> inner, std::shared_ptr<FaultyTextFiles::State> state)
        : inner_(std::move(inner)), state_(std::move(state))
    {
    }

    Error writeLine(const QString& line) override
    {
        if (Error e = state_->next("writeLine"); e.failed())
            return e;
        return inner_->writeLine(line);
    }

    Error close() override
    {
        if (Error e = state_->next("close"); e.failed()) {
            // A close that fails still lets the file go, as a real one does.
            inner_->close();
            return e;
        }
        return inner_->close();
    }

private:
    std::unique_ptr<TextWriter> inner_;
    std::shared_ptr<FaultyTextFiles::State> state_;
};

} // namespace

Error FaultyTextFiles::State::next(const char* name)
{
    names.append(QString::fromLatin1(name));
    if (++count == failAt)
        return error;
    return {};
}

bool FaultyTextFiles::fileExists(const QString& path)
{
    return !state_->next("fileExists").failed() && inner_.fileExists(path);
}

bool FaultyTextFiles::folderExists(const QString& path)
{
    return !state_->next("folderExists").failed() && inner_.folderExists(path);
}

Error FaultyTextFiles::createFolder(const QString& path)
{
    if (Error e = state_->next("createFolder"); e.failed())
        return e;
    return inner_.createFolder(path);
}

Error FaultyTextFiles::removeFile(const QString& path)
{
    if (Error e = state_->next("removeFile"); e.failed())
        return e;
    return inner_.removeFile(path);
}

Error FaultyTextFiles::openRead(const QString& path, std::unique_ptr<TextReader>& reader)
{
    if (Error e = state_->next("openRead"); e.failed())
        return e;
    std::unique_ptr<TextReader> inner;
    if (Error e = inner_.openRead(path, inner); e.failed())
        return e;
    reader = std::make_unique<FaultyReader>(std::move(inner), state_);
    return {};
}

Error FaultyTextFiles::openWrite(const QString& path, bool append,
                                 std::unique_ptr<TextWriter>& writer)
{
    if (Error e = state_->next("openWrite"); e.failed())
        return e;
    std::unique_ptr<TextWriter> inner;
    if (Error e = inner_.openWrite(path, append, inner); e.failed())
        return e;
    writer = std::make_unique<FaultyWriter>(std::move(inner), state_);
    return {};
}
