#include "driverloader.h"
#include "sharedlibrary.h"

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
    return {
        {"libgpib.so.0", &linuxGpibConstants()},
        {"libgpibapi.so", &niGpibConstants()},
        {"libgpibapi.so.2", &niGpibConstants()},
        {"libgpibapi.so.1", &niGpibConstants()},
    };
}

} // namespace ktq::bus
