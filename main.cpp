#include "app/core/Mod.h"
#include "app/gui/EportaProdottiAlternativi.h"
#include "app/gui/QtDialogs.h"
#include "errors/ErrorLog.h"
#include "platform/Clock.h"
#include "platform/Downloader.h"
#include "platform/Platform.h"
#include "platform/Shell.h"
#include "platform/TextFiles.h"

#include <QApplication>
#include <QDir>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    SystemClock clock;
    QtDialogs dialogs;
    QtTextFileSystem files;
    HttpDownloader downloader;
    QtShell shell;
    const Platform platform{QDir::toNativeSeparators(QCoreApplication::applicationDirPath()),
                            clock,
                            dialogs,
                            files,
                            downloader,
                            shell};
    Mod mod;
    ErrorLog log(platform.programFolder, clock, files);
    EportaProdottiAlternativi window(platform, mod, log);
    if (!window.Form_Load())
        return 0;
    window.show();
    return app.exec();
}
