#pragma once

#include "db/ConnectionString.h"

#include <QString>

namespace db {

// What the operator is told, in one Italian sentence, when the engine refuses to write for a
// reason of its own (a catalogue that is read-only or full, a login without the right to
// write); empty for any other failure. nativeCode is what the driver reports: SQL Server
// message numbers, or SQLite result codes.
QString engineRefusal(Engine engine, const QString& nativeCode);

} // namespace db
