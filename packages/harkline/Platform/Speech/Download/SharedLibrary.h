#pragma once

#include <string>

namespace harkline {

// A shared library loaded when first needed instead of at process start: every command of
// the tools is a process of its own, and linking libcurl (with its 30-odd dependencies)
// would cost each start about 5 ms (libcrypto, which every model check needs, is linked in
// statically instead). Loaded once, kept for the process's life.
class SharedLibrary {
public:
    // Throws ModelDownloadError naming the library and the Debian package that ships it.
    SharedLibrary(const char* soname, const char* package);
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Sets `function` to the library's function of that name.
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
