#include "app/core/OptionsFile.h"

#include "platform/Dialogs.h"
#include "platform/HostText.h"
#include "platform/Platform.h"
#include "platform/TextFiles.h"

#include <memory>
#include <optional>

namespace options {

namespace {

const QString kFileName = QStringLiteral(" mirkeloption.txt");
const QString kDestinazione = QStringLiteral("DESTINAZIONE");
const QString kNomeFile = QStringLiteral("NOMEFILE");

// The value of a key line, or nothing when the line ends the reading.
std::optional<QString> bracketed(const QString& line)
{
    // Positions count from 1, 0 meaning "not found", as the file format was defined.
    const qsizetype a = line.indexOf(QLatin1Char('[')) + 1;
    const qsizetype b = line.indexOf(QLatin1Char(']')) + 1;
    const qsizetype length = b - a - 1;
    if (length < 0)
        return std::nullopt;
    return line.mid(a, length);
}

} // namespace

QString filePath(const Platform& platform)
{
    return platform.inProgramFolder(kFileName);
}

void read(TextFileSystem& files, const QString& path,
          const std::function<void(Key, const QString&)>& set, const std::function<void()>& pump)
{
    std::unique_ptr<TextReader> reader;
    if (files.openRead(path, reader).failed())
        return;
    for (;;) {
        bool end = true;
        if (reader->atEnd(end).failed() || end)
            return;
        QString line;
        if (reader->readLine(line).failed())
            return;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            return;
        const QString key = trimBlanks(line.left(equals));
        if (key == kDestinazione || key == kNomeFile) {
            const std::optional<QString> value = bracketed(line);
            if (!value)
                return;
            set(key == kDestinazione ? Key::Destinazione : Key::NomeFile, *value);
        }
        pump();
    }
}

Error write(TextFileSystem& files, const QString& path, const QString& destinazione,
            const QString& nomeFile)
{
    std::unique_ptr<TextWriter> writer;
    if (Error e = files.openWrite(path, false, writer); e.failed())
        return e;
    Error e =
        writer->writeLine(QStringLiteral("DESTINAZIONE= [") + destinazione + QLatin1Char(']'));
    if (!e.failed())
        e = writer->writeLine(QStringLiteral("NOMEFILE= [") + nomeFile + QLatin1Char(']'));
    // Closed on every path, so a failed write still leaves what came before it.
    const Error closed = writer->close();
    return e.failed() ? e : closed;
}

void save(const Platform& platform, const QString& destinazione, const QString& nomeFile)
{
    const QString title = QStringLiteral("OPZIONI");
    if (write(platform.files, filePath(platform), destinazione, nomeFile).failed()) {
        platform.dialogs.message(QStringLiteral("ERRORE: NEL SALVATAGGIO IMPOSTAZIONI"),
                                 MsgIcon::Exclamation, title);
        return;
    }
    platform.dialogs.message(QStringLiteral("IMPOSTAZIONI SALVATE CON SUCCESSO! "),
                             MsgIcon::Information, title);
}

} // namespace options
