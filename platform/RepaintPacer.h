#pragma once

#include "platform/Clock.h"

#include <QDateTime>

// Says when a long stage should let the window repaint: about twenty times a second. The
// clock is read only every so many steps, because a step (a line, a product) costs far less
// than reading it.
class RepaintPacer
{
public:
    explicit RepaintPacer(const Clock& clock) : clock_(clock), last_(wallMs(clock.now())) {}

    // Called once per step.
    bool due()
    {
        if (++steps_ % kStepsPerCheck != 0)
            return false;
        const qint64 now = wallMs(clock_.now());
        // A clock set back (or a change of summer time) repaints at once rather than never.
        if (now >= last_ && now - last_ < kIntervalMs)
            return false;
        last_ = now;
        return true;
    }

private:
    // The local wall time as a count of milliseconds, without the time-zone look-up a
    // QDateTime difference makes, which costs more than a step.
    static qint64 wallMs(const QDateTime& t)
    {
        return t.date().toJulianDay() * 86400000 + t.time().msecsSinceStartOfDay();
    }

    static constexpr unsigned kStepsPerCheck = 64;
    static constexpr qint64 kIntervalMs = 50;
    const Clock& clock_;
    qint64 last_;
    unsigned steps_ = 0;
};
