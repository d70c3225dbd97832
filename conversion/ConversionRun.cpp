#include "conversion/ConversionRun.h"

#include "app/core/MainView.h"
#include "conversion/CodeTable.h"
#include "db/ConnectionString.h"
#include "db/HostCatalog.h"
#include "db/Lookups.h"
#include "errors/ErrorLog.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Downloader.h"
#include "platform/Platform.h"
#include "platform/TextFiles.h"

#include <optional>
#include <vector>

namespace {

const QDate kWindowStart(2012, 12, 6);
const QDate kWindowEnd(2013, 1, 5);
const QString kWindowStartText = QStringLiteral("06/12/2012");
const QString kTableName = QStringLiteral("TabellaCodiciVarno.txt");
const QString kTrapLabel = QStringLiteral("CMDiNVERTI");

QString counter(int n, const char* what)
{
    return QString::number(n) + QLatin1String(what);
}

} // namespace

ConversionRun::ConversionRun(const Platform& platform, ErrorLog& log, const HostConfig& hostConfig,
                             MainView& view, QString& TabellaCodiciFile)
    : platform_(platform), log_(log), hostConfig_(hostConfig), view_(view),
      TabellaCodiciFile_(TabellaCodiciFile)
{
}

QString ConversionRun::downloadUrl()
{
    return QStringLiteral(CONVERTI_DOWNLOAD_BASE) + QStringLiteral("/download/TabellaCodici/") +
           kTableName;
}

db::ConnectionTarget ConversionRun::connectionTarget() const
{
    return db::connectionTarget(hostConfig_.DBServerName, hostConfig_.DBUsername,
                                hostConfig_.DBPassword, view_.catalogue());
}

bool ConversionRun::trap(const Error& e)
{
    if (!e.failed())
        return false;
    if (diverted())
        return true;
    if (trapSpent_) {
        fatal_ = e;
        return true;
    }
    switch (e.number) {
    case ErrorNumber::ObjectNotSet:
        trapSpent_ = divertToFileChoice_ = true;
        break;
    case ErrorNumber::FileNotFound:
        platform_.dialogs.message(QStringLiteral("Impossibile trovare il file"));
        trapSpent_ = divertToFileChoice_ = true;
        break;
    case ErrorNumber::CommandText:
        break;
    default:
        log_.LogError(e, kTrapLabel);
        break;
    }
    return true;
}

void ConversionRun::execute()
{
    if (!admitted())
        return;
    if (!start())
        return;

    Stage stage = Stage::Acquire;
    while (stage != Stage::Done) {
        if (stageHook_)
            stageHook_(stage);
        switch (stage) {
        case Stage::Acquire:
            stage = acquire();
            break;
        case Stage::FileChoice:
            stage = chooseFile();
            break;
        case Stage::Staging:
            stage = loadStaging();
            break;
        case Stage::Rewrite:
            stage = rewrite();
            break;
        case Stage::Reassign:
            stage = reassign();
            break;
        case Stage::Done:
            break;
        }
        if (fatal_.failed()) {
            // The trap was already spent on the way to the file choice.
            platform_.dialogs.message(fatal_.description, MsgIcon::Critical);
            view_.setCommand1Enabled(true);
            view_.setWindowEnabled(true);
            stage = Stage::Done;
        } else if (divertToFileChoice_) {
            divertToFileChoice_ = false;
            stage = Stage::FileChoice;
        }
    }
    connection_.close();
    if (stageHook_)
        stageHook_(Stage::Done);
}

bool ConversionRun::admitted()
{
    const QDate today = platform_.clock.today();
    if (today < kWindowStart || today > kWindowEnd) {
        platform_.dialogs.message(
            QStringLiteral("Procedura attivabile solo dopo il cambio gestionale fissata per il ") +
                kWindowStartText,
            MsgIcon::Exclamation, QStringLiteral("Aggiornamento Codici Titoli"));
        return false;
    }
    if (!view_.distributorOption(0) && !view_.distributorOption(1)) {
        platform_.dialogs.message(
            QStringLiteral("Che stai facendo??? Scegli un distributore, non sbagliare!!!!!!!!!!!"));
        return false;
    }
    return true;
}

