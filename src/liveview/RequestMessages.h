#pragma once

#include <optional>
#include <string_view>

#include "protocol/RequestResult.h"
#include "resources/StringTable.h"

namespace tess {

// The message the user sees for a request's result; none for success and for
// an unknown model, which fails silently.
inline std::optional<std::string_view> messageFor(RequestResult result) {
    switch (result) {
        case RequestResult::NetworkFailed: return text::networkFailed;
        case RequestResult::TooManyUsers: return text::tooManyUsers;
        case RequestResult::TooManyLogins: return text::tooManyLogins;
        case RequestResult::NotSupported: return text::noSupportDevice;
        case RequestResult::Mpeg4Only: return text::mpeg4Only;
        case RequestResult::ReplyError: return text::messageError;
        case RequestResult::RequestTooLong: return text::requestTooLong;
        case RequestResult::Ok:
        case RequestResult::UnknownModel: break;
    }
    return std::nullopt;
}

}  // namespace tess
