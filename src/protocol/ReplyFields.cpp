#include "protocol/ReplyFields.h"

#include <cstdlib>

namespace tess {

ReplyField readReplyField(std::string_view reply, std::string_view key, size_t origin) {
    reply = reply.substr(0, reply.find('\0'));
    if (origin > reply.size()) return {false, 0, origin};
    const size_t at = reply.find(key, origin);
    if (at == std::string_view::npos) return {false, 0, origin};

    const size_t start = at + key.size() + 1;  // skip the separator after the key
    ReplyField field{false, 0, start};
    if (start > reply.size()) return field;
    const size_t end = reply.find(';', start);
    if (end == std::string_view::npos || end - start > 4) return field;

    char value[5] = {};
    reply.copy(value, end - start, start);
    field.present = true;
    field.value = std::atoi(value);
    return field;
}

}  // namespace tess
