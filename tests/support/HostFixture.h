#pragma once

#include <QList>
#include <QString>
#include <QVariant>

// Builds embedded host catalogues: <folder>/<name>.sqlite with the host's Prodotti and
// Soggetti tables, codes held as text as the host holds them.
namespace fixture {

struct Subject
{
    int id;
    QString kind; // IDTipoSoggetto, 'DL' for a distributor
    QString fieg; // CodiceFIEG
};

struct ProductRow
{
    int id;
    QString code; // CodiceTestata
    QString title;
    int distributor; // IDDL
    int inforiv = 1;
};

// The usual pair: distributor 069 with IDSoggetto 12, distributor 211 with IDSoggetto 34.
QList<Subject> standardSubjects();

// Creates or replaces the catalogue file. Returns its path, or "" on failure.
QString createCatalogue(const QString& folder, const QString& name, const QList<Subject>& subjects,
                        const QList<ProductRow>& products);

// Runs a query on a catalogue file and returns its rows.
QList<QVariantList> select(const QString& file, const QString& sql);
// Runs a statement on a catalogue file; false on failure.
bool exec(const QString& file, const QString& sql);

// Every product as "IDProd|CodiceTestata|IDDL", and every staging row as
// "IdProdMod|CodTestataNuovo|CodTestataVecchio|Titolo|Modificato", in a stable order: a
// snapshot to compare end states with.
QStringList snapshot(const QString& file);

// Why the Linux build's SQL Server path (Qt's QODBC with the registered FreeTDS driver)
// cannot be driven here; empty when it can.
QString freeTdsUnavailable();

} // namespace fixture
