// Device replies scanned for status words and fields: any bytes, any key.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/CgiExchange.h"
#include "protocol/ReplyFields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const size_t split = size ? data[0] % 12 : 0;
    const std::string_view key = bytes.substr(size ? 1 : 0, split);
    const std::string_view reply = bytes.substr(std::min(size, split + 1));
    tess::classifyReply(reply);
    tess::ReplyFieldReader reader(reply);
    for (int i = 0; i < 8; ++i) {
        reader.next(key.empty() ? std::string_view("SID") : key);
        reader.next("STYPE");
    }
    return 0;
}
