#include "conversion/ConversionRun.h"

#include "conversion/Admission.h"
#include "conversion/IdleWindow.h"
#include "conversion/Move.h"
#include "conversion/Planner.h"
#include "conversion/RestoreFile.h"
#include "conversion/Rewrite.h"
#include "conversion/RunContext.h"
#include "conversion/RunList.h"
#include "conversion/Staging.h"
#include "conversion/TableAcquisition.h"
#include "conversion/TableRead.h"
#include "conversion/ViewWait.h"
#include "db/ConnectionString.h"
#include "db/ErrorMap.h"
#include "errors/ErrorLog.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/MainView.h"
#include "platform/Platform.h"
#include "platform/TextFiles.h"

ConversionRun::ConversionRun(const Platform& platform, ErrorLog& log, const HostConfig& hostConfig,
                             MainView& view, QString& TabellaCodiciFile)
    : platform_(platform), log_(log), hostConfig_(hostConfig), view_(view),
      TabellaCodiciFile_(TabellaCodiciFile),
      trap_(platform.dialogs, log, [this](const Error& e, bool logIt) { endWith(e, logIt); })
{
}

ConversionRun::~ConversionRun() = default;

db::ConnectionTarget ConversionRun::connectionTarget() const
{
    return db::connectionTarget(hostConfig_.DBServerName, hostConfig_.DBUsername,
                                hostConfig_.DBPassword, view_.catalogue());
}

void ConversionRun::execute()
{
    perform(Mode::Convert);
}

void ConversionRun::preview()
{
    perform(Mode::Preview);
}

void ConversionRun::perform(Mode mode)
{
    mode_ = mode;
    if (!Admission::admitted(platform_, view_, mode == Mode::Convert))
        return;
    ViewWait wait(view_, mode == Mode::Preview ? QStringLiteral("l'anteprima")
                                               : QStringLiteral("la conversione"));
    wait_ = &wait;
    connection_.setLockWait(&wait);
    Stage stage = start();
    while (stage != Stage::Done) {
        if (stageHook_)
            stageHook_(stage);
        stage = runStage(stage);
    }
    connection_.close();
    connection_.setLockWait(nullptr);
    wait_ = nullptr;
    restore_.reset();
    report_.reset();
    list_.reset();
    if (stageHook_)
        stageHook_(Stage::Done);
}

ConversionRun::Stage ConversionRun::runStage(Stage stage)
{
    try {
        switch (stage) {
        case Stage::Acquire:
            return acquire();
        case Stage::FileChoice:
            return chooseFile();
        case Stage::Plan:
            return plan();
        case Stage::Staging:
            return this->stage();
        case Stage::Rewrite:
            return rewrite();
        case Stage::Reassign:
            return reassign();
        case Stage::Done:
            break;
        }
    } catch (const Trap::Leave& leave) {
        return leave.to;
    }
    return Stage::Done;
}

ConversionRun::Stage ConversionRun::start()
{
    view_.setCommand1Enabled(false);
    view_.setWindowEnabled(false);
    view_.setCloseEnabled(true);
    started_ = platform_.clock.now();
    const bool preview = mode_ == Mode::Preview;
    // The list's file is created with its first row.
    list_ = std::make_unique<RunList>(platform_, view_.catalogue(), started_,
                                      preview ? QStringLiteral("Anteprima")
                                              : QStringLiteral("Conversione"));
    report_.emplace(log_, list_.get(),
                    preview ? RunReport::Tense::Planned : RunReport::Tense::Done);
    try {
        // A configuration refused at start names no server to trust: its trouble is what the
        // operator must fix, not whatever a connection to half of it would answer.
        if (!hostConfigTrouble_.isEmpty())
            trap_.end({ErrorNumber::InvalidArgument, hostConfigTrouble_}, false);
        // Going on without a connection would fail every later step and still end with
        // "Procedura Completata".
        if (const Error e = connection_.open(connectionTarget()); e.failed())
            trap_.end(e, !db::keptOutOfTheLog(e.number));
        if (preview)
            return Stage::Acquire;
        // The two cash desks of one kiosk share the catalogue: one conversion at a time.
        bool granted = false;
        std::optional<db::Connection::LockHolder> holder;
        if (const Error e = connection_.lockConversion(granted, holder); e.failed())
            trap_.end(e, !db::keptOutOfTheLog(e.number));
        if (!granted) {
            platform_.dialogs.message(Admission::anotherRunMessage(holder), MsgIcon::Exclamation);
            giveWindowBack();
            return Stage::Done;
        }
        restore_ = std::make_unique<RestoreFile>(platform_, connection_.engine(), view_.catalogue(),
                                                 started_);
        trap_.watch(restore_.get());
    } catch (const Trap::Leave& leave) {
        return leave.to;
    }
    return Stage::Acquire;
}

ConversionRun::Stage ConversionRun::acquire()
{
    switch (TableAcquisition::localCopy(platform_, view_, TabellaCodiciFile_)) {
    case TableAcquisition::Acquired::Copy:
        return Stage::Plan;
    case TableAcquisition::Acquired::Stopped:
        // Chiudi during the download: the window closes as after any wait.
        trap_.end({ErrorNumber::Interrupted, QStringLiteral("Download interrotto")}, false);
    case TableAcquisition::Acquired::FileChoice:
        break;
    }
    return Stage::FileChoice;
}

