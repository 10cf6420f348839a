#pragma once

#include "harkline/Platform/Speech/SpeechModelStore.h"

namespace harkline::testing_support {

// Installs a model the way the store expects it: copies the source's files into the
// locale's folder, then writes the manifest last.
void installSpeechModel(const SpeechModelStore& store, const SpeechModelSource& source);

// The Debian en-US model source.
SpeechModelSource englishModelSource();

}  // namespace harkline::testing_support
