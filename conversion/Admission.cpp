#include "conversion/Admission.h"

#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/MainView.h"
#include "platform/Platform.h"

namespace Admission {

namespace {

const QDate kWindowStart(2012, 12, 6);
const QDate kWindowEnd(2013, 1, 5);
const QString kWindowStartText = QStringLiteral("06/12/2012");

const QString kAnotherRun = QStringLiteral(
    "Un'altra conversione e' in corso su questo database. Attendere che termini, poi "
    "riprovare.");

} // namespace

bool admitted(const Platform& platform, const MainView& view, bool conversion)
{
    const QDate today = platform.clock.today();
    if (conversion && (today < kWindowStart || today > kWindowEnd)) {
        platform.dialogs.message(
            QStringLiteral("Procedura attivabile solo dopo il cambio gestionale fissata per il ") +
                kWindowStartText,
            MsgIcon::Exclamation, QStringLiteral("Aggiornamento Codici Titoli"));
        return false;
    }
    if (!view.distributorOption(0) && !view.distributorOption(1)) {
        platform.dialogs.message(
            QStringLiteral("Che stai facendo??? Scegli un distributore, non sbagliare!!!!!!!!!!!"));
        return false;
    }
    return true;
}

QString anotherRunMessage(const std::optional<db::Connection::LockHolder>& holder)
{
    if (!holder)
        return kAnotherRun;
    QString text = kAnotherRun + QStringLiteral("\n\nFile di blocco: ") + holder->file;
    if (holder->pid > 0) {
        text += QStringLiteral("\nPC: ") + holder->host + QStringLiteral("\nProcesso: ") +
                QString::number(holder->pid);
        if (!holder->program.isEmpty())
            text += QStringLiteral(" (") + holder->program + QLatin1Char(')');
    }
    if (holder->since.isValid())
        text += QStringLiteral("\nDal: ") +
                holder->since.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    return text;
}

QString catalogueHeldMessage()
{
    return QStringLiteral("Un altro programma (per esempio il gestionale) tiene bloccato il "
                          "database. Chiuderlo o attendere che termini, poi riprovare.");
}

} // namespace Admission
