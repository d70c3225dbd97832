#include "conversion/TableAcquisition.h"

#include "db/CodeTableReader.h"
#include "platform/Dialogs.h"
#include "platform/Downloader.h"
#include "platform/MainView.h"
#include "platform/Platform.h"
#include "platform/TextFiles.h"

namespace TableAcquisition {

QString fileName()
{
    return QStringLiteral("TabellaCodiciVarno.txt");
}

QString downloadUrl()
{
    return QStringLiteral(CONVERTI_DOWNLOAD_BASE) + QStringLiteral("/download/TabellaCodici/") +
           fileName();
}

namespace {

// The download on the window: how much has arrived, and Chiudi, which ends it and the
// program as it ends any wait.
class WindowProgress final : public DownloadProgress
{
public:
    explicit WindowProgress(MainView& view) : view_(view) {}
    ~WindowProgress() override { view_.showWait(QString()); }
    WindowProgress(const WindowProgress&) = delete;
    WindowProgress& operator=(const WindowProgress&) = delete;

    bool going(qint64 received, qint64 announced) override
    {
        view_.showWait(
            QStringLiteral("Download della tabella dei codici in corso: %1 ricevuti%2.\nChiudi "
                           "interrompe il download e chiude il programma.")
                .arg(sizeInWords(received),
                     announced > 0 ? QStringLiteral(" di ") + sizeInWords(announced) : QString()));
        view_.pumpEvents();
        return !view_.closeRequested();
    }

private:
    MainView& view_;
};

// Why a received file is no code table, read as the run reads one; empty when it holds a
// line to stage. A page a proxy or the server sent with status 200 kept as the table would be
// taken by every later run without a download.
QString notATable(TextFileSystem& files, const QString& received)
{
    CodeTable::Reader reader(files, nullptr, QString());
    if (const Error e = reader.open(received); e.failed())
        return e.description;
    int lines = 0;
    bool usable = false;
    const Error e = reader.read([&](const CodeTable::ReadLine& line) {
        ++lines;
        usable = usable || line.columns.staged();
    });
    if (e.failed())
        return e.description;
    if (usable)
        return {};
    if (lines == 0)
        return QStringLiteral("Non e' una tabella dei codici: non contiene righe.");
    return QStringLiteral("Non e' una tabella dei codici: nessuna delle sue %1 righe ha le colonne "
                          "separate da TAB (codice nuovo, titolo, codice vecchio, ...).")
        .arg(lines);
}

// True only when the file was written to LocalFilename.
bool DownloadFile(const Platform& platform, MainView& view, const QString& URL,
                  const QString& LocalFilename, DownloadFailure& failure)
{
    WindowProgress progress(view);
    return platform.downloader.download(
        URL, LocalFilename,
        [&platform](const QString& received) { return notATable(platform.files, received); },
        progress, failure);
}

} // namespace

Acquired localCopy(const Platform& platform, MainView& view, QString& file)
{
    file = platform.inProgramFolder(fileName());
    // A folder of that name is told when the table is read: a download could not replace it.
    if (platform.files.fileExists(file) || platform.files.folderExists(file))
        return Acquired::Copy;
    DownloadFailure failure;
    if (!DownloadFile(platform, view, downloadUrl(), file, failure)) {
        if (failure.stopped)
            return Acquired::Stopped;
        platform.dialogs.messageWithDetails(
            QStringLiteral("Errore durante il download il file per la conversione puo' non "
                           "essere ancora disponibile!"),
            failure.what, MsgIcon::Critical);
        return Acquired::FileChoice;
    }
    platform.dialogs.message(QStringLiteral("Download completato con successo"),
                             MsgIcon::Information);
    // A download that reported success but left no file goes to the file choice.
    return platform.files.fileExists(file) ? Acquired::Copy : Acquired::FileChoice;
}

std::optional<QString> chosenFile(const Platform& platform)
{
    const std::optional<QString> chosen =
        platform.dialogs.openFile(fileName(), platform.programFolder);
    if (!chosen || *chosen == QStringLiteral("*.txt")) {
        platform.dialogs.message(QStringLiteral(" Percorso file TabellaCodici non Trovata!"));
        return std::nullopt;
    }
    return chosen;
}

} // namespace TableAcquisition
