#pragma once

namespace tess {

// How a request to a device ended, named by what the device (or the network)
// answered. The window turns a failure into the user's message; the protocol
// code never shows anything.
enum class RequestResult {
    Ok,
    NetworkFailed,   // no connection to the device
    TooManyUsers,    // the reply holds "202 ERROR"
    TooManyLogins,   // the reply holds "201 ERR"
    NotSupported,    // a session reply without a known status, or a login without identifiers
    Mpeg4Only,       // the device offers no JPEG stream
    ReplyError,      // a command reply without "200 OK"
    UnknownModel,    // a product identifier the viewer does not know
    RequestTooLong,  // the request would not fit the device's request buffer
};

// The result as a log names it.
inline const char* describe(RequestResult result) {
    switch (result) {
        case RequestResult::Ok: return "ok";
        case RequestResult::NetworkFailed: return "no connection";
        case RequestResult::TooManyUsers: return "too many users";
        case RequestResult::TooManyLogins: return "too many logins";
        case RequestResult::NotSupported: return "reply not understood";
        case RequestResult::Mpeg4Only: return "no JPEG stream offered";
        case RequestResult::ReplyError: return "command refused";
        case RequestResult::UnknownModel: return "unknown model";
        case RequestResult::RequestTooLong: return "request too long";
    }
    return "?";
}

// Failures after which the device has refused the session: a pane stops
// retrying on them.
inline bool isRefusal(RequestResult result) {
    return result == RequestResult::TooManyUsers || result == RequestResult::TooManyLogins ||
           result == RequestResult::NotSupported || result == RequestResult::RequestTooLong;
}

}  // namespace tess
