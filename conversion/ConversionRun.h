#pragma once

#include "db/Database.h"
#include "db/HostCatalog.h"
#include "db/HostConfig.h"
#include "platform/Error.h"

#include <QHash>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class ErrorLog;
class MainView;
class RestoreFile;
class RunList;
struct Platform;

// The changeover run that "Converti codice Testata" starts: admission, code-table
// acquisition, staging load, title-code rewrite and distributor reassignment.
//
// One error trap covers the whole run (caught()): "object not set" and "file not found" send
// the run to the operator's file choice, anything else is logged under "CMDiNVERTI" and the
// run goes on. Once the trap has sent the run to the file choice it is spent: a further error
// ends the run with a message. A database failure that is not one row's own (the engine, the
// connection, or a statement refused for its text) ends the run at once: db::consequenceOf().
//
// The stages read what they need once, decide in memory and write in batches (BatchWriter).
// Every transaction that changes a row is preceded by the statements that undo it, in the
// run's restore file (RestoreFile); a run that cannot write them stops before that change.
class ConversionRun
{
public:
    enum class Stage { Acquire, FileChoice, Staging, Rewrite, Reassign, Done };

    // TabellaCodiciFile is the window's: the run sets it and it keeps its last value.
    ConversionRun(const Platform& platform, ErrorLog& log, const HostConfig& hostConfig,
                  MainView& view, QString& TabellaCodiciFile);
    ~ConversionRun();

    // Runs to one of the exits; returns when the run has ended.
    void execute();
    // "Anteprima": what execute() would do to the catalogue shown, as a list and a box,
    // changing nothing; admitted on any day, and the window stays open and usable.
    void preview();

    // Called as each stage begins (and with Done when the run ends): lets the benchmark time
    // the stages and tests interrupt a run at a given point.
    void setStageHook(std::function<void(Stage)> hook) { stageHook_ = std::move(hook); }

    // What is wrong with the host configuration file, named when the connection then fails.
    void setHostConfigTrouble(QString trouble) { hostConfigTrouble_ = std::move(trouble); }

    // The address the code table is downloaded from.
    static QString downloadUrl();

private:
    // A code-table line ready to be staged; key is its old code as a number.
    struct StagedLine
    {
        QString newCode;
        QString oldCode;
        QString title;
        double key = 0;
    };

    // What became of a product of 069, for the run's list.
    enum class Outcome { Undecided, Converted, Earlier, Failed, NoCode, RowUsed, LineRefused };
    struct ProductOutcome
    {
        Outcome kind = Outcome::Undecided;
        QString newCode;
        QString reason; // in words, for the list
    };

    // What the run did, for its last box.
    struct Counts
    {
        int linesRead = 0;    // data lines of the code table
        int linesStaged = 0;  // rows committed to CodiciCorvel
        int linesRefused = 0; // lines not staged for a fault of their own
        int productsFound = 0;
        int converted = 0;
        int convertedEarlier = 0; // by an earlier run, still on 069
        int noCode = 0;           // left on 069 without a code in the table
        int moved = 0;            // committed to distributor 211
    };

    // Thrown by the trap when the run leaves the failing step for another stage.
    struct Diverted
    {
        Stage to;
    };

    bool admitted();
    Stage start();
    Stage runStage(Stage stage);
    Stage acquire();
    Stage chooseFile();
    Stage loadStaging();
    // Reads and checks the whole code table. Without a line to stage it tells the operator,
    // gives the window back and returns false.
    bool readCodeTable(std::vector<StagedLine>& lines);
    Stage rewrite();
    Stage reassign();

    bool DownloadFile(const QString& URL, const QString& LocalFilename);
    db::ConnectionTarget connectionTarget() const;

    // Hands a step's failure to the trap. Returns whether the step failed, when the run goes
    // on with the next step; otherwise throws Diverted.
    bool caught(const Error& e);
    // The same for a step of the database, whose failures other than a row's own end the run,
    // as does any step once the restore file has failed.
    bool caughtFromDatabase(const Error& e);
    // Ends the run with one critical message and the window usable again; a wait the
    // operator gave up (ErrorNumber::Interrupted) ends it without one, closing the window.
    [[noreturn]] void endWith(const Error& e, bool logIt);
    // Command1 and the window enabled, the stage caption as at start.
    void giveWindowBack();
    // Ends the run when the operator gave up a wait inside a step that reports no error.
    void stopIfClosed();

    // Exits that close the window: the messages, then Command1 enabled, the window disabled,
    // an optional last message, and the window unloaded.
    void closeWith(const QString& message, const QString& afterDisable = QString(),
                   const QString& details = QString());

    // Adds to the list the products whose outcome is final and not yet listed; a converted
    // product is final once move says what became of its move (" e spostato al ...").
    void listProducts(const QString& move = QString());
    // The numbers of the last box, and the paths of the list and of the restore file.
    QString summary() const;
    // What a run that ends early had committed, and where its files are.
    QString interruptedSummary() const;
    QString filesText() const;

    const Platform& platform_;
    ErrorLog& log_;
    const HostConfig& hostConfig_;
    MainView& view_;
    QString& TabellaCodiciFile_;
    std::function<void(Stage)> stageHook_;

    db::Connection connection_;
    std::unique_ptr<RestoreFile> restore_;
    std::unique_ptr<RunList> list_;
    Counts counts_;
    // Old codes of the lines the load refused, with why: their products are told so.
    QHash<double, QString> refusedLines_;
    std::vector<db::Product> products_; // distributor 069's, as the rewrite read them
    std::vector<ProductOutcome> outcomes_;
    std::vector<bool> listed_;
    bool listFailureLogged_ = false;
    QHash<QString, QString> refusedMoves_; // IDProd -> why the engine refused its move
    bool trapSpent_ = false;
    QString hostConfigTrouble_;
};
