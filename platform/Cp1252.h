#pragma once

#include <QByteArray>
#include <QString>

// Windows-1252, the host's 8-bit code page, on every platform. Characters outside it are
// written as '?'.
namespace Cp1252 {
QString decode(QByteArrayView bytes);
QByteArray encode(QStringView text);
} // namespace Cp1252
