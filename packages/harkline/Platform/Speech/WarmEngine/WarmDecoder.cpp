#include "harkline/Platform/Speech/WarmEngine/WarmDecoder.h"

#include <algorithm>
#include <stdexcept>

#include "cli-frame/Json/Json.h"
#include "harkline/Platform/Speech/WarmEngine/WarmEngineProtocol.h"

namespace harkline {
namespace {

constexpr std::size_t samplesPerFrame = FrameConnection::largestPayload / sizeof(std::int16_t);

}  // namespace

std::vector<StreamingDecoder::Hypothesis> WarmDecoder::feed(const std::int16_t* samples, std::size_t count) {
    std::vector<Hypothesis> hypotheses;
    for (std::size_t offset = 0; offset < count; offset += samplesPerFrame) {
        auto piece = std::min(samplesPerFrame, count - offset);
        auto more = exchange({FrameKind::samples,
                              std::string(reinterpret_cast<const char*>(samples + offset), piece * sizeof(std::int16_t))});
        hypotheses.insert(hypotheses.end(), more.begin(), more.end());
    }
    return hypotheses;
}

std::vector<StreamingDecoder::Hypothesis> WarmDecoder::finish() { return exchange({FrameKind::finish, {}}); }

std::vector<StreamingDecoder::Hypothesis> WarmDecoder::exchange(const Frame& request) {
    auto deadline = FrameConnection::Clock::now() + warmengine::decodeDeadline;
    std::optional<Frame> answer;
    if (connection_.send(request, deadline)) answer = connection_.receive(deadline);
    if (!answer) throw std::runtime_error("the warm speech engine ended or stopped answering in the middle of the dictation");
    if (answer->kind == FrameKind::failure) throw std::runtime_error(answer->payload);
    std::vector<Hypothesis> hypotheses;
    try {
        if (answer->kind != FrameKind::hypotheses) throw std::runtime_error("not hypotheses");
        for (const auto& item : cli::Json::parse(answer->payload))
            hypotheses.push_back({item.at(0).get<std::string>(), item.at(1).get<bool>()});
    } catch (const std::exception&) {
        throw std::runtime_error("the warm speech engine answered with something that is not hypotheses");
    }
    return hypotheses;
}

}  // namespace harkline
