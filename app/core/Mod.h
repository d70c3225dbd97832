#pragma once

#include "db/HostConfig.h"

#include <QString>

// State that lives as long as the program. main() owns the one instance, so every test
// starts from a fresh one.
struct Mod
{
    HostConfig hostConfig;
    // What the folder picker handed back: "" nothing chosen, "xxx" gave up, else the folder.
    QString PickedFolder;
};
