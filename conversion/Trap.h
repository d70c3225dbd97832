#pragma once

#include "conversion/RunPlan.h"
#include "platform/Error.h"

#include <functional>

class ErrorLog;
class RestoreFile;
class Dialogs;

// The run's one error trap. Every step hands its failure here, and the trap acts as
// db::consequenceOf() says: a row's own fault is logged and the run goes on; a missing file
// or object sends the run back to choosing the code table (once: after that the trap is spent
// and any failure ends the run); anything else ends the run. A restore file that failed ends
// the run at the next step, whatever that step reports, as nothing more may change.
class Trap
{
public:
    // Thrown to leave the failing stage for another one.
    struct Leave
    {
        RunStage to;
    };
    // Ends the run for a failure: tells the operator and gives the window back. logIt says
    // whether the failure still has to be logged.
    using End = std::function<void(const Error& e, bool logIt)>;

    Trap(Dialogs& dialogs, ErrorLog& log, End end);

    // The restore file whose failure ends the run.
    void watch(const RestoreFile* restore) { restore_ = restore; }

    // Returns whether the step failed, when the run goes on; otherwise throws Leave.
    bool caught(const Error& e);
    // Ends the run for e, then leaves for Done.
    [[noreturn]] void end(const Error& e, bool logIt);

    // What the box that ends the run says of e, and of the log when it could not be written
    // (unlogged).
    static QString endingText(const Error& e, const Error& unlogged);

private:
    Dialogs& dialogs_;
    ErrorLog& log_;
    End end_;
    const RestoreFile* restore_ = nullptr;
    bool spent_ = false;
};
