#pragma once

#include <QString>
#include <QStringList>

// Asks the desktop to open things and starts other programs.
class Shell
{
public:
    virtual ~Shell() = default;
    // Opens a folder the way the desktop does; the outcome is not examined.
    virtual void openFolder(const QString& folder) = 0;
    // Starts a program without waiting for it; false when it could not be started.
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;
};

class QtShell final : public Shell
{
public:
    void openFolder(const QString& folder) override;
    bool startDetached(const QString& program, const QStringList& arguments) override;
};
