#pragma once

#include "platform/Clock.h"

#include <QDateTime>

// Says when a long stage should let the window repaint: about twenty times a second. The
// clock is read only every so many steps, because a step (a line, a product) costs far less
// than reading it.
class RepaintPacer
{
public:
    explicit RepaintPacer(const Clock& clock) : clock_(clock), last_(clock.now()) {}

    // Called once per step.
    bool due()
    {
        if (++steps_ % kStepsPerCheck != 0)
            return false;
        const QDateTime now = clock_.now();
        if (last_.msecsTo(now) < kIntervalMs)
            return false;
        last_ = now;
        return true;
    }

private:
    static constexpr unsigned kStepsPerCheck = 64;
    static constexpr qint64 kIntervalMs = 50;
    const Clock& clock_;
    QDateTime last_;
    unsigned steps_ = 0;
};
