#pragma once

#include "db/ConnectionString.h"
#include "db/HostConfig.h"
#include "db/RestoreRunner.h"
#include "platform/Error.h"

#include <QDateTime>
#include <QString>
#include <map>
#include <vector>

class ErrorLog;
class MainView;
struct Platform;
namespace db {
class LockWait;
}

// "Ripristina": puts the catalogue the window shows back as its runs found it, from the
// restore files in LOGS that name it inside and were not yet applied. It asks first, then
// applies them newest first, each whole or not at all, with the guards the file carries: only
// what is still the run's own comes back. Every file applied gets a mark at its end
// (db::appliedMark()), so it is not offered again: the mark travels with the file when it is
// sent to support, and keeps the name the run's box gave. Admitted any day.
class Restore
{
public:
    Restore(const Platform& platform, ErrorLog& log, const HostConfig& hostConfig, MainView& view);

    // Returns when the action has ended.
    void execute();

    // What is wrong with the host configuration file, as start-up said it: the action then
    // connects to nothing and says it again.
    void setHostConfigTrouble(QString trouble) { hostConfigTrouble_ = std::move(trouble); }

private:
    struct File
    {
        QString path;
        QDateTime modified;
        db::RestoreText text;
    };
    // What became of each product, over the files applied: put back or left by the last.
    struct Outcome
    {
        int files = 0;
        std::map<qint64, db::RestoreOutcome::Row> products;
        QString failedFile; // the file that failed, native separators
    };

    // The files to apply, newest first.
    Error pending(std::vector<File>& files) const;
    bool confirmed(const std::vector<File>& files) const;
    Error applyAll(const std::vector<File>& files, Outcome& outcome);
    // On a session of its own, as osql runs one file at a time.
    Error applyOne(const File& file, Outcome& outcome);
    void finish(const Error& e, const Outcome& outcome);
    void giveWindowBack();

    const Platform& platform_;
    ErrorLog& log_;
    const HostConfig& hostConfig_;
    MainView& view_;
    db::ConnectionTarget target_;
    db::LockWait* wait_ = nullptr; // the window's, while the action runs
    QString hostConfigTrouble_;
};
