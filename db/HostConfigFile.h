#pragma once

#include "db/HostConfig.h"

#include <QByteArray>
#include <QString>

// Reads the host's "Mirkel.XML": checks the settings the host needs to be present and
// well-formed, then copies the connection data into config field by field. On any failure
// (no file, bad XML, a missing or malformed item, no server or user named) the result is
// false, why (when given) says in Italian what is wrong, and the fields copied before the
// failure keep their new values.
bool ReadHostConfig(const QString& path, HostConfig& config, QString* why = nullptr);

// The document's text, decoded by its byte-order mark or by the encoding its XML
// declaration names. The host writes ISO-8859-1, windows-1252 and UTF-8; an encoding not
// known here, and UTF-8 that is not valid, leave the bytes to the XML parser (an empty
// result), which rejects what it cannot read.
QString decodeHostXml(const QByteArray& bytes, bool& decoded);
