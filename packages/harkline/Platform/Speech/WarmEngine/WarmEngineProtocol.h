#pragma once

#include <chrono>
#include <string_view>

// What a dictation and the user's warm engine agree on: where the engine listens, how it
// is started, the protocol both speak, and how long a dictation waits for each step.
namespace harkline::warmengine {

// The engine's socket and the lock that keeps it to one engine, in $XDG_RUNTIME_DIR.
inline constexpr std::string_view socketName = "harkline-warm-engine.socket";
inline constexpr std::string_view lockName = "harkline-warm-engine.lock";
// The first argument that makes harkline the engine: no command word, so no host lists it.
inline constexpr std::string_view command = "--warm-speech-engine";
// Both ends' hello; an engine that says anything else is of another version. Changes
// with every change of the frames.
inline constexpr std::string_view hello = "harkline warm speech engine 2";

// "off": every dictation decodes in its own process.
inline constexpr const char* switchVariable = "TESSARYN_WARM_ENGINE";
// Seconds without a dictation after which the engine ends itself.
inline constexpr const char* idleVariable = "TESSARYN_WARM_ENGINE_IDLE_SECONDS";
inline constexpr std::chrono::seconds defaultIdle{600};

// A started engine listens within milliseconds; a loaded machine or a sanitizer build
// is given longer.
inline constexpr std::chrono::seconds startDeadline{10};
inline constexpr std::chrono::seconds handshakeDeadline{5};
// Loading the largest model on a busy machine, or waiting behind another dictation's load.
inline constexpr std::chrono::seconds openDeadline{60};
// Decoding one read's samples, possibly after another dictation's turn on the same model.
inline constexpr std::chrono::seconds decodeDeadline{20};

}  // namespace harkline::warmengine
