#include "conversion/Restore.h"

#include "conversion/Admission.h"
#include "conversion/IdleWindow.h"
#include "conversion/RunList.h"
#include "conversion/ViewWait.h"
#include "db/ConnectionString.h"
#include "db/Database.h"
#include "db/ErrorMap.h"
#include "db/HostCatalog.h"
#include "errors/ErrorLog.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/MainView.h"
#include "platform/Platform.h"
#include "platform/TextFiles.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <tuple>

namespace {

const QString kLabel = QStringLiteral("RIPRISTINA");

QString when(const QDateTime& started)
{
    return started.isValid() ? started.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"))
                             : QStringLiteral("data sconosciuta");
}

Error readLines(TextFileSystem& files, const QString& path, QStringList& lines)
{
    std::unique_ptr<TextReader> reader;
    Error e = files.openRead(path, reader);
    for (bool end = false; !e.failed();) {
        if (e = reader->atEnd(end); e.failed() || end)
            break;
        QString line;
        if (e = reader->readLine(line); !e.failed())
            lines << line;
    }
    return e;
}

} // namespace

Restore::Restore(const Platform& platform, ErrorLog& log, const HostConfig& hostConfig,
                 MainView& view)
    : platform_(platform), log_(log), hostConfig_(hostConfig), view_(view)
{
}

Error Restore::pending(std::vector<File>& files) const
{
    // Every restore file: catalogues whose names differ only in what a file name cannot
    // hold share names, and the catalogue the file names inside is the one that counts.
    const QDir logs(platform_.inProgramFolder(QStringLiteral("LOGS")));
    for (const QFileInfo& info :
         logs.entryInfoList({QStringLiteral("Ripristino_*.sql")}, QDir::Files, QDir::Name)) {
        QStringList lines;
        if (Error e = readLines(platform_.files, info.filePath(), lines); e.failed())
            return {e.number, QStringLiteral("Impossibile leggere il file di ripristino %1: %2")
                                  .arg(QDir::toNativeSeparators(info.filePath()), e.description)};
        db::RestoreText text = db::readRestore(lines);
        if (!text.applied && text.catalogue == view_.catalogue())
            files.push_back({info.filePath(), info.lastModified(), std::move(text)});
    }
    // Runs started in the same second are told apart by the disk's clock.
    std::sort(files.begin(), files.end(), [](const File& a, const File& b) {
        return std::tie(a.text.started, a.modified, a.path) >
               std::tie(b.text.started, b.modified, b.path);
    });
    return {};
}

bool Restore::confirmed(const std::vector<File>& files) const
{
    QString text = QStringLiteral("Ripristino del catalogo %1 com'era prima delle conversioni "
                                  "elencate, dalla piu' recente:\n\n")
                       .arg(view_.catalogue());
    for (const File& file : files)
        text += QStringLiteral("- conversione del %1: %2 prodotti (%3)\n")
                    .arg(when(file.text.started))
                    .arg(file.text.products)
                    .arg(QDir::toNativeSeparators(file.path));
    text += QStringLiteral("\nI prodotti cambiati dopo la conversione (codice o distributore) "
                           "restano come sono e sono elencati. Procedere?");
    return platform_.dialogs.message(text, MsgIcon::Question, QStringLiteral("Ripristina"),
                                     MsgButtons::YesNo) == MsgAnswer::Yes;
}

void Restore::execute()
{
    if (!hostConfigTrouble_.isEmpty()) {
        platform_.dialogs.message(hostConfigTrouble_, MsgIcon::Critical);
        return;
    }
    if (!Admission::admitted(platform_, view_, false))
        return;
    std::vector<File> files;
    if (Error e = pending(files); e.failed()) {
        platform_.dialogs.message(e.description, MsgIcon::Critical);
        return;
    }
    if (files.empty()) {
        platform_.dialogs.message(
            QStringLiteral("Nessun file di ripristino da applicare per il catalogo %1.")
                .arg(view_.catalogue()),
            MsgIcon::Information, QStringLiteral("Ripristina"));
        return;
    }
    if (!confirmed(files))
        return;
    view_.setCommand1Enabled(false);
    view_.setWindowEnabled(false);
    view_.setCloseEnabled(true);
    view_.setLabelVisible(ViewLabel::Label7, false);
    view_.setLabelVisible(ViewLabel::Label6, true);
    ViewWait wait(view_, QStringLiteral("il ripristino"));
    wait_ = &wait;
    target_ = db::connectionTarget(hostConfig_.DBServerName, hostConfig_.DBUsername,
                                   hostConfig_.DBPassword, view_.catalogue());
    // This connection holds the catalogue's conversion lock; each file has one of its own.
    db::Connection connection;
    connection.setLockWait(&wait);
    Outcome outcome;
    Error e = connection.open(target_);
    // Not while a conversion changes the catalogue, nor two restores at once.
    bool granted = false;
    std::optional<db::Connection::LockHolder> holder;
    if (!e.failed())
        e = connection.lockConversion(granted, holder);
    if (!e.failed() && !granted) {
        connection.close();
        wait_ = nullptr;
        platform_.dialogs.message(Admission::anotherRunMessage(holder), MsgIcon::Exclamation);
        giveWindowBack();
        return;
    }
    if (!e.failed())
        e = applyAll(files, outcome);
    connection.close();
    connection.setLockWait(nullptr);
    wait_ = nullptr;
    finish(e, outcome);
}

