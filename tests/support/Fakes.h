#pragma once

#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Downloader.h"
#include "platform/MainView.h"
#include "platform/Platform.h"
#include "platform/Shell.h"
#include "platform/TextFiles.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <optional>

// Doubles for the platform services: they record what the program did and play answers
// that a test scripted beforehand.

class FakeClock final : public Clock
{
public:
    QDateTime current = QDateTime(QDate(2012, 12, 10), QTime(10, 0, 0));
    QDateTime now() const override { return current; }
    void setToday(const QDate& day) { current = QDateTime(day, QTime(10, 0, 0)); }
};

struct ShownMessage
{
    QString text;
    MsgIcon icon;
    QString title; // as shown: the default title when the box has none of its own
    MsgButtons buttons;
    QString details; // below the text, in a box that has them
};

class FakeDialogs final : public Dialogs
{
public:
    MsgAnswer message(const QString& text, MsgIcon icon, const QString& title,
                      MsgButtons buttons) override;
    void messageWithDetails(const QString& text, const QString& details, MsgIcon icon) override;
    std::optional<QString> openFile(const QString& presetName, const QString& folder) override;
    QString pickFolder() override;

    // Answers, taken in order. A Yes/No box without a scripted answer gets No; an open-file
    // dialog without one is cancelled; a picker without one gives up ("xxx").
    std::deque<MsgAnswer> messageAnswers;
    std::deque<std::optional<QString>> fileAnswers;
    std::deque<QString> folderAnswers;

    QList<ShownMessage> shown;
    struct OpenFileCall
    {
        QString presetName;
        QString folder;
    };
    QList<OpenFileCall> openFileCalls;
    int pickFolderCalls = 0;

    QStringList texts() const;
};

// Keeps the downloader's word: the content goes beside the target, and takes its place only
// when the check accepts it. The progress hears of it once.
class FakeDownloader final : public Downloader
{
public:
    bool download(const QString& url, const QString& localFile, const Check& check,
                  DownloadProgress& progress, DownloadFailure& failure) override;

    // When set, the server sends these bytes; otherwise it does not answer.
    std::optional<QByteArray> content;
    // Reports success but writes nothing, as a broken download function might.
    bool claimsSuccessWithoutFile = false;
    QStringList urls;
};

class FakeShell final : public Shell
{
public:
    void openFolder(const QString& folder) override { openedFolders.append(folder); }
    bool startDetached(const QString& program, const QStringList& arguments) override
    {
        started.append({program, arguments});
        return startResult;
    }

    QStringList openedFolders;
    struct Start
    {
        QString program;
        QStringList arguments;
    };
    QList<Start> started;
    bool startResult = true;
};

class FakeView final : public MainView
{
public:
    QString catalogue() const override { return catalogueText; }
    bool distributorOption(int index) const override { return options[index]; }
    void setCaption(ViewLabel label, const QString& text) override;
    void setLabelVisible(ViewLabel label, bool visible) override { visible_[label] = visible; }
    void setProgressMaximum(int maximum) override { progressMaximum = maximum; }
    void setProgressValue(int value) override { progressValue = value; }
    void setCommand1Enabled(bool enabled) override { command1Enabled = enabled; }
    void setCloseEnabled(bool enabled) override { closeEnabled = enabled; }
    void setWindowEnabled(bool enabled) override { windowEnabled = enabled; }
    void unloadWindow() override { ++unloads; }
    void pumpEvents() override { ++pumps; }
    void showWait(const QString& text) override;
    bool closeRequested() const override { return closePressed; }

    QString caption(ViewLabel label) const { return captions_.value(label); }
    bool labelVisible(ViewLabel label) const { return visible_.value(label, true); }
    // Every caption a label took, in order.
    QStringList history(ViewLabel label) const { return history_.value(label); }

    QString catalogueText = QStringLiteral("MIRKEL2012");
    bool options[2] = {true, false};
    int progressMaximum = 100;
    int progressValue = 0;
    bool command1Enabled = true;
    bool closeEnabled = true;
    bool windowEnabled = true;
    int unloads = 0;
    int pumps = 0;
    // Every wait text shown, and what the operator does when a wait begins.
    QStringList waits;
    std::function<void()> onWait;
    bool closePressed = false;

private:
    QMap<ViewLabel, QString> captions_;
    QMap<ViewLabel, bool> visible_;
    QMap<ViewLabel, QStringList> history_;
};

// A temporary program folder with real files and fake everything else.
class TestPlatform
{
public:
    TestPlatform();

    QString folder() const { return dir.path(); }
    QString path(const QString& name) const { return platform.inProgramFolder(name); }
    // Writes bytes to a file under the program folder, creating folders on the way.
    void writeFile(const QString& name, const QByteArray& bytes) const;
    QByteArray readFile(const QString& name) const;
    // Today's log lines, without their date and time.
    QStringList logMessages() const;

    QTemporaryDir dir;
    FakeClock clock;
    FakeDialogs dialogs;
    QtTextFileSystem files;
    FakeDownloader downloader;
    FakeShell shell;
    Platform platform;
};
