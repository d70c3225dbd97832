#include "conversion/RunList.h"

#include "conversion/RunFile.h"
#include "db/HostCatalog.h"
#include "platform/Platform.h"
#include "platform/TextFiles.h"

#include <QDir>
#include <QStringList>

namespace {

// A field as Excel reads it: quoted when it holds the separator, a quote or a line end.
QString field(const QString& value)
{
    if (!value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('"')) &&
        !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')))
        return value;
    return QLatin1Char('"') + QString(value).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

} // namespace

RunList::RunList(const Platform& platform, QString catalogue, QDateTime started, QString prefix)
    : platform_(platform), catalogue_(std::move(catalogue)), started_(std::move(started)),
      prefix_(std::move(prefix))
{
}

RunList::~RunList()
{
    if (writer_)
        writer_->close();
}

QString RunList::path() const
{
    return QDir::toNativeSeparators(path_);
}

void RunList::add(const db::Product& product, const QString& newCode, const QString& outcome)
{
    if (failure_.failed())
        return;
    Error e = writer_ ? Error() : create();
    if (!e.failed())
        e = writer_->writeLine(QStringList{field(product.id.toString()), field(product.title),
                                           field(product.code), field(newCode), field(outcome)}
                                   .join(QLatin1Char(';')));
    if (e.failed()) {
        failure_ = e;
        writer_.reset();
        return;
    }
    ++rows_;
}

void RunList::flush()
{
    if (!writer_ || failure_.failed())
        return;
    if (Error e = writer_->sync(); e.failed()) {
        failure_ = e;
        writer_.reset();
    }
}

Error RunList::create()
{
    Error e = createRunFile(platform_, prefix_, catalogue_, started_, QStringLiteral("csv"),
                            Encoding::Utf8WithBom, path_, writer_);
    if (e.failed())
        return e;
    return writer_->writeLine(QStringLiteral("IDProd;Testata;Codice vecchio;Codice nuovo;Esito"));
}
