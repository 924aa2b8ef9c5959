#pragma once

#include <clocale>
#include <locale.h>

// Switches the calling thread to the C numeric locale for its lifetime, so that
// stdio's "%f" reads and writes '.' even after the application object has set the
// user's locale (a comma under de_DE or fr_FR).
class CNumericLocale
{
public:
    CNumericLocale();
    ~CNumericLocale();
    CNumericLocale(const CNumericLocale &) = delete;
    CNumericLocale &operator=(const CNumericLocale &) = delete;

private:
    locale_t previous;
};
