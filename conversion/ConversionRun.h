#pragma once

#include "app/core/Mod.h"
#include "db/Database.h"
#include "errors/Error.h"

#include <QString>
#include <functional>

class ErrorLog;
class MainView;
struct Platform;

// The changeover run that "Converti codice Testata" starts: admission, code-table
// acquisition, staging load, title-code rewrite and distributor reassignment.
//
// One error trap covers the whole run (trap()): "object not set" and "file not found" send
// the run to the operator's file choice, a command the database rejects is passed over,
// anything else is logged under "CMDiNVERTI" and the run goes on. Once the trap has sent the
// run to the file choice it is spent: a further error ends the run with a message.
class ConversionRun
{
public:
    enum class Stage { Acquire, FileChoice, Staging, Rewrite, Reassign, Done };

    // TabellaCodiciFile is the window's: the run sets it and it keeps its last value.
    ConversionRun(const Platform& platform, ErrorLog& log, const HostConfig& hostConfig,
                  MainView& view, QString& TabellaCodiciFile);

    // Runs to one of the exits; returns when the run has ended.
    void execute();

    // Called as each stage begins (and with Done when the run ends): lets the benchmark time
    // the stages and tests interrupt a run at a given point.
    void setStageHook(std::function<void(Stage)> hook) { stageHook_ = std::move(hook); }

    // The address the code table is downloaded from.
    static QString downloadUrl();

private:
    bool admitted();
    bool start();
    Stage acquire();
    Stage chooseFile();
    Stage loadStaging();
    Stage rewrite();
    Stage reassign();

    bool DownloadFile(const QString& URL, const QString& LocalFilename);
    db::ConnectionTarget connectionTarget() const;

    // Hands a failure to the trap. Returns true when e is a failure; afterwards diverted()
    // says whether the trap took the run elsewhere, in which case the stage returns at once.
    bool trap(const Error& e);
    bool diverted() const { return divertToFileChoice_ || fatal_.failed(); }

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
    bool trapSpent_ = false;
    bool divertToFileChoice_ = false;
    Error fatal_;
};
