#pragma once

#include "db/HostCatalog.h"
#include "platform/Error.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <vector>

// The stages of a conversion run, in their order. A preview stops after Plan.
enum class RunStage { Acquire, FileChoice, Plan, Staging, Rewrite, Reassign, Done };

// A code-table line with both codes, and what the run does with it.
struct PlannedLine
{
    enum class Fate {
        Stage,         // a new row of CodiciCorvel
        AlreadyStaged, // its old code has a row, from an earlier run or an earlier line
        Refused,       // the catalogue would refuse the row; refusal says why
    };
    int number = 0; // the line's number in the file
    QString newCode;
    QString oldCode;
    QString title;  // as staged
    double key = 0; // the old code as a number
    Fate fate = Fate::Stage;
    Error refusal; // in the operator's words
};

// What becomes of a product of distributor 069.
enum class Outcome { Undecided, Converted, Earlier, Failed, NoCode, RowUsed, LineRefused };
struct ProductOutcome
{
    Outcome kind = Outcome::Undecided;
    QString newCode;
    QString reason; // in words, for the list
};

// The numbers of the last box: what the plan will do, then what the apply did.
struct RunCounts
{
    int linesRead = 0;    // data lines of the code table
    int linesStaged = 0;  // rows for CodiciCorvel
    int linesRefused = 0; // lines not staged for a fault of their own
    int productsFound = 0;
    int converted = 0;
    int convertedEarlier = 0; // by an earlier run, still on 069
    int noCode = 0;           // left on 069 without a code in the table
    int moved = 0;            // to distributor 211
};

// What a run will do, decided from what it read before changing anything: every table line's
// fate and every product's outcome. The apply writes it and records in it what the engine
// still refused; the list and the last box are written from it.
struct RunPlan
{
    QString tableFile; // the code table's name, as log lines and the list name it
    std::vector<PlannedLine> lines;
    // Old codes of the lines not staged for a fault of their own, with why: their products
    // are told so.
    QHash<double, QString> refusedLines;

    bool stagingTableExists = false;
    bool rowsRead = false; // without the rows nothing is staged or converted
    // CodiciCorvel as read, then the rows the staging adds, in the file's order.
    std::vector<db::StagingRow> rows;
    std::size_t rowsBefore = 0;  // how many of them were read
    QSet<double> refusedAtApply; // old codes of the lines the engine refused to stage
    // The products applied rows name, with the distributor each has now.
    std::vector<db::ProductDistributor> applied;

    QString distributor069; // "" when there is none
    QString distributor211;
    bool productsRead = false;
    std::vector<db::Product> products; // distributor 069's, in CodiceTestata order
    std::vector<ProductOutcome> outcomes;
    std::vector<bool> toConvert;          // the products the plan converts
    std::vector<std::size_t> rowOf;       // the row of rows each of them takes
    QHash<QString, QString> refusedMoves; // IDProd -> why the engine refused its move
    int appliedRows = -1; // staging rows that name a product after the rewrite; -1 unknown

    RunCounts counts;

    // From the apply on, the counts and outcomes say what the run did, not what it will do.
    void beginApply()
    {
        counts.linesStaged = counts.converted = counts.moved = 0;
        for (std::size_t p = 0; p < outcomes.size(); ++p) {
            if (toConvert[p])
                outcomes[p] = ProductOutcome();
        }
    }
};
