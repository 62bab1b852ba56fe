#pragma once

#include "wire/CatalogRecord.h"

#include <cstdint>

// One catalog change waiting for the catalog list's next refresh. The transfer listener only
// records these; the periodic refresh applies them, so a burst of catalog events costs one redraw.
struct CatalogListEvent
{
    enum Kind : std::int32_t
    {
        Clear = 1,  // delete every row
        Add = 2,    // append a row
        Update = 3, // rewrite row `row`
    };

    std::int32_t kind = Clear;
    std::int32_t row = 0; // used by Update only
    CatalogRecord record; // all zero for Clear
};
