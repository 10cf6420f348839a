#include "harkline/Platform/Speech/WarmEngine/WarmEngineState.h"

#include "harkline/Platform/Speech/WarmEngine/WarmEngineProtocol.h"

namespace harkline {

std::optional<cli::Json> queryWarmEngineState(const WarmEngineConnector& connector) {
    auto outcome = connector.connect(false);
    if (std::holds_alternative<std::string>(outcome)) return std::nullopt;
    auto& connection = std::get<FrameConnection>(outcome);
    auto deadline = FrameConnection::Clock::now() + warmengine::handshakeDeadline;
    std::optional<Frame> answer;
    if (connection.send({FrameKind::state, {}}, deadline)) answer = connection.receive(deadline);
    auto state = answer && answer->kind == FrameKind::state ? cli::Json::parse(answer->payload, nullptr, false) : cli::Json();
    if (!state.is_object()) return std::nullopt;
    return state;
}

}  // namespace harkline
