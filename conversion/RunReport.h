#pragma once

#include "conversion/RunPlan.h"

#include <QString>
#include <vector>

class ErrorLog;
class RunList;

// Words the list and the boxes of a run, or of its preview, from the plan: a preview says
// what the run would do ("sara' convertito"), a run what it did ("convertito"), with the
// same words otherwise.
class RunReport
{
public:
    enum class Tense { Done, Planned };

    // list may be null: nothing is listed.
    RunReport(ErrorLog& log, RunList* list, Tense tense);

    // Adds to the list the products whose outcome is final and not yet listed, and puts the
    // list on the disk. A converted product is final once move says what became of its move
    // (moved(), notMoved(), ...); an empty move lists only the others.
    void listProducts(const RunPlan& plan, const QString& move = QString());

    QString moved() const;    // " e spostato al distributore 211"
    QString notMoved() const; // distributor 211 not found
    static QString interrupted();

    // The numbers of the last box, then the files'.
    QString summary(const RunPlan& plan, const QString& restorePath = QString()) const;
    // What a run that ends early had committed, and where its files are.
    QString interruptedSummary(const RunPlan& plan, const QString& restorePath) const;
    QString filesText(const QString& restorePath) const;

private:
    QString future() const
    {
        return tense_ == Tense::Planned ? QStringLiteral("sara' ") : QString();
    }

    ErrorLog& log_;
    RunList* list_;
    Tense tense_;
    std::vector<bool> listed_;
    bool failureLogged_ = false;
};
