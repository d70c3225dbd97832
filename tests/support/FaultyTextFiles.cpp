#include "tests/support/FaultyTextFiles.h"

namespace {

class FaultyReader final : public TextReader
{
public:
    FaultyReader(std::unique_ptr<TextReader> inner, std::shared_ptr<FaultyTextFiles::State> state,
                 QString path)
        : inner_(std::move(inner)), state_(std::move(state)), path_(std::move(path))
    {
    }

    Error atEnd(bool& end) override
    {
        if (Error e = state_->next("atEnd", path_); e.failed())
            return e;
        return inner_->atEnd(end);
    }

    Error readLine(QString& line) override
    {
        if (Error e = state_->next("readLine", path_); e.failed())
            return e;
        return inner_->readLine(line);
    }

private:
    std::unique_ptr<TextReader> inner_;
    std::shared_ptr<FaultyTextFiles::State> state_;
    QString path_;
};

class FaultyWriter final : public TextWriter
{
public:
    FaultyWriter(std::unique_ptr<TextWriter> inner, std::shared_ptr<FaultyTextFiles::State> state,
                 QString path)
        : inner_(std::move(inner)), state_(std::move(state)), path_(std::move(path))
    {
    }

    Error writeLine(const QString& line) override
    {
        if (Error e = state_->next("writeLine", path_); e.failed()) {
            if (state_->partway)
                inner_->writeLine(line.left(line.size() / 2));
            return e;
        }
        return inner_->writeLine(line);
    }

    Error close() override
    {
        if (Error e = state_->next("close", path_); e.failed()) {
            // A close that fails still lets the file go, as a real one does.
            inner_->close();
            return e;
        }
        return inner_->close();
    }

    qint64 size() const override { return inner_->size(); }

    Error rewriteLine(qint64 offset, const QString& line) override
    {
        if (Error e = state_->next("rewriteLine", path_); e.failed()) {
            if (state_->partway)
                inner_->rewriteLine(offset, line.left(line.size() / 2));
            return e;
        }
        return inner_->rewriteLine(offset, line);
    }

    Error sync() override
    {
        if (Error e = state_->next("sync", path_); e.failed())
            return e;
        return inner_->sync();
    }

    Error truncate(qint64 size) override
    {
        if (Error e = state_->next("truncate", path_); e.failed())
            return e;
        return inner_->truncate(size);
    }

private:
    std::unique_ptr<TextWriter> inner_;
    std::shared_ptr<FaultyTextFiles::State> state_;
    QString path_;
};

// Counts the opening, opens the inner writer through open and hands out its faulty wrapper.
template <typename Open>
Error faultyWriter(const std::shared_ptr<FaultyTextFiles::State>& state, const char* name,
                   const QString& path, std::unique_ptr<TextWriter>& writer, Open open)
{
    if (Error e = state->next(name, path); e.failed())
        return e;
    std::unique_ptr<TextWriter> inner;
    if (Error e = open(inner); e.failed())
        return e;
    writer = std::make_unique<FaultyWriter>(std::move(inner), state, path);
    return {};
}

} // namespace

Error FaultyTextFiles::State::next(const char* name, const QString& path)
{
    names.append(QString::fromLatin1(name));
    paths.append(path);
    if (++count == failAt)
        return error;
    if (names.last() == failName && (++nameSeen == failNth || failNth == 0))
        return error;
    return {};
}

bool FaultyTextFiles::fileExists(const QString& path)
{
    return !state_->next("fileExists", path).failed() && inner_.fileExists(path);
}

bool FaultyTextFiles::folderExists(const QString& path)
{
    return !state_->next("folderExists", path).failed() && inner_.folderExists(path);
}

Error FaultyTextFiles::createFolder(const QString& path)
{
    if (Error e = state_->next("createFolder", path); e.failed())
        return e;
    return inner_.createFolder(path);
}

Error FaultyTextFiles::removeFile(const QString& path)
{
    if (Error e = state_->next("removeFile", path); e.failed())
        return e;
    return inner_.removeFile(path);
}

Error FaultyTextFiles::openRead(const QString& path, std::unique_ptr<TextReader>& reader,
                                Decoding decoding)
{
    if (Error e = state_->next("openRead", path); e.failed())
        return e;
    std::unique_ptr<TextReader> inner;
    if (Error e = inner_.openRead(path, inner, decoding); e.failed())
        return e;
    reader = std::make_unique<FaultyReader>(std::move(inner), state_, path);
    return {};
}

Error FaultyTextFiles::openWrite(const QString& path, bool append,
                                 std::unique_ptr<TextWriter>& writer)
{
    return faultyWriter(state_, "openWrite", path, writer, [&](std::unique_ptr<TextWriter>& inner) {
        return inner_.openWrite(path, append, inner);
    });
}

Error FaultyTextFiles::createNew(const QString& path, std::unique_ptr<TextWriter>& writer,
                                 Encoding encoding)
{
    return faultyWriter(state_, "createNew", path, writer, [&](std::unique_ptr<TextWriter>& inner) {
        return inner_.createNew(path, inner, encoding);
    });
}
