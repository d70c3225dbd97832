#pragma once

#include <QString>

// Connection data read from the host's configuration at start-up.
struct HostConfig
{
    QString DBServerName;
    QString DBAdminUsername;
    QString DBAdminPassword;
    QString DBUsername;
    QString DBPassword;
};

// State that lives as long as the program. main() owns the one instance, so every test
// starts from a fresh one.
struct Mod
{
    HostConfig hostConfig;
    // What the folder picker handed back: "" nothing chosen, "xxx" gave up, else the folder.
    QString PickedFolder;
};
