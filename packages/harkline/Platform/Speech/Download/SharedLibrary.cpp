#include "harkline/Platform/Speech/Download/SharedLibrary.h"

#include <dlfcn.h>

#include "harkline/Platform/Speech/Download/ModelDownloadError.h"

namespace harkline {

SharedLibrary::SharedLibrary(const char* soname, const char* package)
    : handle_(::dlopen(soname, RTLD_NOW | RTLD_LOCAL)),
      description_(std::string(soname) + " (Debian package " + package + ")") {
    if (!handle_)
        throw ModelDownloadError(ModelDownloadFailure::library, "cannot load " + description_ + ": " + ::dlerror());
}

void* SharedLibrary::address(const char* name) const {
    void* found = ::dlsym(handle_, name);
    if (!found) throw ModelDownloadError(ModelDownloadFailure::library, std::string(name) + " is missing from " + description_);
    return found;
}

}  // namespace harkline
