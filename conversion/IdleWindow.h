#pragma once

#include "platform/MainView.h"

// The window as it waits for a button, after an action gave it back: Command1 and the window
// enabled, no stage caption left behind to say an action is still at work.
inline void showIdleWindow(MainView& view)
{
    view.setCommand1Enabled(true);
    view.setWindowEnabled(true);
    view.setCaption(ViewLabel::Label6, QStringLiteral("Carico del file nella Tabella... "));
    view.setLabelVisible(ViewLabel::Label6, false);
    view.setLabelVisible(ViewLabel::Label7, true);
}
