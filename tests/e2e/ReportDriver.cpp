// Runs the missing-code report on a program folder as the window would, without a screen:
//   ReportDriver PROGRAM_FOLDER CATALOGUE CODE_TABLE [ANSWER...]
// The host configuration is read from PROGRAM_FOLDER/Mirkel.XML; ANSWER (yes or no) answers
// the Yes/No questions in turn, and No is the answer once they run out. Every message is
// printed as "title|text" the moment it is shown, so that a killed report still tells what
// it asked.
#include "app/core/Mod.h"
#include "db/HostConfigFile.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Platform.h"
#include "platform/Shell.h"
#include "platform/TextFiles.h"
#include "report/MissingCodeReport.h"
#include "tests/support/Fakes.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <deque>

namespace {

class ScriptedDialogs final : public Dialogs
{
public:
    explicit ScriptedDialogs(std::deque<MsgAnswer> answers) : answers_(std::move(answers)) {}

    MsgAnswer message(const QString& text, MsgIcon, const QString& title,
                      MsgButtons buttons) override
    {
        std::printf("%s|%s\n", qPrintable(title.isEmpty() ? defaultTitle() : title),
                    qPrintable(text));
        std::fflush(stdout);
        if (buttons == MsgButtons::Ok)
            return MsgAnswer::Ok;
        if (answers_.empty())
            return MsgAnswer::No;
        const MsgAnswer answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    std::optional<QString> openFile(const QString&, const QString&) override
    {
        return std::nullopt;
    }
    QString pickFolder() override { return QStringLiteral("xxx"); }

private:
    std::deque<MsgAnswer> answers_;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: ReportDriver PROGRAM_FOLDER CATALOGUE CODE_TABLE [yes|no...]\n");
        return 2;
    }
    const QString folder = QDir::toNativeSeparators(QDir(args[1]).absolutePath());
    std::deque<MsgAnswer> answers;
    for (qsizetype i = 4; i < args.size(); ++i)
        answers.push_back(args[i] == QLatin1String("yes") ? MsgAnswer::Yes : MsgAnswer::No);

    SystemClock clock;
    ScriptedDialogs dialogs(std::move(answers));
    QtTextFileSystem files;
    FakeDownloader downloader;
    QtShell shell;
    const Platform platform{folder, clock, dialogs, files, downloader, shell};

    Mod mod;
    if (!ReadHostConfig(platform.inProgramFolder(QStringLiteral("Mirkel.XML")), mod.hostConfig)) {
        std::fprintf(stderr, "ReportDriver: no usable Mirkel.XML in %s\n", qPrintable(folder));
        return 2;
    }
    FakeView view;
    view.catalogueText = args[2];
    const Error e = report::ControllaCodiciNonPresentiNelFile(platform, mod.hostConfig, view, args[3]);
    if (e.failed()) {
        std::printf("error|%d %s\n", e.number, qPrintable(e.description));
        return 1;
    }
    return 0;
}
