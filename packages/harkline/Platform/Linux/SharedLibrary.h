#pragma once

#include <stdexcept>
#include <string>

namespace harkline {

// A library that cannot be loaded, or lacks a function.
class SharedLibraryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A shared library loaded when first needed instead of at process start: every command of
// the tools is a process of its own, and a library only some commands use (libcurl with its
// 30-odd dependencies, ICU with its 30 MB of data) should not cost every start. Loaded
// once, kept for the process's life.
class SharedLibrary {
public:
    // Throws SharedLibraryError naming the library and the Debian package that ships it.
    SharedLibrary(const char* soname, const char* package);
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Sets `function` to the library's function of that name; throws SharedLibraryError.
    template <typename Function>
    void bind(Function*& function, const char* name) const {
        function = reinterpret_cast<Function*>(address(name));
    }

private:
    void* address(const char* name) const;

    void* handle_;
    std::string description_;
};

}  // namespace harkline
