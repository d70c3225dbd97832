#pragma once

#include "db/Database.h"
#include "db/HostConfig.h"
#include "platform/Error.h"

#include <QString>
#include <functional>
#include <memory>

class ErrorLog;
class MainView;
class RestoreFile;
struct Platform;

// The changeover run that "Converti codice Testata" starts: admission, code-table
// acquisition, staging load, title-code rewrite and distributor reassignment.
//
// One error trap covers the whole run (caught()): "object not set" and "file not found" send
// the run to the operator's file choice, a command the database rejects is passed over,
// anything else is logged under "CMDiNVERTI" and the run goes on. Once the trap has sent the
// run to the file choice it is spent: a further error ends the run with a message. A failure
// of the database engine or of the connection, rather than of one row, ends the run at once.
//
// The stages read what they need once, decide in memory and write in batches (BatchWriter).
// Every transaction that changes a row is preceded by the statements that undo it, in the
// run's restore file (RestoreFile); a run that cannot write them stops before that change.
class ConversionRun
{
public:
    enum class Stage { Acquire, FileChoice, Staging, Rewrite, Reassign, Done };

    // TabellaCodiciFile is the window's: the run sets it and it keeps its last value.
    ConversionRun(const Platform& platform, ErrorLog& log, const HostConfig& hostConfig,
                  MainView& view, QString& TabellaCodiciFile);
    ~ConversionRun();

    // Runs to one of the exits; returns when the run has ended.
    void execute();

    // Called as each stage begins (and with Done when the run ends): lets the benchmark time
    // the stages and tests interrupt a run at a given point.
    void setStageHook(std::function<void(Stage)> hook) { stageHook_ = std::move(hook); }

    // What is wrong with the host configuration file, named when the connection then fails.
    void setHostConfigTrouble(QString trouble) { hostConfigTrouble_ = std::move(trouble); }

    // The address the code table is downloaded from.
    static QString downloadUrl();

private:
    // Thrown by the trap when the run leaves the failing step for another stage.
    struct Diverted
    {
        Stage to;
    };

    bool admitted();
    Stage start();
    Stage runStage(Stage stage);
    Stage acquire();
    Stage chooseFile();
    Stage loadStaging();
    Stage rewrite();
    Stage reassign();

    bool DownloadFile(const QString& URL, const QString& LocalFilename);
    db::ConnectionTarget connectionTarget() const;

    // Hands a step's failure to the trap. Returns whether the step failed, when the run goes
    // on with the next step; otherwise throws Diverted.
    bool caught(const Error& e);
    // The same for a step of the database, whose failures other than a row's own end the run,
    // as does any step once the restore file has failed.
    bool caughtFromDatabase(const Error& e);
    // Ends the run with one critical message and the window usable again; a wait the
    // operator gave up (ErrorNumber::Interrupted) ends it without one, closing the window.
    [[noreturn]] void endWith(const Error& e, bool logIt);
    // Command1 and the window enabled, the stage caption as at start.
    void giveWindowBack();
    // Ends the run when the operator gave up a wait inside a step that reports no error.
    void stopIfClosed();

    // Exits that close the window: the messages, then Command1 enabled, the window disabled,
    // an optional last message, and the window unloaded.
    void closeWith(const QString& message, const QString& afterDisable = QString());

    const Platform& platform_;
    ErrorLog& log_;
    const HostConfig& hostConfig_;
    MainView& view_;
    QString& TabellaCodiciFile_;
    std::function<void(Stage)> stageHook_;

    db::Connection connection_;
    std::unique_ptr<RestoreFile> restore_;
    bool trapSpent_ = false;
    QString hostConfigTrouble_;
};
