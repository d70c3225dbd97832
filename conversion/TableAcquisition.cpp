#include "conversion/TableAcquisition.h"

#include "platform/Dialogs.h"
#include "platform/Downloader.h"
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

bool DownloadFile(const Platform& platform, const QString& URL, const QString& LocalFilename)
{
    return platform.downloader.download(URL, LocalFilename);
}

} // namespace

std::optional<QString> localCopy(const Platform& platform)
{
    const QString file = platform.inProgramFolder(fileName());
    bool downloaded = false;
    while (!platform.files.fileExists(file)) {
        // A download that reported success but left no file goes to the file choice rather
        // than round again.
        if (downloaded || !DownloadFile(platform, downloadUrl(), file)) {
            if (!downloaded)
                platform.dialogs.message(
                    QStringLiteral("Errore durante il download il file per la conversione puo' "
                                   "non essere ancora disponibile!"),
                    MsgIcon::Critical);
            return std::nullopt;
        }
        platform.dialogs.message(QStringLiteral("Download completato con successo"),
                                 MsgIcon::Information);
        downloaded = true;
    }
    return file;
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
