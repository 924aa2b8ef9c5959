#include "tools/sampledata.h"

SampleResult WriteSampleData(const QString &, const SampleOptions &)
{
    return {};
}
