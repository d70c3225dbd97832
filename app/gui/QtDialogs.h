#pragma once

#include "platform/Dialogs.h"

// Message boxes, the open-file dialog and the folder picker as the operator sees them.
// Each opens over the window that is active at the time, or centred on the screen when
// none is.
class QtDialogs final : public Dialogs
{
public:
    MsgAnswer message(const QString& text, MsgIcon icon, const QString& title,
                      MsgButtons buttons) override;
    std::optional<QString> openFile(const QString& presetName, const QString& folder) override;
    QString pickFolder() override;
};
