#pragma once

#include <QString>

class Clock;
class Dialogs;
class Downloader;
class Shell;
class TextFileSystem;

// The program's view of its surroundings. main() builds the real one; tests point
// programFolder at a temporary folder and swap any service for a double.
struct Platform
{
    QString programFolder; // folder of the executable, no trailing separator
    Clock& clock;
    Dialogs& dialogs;
    TextFileSystem& files;
    Downloader& downloader;
    Shell& shell;

    // programFolder joined with a name, with the platform's separator.
    QString inProgramFolder(const QString& name) const;
};
