#include "FuzzFile.h"
#include "db/HostConfigFile.h"

#include <cstdlib>

// The host configuration reader: whatever the file holds, it answers true or false.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    bool decoded = false;
    const QString text = decodeHostXml(bytes, decoded);
    if (!decoded && !text.isEmpty())
        std::abort(); // undecoded bytes are left to the parser, with no text

    HostConfig config;
    ReadHostConfig(fuzzFile(data, size), config);
    return 0;
}
