#pragma once

#include <QString>

enum class ViewLabel { Label6, Label7, LabelFatti, LabelModificati };

// What the conversion run and the missing-code report see of the main window. The window
// implements it; tests use a recording double.
class MainView
{
public:
    virtual ~MainView() = default;

    // The text cboAziende shows now.
    virtual QString catalogue() const = 0;
    // Whether OptionDistributore(index) is selected.
    virtual bool distributorOption(int index) const = 0;

    virtual void setCaption(ViewLabel label, const QString& text) = 0;
    virtual void setLabelVisible(ViewLabel label, bool visible) = 0;
    // ProgressBar2.
    virtual void setProgressMaximum(int maximum) = 0;
    virtual void setProgressValue(int value) = 0;

    virtual void setCommand1Enabled(bool enabled) = 0;
    virtual void setCloseEnabled(bool enabled) = 0; // CmdUscita
    virtual void setWindowEnabled(bool enabled) = 0;
    // Closes the window; with it the program ends.
    virtual void unloadWindow() = 0;

    // Lets the window repaint; input stays blocked while the window is disabled.
    virtual void pumpEvents() = 0;

    // A wait for the database: text says what is waited for; the window stays painted and
    // only CmdUscita (and the close box) can be pressed. An empty text ends the wait and puts
    // the window back as it was.
    virtual void showWait(const QString& text) = 0;
    // Whether CmdUscita or the close box was pressed during a wait of the action under way.
    virtual bool closeRequested() const = 0;
};
