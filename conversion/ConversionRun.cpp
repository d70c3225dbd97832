#include "conversion/ConversionRun.h"

#include "conversion/BatchWriter.h"
#include "conversion/CodeTable.h"
#include "conversion/MainView.h"
#include "conversion/RepaintPacer.h"
#include "conversion/RestoreFile.h"
#include "conversion/RunList.h"
#include "conversion/ViewWait.h"
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

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMap>
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
    const db::Consequence c = db::consequenceOf(number);
    return c == db::Consequence::FileChoice || c == db::Consequence::Unlogged;
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

// A line as a box quotes it: control characters shown as blanks, and not too long.
QString shown(const QString& line)
{
    QString text = line.left(120);
    for (QChar& c : text) {
        if (c.unicode() < 0x20)
            c = QLatin1Char(' ');
    }
    return line.size() > text.size() ? text + QStringLiteral("...") : text;
}

// Logs the code table's refused lines, each naming its line and the file; past kPerCause
// lines of one cause, the rest are counted in one last line.
class LineLog
{
public:
    LineLog(ErrorLog& log, QString fileName) : log_(log), fileName_(std::move(fileName)) {}

    void add(int cause, const Error& e, int line)
    {
        Cause& c = causes_[cause];
        if (++c.count <= kPerCause)
            log_.LogError(e, kTrapLabel, QStringLiteral("riga %1 di %2").arg(line).arg(fileName_));
        else if (c.count == kPerCause + 1)
            c.firstUnlogged = e;
    }

    void finish()
    {
        for (const Cause& c : std::as_const(causes_)) {
            if (c.count > kPerCause)
                log_.LogError(c.firstUnlogged, kTrapLabel,
                              QStringLiteral("e altre %1 righe di %2 con lo stesso errore")
                                  .arg(c.count - kPerCause)
                                  .arg(fileName_));
        }
    }

private:
    static constexpr int kPerCause = 20;
    struct Cause
    {
        int count = 0;
        Error firstUnlogged;
    };
    ErrorLog& log_;
    QString fileName_;
    QMap<int, Cause> causes_;
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
    if (e.failed() && db::consequenceOf(e.number) == db::Consequence::EndsRun)
        endWith(e, true);
    return caught(e);
}

void ConversionRun::endWith(const Error& e, bool logIt)
{
    const Error unlogged = logIt ? log_.LogError(e, kTrapLabel) : Error();
    listProducts(QStringLiteral("; non spostato al distributore 211: procedura interrotta"));
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
    platform_.dialogs.messageWithDetails(text, interruptedSummary(), MsgIcon::Critical);
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
    const ViewWait wait(view_, QStringLiteral("la conversione"));
    Stage stage = start();
    while (stage != Stage::Done) {
        if (stageHook_)
            stageHook_(stage);
        stage = runStage(stage);
    }
    connection_.close();
    restore_.reset();
    list_.reset();
    if (stageHook_)
        stageHook_(Stage::Done);
}

