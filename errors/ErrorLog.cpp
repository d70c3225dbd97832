#include "errors/ErrorLog.h"

#include "platform/Clock.h"
#include "platform/TextFiles.h"

#include <QDir>

ErrorLog::ErrorLog(QString programFolder, Clock& clock, TextFileSystem& files)
    : programFolder_(std::move(programFolder)), clock_(clock), files_(files)
{
}

QString ErrorLog::ErrorText(const Error& error, const QString& label)
{
    if (error.number == 0)
        return QString();
    return QStringLiteral("Errore numero: ") + QString::number(error.number) +
           QStringLiteral(" Descrizione: ") + error.description + QStringLiteral(" Sorgente:") +
           label;
}

Error ErrorLog::LogError(const Error& error, const QString& label, const QString& extra)
{
    QString message = QStringLiteral("ERROR:\t");
    if (error.number != 0)
        message += ErrorText(error, label) + QLatin1Char(' ');
    return AppendErrorLog(message + extra);
}

QString ErrorLog::logFolder() const
{
    return programFolder_ + QDir::separator() + QStringLiteral("LOGS");
}

QString ErrorLog::logFileFor(const QDate& day) const
{
    return logFolder() + QDir::separator() + QStringLiteral("Errore_") +
           day.toString(QStringLiteral("yyyy_MM_dd")) + QStringLiteral(".txt");
}

Error ErrorLog::AppendErrorLog(const QString& message)
{
    const QDateTime now = clock_.now();
    if (!files_.folderExists(logFolder())) {
        if (Error e = files_.createFolder(logFolder()); e.failed())
            return e;
    }
    const QString line =
        now.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) + QLatin1Char(' ') + message;
    return files_.appendLine(logFileFor(now.date()), line);
}
