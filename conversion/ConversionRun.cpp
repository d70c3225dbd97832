#include "conversion/ConversionRun.h"

#include "conversion/BatchWriter.h"
#include "conversion/CodeTable.h"
#include "conversion/MainView.h"
#include "conversion/RepaintPacer.h"
#include "conversion/RestoreFile.h"
#include "db/ConnectionString.h"
#include "db/ErrorMap.h"
#include "db/HostCatalog.h"
#include "db/Lookups.h"
#include "errors/ErrorLog.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Downloader.h"
#include "platform/Platform.h"
#include "platform/TextFiles.h"

#include <QHash>
#include <QSet>
#include <algorithm>
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

// The numbers the trap passes on to the file choice or over, without logging them.
bool trapKeepsOutOfTheLog(qint32 number)
{
    return number == ErrorNumber::ObjectNotSet || number == ErrorNumber::FileNotFound ||
           number == ErrorNumber::CommandText;
}

const QString kAnotherRun = QStringLiteral(
    "Un'altra conversione e' in corso su questo database. Attendere che termini, poi "
    "riprovare.");

const QString kCatalogueHeld = QStringLiteral(
    "Un altro programma (per esempio il gestionale) tiene bloccato il database. Chiuderlo o "
    "attendere che termini, poi riprovare.");

// kAnotherRun, and on the embedded engine where its lock file is and who holds it: a lock
// left by a program that died on another PC is never taken over, and support removes it.
QString anotherRunMessage(const std::optional<db::Connection::LockHolder>& holder)
{
    if (!holder)
        return kAnotherRun;
    QString text = kAnotherRun + QStringLiteral("\n\nFile di blocco: ") + holder->file;
    if (holder->pid > 0) {
        text += QStringLiteral("\nPC: ") + holder->host + QStringLiteral("\nProcesso: ") +
                QString::number(holder->pid);
        if (!holder->program.isEmpty())
            text += QStringLiteral(" (") + holder->program + QLatin1Char(')');
    }
    if (holder->since.isValid())
        text += QStringLiteral("\nDal: ") +
                holder->since.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    return text;
}

// Shows the run's waits for a held database on the window, and hears the operator end them.
class ViewWait final : public db::LockWait
{
public:
    explicit ViewWait(MainView& view) : view_(view) { db::setLockWait(this); }
    ~ViewWait() override { db::setLockWait(nullptr); }
    ViewWait(const ViewWait&) = delete;
    ViewWait& operator=(const ViewWait&) = delete;

    bool waiting(int waitedMs, int boundMs) override
    {
        view_.showWait(QStringLiteral("In attesa: il database e' bloccato da un altro "
                                      "programma... (%1 s di %2)\nChiudi interrompe la "
                                      "conversione.")
                           .arg(waitedMs / 1000)
                           .arg((boundMs + 999) / 1000));
        view_.pumpEvents();
        return !view_.closeRequested();
    }
    void waited() override { view_.showWait(QString()); }

private:
    MainView& view_;
};

// A code-table line ready to be staged; key is its old code as a number.
struct StagedLine
{
    QString newCode;
    QString oldCode;
    QString title;
    double key = 0;
};

// A product's conversion: the product and the staging row it takes.
struct Conversion
{
    std::size_t product;
    std::size_t row;
    double key; // the old code as a number
};

} // namespace

ConversionRun::ConversionRun(const Platform& platform, ErrorLog& log, const HostConfig& hostConfig,
                             MainView& view, QString& TabellaCodiciFile)
    : platform_(platform), log_(log), hostConfig_(hostConfig), view_(view),
      TabellaCodiciFile_(TabellaCodiciFile)
{
}

ConversionRun::~ConversionRun() = default;

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

bool ConversionRun::caught(const Error& e)
{
    if (!e.failed())
        return false;
    // The trap is still engaged with the error that sent the run to the file choice.
    if (trapSpent_)
        endWith(e, false);
    switch (e.number) {
    case ErrorNumber::ObjectNotSet:
        trapSpent_ = true;
        throw Diverted{Stage::FileChoice};
    case ErrorNumber::FileNotFound:
        platform_.dialogs.message(QStringLiteral("Impossibile trovare il file"));
        trapSpent_ = true;
        throw Diverted{Stage::FileChoice};
    default:
        if (!trapKeepsOutOfTheLog(e.number))
            log_.LogError(e, kTrapLabel);
        return true;
    }
}

bool ConversionRun::caughtFromDatabase(const Error& e)
{
    // Whatever the batch reports after it, a restore file that failed ends the run: the
    // changes it could not cover were rolled back and no more are made.
    if (restore_ && restore_->failure().failed())
        endWith(restore_->failure(), true);
    const bool trapped = e.number == ErrorNumber::ObjectNotSet ||
                         e.number == ErrorNumber::FileNotFound || db::isRowFault(e.number);
    if (e.failed() && !trapped)
        endWith(e, true);
    return caught(e);
}

