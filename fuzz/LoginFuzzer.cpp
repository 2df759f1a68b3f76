// Login and negotiation replies: any bytes, read into the session reply buffer
// as one receive would leave them, then scanned as login and negotiation do.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "protocol/CgiExchange.h"
#include "protocol/Login.h"
#include "protocol/ReplyFields.h"

namespace {

// Each field holds exactly the bytes behind its key, as many as the reply had.
void checkField(std::string_view reply, std::string_view key, const char* field, size_t width,
                bool found) {
    const size_t at = reply.find(key);
    if (found != (at != std::string_view::npos)) __builtin_trap();
    if (!found) return;
    const std::string_view expected = reply.substr(at + key.size(), width);
    if (std::string_view(field) != expected || field[width] != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tess::SessionReply reply;
    const size_t length = std::min(size, tess::SessionReply::kCapacity);
    std::memcpy(reply.bytes.data(), data, length);
    reply.length = static_cast<int>(length);
    const std::string_view text = reply.text();

    tess::classifyReply(text);
    const tess::LoginIdentity identity = tess::parseLoginReply(text);
    checkField(text, "Session-ID=", identity.sessionId.data(), 30, identity.hasSessionId);
    checkField(text, "Product-ID=", identity.productId.data(), 4, identity.hasProductId);

    // The negotiation's reads: fixed keys from the start, records in sequence.
    for (std::string_view first : {"SLAVENUM", "MASTERNUM", "Device-ID0"}) {
        tess::ReplyFieldReader reader(text, tess::readReplyField(text, first).valueStart);
        for (int i = 0; i < 20; ++i) {
            reader.next("SID");
            reader.next("STYPE");
            reader.next("SPROTOCOL");
            reader.next("MTYPE");
        }
        reader.next("USERLEVEL");
        if (reader.origin() > text.size() + 1) __builtin_trap();
    }
    return 0;
}
