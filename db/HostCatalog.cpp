#include "db/HostCatalog.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <charconv>
#include <functional>
#include <optional>
#include <unordered_map>

namespace db {

namespace {

// The staging table as the host's SQL Server has always created it, one batch; then the
// index, which leaves the columns as they were.
const QString kStagingDdlSqlServer = QStringLiteral(
    "SET ANSI_NULLS ON "
    "SET QUOTED_IDENTIFIER ON "
    "IF NOT EXISTS (SELECT * FROM dbo.sysobjects WHERE id = OBJECT_ID(N'[dbo].[CodiciCorvel]') "
    "AND OBJECTPROPERTY(id, N'IsUserTable') = 1) "
    "CREATE TABLE [dbo].[CodiciCorvel]( "
    "[IdProdMod] [int] NULL, "
    "[CodTestataNuovo] [nchar](9) NULL, "
    "[CodTestataVecchio] [nchar](9) NULL, "
    "[Titolo] [nchar](50) NULL, "
    "[Modificato] [int] NULL "
    ") ON [PRIMARY] ");
const QString kStagingIndexSqlServer = QStringLiteral(
    "IF NOT EXISTS (SELECT * FROM dbo.sysindexes WHERE name = N'IX_CodiciCorvel_CodTestataVecchio' "
    "AND id = OBJECT_ID(N'[dbo].[CodiciCorvel]')) "
    "CREATE INDEX [IX_CodiciCorvel_CodTestataVecchio] ON [dbo].[CodiciCorvel] "
    "([CodTestataVecchio])");

// SQL Server 2005: the first version with UPDATE TOP.
constexpr int kUpdateTop = 9;

// The same table on the embedded engine. The checks reject what SQL Server would truncate,
// with its wording.
const QString kStagingDdlSqlite[] = {
    QStringLiteral(
        "CREATE TABLE IF NOT EXISTS CodiciCorvel ("
        "IdProdMod int NULL, "
        "CodTestataNuovo nchar(9) NULL CONSTRAINT \"String or binary data would be truncated\" "
        "CHECK (length(CodTestataNuovo) <= 9), "
        "CodTestataVecchio nchar(9) NULL CONSTRAINT \"String or binary data would be truncated\" "
        "CHECK (length(CodTestataVecchio) <= 9), "
        "Titolo nchar(50) NULL CONSTRAINT \"String or binary data would be truncated\" "
        "CHECK (length(Titolo) <= 50), "
        "Modificato int NULL)"),
    QStringLiteral("CREATE INDEX IF NOT EXISTS IX_CodiciCorvel_CodTestataVecchio "
                   "ON CodiciCorvel (CodTestataVecchio)"),
};

// Titolo nchar(50).
constexpr qsizetype kTitleWidth = 50;

// A text column as the host reads it: Null as "".
QString textOf(const QVariant& value)
{
    return value.isNull() ? QString() : value.toString();
}

} // namespace

Error HostCatalog::createStagingTable(Error* indexRefused)
{
    if (!sqlite()) {
        if (Error e = c_.execute(kStagingDdlSqlServer); e.failed())
            return e;
        // Creating an index takes ALTER permission on the table, which the table itself never
        // needed: without it the run goes on as it always did, slower.
        Error e = c_.execute(kStagingIndexSqlServer);
        if (e.number == ErrorNumber::AccessDenied) {
            if (indexRefused)
                *indexRefused = e;
            return {};
        }
        return e;
    }
    for (const QString& sql : kStagingDdlSqlite) {
        if (Error e = c_.execute(sql); e.failed())
            return e;
    }
    return {};
}

Error HostCatalog::stagingTableExists(bool& exists)
{
    exists = false;
    Rows rows;
    const QString sql =
        sqlite() ? QStringLiteral("SELECT count(*) AS n FROM sqlite_master WHERE type = 'table' "
                                  "AND name = 'CodiciCorvel' COLLATE NOCASE")
                 : QStringLiteral("SELECT COUNT(*) AS n FROM dbo.sysobjects WHERE id = "
                                  "OBJECT_ID(N'[dbo].[CodiciCorvel]') AND OBJECTPROPERTY(id, "
                                  "N'IsUserTable') = 1");
    if (Error e = c_.query(sql, {}, rows, 1); e.failed())
        return e;
    exists = !rows.eof() && rows.value(QStringLiteral("n")).toInt() > 0;
    return {};
}

Error HostCatalog::titleRefusal(Engine engine, const QString& title)
{
    // nchar counts UTF-16 code units on SQL Server; the embedded engine's check counts
    // characters.
    qsizetype length = title.size();
    if (engine == Engine::Sqlite)
        length -=
            std::count_if(title.begin(), title.end(), [](QChar c) { return c.isLowSurrogate(); });
    if (length <= kTitleWidth)
        return {};
    return {
        ErrorNumber::Truncation,
        QStringLiteral("titolo di %1 caratteri, ne sono ammessi %2").arg(length).arg(kTitleWidth)};
}

Error HostCatalog::stagingRows(std::vector<StagingRow>& rows)
{
    rows.clear();
    // The embedded engine's row identity comes first; SQL Server's table has none.
    const bool embedded = sqlite();
    const QString sql = embedded ? QStringLiteral("SELECT rowid, IdProdMod, CodTestataNuovo, "
                                                  "CodTestataVecchio, Modificato FROM CodiciCorvel "
                                                  "ORDER BY CodTestataVecchio, rowid")
                                 : QStringLiteral("SELECT IdProdMod, CodTestataNuovo, "
                                                  "CodTestataVecchio, Modificato FROM CodiciCorvel "
                                                  "ORDER BY CodTestataVecchio");
    const int first = embedded ? 1 : 0;
    const Error e = c_.forEach(sql, {}, [&](const QSqlQuery& q) {
        rows.push_back({embedded ? q.value(0) : QVariant(), q.value(first),
                        textOf(q.value(first + 1)), textOf(q.value(first + 2)),
                        q.value(first + 3)});
    });
    if (e.failed()) {
        rows.clear();
        return e;
    }
    if (embedded)
        return {};
    // Codes compared as SQL Server compares them, trailing blanks aside.
    std::unordered_map<QString, std::vector<std::size_t>> byCodes;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].applied.toInt() == 0)
            byCodes[rows[i].oldCode.trimmed() + QLatin1Char('\t') + rows[i].newCode.trimmed()]
                .push_back(i);
    }
    for (const auto& [codes, same] : byCodes) {
        if (same.size() > 1) {
            for (std::size_t i : same)
                rows[i].twin = true;
        }
    }
    return {};
}

