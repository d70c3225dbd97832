#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QString>

namespace fixture {

// The SQL Server stand-in (tests/support/sqlserver_standin.py) serving every
// <folder>/<NAME>.sqlite as the catalogue NAME on a free port of 127.0.0.1, for as long as
// this object lives.
class StandIn
{
public:
    StandIn() = default;
    ~StandIn();
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    // Empty when it listens, else why not (python3 missing, the stand-in failed). version:
    // the SQL Server to answer as ("2000", "2005", ...), empty for the newest.
    QString start(const QString& folder, const QString& user, const QString& password,
                  const QString& version = {});
    // "127.0.0.1,PORT", as DBServerName holds it.
    QString server() const { return QStringLiteral("127.0.0.1,%1").arg(port_); }

    // Sends one command and returns the stand-in's answer: its counts so far.
    QJsonObject command(const QJsonObject& request);
    // The next `times` statements whose text contains match fail with these messages.
    void fail(const QString& match, const QList<int>& errors, int times = 1);
    // Closes the connection instead of answering the next statement holding match.
    void drop(const QString& match);
    QJsonObject clear() { return command({{QStringLiteral("clear"), true}}); }
    qint64 requests() { return command({}).value(QStringLiteral("requests")).toInteger(); }

private:
    QProcess process_;
    quint16 port_ = 0;
    qint64 commands_ = 0;
};

} // namespace fixture
