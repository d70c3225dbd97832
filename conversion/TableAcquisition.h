#pragma once

#include <QString>
#include <optional>

struct Platform;

// Where the run finds its code table: the copy in the program's folder, else a download to
// that copy, else a file the operator picks.
namespace TableAcquisition {

// The file's name in the program's folder and on the download server.
QString fileName();
// The address the code table is downloaded from.
QString downloadUrl();

// The copy in the program's folder, downloaded there when missing; the operator is told how
// the download went. Nothing when the run must go to the file choice.
std::optional<QString> localCopy(const Platform& platform);

// The file the operator picks; nothing when the operator gave up, who has then been told so.
std::optional<QString> chosenFile(const Platform& platform);

} // namespace TableAcquisition
