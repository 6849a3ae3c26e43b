// Seams of the font rule for what the platform under test cannot make
// happen: a font that was added but yields no text metrics. Null members
// mean the real calls. Only white-box tests set them; nothing here is exported.
#pragma once
#include <windows.h>

namespace orv::fonts {

struct FontSeams {
    // Called instead of GetTextMetricsW in the load test.
    BOOL (*pfnGetTextMetrics)(HDC hdc, TEXTMETRICW* ptm) = nullptr;
};

FontSeams& Seams();

}  // namespace orv::fonts