Error Restore::applyAll(const std::vector<File>& files, Outcome& outcome)
{
    for (const File& file : files) {
        view_.setCaption(
            ViewLabel::Label6,
            QStringLiteral(" Ripristino della conversione del %1").arg(when(file.text.started)));
        if (Error e = applyOne(file, outcome); e.failed()) {
            outcome.failedFile = QDir::toNativeSeparators(file.path);
            return e;
        }
        ++outcome.files;
    }
    return {};
}

Error Restore::applyOne(const File& file, Outcome& outcome)
{
    db::Connection connection;
    connection.setLockWait(wait_);
    db::RestoreOutcome applied;
    Error e = connection.open(target_);
    if (!e.failed())
        e = db::applyRestore(connection, file.text, applied, [this](int done, int total) {
            view_.setProgressMaximum(total);
            view_.setProgressValue(done);
            view_.pumpEvents();
        });
    connection.close();
    if (e.failed())
        return e;
    for (const auto& [id, row] : applied.products) {
        // A product an earlier (newer) file named was found as that file found it, and was put
        // back if either file put it back.
        const auto [at, added] = outcome.products.try_emplace(id, row);
        if (!added)
            at->second = {at->second.codeBefore, row.codeAfter, row.left,
                          at->second.asBefore && row.asBefore};
    }
    // Without its mark the file is offered again: applied again it changes nothing. The mark
    // starts a line of its own also where a crash cut the file's last line.
    if (Error mark = platform_.files.appendLine(
            file.path, QStringLiteral("\r\n") + db::appliedMark(platform_.clock.now()));
        mark.failed())
        log_.LogError(mark, kLabel,
                      QStringLiteral("Ripristino applicato, ma non segnato nel file ") +
                          QDir::toNativeSeparators(file.path));
    return {};
}

void Restore::finish(const Error& e, const Outcome& outcome)
{
    // One row per product, also when a file failed: what the files before it did stays.
    RunList list(platform_, view_.catalogue(), platform_.clock.now(),
                 QStringLiteral("Ripristinati"));
    int left = 0, asBefore = 0;
    for (const auto& [id, row] : outcome.products) {
        left += row.left.isEmpty() ? 0 : 1;
        asBefore += row.asBefore ? 1 : 0;
        list.add(db::Product{id, row.codeBefore}, row.codeAfter,
                 !row.left.isEmpty() ? QStringLiteral("Lasciato: ") + row.left
                 : row.asBefore      ? QStringLiteral("Gia' com'era prima della conversione")
                                     : QStringLiteral("Rimesso com'era"));
    }
    list.flush();
    QString numbers =
        QStringLiteral("%1 file applicati: %2 prodotti rimessi come erano, %3 lasciati perche' "
                       "cambiati dopo la conversione.")
            .arg(outcome.files)
            .arg(int(outcome.products.size()) - left - asBefore)
            .arg(left);
    // A file run already, by hand or by a press the program did not see end, finds them so.
    if (asBefore > 0)
        numbers += QStringLiteral(" %1 prodotti erano gia' come prima della conversione: "
                                  "niente da rimettere.")
                       .arg(asBefore);
    const QString listed =
        list.failure().failed() ? QStringLiteral("\nImpossibile scrivere l'elenco dei prodotti: ") +
                                      list.failure().description
        : list.path().isEmpty() ? QString()
                                : QStringLiteral("\nElenco dei prodotti: ") + list.path();
    if (e.failed() && !db::keptOutOfTheLog(e.number))
        log_.LogError(e, kLabel, outcome.failedFile);
    if (e.number == ErrorNumber::Interrupted) {
        // Chiudi during a wait: what was not committed is rolled back; the window closes.
        giveWindowBack();
        view_.unloadWindow();
        return;
    }
    if (e.failed()) {
        QString text = e.number == ErrorNumber::LockTimeout
                           ? Admission::catalogueHeldMessage() + QStringLiteral("\n\n")
                           : QString();
        text += e.description;
        if (!outcome.failedFile.isEmpty())
            text += QStringLiteral("\n\nIl file %1 non e' stato applicato: nessuna sua modifica "
                                   "e' rimasta. Premere di nuovo Ripristina per riprovare.")
                        .arg(outcome.failedFile);
        platform_.dialogs.messageWithDetails(text, numbers + listed, MsgIcon::Critical);
    } else {
        platform_.dialogs.messageWithDetails(QStringLiteral("Ripristino completato."),
                                             numbers + listed, MsgIcon::Information);
    }
    giveWindowBack();
}

void Restore::giveWindowBack()
{
    view_.setProgressValue(0);
    showIdleWindow(view_);
}
