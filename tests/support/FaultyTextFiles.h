#pragma once

#include "platform/TextFiles.h"

#include <QStringList>
#include <memory>

// A TextFileSystem that passes every operation to another one and counts them, readers' and
// writers' operations included, and fails the N-th (counting from 1) with a given error.
// Tests use it to prove each error path of a procedure that works on files: count the
// operations of a clean pass, then fail each one in turn.
//
// A failed operation never reaches the inner file system, unless writePartway() says so. The yes/no
// tests (fileExists, folderExists) cannot carry an error: a failure answers false, as a test that
// cannot look answers.
class FaultyTextFiles final : public TextFileSystem
{
public:
    explicit FaultyTextFiles(TextFileSystem& inner)
        : inner_(inner), state_(std::make_shared<State>())
    {
    }

    // Fails operation n (1-based) with error; 0 fails nothing.
    void failAt(int n, Error error)
    {
        state_->failAt = n;
        state_->error = std::move(error);
    }
    // Fails every operation of that name ("sync", ...) with error; with nth, only the nth.
    void failOn(const QString& name, Error error, int nth = 0)
    {
        state_->failName = name;
        state_->failNth = nth;
        state_->error = std::move(error);
    }
    // A failing writeLine or rewriteLine first hands half its line on, as a disk that fills up
    // mid-write.
    void writePartway(bool partway) { state_->partway = partway; }
    // Operations seen so far.
    int count() const { return state_->count; }
    // Whether the planned failure has happened.
    bool failed() const { return state_->failAt > 0 && state_->count >= state_->failAt; }
    // The name of every operation seen, in order ("openRead", "readLine", ...).
    const QStringList& operations() const { return state_->names; }
    // The file or folder each operation worked on.
    const QStringList& paths() const { return state_->paths; }

    bool fileExists(const QString& path) override;
    bool folderExists(const QString& path) override;
    Error createFolder(const QString& path) override;
    Error removeFile(const QString& path) override;
    Error openRead(const QString& path, std::unique_ptr<TextReader>& reader,
                   Decoding decoding = Decoding::CodePage) override;
    Error openWrite(const QString& path, bool append, std::unique_ptr<TextWriter>& writer) override;
    Error createNew(const QString& path, std::unique_ptr<TextWriter>& writer,
                    Encoding encoding = Encoding::CodePage) override;

    // Shared with the readers and writers handed out, which may outlive a test's plan.
    struct State
    {
        int count = 0;
        int failAt = 0;
        QString failName;
        int failNth = 0;
        int nameSeen = 0;
        Error error;
        bool partway = false;
        QStringList names;
        QStringList paths;

        // Counts one operation; the planned error when it is the one to fail.
        Error next(const char* name, const QString& path);
    };

private:
    TextFileSystem& inner_;
    std::shared_ptr<State> state_;
};
