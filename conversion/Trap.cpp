#include "conversion/Trap.h"

#include "conversion/RestoreFile.h"
#include "db/ErrorMap.h"
#include "errors/ErrorLog.h"
#include "platform/Dialogs.h"

namespace {
const QString kLabel = QStringLiteral("CMDiNVERTI");
}

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
