#include "conversion/Trap.h"

#include "conversion/Admission.h"
#include "conversion/RestoreFile.h"
#include "db/ErrorMap.h"
#include "errors/ErrorLog.h"
#include "platform/Dialogs.h"

namespace {

const QString kLabel = QStringLiteral("CMDiNVERTI");

} // namespace

Trap::Trap(Dialogs& dialogs, ErrorLog& log, End end)
    : dialogs_(dialogs), log_(log), end_(std::move(end))
{
}

bool Trap::caught(const Error& e)
{
    // Whatever the step reports after it, a restore file that failed ends the run: the
    // changes it could not cover were rolled back and no more are made.
    if (restore_ && restore_->failure().failed())
        end(restore_->failure(), true);
    if (!e.failed())
        return false;
    // The trap is still engaged with the error that sent the run to the file choice.
    if (spent_)
        end(e, false);
    switch (db::consequenceOf(e.number)) {
    case db::Consequence::CostsRow:
        log_.LogError(e, kLabel);
        return true;
    case db::Consequence::Unlogged:
        return true;
    case db::Consequence::FileChoiceTold:
        dialogs_.message(QStringLiteral("Impossibile trovare il file"));
        [[fallthrough]];
    case db::Consequence::FileChoice:
        spent_ = true;
        throw Leave{RunStage::FileChoice};
    case db::Consequence::EndsRun:
        break;
    }
    end(e, true);
}

void Trap::end(const Error& e, bool logIt)
{
    end_(e, logIt);
    throw Leave{RunStage::Done};
}

QString Trap::endingText(const Error& e, const Error& unlogged)
{
    // The engine's own words do not tell the operator what to do about a lock.
    QString text = e.number == ErrorNumber::LockTimeout
                       ? Admission::catalogueHeldMessage() + QStringLiteral("\n\n") + e.description
                       : e.description;
    // The log is where support looks; it must not be thought to hold this failure.
    if (unlogged.failed())
        text += QStringLiteral("\n\nNon e' stato possibile scrivere nemmeno il registro degli "
                               "errori: ") +
                unlogged.description;
    return text;
}
