#include "model/cnumericlocale.h"

namespace {

locale_t CLocale()
{
    // Made once and kept for the life of the process; uselocale needs it alive.
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

} // namespace

CNumericLocale::CNumericLocale()
    : previous(uselocale(CLocale()))
{
}

CNumericLocale::~CNumericLocale() { uselocale(previous); }
