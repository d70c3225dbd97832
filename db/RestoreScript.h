#pragma once

#include "db/ConnectionString.h"
#include "db/HostCatalog.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace db {

// The text of a run's restore file: statements that put back the rows the run changes, for
// support to run by hand with sqlcmd or Management Studio (sqlite3 on the embedded engine).
// Values are written into the text as literals here, the one place that does so: the file is
// run by people, never by the program. The text is plain ASCII whatever the values hold, so
// no code page can garble it, and it never holds a password.
//
// The file is a header, then blocks, one for each transaction the run commits, each followed
// by a trailer that commits. Only the last trailer may commit: the writer turns the one before
// into a comment of the same length (spentTrailer()) once the next block and trailer are on
// the disk. See RestoreScript.cpp for why a file cut short still runs correctly.
class RestoreScript
{
public:
    // catalogue: the one the run converts; the file refuses to change any other.
    RestoreScript(Engine engine, QString catalogue);

    // Comments saying what the file is and how to run it, and, on SQL Server, the batches that
    // reset the session and check the catalogue.
    QStringList header(const QDateTime& started) const;
    // What follows every block: it commits.
    QStringList trailer() const;
    // What replaces the trailer's first lines, which commit (with, on the embedded engine, the
    // line that opens the next block's transaction), once another block follows: as many
    // bytes, in comments.
    QString spentTrailer() const;
    // The trailer's lines that spentTrailer() covers, as they were: written back over it when
    // the block after it is taken off the file again.
    QString liveTrailer() const;

    // Each call adds the undoing of one change to the block being gathered. A product goes
    // back only where its CodiceTestata and IDDL are both still what the run left; the file's
    // end lists the products it left, and why.
    // The rewrite gave the product newCode; distributorId is its IDDL, which it kept.
    void productCode(const Product& product, const QString& newCode, const QVariant& distributorId);
    // The move took the product, whose code was then product.code, from distributorId to
    // newDistributorId.
    void productDistributor(const Product& product, const QVariant& distributorId,
                            const QVariant& newDistributorId);
    // The staging row, as read, was marked applied to productId.
    void stagingMark(const StagingRow& row, const QVariant& productId);
    // The run inserted this staging row.
    void stagingInsert(const QString& newCode, const QString& oldCode);

    // The block gathered so far, without its trailer: for each kind of change, statements of
    // at most kRowsPerStatement rows, read from a table of values. Empty when nothing was added.
    QStringList takeBlock();

    // The header line that names the catalogue exactly, as a literal; see catalogueNamed().
    static QString catalogueLine();
    // The last trailer's statement that forgets the products it put back, and the query the
    // program runs before it to list them (the file itself lists only the products left):
    // Stato 1 for a product put back, 0 for one found as before the run.
    static QString forgetPutBack(Engine engine);
    static QString listPutBack(Engine engine);

    // A statement of thousands of rows risks running out of stack space in SQL Server's
    // optimizer; the embedded engine takes at most 500 terms in a compound SELECT.
    static constexpr std::size_t kRowsPerStatement = 500;

private:
    // A row's value: a text or any other value, written as its literal, or SQL as it stands.
    struct Field
    {
        Field(const QString& text) : text(&text) {}
        Field(const QVariant& value) : value(&value) {}
        Field(QLatin1String sql) : sql(sql) {}
        const QString* text = nullptr;
        const QVariant* value = nullptr;
        QLatin1String sql;
    };
    QString text(const QString& value) const;
    // The literals are appended where they go: a block holds a few of them for every row.
    void appendLiteral(QString& out, const QVariant& value) const;
    void appendText(QString& out, const QString& value) const;
    // The rows of a table of values, written as they come, one a line, in chunks of at most
    // kRowsPerStatement rows.
    struct Values
    {
        QStringList columns;
        QStringList chunks;
        std::size_t rows = 0;
    };
    // Adds a row of literals, in the order of values.columns.
    void addRow(Values& values, std::initializer_list<Field> row) const;
    // The statements that read each chunk of values as the table v: statement is the text
    // after "WITH v AS (...)" on the embedded engine; on SQL Server, the text before the
    // derived table and the text after it, split at "%1".
    void addStatements(QStringList& block, const Values& values, const QString& statement) const;
    // The session's state, from CONTEXT_INFO's first bytes, into @s; SQL Server 2000 has no
    // CONTEXT_INFO() but every version has the sysprocesses view.
    static QString readState();
    // The lines spentTrailer() turns into comments.
    QStringList committingLines() const;
    // The statements that decide, from the products' rows the blocks gathered, which products
    // go back, put them back, and list what was left.
    QStringList putBack() const;
    Field code(const Product& product) const;

    Engine engine_;
    QString catalogue_;
    Values inserts_, products_, marks_, moves_;
};

} // namespace db
