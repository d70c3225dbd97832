#pragma once

#include <QString>

// The main window's caption: the product line and the version as major.minor.revision
// (the build number is not shown).
QString windowCaption(int major, int minor, int revision);
