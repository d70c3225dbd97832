#pragma once

#include "platform/Error.h"

#include <QDate>
#include <QString>

class Clock;
class TextFileSystem;

// The daily error log in <program folder>/LOGS. Writing it never fails loudly: a log that
// cannot be written is dropped, so it can neither stop the program nor hide what the
// caller does next. The failure comes back for a caller that tells the operator anyway.
class ErrorLog
{
public:
    ErrorLog(QString programFolder, Clock& clock, TextFileSystem& files);

    // "ERROR:" TAB ErrorText(label) " " extra, or "ERROR:" TAB extra for number 0.
    Error LogError(const Error& error, const QString& label, const QString& extra = QString());

    // "Errore numero: N Descrizione: D Sorgente:label", or "" for number 0.
    static QString ErrorText(const Error& error, const QString& label);

    // Appends "<date time> <message>" CR LF to today's file, opening and closing it.
    Error AppendErrorLog(const QString& message);

    QString logFolder() const;
    QString logFileFor(const QDate& day) const;

private:
    QString programFolder_;
    Clock& clock_;
    TextFileSystem& files_;
};