// placeholder until the plan lands
void ConversionRun::preview()
{
    platform_.dialogs.message(QStringLiteral("Anteprima non ancora disponibile."),
                              MsgIcon::Exclamation);
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
        list_ = std::make_unique<RunList>(platform_, view_.catalogue(), started);
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

void ConversionRun::closeWith(const QString& message, const QString& afterDisable,
                              const QString& details)
{
    platform_.dialogs.messageWithDetails(message, details);
    view_.setCommand1Enabled(true);
    view_.setWindowEnabled(false);
    if (!afterDisable.isEmpty())
        platform_.dialogs.message(afterDisable);
    view_.unloadWindow();
}

ConversionRun::Stage ConversionRun::loadStaging()
{
    if (!platform_.files.fileExists(TabellaCodiciFile_)) {
        closeWith(QStringLiteral("FILE NON TROVATO"));
        return Stage::Done;
    }

    // The whole table is read before the catalogue is touched: a table that gives no line to
    // stage (empty, saved in another shape, every line refused) must change nothing.
    std::vector<StagedLine> lines;
    if (!readCodeTable(lines))
        return Stage::Done;

    db::HostCatalog catalog(connection_);
    Error indexRefused;
    caughtFromDatabase(catalog.createStagingTable(&indexRefused));
    if (indexRefused.failed())
        log_.LogError(indexRefused, kTrapLabel);

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
        connection_,
        [this](const StagedLine& line, const Error& e) {
            ++counts_.linesRefused;
            refusedLines_.insert(line.key, QStringLiteral("riga della tabella rifiutata dal "
                                                          "database: ") +
                                               e.description);
            caughtFromDatabase(e);
        },
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
         .written = [this](const StagedLine&) { ++counts_.linesStaged; },
         .beforeCommit =
             [this](const std::vector<StagedLine>& lines) {
                 for (const StagedLine& line : lines)
                     restore_->script().stagingInsert(line.newCode, line.oldCode);
                 return restore_->write();
             }});

    RepaintPacer pacer(platform_.clock);
    for (const StagedLine& line : lines) {
        caughtFromDatabase(writer.add(line));
        if (pacer.due())
            view_.pumpEvents();
    }
    caughtFromDatabase(writer.flush());
    return Stage::Rewrite;
}

