#pragma once

#include <QString>
#include <optional>

enum class MsgIcon { None, Information, Exclamation, Critical, Question };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

// Every message box and dialog the operator sees goes through here, so tests can script the
// answers and read what was shown.
class Dialogs
{
public:
    // Shown by boxes that have no title of their own.
    static QString defaultTitle() { return QStringLiteral("ConvertiCodiceTestata"); }

    virtual ~Dialogs() = default;

    // An empty title shows the program's default title.
    virtual MsgAnswer message(const QString& text, MsgIcon icon = MsgIcon::None,
                              const QString& title = QString(),
                              MsgButtons buttons = MsgButtons::Ok) = 0;
    // A box with an OK button whose text stands on its first line, as it is, with details
    // below it in the same text, so that whoever copies the box gets both.
    virtual void messageWithDetails(const QString& text, const QString& details,
                                    MsgIcon icon = MsgIcon::None)
    {
        message(details.isEmpty() ? text : text + QStringLiteral("\n\n") + details, icon);
    }

    // The open-file dialog, preset to a file name in a folder. Returns the chosen file's
    // full path, or nothing when the operator cancelled.
    virtual std::optional<QString> openFile(const QString& presetName, const QString& folder) = 0;

    // The folder picker, shown modally. Returns what the picker hands back: the folder text
    // as the operator left it, "xxx" when the operator gave up, "" when closed without a
    // choice.
    virtual QString pickFolder() = 0;
};
