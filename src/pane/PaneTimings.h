#pragma once

#include <cstdint>

#include "protocol/NetworkLimits.h"

namespace tess {

// Every limit and delay of a pane's connection and of the live session that
// runs it, in one record, so that a test can shorten them. The defaults are
// the product's own.
struct PaneTimings {
    // Between two connect attempts of a pane that keeps retrying.
    uint32_t retryDelayMs = 3000;
    // A TCP connect that has not completed by then has failed.
    int connectTimeoutMs = NetworkLimits{}.connectTimeoutMs;
    // A CGI reply that has not arrived by then has failed.
    int replyTimeoutMs = NetworkLimits{}.replyTimeoutMs;
    // A stream quieter than this has ended.
    int streamReceiveMs = NetworkLimits{}.streamReceiveMs;
    // The least time between two openings of the audio stream.
    uint32_t audioReopenSpacingMs = 3000;
    // How often the receivers tell the device their statistics.
    uint32_t statisticsPeriodMs = 2000;

    // A single device identified later than this after opening gets no
    // channel menu bar.
    int modelKnownWaitMs = 1000;
    // From restarting the video of an audio-only pane to stopping its audio.
    int audioStopDelayMs = 1000;
    // A Switch shows each member for (displayTimeIndex + 1) x tourStepMs.
    int tourStepMs = 5000;
};

// The product's timings, for every pane not given others.
inline constexpr PaneTimings kProductTimings{};

}  // namespace tess