bool ConversionRun::start()
{
    view_.setCommand1Enabled(false);
    view_.setWindowEnabled(false);
    view_.setCloseEnabled(true);
    const Error e = connection_.open(connectionTarget());
    if (!e.failed())
        return true;
    // Going on without a connection would fail every later step and still end with
    // "Procedura Completata": the failure goes to the log as any other, then the operator
    // is told and gets the window back.
    trap(e);
    divertToFileChoice_ = false;
    platform_.dialogs.message(e.description, MsgIcon::Critical);
    view_.setCommand1Enabled(true);
    view_.setWindowEnabled(true);
    return false;
}

bool ConversionRun::DownloadFile(const QString& URL, const QString& LocalFilename)
{
    return platform_.downloader.download(URL, LocalFilename);
}

ConversionRun::Stage ConversionRun::acquire()
{
    TabellaCodiciFile_ = platform_.inProgramFolder(kTableName);
    bool downloaded = false;
    while (!platform_.files.fileExists(TabellaCodiciFile_)) {
        // A download that reported success but left no file goes to the file choice
        // rather than round again.
        if (downloaded || !DownloadFile(downloadUrl(), platform_.inProgramFolder(kTableName))) {
            if (!downloaded)
                platform_.dialogs.message(
                    QStringLiteral("Errore durante il download il file per la conversione puo' "
                                   "non essere ancora disponibile!"),
                    MsgIcon::Critical);
            return Stage::FileChoice;
        }
        platform_.dialogs.message(QStringLiteral("Download completato con successo"),
                                  MsgIcon::Information);
        downloaded = true;
    }
    return Stage::Staging;
}

ConversionRun::Stage ConversionRun::chooseFile()
{
    const std::optional<QString> chosen =
        platform_.dialogs.openFile(kTableName, platform_.programFolder);
    if (!chosen || *chosen == QStringLiteral("*.txt")) {
        platform_.dialogs.message(QStringLiteral(" Percorso file TabellaCodici non Trovata!"));
        view_.setCommand1Enabled(true);
        view_.setWindowEnabled(true);
        return Stage::Done;
    }
    TabellaCodiciFile_ = *chosen;
    return Stage::Staging;
}

void ConversionRun::closeWith(const QString& message, const QString& afterDisable)
{
    platform_.dialogs.message(message);
    view_.setCommand1Enabled(true);
    view_.setWindowEnabled(false);
    if (!afterDisable.isEmpty())
        platform_.dialogs.message(afterDisable);
    view_.unloadWindow();
}

ConversionRun::Stage ConversionRun::loadStaging()
{
    db::HostCatalog catalog(connection_);
    if (trap(catalog.createStagingTable()) && diverted())
        return Stage::Done;

    if (!platform_.files.fileExists(TabellaCodiciFile_)) {
        closeWith(QStringLiteral("FILE NON TROVATO"));
        return Stage::Done;
    }

    std::unique_ptr<TextReader> reader;
    if (trap(platform_.files.openRead(TabellaCodiciFile_, reader)) && diverted())
        return Stage::Done;
    int processed = 0;
    view_.setLabelVisible(ViewLabel::Label6, true);
    view_.setLabelVisible(ViewLabel::Label7, false);

    // A stream that fails to say whether it is at its end, or to give a line, ends the
    // load: going round again would never end.
    while (reader) {
        bool end = true;
        if (trap(reader->atEnd(end))) {
            if (diverted())
                return Stage::Done;
            break;
        }
        if (end)
            break;
        QString line;
        if (trap(reader->readLine(line))) {
            if (diverted())
                return Stage::Done;
            break;
        }
        if (CodeTable::isBlankLine(line))
            continue;

        const CodeTable::Line columns = CodeTable::parseLine(line);
        if (columns.shape != CodeTable::Line::Shape::Complete) {
            if (trap(CodeTable::missingTabError()) && diverted())
                return Stage::Done;
            // Without its old code a line cannot be staged; with three TABs it can.
            if (columns.shape == CodeTable::Line::Shape::TooShort)
                continue;
        }

        const QString oldCode = CodeTable::normalisedCode(columns.oldCode);
        bool exists = false;
        // A failing look-up lets the insert through, as any failing test lets in the steps
        // it guards.
        if (trap(catalog.stagingRowExists(oldCode, exists))) {
            if (diverted())
                return Stage::Done;
            exists = false;
        }
        if (!exists &&
            trap(catalog.insertStagingRow(CodeTable::normalisedCode(columns.newCode), oldCode,
                                          CodeTable::stagedTitle(columns.title))) &&
            diverted())
            return Stage::Done;

        ++processed;
        view_.setCaption(ViewLabel::LabelFatti, counter(processed, " - Elaborati"));
        view_.pumpEvents();
    }
    return Stage::Rewrite;
}

