#pragma once

#include <filesystem>
#include <string>

#include "harkline/Platform/Speech/SpeechModelStore.h"

namespace harkline::testing_support {

// Installs a model the way the store expects it: copies the source's files into the
// locale's folder, then writes the manifest last.
void installSpeechModel(const SpeechModelStore& store, const SpeechModelSource& source);

// A model of a few small files with the en-US model's components, written into `directory`:
// what an older installation left in the store.
SpeechModelSource oldModelSource(const std::filesystem::path& directory, const std::string& locale);

// The Debian en-US model source.
SpeechModelSource englishModelSource();

}  // namespace harkline::testing_support
