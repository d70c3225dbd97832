#pragma once

#include "conversion/RunPlan.h"

class ErrorLog;
class MainView;
class RestoreFile;
class Trap;
struct Platform;
namespace db {
class Connection;
class LockWait;
} // namespace db

// What every stage of a run works with. restore is null in a preview, which writes nothing.
struct RunContext
{
    const Platform& platform;
    ErrorLog& log;
    MainView& view;
    db::Connection& connection;
    Trap& trap;
    RunPlan& plan;
    RestoreFile* restore = nullptr;
    db::LockWait* wait = nullptr; // hears the waits of the connections a stage opens itself
};

// "N - Elaborati", "N - Modificati": the counters under the progress bar.
inline QString counterText(int n, const char* what)
{
    return QString::number(n) + QLatin1String(what);
}