void ConversionRun::endWith(const Error& e, bool logIt)
{
    const Error unlogged = logIt ? log_.LogError(e, kTrapLabel) : Error();
    if (e.number == ErrorNumber::Interrupted) {
        // Chiudi during a wait: the batch waiting was rolled back, what was committed stays
        // and the restore file covers it; the window closes as Chiudi does.
        giveWindowBack();
        view_.unloadWindow();
        throw Diverted{Stage::Done};
    }
    // The engine's own words do not tell the operator what to do about a lock.
    QString text = e.number == ErrorNumber::LockTimeout
                       ? kCatalogueHeld + QStringLiteral("\n\n") + e.description
                       : e.description;
    // The log is where support looks; it must not be thought to hold this failure.
    if (unlogged.failed())
        text += QStringLiteral("\n\nNon e' stato possibile scrivere nemmeno il registro degli "
                               "errori: ") +
                unlogged.description;
    platform_.dialogs.message(text, MsgIcon::Critical);
    giveWindowBack();
    throw Diverted{Stage::Done};
}

void ConversionRun::giveWindowBack()
{
    view_.setCommand1Enabled(true);
    view_.setWindowEnabled(true);
    // A stage caption left behind would say the run is still at work.
    view_.setCaption(ViewLabel::Label6, QStringLiteral("Carico del file nella Tabella... "));
    view_.setLabelVisible(ViewLabel::Label6, false);
    view_.setLabelVisible(ViewLabel::Label7, true);
}

void ConversionRun::stopIfClosed()
{
    // The look-up has logged the wait it gave up; that is no distributor not found.
    if (view_.closeRequested())
        endWith({ErrorNumber::Interrupted, QString()}, false);
}

void ConversionRun::execute()
{
    if (!admitted())
        return;
    const ViewWait wait(view_);
    Stage stage = start();
    while (stage != Stage::Done) {
        if (stageHook_)
            stageHook_(stage);
        stage = runStage(stage);
    }
    connection_.close();
    restore_.reset();
    if (stageHook_)
        stageHook_(Stage::Done);
}

