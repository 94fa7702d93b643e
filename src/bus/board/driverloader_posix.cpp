// Opening the driver library on Linux, and where it is looked for there.
#include "bus/sharedlibrary.h"
#include "driverloader.h"

#include <dlfcn.h>
#include <link.h>

namespace ktq::bus {

namespace {

// dlerror's text usually starts with the file name, which the caller already gives.
std::string failureReason(const std::string& fileName, const char* error) {
    std::string reason = error ? error : "cannot be opened";
    const std::string prefix = fileName + ": ";
    if (reason.starts_with(prefix)) {
        reason.erase(0, prefix.size());
    }
    return oneLine(reason);
}

} // namespace

std::unique_ptr<SharedLibrary> SharedLibrary::open(const std::string& fileName, std::string& error) {
    dlerror();
    // A bare name goes through the dynamic loader's search path, which never includes the
    // current folder.
    void* handle = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        error = failureReason(fileName, dlerror());
        return nullptr;
    }
    return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle, fileName));
}

SharedLibrary::~SharedLibrary() {
    dlclose(m_handle);
}

void* SharedLibrary::symbol(const char* name) const {
    return dlsym(m_handle, name);
}

std::string SharedLibrary::path() const {
    link_map* map = nullptr;
    if (dlinfo(m_handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name) {
        return map->l_name;
    }
    return m_fileName;
}

std::vector<DriverCandidate> systemDriverCandidates() {
    // NI-488.2 for Linux gives 64-bit programs libni4882.so, with ni4882.h's interface; its older
    // libgpibapi.so (ni488.h) is a 32-bit library that this 64-bit program cannot load.
    return {
        {"libgpib.so.0", &linuxGpibConstants()},
        {"libni4882.so", &niGpibConstants()},
    };
}

} // namespace ktq::bus
