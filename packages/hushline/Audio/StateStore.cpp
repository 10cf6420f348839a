#include "hushline/Audio/StateStore.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <limits>
#include <string_view>
#include <system_error>

#include <unistd.h>

#include "cli-frame/Files/AtomicFile.h"
#include "cli-frame/Files/BoundedFile.h"
#include "cli-frame/Json/Json.h"
#include "cli-frame/Json/JsonWriter.h"

namespace hushline {
namespace {

using cli::Json;

// The whole file, or nothing when it is missing, not a regular file (a FIFO would block)
// or larger than any snapshot can be.
std::optional<std::string> readSmallFile(const std::filesystem::path& path) {
    try {
        return cli::readBoundedFile(path, StateStore::largestReadableFile);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

constexpr std::array<std::string_view, 4> kNonFiniteLiterals = {"NaN", "-NaN", "Infinity", "-Infinity"};

// Null when the key is missing or null: both mean absent.
const Json* member(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

// A number that a device could have given: finite and a non-negative 32-bit float.
bool isVolume(const Json& value) {
    if (!value.is_number()) return false;
    const double number = value.get<double>();
    return std::isfinite(number) && number >= 0 && number <= std::numeric_limits<float>::max();
}

// Some writers (Python's json module) put NaN and Infinity in bare; outside strings these
// words cannot be anything else, so they are read as null, which means absent.
std::string nonFiniteLiteralsAsNull(std::string_view bytes) {
    std::string result;
    result.reserve(bytes.size());
    bool inString = false;
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        const char character = bytes[index];
        if (inString) {
            result += character;
            if (character == '\\' && index + 1 < bytes.size()) result += bytes[++index];
            inString = character != '"';
            continue;
        }
        inString = character == '"';
        const auto literal = std::find_if(kNonFiniteLiterals.begin(), kNonFiniteLiterals.end(),
                                          [&](std::string_view word) { return bytes.substr(index).starts_with(word); });
        if (literal == kNonFiniteLiterals.end()) {
            result += character;
        } else {
            result += "null";
            index += literal->size() - 1;
        }
    }
    return result;
}

// The whole file, or nothing when it cannot be read or holds no snapshot.
std::optional<AudioStateSnapshot> readSnapshotFile(const std::filesystem::path& path) {
    const auto bytes = readSmallFile(path);
    return bytes ? decodeStateFile(*bytes) : std::nullopt;
}

}  // namespace

std::string encodeStateFile(const AudioStateSnapshot& snapshot) {
    Json json = Json::object();
    json["deviceID"] = snapshot.deviceID;
    if (snapshot.deviceName) json["deviceName"] = *snapshot.deviceName;
    if (snapshot.mainVolume) json["mainVolume"] = *snapshot.mainVolume;
    if (snapshot.leftVolume) json["leftVolume"] = *snapshot.leftVolume;
    if (snapshot.rightVolume) json["rightVolume"] = *snapshot.rightVolume;
    if (snapshot.muted) json["muted"] = *snapshot.muted;
    json["createdAt"] = snapshot.createdAt;
    return cli::writeJson(json, {.escapeSlashes = true});
}

std::optional<AudioStateSnapshot> decodeStateFile(const std::string& bytes) {
    const Json json = Json::parse(nonFiniteLiteralsAsNull(bytes), nullptr, /*allow_exceptions=*/false);
    if (!json.is_object()) return std::nullopt;

    AudioStateSnapshot snapshot;
    const Json* deviceID = member(json, "deviceID");
    if (deviceID == nullptr || !deviceID->is_number_unsigned() ||
        deviceID->get<std::uint64_t>() > std::numeric_limits<audiohw::DeviceID>::max()) {
        return std::nullopt;
    }
    snapshot.deviceID = static_cast<audiohw::DeviceID>(deviceID->get<std::uint64_t>());

    const Json* createdAt = member(json, "createdAt");
    if (createdAt == nullptr || !createdAt->is_number() || !std::isfinite(createdAt->get<double>())) {
        return std::nullopt;
    }
    snapshot.createdAt = createdAt->get<double>();

    if (const Json* name = member(json, "deviceName"); name != nullptr && name->is_string()) {
        snapshot.deviceName = name->get<std::string>();
    }
    for (auto [key, field] : {std::pair{"mainVolume", &AudioStateSnapshot::mainVolume},
                              std::pair{"leftVolume", &AudioStateSnapshot::leftVolume},
                              std::pair{"rightVolume", &AudioStateSnapshot::rightVolume}}) {
        if (const Json* volume = member(json, key); volume != nullptr && isVolume(*volume)) {
            snapshot.*field = volume->get<double>();
        }
    }
    if (const Json* muted = member(json, "muted"); muted != nullptr && muted->is_boolean()) {
        snapshot.muted = muted->get<bool>();
    }
    return snapshot;
}

StateStore::StateStore(std::filesystem::path fileURL, cli::Logger logger, std::chrono::milliseconds lockTimeout)
    : snapshot_(readSnapshotFile(fileURL)),
      fileURL_(std::move(fileURL)),
      logger_(std::move(logger)),
      lockTimeout_(lockTimeout) {}

std::optional<AudioStateSnapshot> StateStore::load() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

std::optional<StateLock> StateStore::lockAndReload() {
    try {
        std::error_code ignored;  // a folder that cannot be made fails the lock, which says why
        if (fileURL_.has_parent_path()) std::filesystem::create_directories(fileURL_.parent_path(), ignored);
        StateLock lock = StateLock::acquire(fileURL_.string() + ".lock", lockTimeout_);
        std::lock_guard guard(mutex_);
        snapshot_ = readSnapshotFile(fileURL_);
        return lock;
    } catch (const std::exception& failure) {
        logger_.error(std::string("无法取得静音快照锁: ") + failure.what());
        return std::nullopt;
    }
}

bool StateStore::save(const AudioStateSnapshot& snapshot) {
    std::lock_guard lock(mutex_);
    snapshot_ = snapshot;
    return persist();
}

bool StateStore::persist() {
    if (!snapshot_) return true;
    try {
        const std::string bytes = encodeStateFile(*snapshot_);
        if (fileURL_.has_parent_path()) std::filesystem::create_directories(fileURL_.parent_path());
        cli::writeFileAtomically(fileURL_, bytes);
        return true;
    } catch (const std::exception& failure) {
        logger_.error(std::string("写入静音快照失败: ") + failure.what());
        return false;
    }
}

void StateStore::clear() {
    std::lock_guard lock(mutex_);
    snapshot_.reset();
    if (::unlink(fileURL_.c_str()) != 0) {
        const std::system_error failure(errno, std::generic_category(), "cannot remove " + fileURL_.string());
        logger_.debug(std::string("删除快照文件失败或不存在: ") + failure.what());
    }
}

}  // namespace hushline
