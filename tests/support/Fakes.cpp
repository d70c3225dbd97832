#include "tests/support/Fakes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

MsgAnswer FakeDialogs::message(const QString& text, MsgIcon icon, const QString& title,
                               MsgButtons buttons)
{
    shown.append({text, icon, title.isEmpty() ? defaultTitle() : title, buttons, QString()});
    if (buttons == MsgButtons::Ok)
        return MsgAnswer::Ok;
    if (messageAnswers.empty())
        return MsgAnswer::No;
    const MsgAnswer answer = messageAnswers.front();
    messageAnswers.pop_front();
    return answer;
}

void FakeDialogs::messageWithDetails(const QString& text, const QString& details, MsgIcon icon)
{
    shown.append({text, icon, defaultTitle(), MsgButtons::Ok, details});
}

std::optional<QString> FakeDialogs::openFile(const QString& presetName, const QString& folder)
{
    openFileCalls.append({presetName, folder});
    if (fileAnswers.empty())
        return std::nullopt;
    const bool chosen = fileAnswers.front().has_value();
    const QString path = fileAnswers.front().value_or(QString());
    fileAnswers.pop_front();
    if (!chosen)
        return std::nullopt;
    return path;
}

QString FakeDialogs::pickFolder()
{
    ++pickFolderCalls;
    if (folderAnswers.empty())
        return QStringLiteral("xxx");
    const QString answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
}

QStringList FakeDialogs::texts() const
{
    QStringList result;
    for (const ShownMessage& m : shown)
        result.append(m.text);
    return result;
}

bool FakeDownloader::download(const QString& url, const QString& localFile, const Check& check,
                              DownloadProgress& progress, DownloadFailure& failure)
{
    urls.append(url);
    failure = {};
    if (!progress.going(0, content ? content->size() : -1)) {
        failure.stopped = true;
        return false;
    }
    if (claimsSuccessWithoutFile)
        return true;
    failure.what = QStringLiteral("Nessuna risposta dal server");
    if (!content)
        return false;
    const QString part = localFile + QStringLiteral(".scaricamento");
    QFile file(part);
    if (!file.open(QIODevice::WriteOnly) || file.write(*content) != content->size())
        return false;
    file.close();
    failure.what = check(part);
    if (!failure.what.isEmpty() || (QFile::exists(localFile) && !QFile::remove(localFile)) ||
        !QFile::rename(part, localFile)) {
        QFile::remove(part);
        return false;
    }
    return true;
}

void FakeView::setCaption(ViewLabel label, const QString& text)
{
    captions_[label] = text;
    history_[label].append(text);
}

void FakeView::showWait(const QString& text)
{
    const bool begins = !text.isEmpty() && (waits.isEmpty() || waits.last().isEmpty());
    waits.append(text);
    if (begins && onWait)
        onWait();
}

TestPlatform::TestPlatform()
    : platform{QDir::toNativeSeparators(dir.path()), clock, dialogs, files, downloader, shell}
{
}

void TestPlatform::writeFile(const QString& name, const QByteArray& bytes) const
{
    const QString full = path(name);
    QDir().mkpath(QFileInfo(full).absolutePath());
    QFile file(full);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

QByteArray TestPlatform::readFile(const QString& name) const
{
    QFile file(path(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QStringList TestPlatform::logMessages() const
{
    const QString name = QStringLiteral("LOGS/Errore_") +
                         clock.current.date().toString(QStringLiteral("yyyy_MM_dd")) +
                         QStringLiteral(".txt");
    const QByteArray bytes = readFile(name);
    QStringList messages;
    for (const QByteArray& line : bytes.split('\n')) {
        QByteArray l = line;
        if (l.endsWith('\r'))
            l.chop(1);
        if (l.isEmpty())
            continue;
        // "dd/MM/yyyy HH:mm:ss " is 20 characters.
        messages.append(QString::fromLatin1(l.mid(20)));
    }
    return messages;
}
