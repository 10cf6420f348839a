#pragma once

#include <stdexcept>
#include <string>

namespace harkline {

// A library that cannot be loaded, lacks a function, or is not a version we can use.
class SharedLibraryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A shared library loaded when first needed instead of at process start: every command of
// the tools is a process of its own, and a library only some commands use (libcurl with its
// 30-odd dependencies, ICU with its 30 MB of data, the speech engine with its onnxruntime)
// should not cost every start. Loaded once and never closed: a library's threads and
// static objects may live as long as the process.
class SharedLibrary {
public:
    // `origin` says where the library comes from, for messages ("Debian package libcurl4").
    // The library is looked for as the dynamic linker looks for it (the program's run path
    // first), then at `alsoAt` when given. Throws SharedLibraryError naming library and origin.
    SharedLibrary(const char* soname, std::string origin, const char* alsoAt = nullptr);
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Sets `function` to the library's function of that name; throws SharedLibraryError.
    template <typename Function>
    void bind(Function*& function, const char* name) const {
        function = reinterpret_cast<Function*>(address(name));
    }

    // Throws SharedLibraryError naming the library and saying why it cannot be used, say a
    // version older than the functions or options we use.
    [[noreturn]] void refuse(const std::string& reason) const;

private:
    void* address(const char* name) const;

    void* handle_;
    std::string description_;
};

}  // namespace harkline
