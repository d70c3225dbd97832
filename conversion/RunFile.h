#pragma once

#include "platform/Error.h"
#include "platform/TextFiles.h"

#include <QDateTime>
#include <QString>
#include <memory>

struct Platform;

// Creates one of a run's own files, LOGS/<prefix>_<catalogue>_<YYYY_MM_DD_HHMMSS>.<extension>
// in the program folder, making LOGS when it is missing. Only ASCII letters, digits and '_' of
// the catalogue reach the name, at most 40 of them, which must be a file's in any folder; a
// catalogue whose name was changed on the way gets a mark of its own ("MIRKEL_2012-1a2b3c4d").
// A second run in the same second gets _2, _3 ... and never replaces the first one's file.
// path is the last name tried, also when creating failed.
Error createRunFile(const Platform& platform, const QString& prefix, const QString& catalogue,
                    const QDateTime& started, const QString& extension, Encoding encoding,
                    QString& path, std::unique_ptr<TextWriter>& writer);
