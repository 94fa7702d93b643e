// Opening the driver library on Windows, and where it is looked for there.
#include "bus/sharedlibrary.h"
#include "bus/windowstext.h"
#include "driverloader.h"

#include <windows.h>

#include <filesystem>

namespace ktq::bus {

std::unique_ptr<SharedLibrary> SharedLibrary::open(const std::string& fileName, std::string& error) {
    const std::filesystem::path file = std::filesystem::path(toWide(fileName)).make_preferred();
    const std::wstring wideName = file.wstring();
    if (!file.is_absolute()) {
        error = "not a full path, never looked up";
        return nullptr;
    }
    // The library's own dependencies come from its folder, the program's folder and the system
    // folder; a failure gives an error code, not a message box.
    DWORD previousMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    HMODULE module = LoadLibraryExW(wideName.c_str(), nullptr,
                                    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                                        LOAD_LIBRARY_SEARCH_SYSTEM32);
    const DWORD code = GetLastError();
    SetThreadErrorMode(previousMode, nullptr);
    if (!module) {
        error = systemMessage(code);
        return nullptr;
    }
    return std::unique_ptr<SharedLibrary>(new SharedLibrary(module, fileName));
}

SharedLibrary::~SharedLibrary() {
    FreeLibrary(static_cast<HMODULE>(m_handle));
}

void* SharedLibrary::symbol(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

std::string SharedLibrary::path() const {
    std::wstring buffer(32768, L'\0');
    const DWORD length =
        GetModuleFileNameW(static_cast<HMODULE>(m_handle), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) {
        return m_fileName;
    }
    buffer.resize(length);
    return toUtf8(buffer);
}

namespace {

// The folder part of a full path GetModuleFileNameW or GetSystemDirectoryW wrote; empty when
// the call failed, so that no candidate becomes a bare, searchable name.
std::string folderOf(std::wstring path, bool stripFileName) {
    if (stripFileName) {
        const auto slash = path.find_last_of(L"\\/");
        path.resize(slash == std::wstring::npos ? 0 : slash);
    }
    return toUtf8(path);
}

std::string programFolder() {
    std::wstring buffer(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(length < buffer.size() ? length : 0);
    return folderOf(buffer, true);
}

std::string systemFolder() {
    std::wstring buffer(MAX_PATH + 1, L'\0');
    const UINT length = GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
    buffer.resize(length < buffer.size() ? length : 0);
    return folderOf(buffer, false);
}

} // namespace

std::vector<DriverCandidate> systemDriverCandidates() {
    // A 64-bit process cannot load the 32-bit gpib-32.dll; ni4882.dll is NI-488.2's 64-bit library.
    std::vector<DriverCandidate> candidates;
    for (const std::string& folder : {programFolder(), systemFolder()}) {
        candidates.push_back({folder + "\\ni4882.dll", &niGpibConstants()});
    }
    return candidates;
}

} // namespace ktq::bus
