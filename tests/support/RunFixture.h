#pragma once

#include "conversion/ConversionRun.h"
#include "errors/ErrorLog.h"
#include "tests/support/Fakes.h"
#include "tests/support/HostFixture.h"

#include <functional>

// A program folder whose host catalogue MIRKEL2012 lies in its db/ folder, and a conversion
// run to drive over it headless.
class RunFixture
{
public:
    explicit RunFixture(const QList<fixture::ProductRow>& products,
                        const QList<fixture::Subject>& subjects = fixture::standardSubjects());

    // Writes the code table where the run looks for its local copy.
    void table(const QByteArray& bytes);
    void run(std::function<void(ConversionRun::Stage)> hook = {});
    // "Anteprima".
    void preview();

    // "IDProd|CodiceTestata|IDDL" of one product, "" when there is none.
    QString product(int id) const;
    // "IdProdMod|CodTestataNuovo|CodTestataVecchio|Titolo|Modificato", in insertion order.
    QStringList staging() const;
    QStringList logLines() const { return tp.logMessages(); }

    TestPlatform tp;
    ErrorLog log;
    HostConfig config;
    FakeView view;
    QString TabellaCodiciFile;
    QString catalogue;
};
