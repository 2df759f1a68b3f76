#include "ptz/PtzCommands.h"

#include <cmath>
#include <cstdlib>

#include "protocol/CgiExchange.h"
#include "protocol/ModelCodes.h"
#include "protocol/Requests.h"
#include "ptz/Optics.h"
#include "ptz/PtzRecord.h"

namespace tess::ptz {
namespace {

// Device types of a channel record that name the camera protocol.
constexpr uint8_t kTypeD0Camera = 8;
constexpr uint8_t kTypePelcoCamera = 18;
constexpr uint8_t kTypeMasterPelcoCamera = 25;
constexpr uint8_t kTypeRecorderCamera = 1;
constexpr int kChannelKeyBase = 54;  // keys 55 ... 70 select channels 1 ... 16

// Sends the requests of one command and keeps its outcome: the first failure.
class Requests {
public:
    explicit Requests(CommandContext& context) : context_(context) {}

    // Sends `record` in `form`; `channelIndex` and `master` fill the channel
    // forms. True when the device answered "200 OK".
    bool send(const PtzRecord& record, Form form, int32_t channelIndex = 0, int master = 0) {
        const std::string head = headOf(record, form, channelIndex, master);
        const auto body = record.view();
        return send(head, {reinterpret_cast<const char*>(body.data()), body.size()});
    }
    bool send(const std::string& head, std::string_view body = {}) {
        if (unreachable_) return false;
        const RequestResult result =
            sendCgiRequest(context_.link, context_.facts.host, context_.facts.devicePort, head,
                           body, reply_, context_.replyTimeoutMs);
        if (result != RequestResult::Ok && outcome_.result == RequestResult::Ok) {
            outcome_.result = result;
        }
        unreachable_ = result == RequestResult::NetworkFailed;
        return result == RequestResult::Ok;
    }

    const CommandReply& reply() const { return reply_; }
    CommandOutcome& outcome() { return outcome_; }

private:
    std::string headOf(const PtzRecord& record, Form form, int32_t channelIndex, int master) const {
        const std::string_view session = context_.facts.sessionIdText();
        const std::string_view host = context_.localAddress;
        switch (form) {
            case Form::Command:
                return request::rs485Command(record.hexText(), session, record.length, host);
            case Form::Channel:
                return request::rs485Channel(channelIndex, master, session, record.length, host);
            case Form::PelcoChannel:
                return request::rs485PelcoChannel(channelIndex, master, session, record.length,
                                                  host);
            case Form::MasterKey: return request::rs485MasterKey(session, record.length, host);
            case Form::ChannelKey:
                return request::rs485ChannelKey(channelIndex, session, record.length, host);
        }
        return {};
    }