namespace {

// "(0,?,?,?,0),(0,?,?,?,0)": a VALUES list of rows, each the row given.
QString valuesList(const QString& row, std::size_t rows)
{
    QString list;
    list.reserve(qsizetype(rows * (row.size() + 1)));
    for (std::size_t i = 0; i < rows; ++i) {
        if (i > 0)
            list += QLatin1Char(',');
        list += row;
    }
    return list;
}

// "SELECT ? AS a,? AS b UNION ALL SELECT ?,?": rows of values as a table, the first row
// naming the columns. SQL Server takes a VALUES list of several rows only from 2008 on; a
// SQL Server 2005 refuses it as a whole, and would refuse each row again as it is retried.
QString selectRows(const QString& first, const QString& row, std::size_t rows)
{
    QString list = QStringLiteral("SELECT ") + first;
    const QString next = QStringLiteral(" UNION ALL SELECT ") + row;
    list.reserve(qsizetype(list.size() + rows * next.size()));
    for (std::size_t i = 1; i < rows; ++i)
        list += next;
    return list;
}

// A value of a row of a table of values: a text, or any other value.
struct Cell
{
    Cell(const QString& text) : text(&text) {}
    Cell(const QVariant& value) : value(&value) {}
    QVariant variant() const { return text ? QVariant(*text) : *value; }
    const QString* text = nullptr;
    const QVariant* value = nullptr;
};
using Row = std::initializer_list<Cell>;
// Hands every row of a table to the function it is given, in order.
using EachRow = std::function<void(const std::function<void(Row)>&)>;

// Appends a JSON string; false when the text holds a NUL.
bool appendJsonText(QString& json, const QString& text)
{
    json += QLatin1Char('"');
    // Codes and titles seldom hold a character to escape: most go in whole.
    if (std::none_of(text.begin(), text.end(),
                     [](QChar c) { return c.unicode() < 0x20 || c == u'"' || c == u'\\'; })) {
        json += text;
    } else {
        for (const QChar c : text) {
            if (c.unicode() == 0)
                return false;
            if (c == u'"' || c == u'\\')
                json += QLatin1Char('\\');
            if (c.unicode() < 0x20)
                json += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                json += c;
        }
    }
    json += QLatin1Char('"');
    return true;
}

// The embedded engine takes a batch's values as one JSON array of rows, read back by
// json_each: one bound value where Qt's driver would spend more on binding each than SQLite
// spends on the whole statement. Integers go as numbers, any other value as its text, written
// straight into the array. SQLite's JSON ends a text at a NUL character, so a batch holding
// one has no JSON form and goes as a VALUES list.
std::optional<QString> jsonRows(std::size_t count, const EachRow& rows)
{
    QString json;
    json.reserve(qsizetype(count) * 48 + 2);
    json += QLatin1Char('[');
    bool whole = true;
    char digits[24];
    rows([&](Row row) {
        json += json.size() > 1 ? QLatin1String(",[") : QLatin1String("[");
        for (const Cell& cell : row) {
            if (&cell != row.begin())
                json += QLatin1Char(',');
            if (cell.text) {
                whole = appendJsonText(json, *cell.text) && whole;
            } else if (cell.value->isNull()) {
                json += QLatin1String("null");
            } else if (cell.value->typeId() == QMetaType::Int ||
                       cell.value->typeId() == QMetaType::LongLong) {
                const qlonglong n = cell.value->toLongLong();
                json += QLatin1String(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
            } else {
                whole = appendJsonText(json, cell.value->toString()) && whole;
            }
        }
        json += QLatin1Char(']');
    });
    json += QLatin1Char(']');
    if (!whole)
        return std::nullopt;
    return json;
}

// The same rows as bound values, in order.
QVariantList boundRows(std::size_t count, const EachRow& rows)
{
    QVariantList binds;
    binds.reserve(qsizetype(count) * 3);
    rows([&](Row row) {
        for (const Cell& cell : row)
            binds << cell.variant();
    });
    return binds;
}

const Error kRowTaken{ErrorNumber::RowNotFound,
                      QStringLiteral("La riga di CodiciCorvel non è più disponibile.")};

// Runs a batch that ends by selecting @@ROWCOUNT as n, read in the batch that changed the
// rows: every version has it, and no session option hides it.
Error countedUpdate(Connection& c, const QString& sql, const QVariantList& binds, int& n)
{
    Rows rows;
    if (Error e = c.query(sql, binds, rows, 1); e.failed())
        return e;
    n = rows.eof() ? 0 : rows.value(QStringLiteral("n")).toInt();
    return {};
}

} // namespace

Error HostCatalog::insertStagingRows(const std::vector<NewStagingRow>& rows)
{
    if (rows.empty())
        return {};
    if (sqlite()) {
        const EachRow each = [&rows](const std::function<void(Row)>& add) {
            for (const NewStagingRow& row : rows)
                add({row.newCode, row.oldCode, row.title});
        };
        if (const std::optional<QString> json = jsonRows(rows.size(), each))
            return c_.execute(QStringLiteral("INSERT INTO CodiciCorvel SELECT 0, value ->> 0, "
                                             "value ->> 1, value ->> 2, 0 FROM json_each(?)"),
                              {*json});
    }
    // The driver declares each text by its length, and SQL Server compiles a statement again
    // for every new declaration. It pads an nchar column anyway: a title bound at the
    // column's width stores the same, and every full batch is declared alike.
    const auto title = [this](const QString& t) {
        return sqlite() || t.isNull() ? t : t.leftJustified(kTitleWidth);
    };
    QVariantList binds;
    binds.reserve(qsizetype(rows.size() * 3));
    for (const NewStagingRow& row : rows)
        binds << row.newCode << row.oldCode << title(row.title);
    // SQLite limits a compound SELECT to 500 terms, fewer than its batch.
    const QString row = QStringLiteral("0,?,?,?,0");
    return c_.execute(
        QStringLiteral("INSERT INTO CodiciCorvel ") +
            (sqlite() ? QStringLiteral("VALUES ") +
                            valuesList(QLatin1Char('(') + row + QLatin1Char(')'), rows.size())
                      : selectRows(row, row, rows.size())),
        binds);
}

Error HostCatalog::applyConversions(const std::vector<Conversion>& conversions)
{
    if (conversions.empty())
        return {};
    if (sqlite())
        return applyConversionsEmbedded(conversions);
    // SQL Server: the values bound one by one, in a table of rows.
    QVariantList codes;
    codes.reserve(qsizetype(conversions.size() * 2));
    for (const Conversion& c : conversions)
        codes << c.product->id << c.row->newCode;
    if (Error e = c_.execute(QStringLiteral("UPDATE p SET CodiceTestata = v.code FROM Prodotti AS "
                                            "p JOIN (%1) AS v ON p.IDProd = v.id")
                                 .arg(selectRows(QStringLiteral("? AS id,? AS code"),
                                                 QStringLiteral("?,?"), conversions.size())),
                             codes);
        e.failed())
        return e;

    QVariantList marks;
    std::size_t set = 0;
    for (const Conversion& c : conversions) {
        if (!c.row->twin) {
            marks << c.row->oldCode << c.row->newCode << c.product->id;
            ++set;
        }
    }
    if (set > 0) {
        int marked = 0;
        if (Error e = countedUpdate(
                c_,
                QStringLiteral("UPDATE s SET IdProdMod = v.prod, Modificato = 1 "
                               "FROM CodiciCorvel AS s "
                               "JOIN (%1) AS v ON s.CodTestataVecchio = "
                               "v.oldCode AND s.CodTestataNuovo = v.newCode "
                               "WHERE s.Modificato = 0 SELECT @@ROWCOUNT AS n")
                    .arg(selectRows(QStringLiteral("? AS oldCode,? AS newCode,? AS prod"),
                                    QStringLiteral("?,?,?"), set)),
                marks, marked);
            e.failed())
            return e;
        if (std::size_t(marked) != set)
            return kRowTaken;
    }
    // Rows with a twin: the first free one with the same codes, one statement each. SQL
    // Server 2000 has no UPDATE TOP: its row limit is set back within the same batch.
    const QString update = QStringLiteral(
        "UPDATE %1CodiciCorvel SET IdProdMod=?, Modificato=1 WHERE CodTestataVecchio=? AND "
        "CodTestataNuovo=? AND Modificato=0 ");
    const QString oneTwin =
        c_.serverVersion() >= kUpdateTop
            ? update.arg(QStringLiteral("TOP (1) ")) + QStringLiteral("SELECT @@ROWCOUNT AS n")
            : QStringLiteral("DECLARE @n int SET ROWCOUNT 1 ") + update.arg(QString()) +
                  QStringLiteral("SELECT @n = @@ROWCOUNT SET ROWCOUNT 0 SELECT @n AS n");
    for (const Conversion& c : conversions) {
        if (!c.row->twin)
            continue;
        int marked = 0;
        if (Error e =
                countedUpdate(c_, oneTwin, {c.product->id, c.row->oldCode, c.row->newCode}, marked);
            e.failed())
            return e;
        if (marked != 1)
            return kRowTaken;
    }
    return {};
}

Error HostCatalog::applyConversionsEmbedded(const std::vector<Conversion>& conversions)
{
    // One table j of the batch serves its three statements: a product a, its new code b, and
    // the row it takes, by its identity r when it was read, or else (a row this run staged)
    // as the one free row with its codes o and b.
    const EachRow rows = [&conversions](const std::function<void(Row)>& add) {
        for (const Conversion& c : conversions)
            add({c.product->id, c.row->newCode, c.row->oldCode, c.row->rowId});
    };
    const std::size_t count = conversions.size();
    QString from;
    QVariantList binds;
    if (const std::optional<QString> json = jsonRows(count, rows)) {
        from = QStringLiteral("(SELECT value ->> 0 AS a, value ->> 1 AS b, value ->> 2 AS o, "
                              "value ->> 3 AS r FROM json_each(?))");
        binds = {*json};
    } else {
        from = QStringLiteral("(SELECT column1 AS a, column2 AS b, column3 AS o, column4 AS r "
                              "FROM (VALUES %1))")
                   .arg(valuesList(QStringLiteral("(?,?,?,?)"), count));
        binds = boundRows(count, rows);
    }
    if (Error e = c_.execute(QStringLiteral("UPDATE Prodotti SET CodiceTestata = j.b FROM %1 AS j "
                                            "WHERE Prodotti.IDProd = j.a")
                                 .arg(from),
                             binds);
        e.failed())
        return e;
    // SQLite counts the rows a statement changed, whatever the session.
    const std::size_t byRowid =
        std::count_if(conversions.begin(), conversions.end(),
                      [](const Conversion& c) { return c.row->rowId.isValid(); });
    int marked = 0;
    const auto mark = [&](std::size_t rows, const QString& sql) {
        int n = 0;
        const Error e = rows == 0 ? Error() : c_.execute(sql.arg(from), binds, &n);
        marked += n;
        return e;
    };
    if (Error e = mark(byRowid, QStringLiteral("UPDATE CodiciCorvel SET IdProdMod = j.a, "
                                               "Modificato = 1 FROM %1 AS j WHERE "
                                               "CodiciCorvel.rowid = j.r AND "
                                               "CodiciCorvel.Modificato = 0"));
        e.failed())
        return e;
    if (Error e = mark(count - byRowid,
                       QStringLiteral("UPDATE CodiciCorvel SET IdProdMod = j.a, Modificato = 1 "
                                      "FROM %1 AS j WHERE j.r IS NULL AND "
                                      "CodiciCorvel.CodTestataVecchio = j.o AND "
                                      "CodiciCorvel.CodTestataNuovo = j.b AND "
                                      "CodiciCorvel.Modificato = 0"));
        e.failed())
        return e;
    return std::size_t(marked) == count ? Error() : kRowTaken;
}

Error HostCatalog::productsOf(const QString& distributorId, std::vector<Product>& products)
{
    products.clear();
    const Error e =
        c_.forEach(QStringLiteral("SELECT IDProd, CodiceTestata, Testata, IDDL from Prodotti where "
                                  "inforiv=1 and IDDL= ? ORDER BY CodiceTestata, IDProd"),
                   {distributorId}, [&](const QSqlQuery& q) {
                       const QVariant code = q.value(1);
                       products.push_back({q.value(0), textOf(code), code.isNull(),
                                           textOf(q.value(2)), q.value(3)});
                   });
    if (e.failed())
        products.clear();
    return e;
}

Error HostCatalog::appliedProductDistributors(std::vector<ProductDistributor>& products,
                                              const QString& leaveOut)
{
    products.clear();
    const QString applied =
        QStringLiteral("IDProd IN (SELECT IdProdMod FROM CodiciCorvel WHERE IdProdMod<>0)");
    const QString others =
        QStringLiteral("(IDDL IS NULL OR IDDL<>? OR inforiv IS NULL OR inforiv<>1)");
    QString sql = QStringLiteral("SELECT IDProd, IDDL, CodiceTestata FROM Prodotti WHERE ");
    QVariantList binds;
    if (leaveOut.isEmpty())
        sql += applied;
    else if (sqlite())
        // Nearly every product a row names is left out: SQLite reads the products through
        // their distributor first, and the rows only for those that remain ("+" keeps it from
        // looking up every row's product by its key instead).
        sql += others + QStringLiteral(" AND +") + applied;
    else
        sql += applied + QStringLiteral(" AND ") + others;
    if (!leaveOut.isEmpty())
        binds << leaveOut;
    const Error e = c_.forEach(sql, binds, [&](const QSqlQuery& q) {
        products.push_back({q.value(0), q.value(1), q.value(2)});
    });
    if (e.failed())
        products.clear();
    return e;
}

Error HostCatalog::assignDistributor(const QString& distributorId)
{
    return c_.execute(QStringLiteral("UPDATE Prodotti SET IDDL=? WHERE IDProd IN "
                                     "(SELECT IdProdMod FROM CodiciCorvel WHERE IdProdMod<>0)"),
                      {distributorId});
}

Error HostCatalog::assignDistributor(const QVariant& productId, const QString& distributorId)
{
    return c_.execute(QStringLiteral("UPDATE prodotti SET IDDL=? WHERE idprod=?"),
                      {distributorId, productId});
}

Error HostCatalog::distributorId(const QString& fieg, QString& id)
{
    id.clear();
    Rows rows;
    if (Error e = c_.query(QStringLiteral("SELECT IDSoggetto, IDTipoSoggetto, CodiceFIEG from "
                                          "Soggetti WHERE(IDTipoSoggetto = 'DL') AND (CodiceFIEG "
                                          "LIKE ?)"),
                           {QLatin1Char('%') + fieg + QLatin1Char('%')}, rows, 1);
        e.failed())
        return e;
    if (!rows.bof() && !rows.eof())
        id = rows.text(QStringLiteral("IDSoggetto"));
    return {};
}

Error HostCatalog::productIdForCode(qint32 code, qint32& id)
{
    id = 0;
    const QString sql =
        sqlite() ? QStringLiteral("SELECT * From Prodotti WHERE CAST(Codicetestata AS INTEGER) = ?")
                 : QStringLiteral("SELECT * From Prodotti WHERE Codicetestata = ?");
    Rows rows;
    if (Error e = c_.query(sql, {code}, rows, 1); e.failed())
        return e;
    if (rows.bof() || rows.eof())
        return {};
    bool ok = false;
    id = rows.text(QStringLiteral("IDProd")).toInt(&ok);
    if (!ok)
        return {ErrorNumber::TypeMismatch, QStringLiteral("Tipo non corrispondente")};
    return {};
}

Error HostCatalog::reportProducts(std::vector<ReportProduct>& products)
{
    products.clear();
    Rows rows;
    if (Error e = c_.query(QStringLiteral("SELECT * from Prodotti where inforiv=1"), {}, rows);
        e.failed())
        return e;
    products.reserve(rows.count());
    for (; !rows.eof(); rows.moveNext())
        products.push_back({rows.text(QStringLiteral("CodiceTestata")),
                            rows.text(QStringLiteral("Testata")),
                            rows.value(QStringLiteral("CodiceTestata")).isNull()});
    return {};
}

} // namespace db
