#include "db/OdbcDiagnostics.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <cstring>

namespace db {

QString odbcDiagnosticNumbers(const QVariant& handle, bool statement)
{
    // Qt names the type after what SQLHANDLE stands for.
    if (!handle.isValid() || (std::strcmp(handle.typeName(), "SQLHANDLE") != 0 &&
                              std::strcmp(handle.typeName(), "void*") != 0))
        return {};
    const SQLHANDLE h = *static_cast<const SQLHANDLE*>(handle.constData());
    if (!h)
        return {};
    QString numbers;
    // Asking for a record does not clear it: the records stay until the handle's next call.
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6];
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        const SQLRETURN r = SQLGetDiagRecW(statement ? SQL_HANDLE_STMT : SQL_HANDLE_DBC, h, record,
                                           state, &native, nullptr, 0, &length);
        if (r != SQL_SUCCESS && r != SQL_SUCCESS_WITH_INFO)
            break;
        if (!numbers.isEmpty())
            numbers += QLatin1Char(' ');
        numbers += QString::number(native);
    }
    return numbers;
}

} // namespace db
