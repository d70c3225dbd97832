#pragma once

#include "platform/Error.h"

#include <QString>
#include <functional>

struct Platform;
class TextFileSystem;

// The tool's own settings file, " mirkeloption.txt" (the leading blank is part of the
// name) in the program's folder: a destination folder and a code-table file name.
namespace options {

enum class Key { Destinazione, NomeFile };

QString filePath(const Platform& platform);

// Reads the file line by line the way the host's tools always have: the key is the text
// before the first "=" with blanks trimmed, compared with case; the value lies between the
// first "[" and the first "]". Each recognised line calls set (a later line wins), and
// every line read calls pump. A line without "=", or a key line whose "]" is missing or
// comes before its "[", ends the reading there; so does any file error. Nothing is
// reported.
void read(TextFileSystem& files, const QString& path,
          const std::function<void(Key, const QString&)>& set, const std::function<void()>& pump);

// Replaces the file with the two settings, written unchanged. Stops at the first error;
// what was written before it stays in the file.
Error write(TextFileSystem& files, const QString& path, const QString& destinazione,
            const QString& nomeFile);

// Writes the file and tells the operator how it went.
void save(const Platform& platform, const QString& destinazione, const QString& nomeFile);

} // namespace options
