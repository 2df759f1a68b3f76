// Search replies: any datagram from anyone on the reply port, of any size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "discovery/SearchDatagrams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const tess::SearchRow row = tess::parseSearchReply(std::span(data, size));
    // What the window shows must be whole texts of their fixed widths.
    if (row.address.size() < 7 || row.address.size() > 15 || row.mac.size() != 17 ||
        row.typeName.empty())
        std::abort();
    for (const std::string& further : row.furtherAddresses)
        if (further.size() < 7 || further.size() > 15) std::abort();
    if (!tess::isKnownSearchType(row.typeCode)) std::abort();
    return 0;
}