ConversionRun::Stage ConversionRun::runStage(Stage stage)
{
    try {
        switch (stage) {
        case Stage::Acquire:
            return acquire();
        case Stage::FileChoice:
            return chooseFile();
        case Stage::Staging:
            return loadStaging();
        case Stage::Rewrite:
            return rewrite();
        case Stage::Reassign:
            return reassign();
        case Stage::Done:
            break;
        }
    } catch (const Diverted& diverted) {
        return diverted.to;
    }
    return Stage::Done;
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

ConversionRun::Stage ConversionRun::start()
{
    view_.setCommand1Enabled(false);
    view_.setWindowEnabled(false);
    view_.setCloseEnabled(true);
    const QDateTime started = platform_.clock.now();
    try {
        // Going on without a connection would fail every later step and still end with
        // "Procedura Completata".
        if (const Error e = connection_.open(connectionTarget()); e.failed())
            endWith(
                hostConfigTrouble_.isEmpty()
                    ? e
                    : Error{e.number, hostConfigTrouble_ + QStringLiteral("\n\n") + e.description},
                !trapKeepsOutOfTheLog(e.number));
        // The two cash desks of one kiosk share the catalogue: one conversion at a time.
        bool granted = false;
        std::optional<db::Connection::LockHolder> holder;
        if (const Error e = connection_.lockConversion(granted, holder); e.failed())
            endWith(e, !trapKeepsOutOfTheLog(e.number));
        if (!granted) {
            platform_.dialogs.message(anotherRunMessage(holder), MsgIcon::Exclamation);
            giveWindowBack();
            return Stage::Done;
        }
        restore_ = std::make_unique<RestoreFile>(platform_, connection_.engine(), view_.catalogue(),
                                                 started);
    } catch (const Diverted& diverted) {
        return diverted.to;
    }
    return Stage::Acquire;
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
        giveWindowBack();
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
    Error indexRefused;
    caughtFromDatabase(catalog.createStagingTable(&indexRefused));
    if (indexRefused.failed())
        log_.LogError(indexRefused, kTrapLabel);

    if (!platform_.files.fileExists(TabellaCodiciFile_)) {
        closeWith(QStringLiteral("FILE NON TROVATO"));
        return Stage::Done;
    }

    std::unique_ptr<TextReader> reader;
    caught(platform_.files.openRead(TabellaCodiciFile_, reader));
    int processed = 0;
    view_.setLabelVisible(ViewLabel::Label6, true);
    view_.setLabelVisible(ViewLabel::Label7, false);

    // The skip rule: an old code already staged, by this file or an earlier run, is not
    // staged again. Without the staged codes it cannot be applied, so the load ends.
    std::vector<db::StagingRow> rows;
    if (caughtFromDatabase(catalog.stagingRows(rows)))
        return Stage::Rewrite;
    QSet<double> staged;
    staged.reserve(qsizetype(rows.size()));
    for (const db::StagingRow& row : rows) {
        if (const std::optional<double> code = CodeTable::sqlNumber(row.oldCode))
            staged.insert(*code);
    }

    BatchWriter<StagedLine, StagedLine> writer(
        connection_, [this](const Error& e) { caughtFromDatabase(e); },
        {.decide = [&staged](const StagedLine& line) -> std::optional<StagedLine> {
             if (staged.contains(line.key))
                 return std::nullopt;
             staged.insert(line.key);
             return line;
         },
         .undo = [&staged](const StagedLine& line) { staged.remove(line.key); },
         .write =
             [&catalog](const std::vector<StagedLine>& lines) {
                 std::vector<db::HostCatalog::NewStagingRow> rows;
                 rows.reserve(lines.size());
                 for (const StagedLine& line : lines)
                     rows.push_back({line.newCode, line.oldCode, line.title});
                 return catalog.insertStagingRows(rows);
             },
         .beforeCommit =
             [this](const std::vector<StagedLine>& lines) {
                 for (const StagedLine& line : lines)
                     restore_->script().stagingInsert(line.newCode, line.oldCode);
                 return restore_->write();
             }});

    RepaintPacer pacer(platform_.clock);
    const auto show = [&] {
        if (processed > 0)
            view_.setCaption(ViewLabel::LabelFatti, counter(processed, " - Elaborati"));
    };
    // A stream that fails to say whether it is at its end, or to give a line, ends the
    // load: going round again would never end.
    while (reader) {
        bool end = true;
        if (caught(reader->atEnd(end)) || end)
            break;
        QString line;
        if (caught(reader->readLine(line)))
            break;
        if (pacer.due()) {
            show();
            view_.pumpEvents();
        }
        if (CodeTable::isBlankLine(line))
            continue;

        // Every data line counts, staged or not.
        ++processed;
        const CodeTable::Line columns = CodeTable::parseLine(line);
        if (columns.shape != CodeTable::Line::Shape::Complete)
            caught(CodeTable::missingTabError());
        // Without its old code, or with a code no staging row can hold, a line is not staged;
        // with three TABs it is.
        if (columns.staged()) {
            const QString oldCode = CodeTable::normalisedCode(columns.oldCode);
            caughtFromDatabase(writer.add({CodeTable::normalisedCode(columns.newCode), oldCode,
                                           CodeTable::stagedTitle(columns.title),
                                           *CodeTable::sqlNumber(oldCode)}));
        }
    }
    caughtFromDatabase(writer.flush());
    show();
    return Stage::Rewrite;
}

ConversionRun::Stage ConversionRun::rewrite()
{
    const QString distributor =
        db::FIEGDLCodiceGet(connectionTarget(), QStringLiteral("069"), log_);
    stopIfClosed();
    view_.setCaption(ViewLabel::Label6, QStringLiteral(" Aggiornamento Codici Titoli"));
    if (distributor.isEmpty()) {
        closeWith(QStringLiteral("Codice Fieg 069 non trovato!"),
                  QStringLiteral("Procedura Terminata"));
        return Stage::Done;
    }

    // Products and staging rows are read once; a list that cannot be read ends the pass, as
    // carrying on blind could give a product a second new code.
    db::HostCatalog catalog(connection_);
    std::vector<db::Product> products;
    if (caughtFromDatabase(catalog.productsOf(distributor, products)))
        return Stage::Reassign;
    std::vector<db::StagingRow> rows;
    if (caughtFromDatabase(catalog.stagingRows(rows)))
        return Stage::Reassign;

    // A product a staging row already names was converted before; the rows not yet applied
    // wait for a product by old code, the first in CodTestataVecchio order first.
    QSet<qint64> applied;
    // Free rows by old code, CodTestataVecchio order kept within a code; each code takes its
    // rows in order from next on, and a batch rolled back gives them back in reverse order.
    std::vector<std::pair<double, std::size_t>> byCode;
    byCode.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        bool isId = false;
        const qint64 id = rows[i].productId.toLongLong(&isId);
        if (isId && !rows[i].productId.isNull())
            applied.insert(id);
        bool isFlag = false;
        const bool isFree = rows[i].applied.toInt(&isFlag) == 0 && isFlag;
        const std::optional<double> code = CodeTable::sqlNumber(rows[i].oldCode);
        if (isFree && code)
            byCode.push_back({*code, i});
    }
    std::stable_sort(byCode.begin(), byCode.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    struct FreeRows
    {
        std::size_t next;
        std::size_t end;
    };
    QHash<double, FreeRows> free;
    free.reserve(qsizetype(byCode.size()));
    for (std::size_t k = 0; k < byCode.size(); ++k) {
        if (k > 0 && byCode[k - 1].first == byCode[k].first)
            free[byCode[k].first].end = k + 1;
        else
            free.insert(byCode[k].first, {k, k + 1});
    }

    int modified = 0;
    int processed = 0;
    int position = 0;
    view_.setProgressMaximum(static_cast<int>(products.size()));
    view_.setProgressValue(0);

    BatchWriter<std::size_t, Conversion> writer(
        connection_, [this](const Error& e) { caughtFromDatabase(e); },
        {.decide = [&](std::size_t p) -> std::optional<Conversion> {
             // A code that is no number matches no row.
             const std::optional<double> code = CodeTable::sqlNumber(products[p].code);
             if (!code)
                 return std::nullopt;
             const auto it = free.find(*code);
             if (it == free.end() || it->next == it->end)
                 return std::nullopt;
             return Conversion{p, byCode[it->next++].second, *code};
         },
         .undo = [&](const Conversion& c) { --free[c.key].next; },
         .write =
             [&](const std::vector<Conversion>& conversions) {
                 std::vector<db::HostCatalog::Conversion> batch;
                 batch.reserve(conversions.size());
                 for (const Conversion& c : conversions)
                     batch.push_back({&products[c.product], &rows[c.row]});
                 return catalog.applyConversions(batch);
             },
         .written = [&](const Conversion&) { ++modified; },
         .beforeCommit =
             [&](const std::vector<Conversion>& conversions) {
                 for (const Conversion& c : conversions) {
                     restore_->script().productCode(products[c.product]);
                     restore_->script().stagingMark(rows[c.row], products[c.product].id);
                 }
                 return restore_->write();
             }});

    RepaintPacer pacer(platform_.clock);
    const auto show = [&] {
        if (processed > 0)
            view_.setCaption(ViewLabel::LabelFatti, counter(processed, " - Elaborati"));
        if (modified > 0)
            view_.setCaption(ViewLabel::LabelModificati, counter(modified, " - Modificati"));
        view_.setProgressValue(position);
    };
    for (std::size_t p = 0; p < products.size(); ++p) {
        bool isId = false;
        const qint64 id = products[p].id.toLongLong(&isId);
        if (!isId || !applied.contains(id)) {
            ++processed;
            caughtFromDatabase(writer.add(p));
        }
        ++position;
        if (pacer.due()) {
            show();
            view_.pumpEvents();
        }
    }
    caughtFromDatabase(writer.flush());
    show();
    return Stage::Reassign;
}

ConversionRun::Stage ConversionRun::reassign()
{
    const QString distributor =
        db::FIEGDLCodiceGet(connectionTarget(), QStringLiteral("211"), log_);
    stopIfClosed();
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
    caughtFromDatabase(catalog.appliedProducts(productIds));
    view_.setProgressMaximum(static_cast<int>(productIds.size()));
    view_.setProgressValue(0);
    // The products' distributors go to the restore file before any moves; without them no
    // product is moved, the run says why, and a later run moves them.
    std::vector<db::ProductDistributor> before;
    if (const Error e = catalog.appliedProductDistributors(before); e.failed())
        endWith(e, !trapKeepsOutOfTheLog(e.number));
    for (const db::ProductDistributor& product : before) {
        if (product.distributorId.isNull() || product.distributorId.toString() != distributor)
            restore_->script().productDistributor(product.id, product.distributorId);
    }
    caughtFromDatabase(restore_->write());
    // One statement moves them all; when the engine refuses one product, they are moved one
    // by one so that it costs itself alone, each covered by the lines just written.
    const Error all = catalog.assignDistributor(distributor);
    if (!db::isRowFault(all.number)) {
        caughtFromDatabase(all);
    } else {
        BatchWriter<QVariant, QVariant> writer(
            connection_, [this](const Error& e) { caughtFromDatabase(e); },
            {.decide = [](const QVariant& id) { return std::optional<QVariant>(id); },
             .write =
                 [&](const std::vector<QVariant>& ids) {
                     for (const QVariant& id : ids) {
                         if (Error e = catalog.assignDistributor(id, distributor); e.failed())
                             return e;
                     }
                     return Error();
                 }});
        for (const QVariant& id : productIds)
            caughtFromDatabase(writer.add(id));
        caughtFromDatabase(writer.flush());
    }
    view_.setProgressValue(static_cast<int>(productIds.size()));
    connection_.close();
    closeWith(QStringLiteral("Procedura Completata"));
    return Stage::Done;
}
