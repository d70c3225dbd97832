#include "conversion/RunReport.h"

#include "conversion/RunList.h"
#include "errors/ErrorLog.h"

RunReport::RunReport(ErrorLog& log, RunList* list, Tense tense)
    : log_(log), list_(list), tense_(tense)
{
}

QString RunReport::moved() const
{
    return QStringLiteral(" e ") + future() + QStringLiteral("spostato al distributore 211");
}

QString RunReport::notMoved() const
{
    return QStringLiteral("; non ") + future() +
           QStringLiteral("spostato: distributore 211 non trovato");
}

QString RunReport::interrupted()
{
    return QStringLiteral("; non spostato al distributore 211: procedura interrotta");
}

void RunReport::listProducts(const RunPlan& plan, const QString& move)
{
    if (!list_)
        return;
    listed_.resize(plan.products.size(), false);
    // Most converted products share these words.
    const QString convertedNow = future() + QStringLiteral("convertito");
    const QString convertedEarlier = QStringLiteral("convertito da una conversione precedente");
    const QString movedNow = convertedNow + move;
    const QString movedEarlier = convertedEarlier + move;
    for (std::size_t p = 0; p < plan.products.size() && p < plan.outcomes.size(); ++p) {
        const ProductOutcome& o = plan.outcomes[p];
        const bool converted = o.kind == Outcome::Converted || o.kind == Outcome::Earlier;
        if (listed_[p] || o.kind == Outcome::Undecided || (converted && move.isEmpty()))
            continue;
        const QString* outcome = &o.reason;
        QString refusedMove;
        if (converted) {
            const bool earlier = o.kind == Outcome::Earlier;
            outcome = earlier ? &movedEarlier : &movedNow;
            const auto refused = plan.refusedMoves.isEmpty()
                                     ? plan.refusedMoves.cend()
                                     : plan.refusedMoves.constFind(plan.products[p].id.toString());
            if (refused != plan.refusedMoves.cend()) {
                refusedMove = (earlier ? convertedEarlier : convertedNow) +
                              QStringLiteral("; spostamento al distributore 211 non riuscito: ") +
                              *refused;
                outcome = &refusedMove;
            }
        }
        list_->add(plan.products[p], o.newCode, *outcome);
        listed_[p] = true;
    }
    list_->flush();
    // A list that cannot be written costs the run nothing but the list; the log keeps why.
    if (list_->failure().failed() && !failureLogged_) {
        log_.LogError(list_->failure(), QStringLiteral("CMDiNVERTI"));
        failureLogged_ = true;
    }
}

QString RunReport::summary(const RunPlan& plan, const QString& restorePath) const
{
    const RunCounts& c = plan.counts;
    const bool planned = tense_ == Tense::Planned;
    const int present = c.linesRead - c.linesStaged - c.linesRefused;
    const int left = c.productsFound - c.converted - c.convertedEarlier;
    QString text =
        QStringLiteral("Tabella dei codici: %1 righe lette, %2 %3 in CodiciCorvel, %4 gia' "
                       "presenti, %5 scartate.\n")
            .arg(c.linesRead)
            .arg(c.linesStaged)
            .arg(planned ? QStringLiteral("da caricare") : QStringLiteral("caricate"))
            .arg(present)
            .arg(c.linesRefused) +
        QStringLiteral("Prodotti del distributore 069: %1 trovati, %2 %3, %4 %5 al 069 (di cui %6 "
                       "senza codice nella tabella).\n")
            .arg(c.productsFound)
            .arg(c.converted)
            .arg(planned ? QStringLiteral("da convertire") : QStringLiteral("convertiti"))
            .arg(left)
            .arg(planned ? QStringLiteral("resteranno") : QStringLiteral("rimasti"))
            .arg(c.noCode);
    if (c.convertedEarlier > 0)
        text += QStringLiteral("Prodotti gia' convertiti da una conversione precedente: %1.\n")
                    .arg(c.convertedEarlier);
    text += (planned ? QStringLiteral("Prodotti da spostare al distributore 211: %1.\n")
                     : QStringLiteral("Prodotti spostati al distributore 211: %1.\n"))
                .arg(c.moved);
    return text + QLatin1Char('\n') + filesText(restorePath);
}

QString RunReport::interruptedSummary(const RunPlan& plan, const QString& restorePath) const
{
    const RunCounts& c = plan.counts;
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
    const QString files = filesText(restorePath);
    return files.isEmpty() ? text : text + QLatin1Char('\n') + files;
}

QString RunReport::filesText(const QString& restorePath) const
{
    QString text;
    if (list_ && list_->failure().failed())
        text += QStringLiteral("Elenco dei prodotti non scritto: ") + list_->failure().description +
                QLatin1Char('\n');
    else if (list_ && list_->rows() > 0)
        text += QStringLiteral("Elenco dei prodotti: ") + list_->path() + QLatin1Char('\n');
    if (!restorePath.isEmpty())
        text += QStringLiteral("File di ripristino: ") + restorePath + QLatin1Char('\n');
    return text;
}
