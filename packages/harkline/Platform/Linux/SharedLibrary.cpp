#include "harkline/Platform/Linux/SharedLibrary.h"

#include <dlfcn.h>

namespace harkline {

SharedLibrary::SharedLibrary(const char* soname, std::string origin, const char* alsoAt)
    : handle_(::dlopen(soname, RTLD_NOW | RTLD_LOCAL)), description_(std::string(soname) + " (" + origin + ")") {
    if (handle_) return;
    std::string reason = ::dlerror();
    if (alsoAt) handle_ = ::dlopen(alsoAt, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw SharedLibraryError("cannot load " + description_ + ": " + reason);
}

void* SharedLibrary::address(const char* name) const {
    void* found = ::dlsym(handle_, name);
    if (!found) throw SharedLibraryError(std::string(name) + " is missing from " + description_);
    return found;
}

void SharedLibrary::refuse(const std::string& reason) const { throw SharedLibraryError(description_ + ": " + reason); }

}  // namespace harkline
