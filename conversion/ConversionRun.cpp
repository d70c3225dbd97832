#include "conversion/ConversionRun.h"

ConversionRun::ConversionRun(const Platform& platform, ErrorLog& log, const HostConfig& hostConfig,
                             MainView& view, QString& TabellaCodiciFile)
    : platform_(platform), log_(log), hostConfig_(hostConfig), view_(view),
      TabellaCodiciFile_(TabellaCodiciFile)
{
}

void ConversionRun::execute()
{
}
