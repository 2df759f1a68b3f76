#pragma once

namespace tess {

// The product's time limits on the network, in milliseconds: the defaults of
// the calls that take one, and of a pane's own limits (PaneTimings), which
// tests shorten.
struct NetworkLimits {
    int connectTimeoutMs = 5000;  // a TCP connect not completed by then has failed
    int replyTimeoutMs = 5000;    // a CGI reply not arrived by then has failed
    int streamReceiveMs = 5000;   // a stream quieter than this has ended
};

}  // namespace tess
