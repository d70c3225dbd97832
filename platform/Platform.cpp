#include "platform/Platform.h"

#include <QDir>

QString Platform::inProgramFolder(const QString& name) const
{
    return programFolder + QDir::separator() + name;
}
