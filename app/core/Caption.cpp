#include "app/core/Caption.h"

QString windowCaption(int major, int minor, int revision)
{
    return QStringLiteral("Conversione Codice Titolo Prodotto  %1.%2.%3")
        .arg(major)
        .arg(minor)
        .arg(revision);
}
