#include "report/MissingCodeReport.h"

#include "db/ConnectionString.h"
#include "db/Database.h"
#include "db/HostCatalog.h"
#include "db/HostConfig.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/MainView.h"
#include "platform/Platform.h"
#include "platform/RepaintPacer.h"
#include "platform/Shell.h"
#include "platform/TextFiles.h"
#include "report/CodeTableIndex.h"

#include <QDateTime>
#include <QDir>
#include <memory>
#include <vector>

namespace report {

namespace {

const QString kFolder = QStringLiteral("CodiciMancanti");
const QString kFile = QStringLiteral("CodiciNonPresenti.txt");
const QString kTool = QStringLiteral("MirkelDunso.exe");
const QString kSeparator = QStringLiteral("\u00A7");
const QString kDone = QStringLiteral("Aggiornamento CodiciProdotti Terminato");
const QString kFailed = QStringLiteral("Errore: impossibile esportare i dati");

QString reportLine(const db::ReportProduct& product)
{
    return product.code + kSeparator + product.title + QLatin1Char(' ') + kSeparator;
}

} // namespace

Error ControllaCodiciNonPresentiNelFile(const Platform& platform, const HostConfig& hostConfig,
                                        MainView& view, const QString& TabellaCodiciFile,
                                        ErrorLog* log)
{
    // The connection sets no query time-out: a long product query is waited for.
    db::Connection connection;
    if (Error e =
            connection.open(db::connectionTarget(hostConfig.DBServerName, hostConfig.DBUsername,
                                                 hostConfig.DBPassword, view.catalogue()));
        e.failed())
        return e;

    TextFileSystem& files = platform.files;
    std::unique_ptr<TextWriter> writer;
    const auto fail = [&]() {
        // Whatever was written stays; the close result cannot change the outcome.
        if (writer)
            writer->close();
        platform.dialogs.message(kFailed);
        return Error::none();
    };

    const QString folder = platform.inProgramFolder(kFolder);
    const QString reportFile = folder + QDir::separator() + kFile;
    if (!files.folderExists(folder) && files.createFolder(folder).failed())
        return fail();
    if (files.fileExists(reportFile)) {
        const MsgAnswer answer = platform.dialogs.message(
            QStringLiteral("Il file ") + reportFile + QStringLiteral(" esiste gia, Sovrascrivere?"),
            MsgIcon::Question, QStringLiteral("Conferma"), MsgButtons::YesNo);
        if (answer != MsgAnswer::Yes)
            return Error::none();
        if (files.removeFile(reportFile).failed())
            return fail();
    }
    if (files.openWrite(reportFile, false, writer).failed())
        return fail();

    std::vector<db::ReportProduct> products;
    if (db::HostCatalog(connection).reportProducts(products).failed())
        return fail();

    RepaintPacer pacer(platform.clock);
    const auto step = [&pacer, &view] {
        if (pacer.due())
            view.pumpEvents();
    };
    if (!products.empty()) {
        // Opened for the first product, as a per-product search would; a table that cannot
        // be read fails there and not before.
        const CodeTableIndex table = CodeTableIndex::load(files, TabellaCodiciFile, log, step);
        int missing = 0;
        for (const db::ReportProduct& product : products) {
            const CodeSearch search =
                table.search(ProductCode::fromField(product.code, product.codeNull));
            // The count rises line by line in a search from the top; its last value is
            // what stays on screen, and a search that compares nothing leaves the label.
            if (search.compared > 0)
                view.setCaption(ViewLabel::LabelFatti,
                                QString::number(search.compared) + QStringLiteral(" - Elaborati"));
            if (search.outcome == CodeSearch::Outcome::Failed)
                return fail();
            if (search.outcome == CodeSearch::Outcome::Missing) {
                if (writer->writeLine(reportLine(product)).failed())
                    return fail();
                ++missing;
                view.setCaption(ViewLabel::LabelModificati,
                                QString::number(missing) + QStringLiteral(" - CodiciMancanti"));
            }
            step();
        }
    }

    connection.close();
    // The tool reads the report, so it must be complete and closed before the tool starts.
    const Error closed = writer->close();
    writer.reset();
    if (closed.failed())
        return fail();

    const QString tool = folder + QDir::separator() + kTool;
    if (!platform.shell.startDetached(tool, {QStringLiteral("1")}))
        return fail();
    platform.dialogs.message(kDone);
    return Error::none();
}

} // namespace report
