#include "tests/support/StandIn.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

namespace fixture {

StandIn::~StandIn()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.closeWriteChannel();
    if (!process_.waitForFinished(10000))
        process_.kill();
    process_.waitForFinished(10000);
}

QString StandIn::start(const QString& folder, const QString& user, const QString& password,
                       const QString& version)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        return QStringLiteral("python3 is not installed");
    process_.setProgram(python);
    QStringList arguments{QStringLiteral(CONVERTI_SQLSERVER_STANDIN), folder,
                          QStringLiteral("--login"), user, password};
    if (!version.isEmpty())
        arguments << QStringLiteral("--version") << version;
    // Every request the stand-in receives, one JSON line each: for reading a failure.
    if (const QString trace = qEnvironmentVariable("CONVERTI_STANDIN_TRACE"); !trace.isEmpty())
        arguments << QStringLiteral("--trace") << trace;
    process_.setArguments(arguments);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start();
    if (!process_.waitForStarted(30000) || !process_.waitForReadyRead(30000))
        return QStringLiteral("the SQL Server stand-in did not start");
    port_ = quint16(QJsonDocument::fromJson(process_.readLine())
                        .object()
                        .value(QStringLiteral("port"))
                        .toInt());
    return port_ == 0 ? QStringLiteral("the SQL Server stand-in gave no port") : QString();
}

QJsonObject StandIn::command(const QJsonObject& request)
{
    // Each answer names its command: one left unread by a wait that gave up is passed over.
    QJsonObject tagged = request;
    tagged[QStringLiteral("id")] = ++commands_;
    process_.write(QJsonDocument(tagged).toJson(QJsonDocument::Compact) + '\n');
    for (;;) {
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(30000))
                return {};
        }
        const QJsonObject answer = QJsonDocument::fromJson(process_.readLine()).object();
        if (answer.value(QStringLiteral("id")).toInteger() == commands_)
            return answer;
    }
}

void StandIn::fail(const QString& match, const QList<int>& errors, int times)
{
    QJsonArray numbers;
    for (int e : errors)
        numbers.append(e);
    command({{QStringLiteral("fault"), QJsonObject{{QStringLiteral("match"), match},
                                                   {QStringLiteral("errors"), numbers},
                                                   {QStringLiteral("times"), times}}}});
}

void StandIn::drop(const QString& match)
{
    command({{QStringLiteral("fault"),
              QJsonObject{{QStringLiteral("match"), match},
                          {QStringLiteral("errors"), QJsonArray{QStringLiteral("drop")}}}}});
}

} // namespace fixture
