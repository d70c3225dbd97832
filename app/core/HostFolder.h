#pragma once

#include <QString>
#include <QStringList>

struct Mod;
struct Platform;
class TextFileSystem;

// The folders where the host is usually installed, each followed by "Mirkel.XML", in the
// order they are tried: the program's own folder first; on Windows then the host's usual
// installation folders.
QStringList hostConfigCandidates(const QString& programFolder);

// The host's file names ignore case. Returns the path of an existing file named like the
// last component of path without regard to case (path itself when it exists as written),
// or "" when there is none. The folder part is kept exactly as given.
QString existingFileIgnoringCase(TextFileSystem& files, const QString& path);

// Finds the host's configuration file: the usual candidates, then the folder picker until
// the operator names a folder that holds it. When the operator gives up ("xxx") the
// farewell message is shown, gaveUp is set and the last path tried comes back; the caller
// then ends the program.
QString FindHostFolder(const Platform& platform, Mod& mod, bool& gaveUp);
