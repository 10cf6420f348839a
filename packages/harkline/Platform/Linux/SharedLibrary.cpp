#include "harkline/Platform/Linux/SharedLibrary.h"

#include <dlfcn.h>

namespace harkline {

SharedLibrary::SharedLibrary(const char* soname, const char* package)
    : handle_(::dlopen(soname, RTLD_NOW | RTLD_LOCAL)),
      description_(std::string(soname) + " (Debian package " + package + ")") {
    if (!handle_) throw SharedLibraryError("cannot load " + description_ + ": " + ::dlerror());
}

void* SharedLibrary::address(const char* name) const {
    void* found = ::dlsym(handle_, name);
    if (!found) throw SharedLibraryError(std::string(name) + " is missing from " + description_);
    return found;
}

}  // namespace harkline
