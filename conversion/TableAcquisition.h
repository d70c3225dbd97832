#pragma once

#include <QString>
#include <optional>

class MainView;
struct Platform;

// Where the run finds its code table: the copy in the program's folder, else a download to
// that copy, else a file the operator picks.
namespace TableAcquisition {

// The file's name in the program's folder and on the download server.
QString fileName();
// The address the code table is downloaded from.
QString downloadUrl();

enum class Acquired {
    Copy,       // the copy in the program's folder is there (or something of its name is)
    FileChoice, // the run goes on to the file choice; the operator has been told why
    Stopped,    // the operator ended the download with Chiudi
};

// Sets file to the copy in the program's folder, downloading it there when missing. The
// window shows the download and how much has arrived, and Chiudi ends it; only a file the
// run's own reader finds a line to stage in is kept. The operator is told how it went.
Acquired localCopy(const Platform& platform, MainView& view, QString& file);

// The file the operator picks; nothing when the operator gave up, who has then been told so.
std::optional<QString> chosenFile(const Platform& platform);

} // namespace TableAcquisition
