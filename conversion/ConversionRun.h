#pragma once

#include "app/core/Mod.h"
#include "errors/Error.h"

#include <QString>

class ErrorLog;
class MainView;
struct Platform;

// The changeover run that "Converti codice Testata" starts: admission, code-table
// acquisition, staging load, title-code rewrite and distributor reassignment, with one
// error trap over all of it.
class ConversionRun
{
public:
    // TabellaCodiciFile is the window's: the run sets it and it keeps its last value.
    ConversionRun(const Platform& platform, ErrorLog& log, const HostConfig& hostConfig,
                  MainView& view, QString& TabellaCodiciFile);

    // Runs to one of the exits; returns when the run has ended.
    void execute();

private:
    const Platform& platform_;
    ErrorLog& log_;
    const HostConfig& hostConfig_;
    MainView& view_;
    QString& TabellaCodiciFile_;
};
