#pragma once

#include <string>

namespace harkline {

// A model may carry a formatting model (punctuation, casing) beside its recognition model.
// Its roles: "punctuation" (a punctuation model: CT-Transformer), "punctuationAndCase" with
// "punctuationVocab" (a punctuation-and-casing model: CNN-BiLSTM, and its BPE vocabulary).
// Every other role belongs to the recognition model. The two parts are checked apart, so
// that a damaged formatting model never stops a dictation.
inline constexpr const char* punctuationRole = "punctuation";
inline constexpr const char* punctuationAndCaseRole = "punctuationAndCase";
inline constexpr const char* punctuationVocabRole = "punctuationVocab";

inline bool isFormattingRole(const std::string& role) {
    return role == punctuationRole || role == punctuationAndCaseRole || role == punctuationVocabRole;
}

inline bool isRecognitionRole(const std::string& role) { return !isFormattingRole(role); }

}  // namespace harkline
