#include "tests/support/RunFixture.h"

#include <QDir>

RunFixture::RunFixture(const QList<fixture::ProductRow>& products,
                       const QList<fixture::Subject>& subjects)
    : log(tp.platform.programFolder, tp.clock, tp.files)
{
    const QString folder = tp.path(QStringLiteral("db"));
    QDir().mkpath(folder);
    config.DBServerName = QStringLiteral("sqlite:") + folder;
    config.DBUsername = QStringLiteral("sa");
    config.DBPassword = QStringLiteral("secret");
    catalogue = fixture::createCatalogue(folder, QStringLiteral("Mirkel2012"), subjects, products);
}

void RunFixture::table(const QByteArray& bytes)
{
    tp.writeFile(QStringLiteral("TabellaCodiciVarno.txt"), bytes);
}

void RunFixture::run(std::function<void(ConversionRun::Stage)> hook)
{
    ConversionRun r(tp.platform, log, config, view, TabellaCodiciFile);
    r.setStageHook(std::move(hook));
    r.execute();
}

void RunFixture::preview()
{
    ConversionRun r(tp.platform, log, config, view, TabellaCodiciFile);
    r.preview();
}

QString RunFixture::product(int id) const
{
    const auto rows = fixture::select(
        catalogue,
        QStringLiteral("SELECT IDProd, CodiceTestata, IDDL FROM Prodotti WHERE IDProd=%1").arg(id));
    if (rows.isEmpty())
        return {};
    return rows[0][0].toString() + '|' + rows[0][1].toString() + '|' + rows[0][2].toString();
}

QStringList RunFixture::staging() const
{
    QStringList lines;
    for (const QVariantList& r : fixture::select(
             catalogue, QStringLiteral("SELECT IdProdMod, CodTestataNuovo, CodTestataVecchio, "
                                       "Titolo, Modificato FROM CodiciCorvel ORDER BY rowid")))
        lines.append(r[0].toString() + '|' + r[1].toString() + '|' + r[2].toString() + '|' +
                     r[3].toString() + '|' + r[4].toString());
    return lines;
}
