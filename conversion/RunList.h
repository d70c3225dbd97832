#pragma once

#include "platform/Error.h"

#include <QDateTime>
#include <QString>
#include <memory>

struct Platform;
class TextWriter;
namespace db {
struct Product;
}

// The run's list of distributor 069's products, LOGS/Conversione_<catalogue>_<stamp>.csv in
// the program folder (the restore file's stamp): one row per product as the run found it,
// with what became of it. Made for Excel in an Italian Windows, which opens it by double
// click: UTF-8 with a byte-order mark, fields between ';', a caption row.
//
// Rows are written, and reach the disk, at each flush(). A list that cannot be written never
// stops the run: its first failure sticks, and later rows are dropped; the file keeps the rows
// that reached the disk, and goes when none did.
class RunList
{
public:
    // prefix names the file: "Conversione" for a run, "Anteprima" for its preview.
    RunList(const Platform& platform, QString catalogue, QDateTime started,
            QString prefix = QStringLiteral("Conversione"));
    ~RunList();
    RunList(const RunList&) = delete;
    RunList& operator=(const RunList&) = delete;

    // newCode is empty when the product got none.
    void add(const db::Product& product, const QString& newCode, const QString& outcome);
    // Puts the rows added so far on the disk: the box that names the list may be read, and the
    // program ended, before the list is closed.
    void flush();

    // With native separators; empty until the first row.
    QString path() const;
    int rows() const { return rows_; }
    const Error& failure() const { return failure_; }

private:
    Error create();
    void fail(const Error& e);

    const Platform& platform_;
    QString catalogue_;
    QDateTime started_;
    QString prefix_;
    QString path_;
    std::unique_ptr<TextWriter> writer_;
    QString pending_; // rows added since the last flush, without their last line end
    int rows_ = 0;
    int syncedRows_ = 0;
    qint64 syncedSize_ = 0;
    Error failure_;
};
