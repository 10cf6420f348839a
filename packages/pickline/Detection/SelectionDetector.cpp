#include "pickline/Detection/SelectionDetector.h"

#include "pickline/Detection/FileDetector.h"
#include "pickline/Detection/TextDetector.h"
#include "pickline/Detection/TextTruncation.h"
#include "pickline/FileReader/FileContentReader.h"
#include "pickline/Runtime/Constants.h"

namespace pickline {

std::int32_t SelectionDetector::detectAndEmit() {
    if (!platform_.isProcessTrusted())
        return emitError(constants::accessibilityDeniedCode, constants::notTrustedMessage);
    auto application = platform_.frontmostApplication();
    if (!application) return emitError(constants::noFrontmostAppCode, constants::noFrontmostAppMessage);

    if (application->isReadableFileManager) {
        auto result = FileDetector(platform_).detect();
        if (auto* success = std::get_if<FileDetector::Success>(&result))
            return emitResult({"files", FileContentReader::createFileInfos(success->paths)});
        if (auto* failure = std::get_if<FileDetector::Failure>(&result))
            return emitError(constants::internalErrorCode, failure->message);
        // Nothing selected there: the file manager's own focused element may hold selected text.
    }

    auto result = TextDetector(platform_).detect();
    if (auto* success = std::get_if<TextDetector::Success>(&result))
        return emitResult({"text", truncateToCharacters(success->text, constants::maximumTextCharacters)});
    if (std::holds_alternative<TextDetector::NoSelection>(result)) return emitResult({"none", std::nullopt});
    return emitError(constants::accessibilityDeniedCode, constants::trustLostMessage);
}

std::int32_t SelectionDetector::emitResult(SelectionPayload payload) {
    emitter_.emit(cli::CLIMessage::result(std::move(payload)));
    return 0;
}

std::int32_t SelectionDetector::emitError(std::string_view code, std::string_view message) {
    emitter_.emit(cli::CLIMessage::error(cli::ErrorPayload{.code = std::string(code), .message = std::string(message)}));
    return 1;
}

}  // namespace pickline
