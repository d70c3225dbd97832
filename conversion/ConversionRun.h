#pragma once

#include "conversion/RunPlan.h"
#include "conversion/RunReport.h"
#include "conversion/Trap.h"
#include "db/Database.h"
#include "db/HostConfig.h"
#include "platform/Error.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class ErrorLog;
class MainView;
class RestoreFile;
class RunList;
struct Platform;

// The changeover run that "Converti codice Testata" starts, and its preview ("Anteprima").
// Both admit the action, obtain the code table, read it and the catalogue, and decide a plan
// (RunPlan) before anything changes. The run then applies the plan stage by stage (staging,
// rewrite, move), writing ahead of every commit the statements that undo it in its restore
// file (RestoreFile), and ends with its list and last box. The preview writes nothing to any
// engine: it lists what the run would do, shows the numbers the run's last box would give,
// and gives the window back.
//
// One error trap (Trap) covers every stage and acts on each failure as db::consequenceOf()
// says.
class ConversionRun
{
public:
    using Stage = RunStage;

    // TabellaCodiciFile is the window's: the run sets it and it keeps its last value.
    ConversionRun(const Platform& platform, ErrorLog& log, const HostConfig& hostConfig,
                  MainView& view, QString& TabellaCodiciFile);
    ~ConversionRun();

    // The conversion: admitted only inside the changeover window. Returns when it has ended.
    void execute();
    // The preview: admitted any day; changes nothing. Returns when it has ended.
    void preview();

    // Called as each stage begins (and with Done when the action ends): lets the benchmark
    // time the stages and tests interrupt a run at a given point.
    void setStageHook(std::function<void(Stage)> hook) { stageHook_ = std::move(hook); }

    // What is wrong with the host configuration file, as start-up said it: the action then
    // connects to nothing and says it again.
    void setHostConfigTrouble(QString trouble) { hostConfigTrouble_ = std::move(trouble); }

private:
    enum class Mode { Convert, Preview };

    void perform(Mode mode);
    Stage start();
    Stage runStage(Stage stage);
    Stage acquire();
    Stage chooseFile();
    Stage plan();
    Stage stage();
    Stage rewrite();
    Stage reassign();
    Stage finishPreview();

    db::ConnectionTarget connectionTarget() const;
    // The trap's end: one critical message and the window usable again; a wait the operator
    // gave up (ErrorNumber::Interrupted) ends it without one, closing the window.
    void endWith(const Error& e, bool logIt);
    // Command1 and the window enabled, the stage caption as at start.
    void giveWindowBack();
    // Exits that close the window: the messages, then Command1 enabled, the window disabled,
    // an optional last message, and the window unloaded.
    void closeWith(const QString& message, const QString& afterDisable = QString(),
                   const QString& details = QString());
    QString restorePath() const;

    const Platform& platform_;
    ErrorLog& log_;
    const HostConfig& hostConfig_;
    MainView& view_;
    QString& TabellaCodiciFile_;
    std::function<void(Stage)> stageHook_;
    QString hostConfigTrouble_;

    Mode mode_ = Mode::Convert;
    QDateTime started_;
    db::Connection connection_;
    db::LockWait* wait_ = nullptr; // the window's, while an action runs
    std::unique_ptr<RestoreFile> restore_;
    std::unique_ptr<RunList> list_;
    RunPlan plan_;
    std::optional<RunReport> report_;
    Trap trap_;
};
