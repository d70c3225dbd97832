#pragma once

#include "db/Database.h"
#include "platform/MainView.h"

#include <QString>

// Shows an action's waits for a held database on the window, and hears the operator end
// them with Chiudi: the action hands it to each connection it opens.
class ViewWait final : public db::LockWait
{
public:
    // action: what Chiudi ends, as the wait's text names it ("la conversione").
    ViewWait(MainView& view, QString action) : view_(view), action_(std::move(action)) {}
    ViewWait(const ViewWait&) = delete;
    ViewWait& operator=(const ViewWait&) = delete;

    bool waiting(int waitedMs, int boundMs) override
    {
        view_.showWait(QStringLiteral("In attesa: il database e' bloccato da un altro "
                                      "programma... (%1 s di %2)\nChiudi interrompe %3.")
                           .arg(waitedMs / 1000)
                           .arg((boundMs + 999) / 1000)
                           .arg(action_));
        view_.pumpEvents();
        return !view_.closeRequested();
    }
    void waited() override { view_.showWait(QString()); }

private:
    MainView& view_;
    QString action_;
};