ConversionRun::Stage ConversionRun::rewrite()
{
    const QString distributor =
        db::FIEGDLCodiceGet(connectionTarget(), QStringLiteral("069"), log_);
    view_.setCaption(ViewLabel::Label6, QStringLiteral(" Aggiornamento Codici Titoli"));
    if (distributor.isEmpty()) {
        closeWith(QStringLiteral("Codice Fieg 069 non trovato!"),
                  QStringLiteral("Procedura Terminata"));
        return Stage::Done;
    }

    db::HostCatalog catalog(connection_);
    std::vector<db::Product> products;
    if (trap(catalog.productsOf(distributor, products)) && diverted())
        return Stage::Done;
    int modified = 0;
    int processed = 0;
    view_.setProgressMaximum(static_cast<int>(products.size()));
    view_.setProgressValue(0);

    int position = 0;
    for (const db::Product& product : products) {
        // A look-up that fails ends the pass: carrying on blind could give a product a
        // second new code.
        bool applied = false;
        if (trap(catalog.isApplied(product.id, applied))) {
            if (diverted())
                return Stage::Done;
            break;
        }
        if (!applied) {
            std::optional<db::StagingRow> row;
            // A code that is not a plain number matches no staging row.
            if (const std::optional<qint64> oldCode = db::plainNumber(product.code)) {
                if (trap(catalog.freeStagingRow(*oldCode, row))) {
                    if (diverted())
                        return Stage::Done;
                    break;
                }
            }
            if (row) {
                if (trap(catalog.applyConversion(product, *row))) {
                    if (diverted())
                        return Stage::Done;
                } else {
                    ++modified;
                    view_.setCaption(ViewLabel::LabelModificati,
                                     counter(modified, " - Modificati"));
                }
            }
            ++processed;
            view_.setCaption(ViewLabel::LabelFatti, counter(processed, " - Elaborati"));
            view_.pumpEvents();
        }
        view_.setProgressValue(++position);
    }
    return Stage::Reassign;
}

ConversionRun::Stage ConversionRun::reassign()
{
    const QString distributor =
        db::FIEGDLCodiceGet(connectionTarget(), QStringLiteral("211"), log_);
    view_.setCaption(ViewLabel::Label6, QStringLiteral(" Modifica codice DL Titoli Varno"));
    if (distributor.isEmpty()) {
        // Writing an empty distributor into every converted product would orphan them; the
        // staging rows stay applied, so a later run moves them once "211" exists.
        closeWith(QStringLiteral("Codice Fieg 211 non trovato!"),
                  QStringLiteral("Procedura Terminata"));
        return Stage::Done;
    }

    db::HostCatalog catalog(connection_);
    std::vector<QVariant> productIds;
    if (trap(catalog.appliedProducts(productIds)) && diverted())
        return Stage::Done;
    view_.setProgressMaximum(static_cast<int>(productIds.size()));
    view_.setProgressValue(0);
    int position = 0;
    for (const QVariant& id : productIds) {
        if (trap(catalog.assignDistributor(id, distributor)) && diverted())
            return Stage::Done;
        view_.setProgressValue(++position);
    }
    connection_.close();
    closeWith(QStringLiteral("Procedura Completata"));
    return Stage::Done;
}
