#include "FerlowHost/Session.h"

#include "FerlowCore/CodingError.h"
#include "FerlowCore/MessageCodec.h"

namespace ferlow {

Session::Session(std::shared_ptr<MessageSocket> socket_, Clock now)
    : socket(std::move(socket_))
    , watchdog(watchdogTimeout, now)
    , pacer(minBuffer, maxBuffer, catchUpSpacing, pacerWindow)
    , acceptedAt(now())
{
}

void Session::send(const MacMessage& message)
{
    if (!isActive())
        return;
    Bytes plaintext;
    try {
        plaintext = MessageCodec::encode(message);
    } catch (const EncodingError&) {
        return;
    }
    socket->sendBinary(state.channel()->seal(plaintext));
}

} // namespace ferlow