bool ConversionRun::readCodeTable(std::vector<StagedLine>& lines)
{
    std::unique_ptr<TextReader> reader;
    caught(platform_.files.openRead(TabellaCodiciFile_, reader, Decoding::AsSaved));
    view_.setLabelVisible(ViewLabel::Label6, true);
    view_.setLabelVisible(ViewLabel::Label7, false);

    const QString fileName = QFileInfo(TabellaCodiciFile_).fileName();
    LineLog refusals(log_, fileName);
    struct Refused
    {
        int number;
        QString line;
        Error why;
    };
    std::optional<Refused> firstRefused;
    int processed = 0;
    int number = 0; // the line's number in the file, blank lines included
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
        ++number;
        if (pacer.due()) {
            show();
            view_.pumpEvents();
        }
        if (CodeTable::isBlankLine(line))
            continue;

        // Every data line counts, staged or not.
        ++processed;
        const CodeTable::Line columns = CodeTable::parseLine(line);
        using Shape = CodeTable::Line::Shape;
        const Error why = columns.shape == Shape::BadCode    ? CodeTable::badCodeError(columns)
                          : columns.shape != Shape::Complete ? CodeTable::missingTabError()
                                                             : Error();
        if (why.failed())
            refusals.add(int(columns.shape), why, number);
        // A line refused for its new code still names its old one: the list tells its
        // product why it kept its code.
        if (columns.shape == Shape::BadCode && columns.badColumn == 1)
            refusedLines_.insert(CodeTable::readNumber(CodeTable::normalisedCode(columns.oldCode)),
                                 QStringLiteral("riga %1 della tabella scartata: %2")
                                     .arg(number)
                                     .arg(why.description));
        // With three TABs a line is still staged; without its old code, or with a column
        // that is no code, it is not.
        if (columns.staged()) {
            const QString oldCode = CodeTable::normalisedCode(columns.oldCode);
            lines.push_back({CodeTable::normalisedCode(columns.newCode), oldCode,
                             CodeTable::stagedTitle(columns.title),
                             *CodeTable::sqlNumber(oldCode)});
        } else if (!firstRefused) {
            // The box says in words what the log numbers.
            firstRefused =
                Refused{number, line,
                        columns.shape == Shape::TooShort
                            ? Error{why.number, QStringLiteral("Mancano le colonne separate da "
                                                               "TAB: ne servono almeno tre.")}
                            : why};
        }
    }
    refusals.finish();
    show();
    counts_.linesRead = processed;
    counts_.linesRefused = processed - int(lines.size());
    if (!lines.empty())
        return true;

    QString text = QStringLiteral("Il file dei codici non contiene righe da caricare:\n") +
                   QDir::toNativeSeparators(TabellaCodiciFile_) + QStringLiteral("\n\n");
    if (firstRefused) {
        text += QStringLiteral("Tutte le %1 righe sono state scartate. Prima riga scartata "
                               "(riga %2):\n\"%3\"\n%4\n\n")
                    .arg(processed)
                    .arg(firstRefused->number)
                    .arg(shown(firstRefused->line), firstRefused->why.description);
    } else {
        text += QStringLiteral("Il file e' vuoto o contiene solo righe vuote.\n\n");
    }
    text += QStringLiteral("Nessun dato e' stato modificato. Controllare il file (colonne "
                           "separate da TAB: codice nuovo, titolo, codice vecchio, ...) e "
                           "riprovare.");
    platform_.dialogs.message(text, MsgIcon::Exclamation);
    view_.setCommand1Enabled(true);
    view_.setWindowEnabled(true);
    return false;
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
    std::vector<db::Product>& products = products_;
    if (caughtFromDatabase(catalog.productsOf(distributor, products)))
        return Stage::Reassign;
    outcomes_.assign(products.size(), ProductOutcome());
    counts_.productsFound = int(products.size());
    std::vector<db::StagingRow> rows;
    if (caughtFromDatabase(catalog.stagingRows(rows)))
        return Stage::Reassign;

    // A product a staging row already names was converted before; the rows not yet applied
    // wait for a product by old code, the first in CodTestataVecchio order first.
    QSet<qint64> applied;
    // Every old code the table holds, applied or not: a product whose code is not among them
    // has no code in the table.
    QSet<double> stagedCodes;
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
        if (code)
            stagedCodes.insert(*code);
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
        connection_,
        [&](const Conversion& c, const Error& e) {
            outcomes_[c.product] = {Outcome::Failed, QString(),
                                    QStringLiteral("non riuscito: ") + e.description};
            caughtFromDatabase(e);
        },
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
         .written =
             [&](const Conversion& c) {
                 ++modified;
                 outcomes_[c.product] = {Outcome::Converted, rows[c.row].newCode, QString()};
             },
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
        } else {
            outcomes_[p].kind = Outcome::Earlier;
            ++counts_.convertedEarlier;
        }
        ++position;
        if (pacer.due()) {
            show();
            view_.pumpEvents();
        }
    }
    caughtFromDatabase(writer.flush());
    show();
    counts_.converted = modified;

    // What became of the products left on 069, now that every batch is written.
    for (std::size_t p = 0; p < products.size(); ++p) {
        ProductOutcome& o = outcomes_[p];
        if (o.kind != Outcome::Undecided)
            continue;
        const std::optional<double> code = CodeTable::sqlNumber(products[p].code);
        if (code && stagedCodes.contains(*code)) {
            o = {Outcome::RowUsed, QString(),
                 QStringLiteral("la riga della tabella per questo codice e' gia' stata usata da "
                                "un altro prodotto")};
        } else if (code && refusedLines_.contains(*code)) {
            o = {Outcome::LineRefused, QString(), refusedLines_.value(*code)};
        } else {
            o = {Outcome::NoCode, QString(), QStringLiteral("codice non presente nella tabella")};
            ++counts_.noCode;
        }
    }
    listProducts();
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
        listProducts(QStringLiteral("; non spostato: distributore 211 non trovato"));
        closeWith(QStringLiteral("Codice Fieg 211 non trovato!"),
                  QStringLiteral("Procedura Terminata"), summary());
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
    QStringList moving;
    for (const db::ProductDistributor& product : before) {
        if (product.distributorId.isNull() || product.distributorId.toString() != distributor) {
            restore_->script().productDistributor(product.id, product.distributorId);
            moving << product.id.toString();
        }
    }
    caughtFromDatabase(restore_->write());
    // One statement moves them all; when the engine refuses one product, they are moved one
    // by one so that it costs itself alone, each covered by the lines just written.
    const Error all = catalog.assignDistributor(distributor);
    if (!db::isRowFault(all.number)) {
        caughtFromDatabase(all);
    } else {
        BatchWriter<QVariant, QVariant> writer(
            connection_,
            [this](const QVariant& id, const Error& e) {
                refusedMoves_.insert(id.toString(), e.description);
                caughtFromDatabase(e);
            },
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
    for (const QString& id : std::as_const(moving))
        counts_.moved += refusedMoves_.contains(id) ? 0 : 1;
    listProducts(QStringLiteral(" e spostato al distributore 211"));
    connection_.close();
    closeWith(QStringLiteral("Procedura Completata"), QString(), summary());
    return Stage::Done;
}

void ConversionRun::listProducts(const QString& move)
{
    if (!list_)
        return;
    listed_.resize(products_.size(), false);
    for (std::size_t p = 0; p < products_.size() && p < outcomes_.size(); ++p) {
        const ProductOutcome& o = outcomes_[p];
        const bool converted = o.kind == Outcome::Converted || o.kind == Outcome::Earlier;
        if (listed_[p] || o.kind == Outcome::Undecided || (converted && move.isEmpty()))
            continue;
        QString outcome = o.reason;
        if (converted) {
            outcome = o.kind == Outcome::Earlier
                          ? QStringLiteral("convertito da una conversione precedente")
                          : QStringLiteral("convertito");
            const auto refused = refusedMoves_.constFind(products_[p].id.toString());
            outcome +=
                refused == refusedMoves_.cend()
                    ? move
                    : QStringLiteral("; spostamento al distributore 211 non riuscito: ") + *refused;
        }
        list_->add(products_[p], o.newCode, outcome);
        listed_[p] = true;
    }
    list_->flush();
    // A list that cannot be written costs the run nothing but the list; the log keeps why.
    if (list_->failure().failed() && !listFailureLogged_) {
        log_.LogError(list_->failure(), kTrapLabel);
        listFailureLogged_ = true;
    }
}

QString ConversionRun::summary() const
{
    const Counts& c = counts_;
    const int present = c.linesRead - c.linesStaged - c.linesRefused;
    const int left = c.productsFound - c.converted - c.convertedEarlier;
    QString text =
        QStringLiteral("Tabella dei codici: %1 righe lette, %2 caricate in CodiciCorvel, %3 gia' "
                       "presenti, %4 scartate.\n")
            .arg(c.linesRead)
            .arg(c.linesStaged)
            .arg(present)
            .arg(c.linesRefused) +
        QStringLiteral("Prodotti del distributore 069: %1 trovati, %2 convertiti, %3 rimasti al "
                       "069 (di cui %4 senza codice nella tabella).\n")
            .arg(c.productsFound)
            .arg(c.converted)
            .arg(left)
            .arg(c.noCode);
    if (c.convertedEarlier > 0)
        text += QStringLiteral("Prodotti gia' convertiti da una conversione precedente: %1.\n")
                    .arg(c.convertedEarlier);
    text += QStringLiteral("Prodotti spostati al distributore 211: %1.\n").arg(c.moved);
    return text + QLatin1Char('\n') + filesText();
}

QString ConversionRun::interruptedSummary() const
{
    const Counts& c = counts_;
    QString text;
    if (c.linesStaged + c.converted + c.moved == 0)
        text = QStringLiteral("Nessun dato e' stato modificato.\n");
    else
        text = QStringLiteral("Prima dell'interruzione sono state salvate: %1 righe caricate in "
                              "CodiciCorvel, %2 prodotti convertiti, %3 prodotti spostati al "
                              "distributore 211. Il file di ripristino le annulla.\n")
                   .arg(c.linesStaged)
                   .arg(c.converted)
                   .arg(c.moved);
    const QString files = filesText();
    return files.isEmpty() ? text : text + QLatin1Char('\n') + files;
}

QString ConversionRun::filesText() const
{
    QString text;
    if (list_ && list_->failure().failed())
        text += QStringLiteral("Elenco dei prodotti non scritto: ") + list_->failure().description +
                QLatin1Char('\n');
    else if (list_ && list_->rows() > 0)
        text += QStringLiteral("Elenco dei prodotti: ") + list_->path() + QLatin1Char('\n');
    if (restore_ && !restore_->path().isEmpty())
        text += QStringLiteral("File di ripristino: ") + restore_->path() + QLatin1Char('\n');
    return text;
}
