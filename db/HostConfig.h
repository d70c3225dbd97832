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