ConversionRun::Stage ConversionRun::chooseFile()
{
    const std::optional<QString> chosen = TableAcquisition::chosenFile(platform_);
    if (!chosen) {
        giveWindowBack();
        return Stage::Done;
    }
    TabellaCodiciFile_ = *chosen;
    return Stage::Plan;
}

ConversionRun::Stage ConversionRun::plan()
{
    // A folder of the table's name is for the reading to name.
    if (!platform_.files.fileExists(TabellaCodiciFile_) &&
        !platform_.files.folderExists(TabellaCodiciFile_)) {
        closeWith(QStringLiteral("FILE NON TROVATO"));
        return Stage::Done;
    }
    plan_ = RunPlan();
    RunContext run{platform_, log_, view_, connection_, trap_, plan_, restore_.get(), wait_};
    // The whole table is read before the catalogue is looked at: a table that gives no line
    // to stage (empty, saved in another shape, every line refused) must change nothing.
    if (!readCodeTable(run, TabellaCodiciFile_))
        return Stage::Done;
    view_.setCaption(ViewLabel::Label6, QStringLiteral(" Lettura del database"));
    planRun(run, connectionTarget());
    if (mode_ == Mode::Preview)
        return finishPreview();
    plan_.beginApply();
    return Stage::Staging;
}

ConversionRun::Stage ConversionRun::stage()
{
    view_.setCaption(ViewLabel::Label6, QStringLiteral("Carico del file nella Tabella... "));
    RunContext run{platform_, log_, view_, connection_, trap_, plan_, restore_.get(), wait_};
    applyStaging(run);
    return Stage::Rewrite;
}

ConversionRun::Stage ConversionRun::rewrite()
{
    view_.setCaption(ViewLabel::Label6, QStringLiteral(" Aggiornamento Codici Titoli"));
    if (plan_.distributor069.isEmpty()) {
        closeWith(QStringLiteral("Codice Fieg 069 non trovato!"),
                  QStringLiteral("Procedura Terminata"));
        return Stage::Done;
    }
    if (plan_.productsRead) {
        RunContext run{platform_, log_, view_, connection_, trap_, plan_, restore_.get(), wait_};
        applyRewrite(run);
    }
    report_->listProducts(plan_);
    return Stage::Reassign;
}

ConversionRun::Stage ConversionRun::reassign()
{
    view_.setCaption(ViewLabel::Label6, QStringLiteral(" Modifica codice DL Titoli Varno"));
    if (plan_.distributor211.isEmpty()) {
        // Writing an empty distributor into every converted product would orphan them; the
        // staging rows stay applied, so a later run moves them once "211" exists.
        report_->listProducts(plan_, report_->notMoved());
        closeWith(QStringLiteral("Codice Fieg 211 non trovato!"),
                  QStringLiteral("Procedura Terminata"), report_->summary(plan_, restorePath()));
        return Stage::Done;
    }
    RunContext run{platform_, log_, view_, connection_, trap_, plan_, restore_.get(), wait_};
    applyMove(run);
    report_->listProducts(plan_, report_->moved());
    connection_.close();
    closeWith(QStringLiteral("Procedura Completata"), QString(),
              report_->summary(plan_, restorePath()));
    return Stage::Done;
}

ConversionRun::Stage ConversionRun::finishPreview()
{
    QString notes;
    if (plan_.distributor069.isEmpty())
        notes += QStringLiteral("Codice Fieg 069 non trovato: la conversione caricherebbe la "
                                "tabella e si fermerebbe.\n");
    if (plan_.distributor211.isEmpty())
        notes += QStringLiteral("Codice Fieg 211 non trovato: i prodotti convertiti non "
                                "sarebbero spostati.\n");
    report_->listProducts(plan_);
    report_->listProducts(plan_,
                          plan_.distributor211.isEmpty() ? report_->notMoved() : report_->moved());
    connection_.close();
    platform_.dialogs.messageWithDetails(
        QStringLiteral("Anteprima completata: nessun dato e' stato modificato."),
        (notes.isEmpty() ? QString() : notes + QLatin1Char('\n')) + report_->summary(plan_),
        MsgIcon::Information);
    giveWindowBack();
    return Stage::Done;
}

QString ConversionRun::restorePath() const
{
    return restore_ ? restore_->path() : QString();
}

void ConversionRun::endWith(const Error& e, bool logIt)
{
    const Error unlogged = logIt ? log_.LogError(e, QStringLiteral("CMDiNVERTI")) : Error();
    if (mode_ == Mode::Convert)
        report_->listProducts(plan_, RunReport::interrupted());
    if (e.number == ErrorNumber::Interrupted) {
        // Chiudi during a wait: the batch waiting was rolled back, what was committed stays
        // and the restore file covers it; the window closes as Chiudi does.
        giveWindowBack();
        view_.unloadWindow();
        return;
    }
    const QString details = mode_ == Mode::Convert
                                ? report_->interruptedSummary(plan_, restorePath())
                                : QStringLiteral("Nessun dato e' stato modificato.\n");
    platform_.dialogs.messageWithDetails(Trap::endingText(e, unlogged), details, MsgIcon::Critical);
    giveWindowBack();
}

void ConversionRun::giveWindowBack()
{
    showIdleWindow(view_);
}

void ConversionRun::closeWith(const QString& message, const QString& afterDisable,
                              const QString& details)
{
    platform_.dialogs.messageWithDetails(message, details);
    view_.setCommand1Enabled(true);
    view_.setWindowEnabled(false);
    if (!afterDisable.isEmpty())
        platform_.dialogs.message(afterDisable);
    view_.unloadWindow();
}
