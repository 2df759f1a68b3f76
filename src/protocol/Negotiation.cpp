#include "protocol/Negotiation.h"

#include <initializer_list>

#include "platform/MessageSink.h"
#include "protocol/CgiExchange.h"
#include "protocol/ModelCodes.h"
#include "protocol/ReplyFields.h"
#include "protocol/Requests.h"
#include "resources/StringTable.h"

namespace tess {
namespace {

// Layout steps are for a live view that shows one pane alone, not the quad.
bool showsSinglePane(const LiveViewLayout* view) { return view && view->currentView() != -1; }

bool contains(std::initializer_list<int> values, int value) {
    for (int v : values) {
        if (v == value) return true;
    }
    return false;
}

// The layout for a channel's device type; types that name no layout leave the
// view as it is. Preset tabs go with different type numbers in the two
// variants that use this.
void applyTypeLayout(LiveViewLayout& view, int type, int channelIndex,
                     std::initializer_list<int> presetTypes) {
    if (type == 0 || type == 1) {
        view.ApplyPlainLayout();
    } else if (contains({2, 3, 4, 7, 9}, type)) {
        view.ApplyFourChannelLayout(channelIndex);
    } else if (type == 5) {
        view.ApplyNineChannelLayout();
    } else if (type == 6) {
        view.ApplySixteenChannelLayout();
    } else if (contains(presetTypes, type)) {
        view.ApplyPresetTabs();
    }
}

void applyUserLevel(SessionInfo& session, int value) {
    if (const auto level = userLevelOf(value)) session.userLevel = *level;
}

// Channel records are bytes on the device; a wider value keeps its low byte.
uint8_t recordByte(int value) { return static_cast<uint8_t>(value); }

bool longFormExchange(PaneConnection& pane, int32_t channel, SessionReply& reply) {
    const SessionInfo& session = pane.session;
    return cgiExchange(pane,
                       request::streamLong(session.sessionIdText(), channel, session.localAddress),
                       reply);
}

// A: USERLEVEL, then SLAVENUM and one SID/STYPE/SPROTOCOL record per slave.
bool negotiateSlaveList(PaneConnection& pane) {
    SessionInfo& session = pane.session;
    SessionReply reply;
    if (!longFormExchange(pane, session.channel, reply)) return false;
    const std::string_view text = reply.text();

    applyUserLevel(session, readReplyField(text, "USERLEVEL").value);
    const ReplyField slaves = readReplyField(text, "SLAVENUM");
    session.channelTable.resize(slaves.value);
    session.slaveCount = static_cast<int32_t>(session.channelTable.size());

    ReplyFieldReader reader(text, slaves.valueStart);
    for (size_t i = 0; i < session.channelTable.size(); ++i) {
        ChannelRecord& record = *session.channelTable.at(i);
        record.id = recordByte(reader.next("SID"));
        record.type = recordByte(reader.next("STYPE"));
        record.protocol = recordByte(reader.next("SPROTOCOL"));
    }
    return true;
}

// B: device record 0, the stream port and the stream mode; record 1 stays zero.
bool negotiateDeviceInfo(PaneConnection& pane, LiveViewLayout* view) {
    SessionInfo& session = pane.session;
    SessionReply reply;
    if (!cgiExchange(pane,
                     request::streamShort(session.sessionIdText(), session.localAddress), reply)) {
        return false;
    }
    session.channelCount = 2;
    session.channelTable.resize(2);
    ChannelRecord& first = *session.channelTable.at(0);

    ReplyFieldReader reader(reply.text());
    first.id = recordByte(reader.next("Device-ID0"));
    first.type = recordByte(reader.next("Device-Type0"));
    // A missing or zero port keeps the port the exchange went to.
    const int streamPort = reader.next("Stream-Port");
    if (streamPort > 0) session.streamPort = streamPort;
    const int mode = reader.next("ExtraOperation-Mode");

    if (mode == 0) {
        // The device streams MPEG-4 only, which this viewer cannot show.
        pane.controlLink.close();
        messageSink().show(text::mpeg4Only);
        pane.requestRepaint();
        return false;
    }
    if (session.deviceClass == 1 && showsSinglePane(view)) {
        applyTypeLayout(*view, first.type, 0, {8, 18, 26});
    }
    return true;
}

// C: on channel 1, MASTERNUM and one MID/MTYPE record per channel, then
// USERLEVEL after the last record read.
bool negotiateMasterList(PaneConnection& pane, LiveViewLayout* view) {
    SessionInfo& session = pane.session;
    session.channel = 1;
    SessionReply reply;
    if (!longFormExchange(pane, 1, reply)) return false;
    const std::string_view text = reply.text();

    const ReplyField masters = readReplyField(text, "MASTERNUM");
    session.channelTable.resize(masters.value);
    session.channelCount = static_cast<int32_t>(session.channelTable.size());

    ReplyFieldReader reader(text, masters.valueStart);
    for (size_t i = 0; i < session.channelTable.size(); ++i) {
        ChannelRecord& record = *session.channelTable.at(i);
        record.id = recordByte(reader.next("MID"));
        record.type = recordByte(reader.next("MTYPE"));
    }
    applyUserLevel(session, reader.next("USERLEVEL"));

    if (showsSinglePane(view)) {
        const int channelIndex = session.channel - 1;
        if (const ChannelRecord* record = session.channelTable.at(channelIndex)) {
            applyTypeLayout(*view, record->type, channelIndex, {8, 25});
        }
    }
    return true;
}

}  // namespace

bool negotiate(PaneConnection& pane, LiveViewLayout* view, AutoResetEvent& modelKnown) {
    SessionInfo& session = pane.session;
    const std::optional<int32_t> found = deviceClassOf(session.productIdText());
    if (found) {
        session.deviceClass = *found;
        if (*found == 50) channelMenuWanted = true;
    }
    modelKnown.set();
    // An unknown code fails even when an earlier connection left a class behind.
    if (!found) return false;

    switch (session.deviceClass) {
        case 3:
            if (showsSinglePane(view)) view->ApplyDvrTabs();
            break;
        case 4:
            if (showsSinglePane(view)) view->ApplyPlainLayout();
            break;
        case 1:
            if (showsSinglePane(view)) view->ShowAvButton(session);
            break;
        case 6:
        case 7:
        case 8:
            if (showsSinglePane(view)) {
                view->ApplyPresetTabs();
                view->ShowAvButton(session);
            }
            break;
        default:
            break;
    }

    switch (classTraits(session.deviceClass).variant) {
        case NegotiationVariant::SlaveList: return negotiateSlaveList(pane);
        case NegotiationVariant::DeviceInfo: return negotiateDeviceInfo(pane, view);
        case NegotiationVariant::MasterList: return negotiateMasterList(pane, view);
        case NegotiationVariant::StreamOnly: {
            SessionReply reply;
            return longFormExchange(pane, session.channel, reply);
        }
        case NegotiationVariant::None: break;
    }
    return false;
}

}  // namespace tess