    CommandContext& context_;
    CommandReply reply_;
    CommandOutcome outcome_;
    bool unreachable_ = false;
};

const ChannelRecord* recordAt(const SessionFacts& facts, int32_t index) {
    return index >= 0 ? facts.channelTable.at(static_cast<size_t>(index)) : nullptr;
}

uint8_t userLevelByte(const SessionFacts& facts) {
    return static_cast<uint8_t>(facts.userLevel);
}

// Action `code` in `protocol` to the camera whose address the form takes:
// record 0's id, or record 1's for the Pelco channel form.
bool sendAction(Requests& requests, const SessionFacts& facts, int code, Protocol protocol,
                Form form, int32_t channelIndex = 0, int master = 0) {
    const ChannelRecord* addressed = recordAt(facts, form == Form::PelcoChannel ? 1 : 0);
    if (addressed == nullptr) return false;
    const auto record = actionRecord(code, protocol, form, addressed->id, userLevelByte(facts));
    return record && requests.send(*record, form, channelIndex, master);
}

// A class 1 device: by the camera type of its record 0; a Pelco command is
// followed by a stop once the device took it.
void sendByCameraType(Requests& requests, const SessionFacts& facts, int code) {
    const ChannelRecord* first = recordAt(facts, 0);
    if (first == nullptr) return;
    if (first->type == kTypeD0Camera) {
        sendAction(requests, facts, code, Protocol::D0, Form::Command);
    } else if (first->type == kTypePelcoCamera) {
        if (sendAction(requests, facts, code, Protocol::Pelco, Form::Command) &&
            code != kActionStop) {
            sendAction(requests, facts, kActionStop, Protocol::Pelco, Form::Command);
        }
    }
}

void dispatchAction(Requests& requests, const SessionFacts& facts, int code) {
    const int32_t channelIndex = facts.channel - 1;
    const ChannelRecord* current = recordAt(facts, channelIndex);
    switch (classTraits(facts.deviceClass).actions) {
        case CommandRoute::Camera:
            sendAction(requests, facts, code, Protocol::D0, Form::Command);
            sendByCameraType(requests, facts, code);
            break;
        case CommandRoute::FirstChannel: sendByCameraType(requests, facts, code); break;
        case CommandRoute::SlaveChannel:
            if (current == nullptr || current->type != kTypeRecorderCamera) break;
            if (current->protocol == 0) {
                sendAction(requests, facts, code, Protocol::D0, Form::Channel, channelIndex, 0);
            } else if (current->protocol == 1) {
                sendAction(requests, facts, code, Protocol::Pelco, Form::PelcoChannel, channelIndex,
                           0);
            }
            break;
        case CommandRoute::MasterChannel:
            if (current == nullptr) break;
            if (current->type == kTypeD0Camera) {
                sendAction(requests, facts, code, Protocol::D0, Form::Channel, channelIndex, 1);
            } else if (current->type == kTypeMasterPelcoCamera) {
                sendAction(requests, facts, code, Protocol::Pelco, Form::PelcoChannel, channelIndex,
                           1);
            }
            break;
        case CommandRoute::None: break;
    }
}

void dispatchKey(Requests& requests, const SessionFacts& facts, int keyCode) {
    const int32_t channelIndex = facts.channel - 1;
    switch (classTraits(facts.deviceClass).keys) {
        case CommandRoute::SlaveChannel:
            if (requests.send(keyRecord(facts.deviceClass, keyCode, 0), Form::MasterKey)) {
                requests.outcome().channel = keyCode - kChannelKeyBase;
            }
            break;
        case CommandRoute::MasterChannel:
            if (const ChannelRecord* current = recordAt(facts, channelIndex)) {
                requests.send(keyRecord(facts.deviceClass, keyCode, current->id), Form::ChannelKey,
                              channelIndex);
            }
            break;
        case CommandRoute::FirstChannel:
            if (const ChannelRecord* first = recordAt(facts, 0)) {
                requests.send(keyRecord(facts.deviceClass, keyCode, first->id), Form::Command);
            }
            break;
        case CommandRoute::Camera:
        case CommandRoute::None: break;
    }
}

void sendAimCell(Requests& requests, const SessionFacts& facts, const AimGesture& gesture,
                 const ChannelRecord& camera, Form form, int32_t channelIndex) {
    const auto cell = gridCell(gesture.x, gesture.y, gesture.width, gesture.height);
    if (!cell) return;
    requests.send(aimCellRecord(camera.id, userLevelByte(facts), *cell), form, channelIndex, 0);
}

// Reads the camera's location, aims (and zooms) with the lens model and
// writes the new location. Nothing is written unless every field of the
// location is known in this session and the results are finite.
void aimByLocation(Requests& requests, CommandContext& context, const AimGesture& gesture,
                   Lens lens) {
    const SessionFacts& facts = context.facts;
    if (!requests.send(request::getCameraLocation(facts.sessionIdText(), context.localAddress))) {
        return;
    }
    ReportedLocation& known = context.memory.cameraLocation;
    if (readLocationReply(requests.reply().text(), known) == 0 || !known.complete()) return;

    CameraLocation location{*known.pan, *known.tilt, *known.zoom, *known.focus};
    const Aim aim = computeAim(lens, gesture.x, gesture.y, gesture.width, gesture.height, location);
    // The lens model keeps the device's position within its range.
    known.pan = location.pan;
    known.tilt = location.tilt;
    known.zoom = location.zoom;

    double zoom = location.zoom;
    if (gesture.dragging) {
        const auto dx = static_cast<uint16_t>(std::abs(gesture.currentX - gesture.pressX));
        zoom =
            computeZoom(lens, gesture.width, dx, location.zoom, gesture.currentX <= gesture.pressX);
    }
    if (!std::isfinite(aim.pan) || !std::isfinite(aim.tilt) || !std::isfinite(zoom)) return;
    requests.send(request::setCameraLocation(
        static_cast<int64_t>(aim.pan), static_cast<int64_t>(aim.tilt), static_cast<int64_t>(zoom),
        location.focus, facts.sessionIdText(), context.localAddress));
}

void dispatchAim(Requests& requests, CommandContext& context, const AimGesture& gesture) {
    const SessionFacts& facts = context.facts;
    const DeviceClassTraits traits = classTraits(facts.deviceClass);
    switch (traits.aim) {
        case AimRoute::FirstChannelCell:
            if (const ChannelRecord* first = recordAt(facts, 0);
                first != nullptr && first->type == kTypeD0Camera) {
                sendAimCell(requests, facts, gesture, *first, Form::Command, 0);
            }
            break;
        case AimRoute::ChannelCell: {
            const int32_t channelIndex = facts.channel - 1;
            const ChannelRecord* current = recordAt(facts, channelIndex);
            if (current == nullptr || current->type != kTypeRecorderCamera) break;
            if (current->protocol == 0) {
                sendAimCell(requests, facts, gesture, *current, Form::Channel, channelIndex);
            } else if (current->protocol == 1) {
                sendAimCell(requests, facts, gesture, *current, Form::PelcoChannel, channelIndex);
            }
            break;
        }
        case AimRoute::Location:
            aimByLocation(requests, context, gesture, static_cast<Lens>(traits.lensModel));
            break;
        case AimRoute::None: break;
    }
}

}  // namespace

DeviceCommand ptzCommand(int code) {
    return [code](CommandContext& context) {
        Requests requests(context);
        if (code >= 0 && code < kActionCount) dispatchAction(requests, context.facts, code);
        return requests.outcome();
    };
}

DeviceCommand keyCommand(int keyCode) {
    return [keyCode](CommandContext& context) {
        Requests requests(context);
        dispatchKey(requests, context.facts, keyCode);
        return requests.outcome();
    };
}

DeviceCommand aimCommand(const AimGesture& gesture) {
    return [gesture](CommandContext& context) {
        Requests requests(context);
        dispatchAim(requests, context, gesture);
        return requests.outcome();
    };
}

}  // namespace tess::ptz
