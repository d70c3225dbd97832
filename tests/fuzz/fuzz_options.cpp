#include "FuzzFile.h"
#include "app/core/OptionsFile.h"
#include "platform/TextFiles.h"

#include <cstdlib>

// The options reader: it reads what it can and stops, whatever the file holds.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QtTextFileSystem files;
    qsizetype total = 0;
    int pumps = 0;
    options::read(
        files, fuzzFile(data, size),
        [&](options::Key, const QString& value) { total += value.size(); }, [&] { ++pumps; });
    // A value is part of one line of the file, and each line is one byte or more.
    if (total > static_cast<qsizetype>(size) || pumps > static_cast<int>(size))
        std::abort();
    return 0;
}
