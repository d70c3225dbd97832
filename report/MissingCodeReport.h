#pragma once

#include "platform/Error.h"

#include <QString>

class ErrorLog;
struct HostConfig;
class MainView;
struct Platform;

namespace report {

// ControllaCodiciNonPresentiNelFile: lists in "CodiciMancanti<sep>CodiciNonPresenti.txt"
// under the program folder every product with inforiv = 1 whose CodiceTestata equals, as a
// number, no old code of the code table at TabellaCodiciFile, then starts the host's
// companion tool "CodiciMancanti<sep>MirkelDunso.exe 1" without waiting for it.
//
// Reads the catalogue the view shows. A failure to connect is returned and nothing else
// happens. Every later failure shows "Errore: impossibile esportare i dati" and returns no
// error; report lines already written stay in the file. An existing report is replaced
// only when the operator answers Yes; any other answer returns at once, silently.
//
// The code table is read once, and only when there is a product, yet the report, the
// counters in LabelModificati and LabelFatti, and the product at which a bad table fails
// are those of a search that reads the table from its top for every product.
// The code table's refused lines are logged, as the run logs them, when log is given.
Error ControllaCodiciNonPresentiNelFile(const Platform& platform, const HostConfig& hostConfig,
                                        MainView& view, const QString& TabellaCodiciFile,
                                        ErrorLog* log = nullptr);

} // namespace report
