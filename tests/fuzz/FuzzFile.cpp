#include "FuzzFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

QString fuzzFile(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("input"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size))
        std::abort(); // the harness itself is broken, not the code under test
    return path;
}
