// One opened driver library, whichever way the platform opens it.
#pragma once

#include <algorithm>
#include <memory>
#include <string>

namespace ktq::bus {

/// A system's error text on one line: the loader's log takes exactly one.
inline std::string oneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

/// Adds a file that could not be used to the list the loader's log gives: "file (reason)", with
/// "; " between two.
inline void noteFailure(std::string& failures, const std::string& fileName, const std::string& reason) {
    if (!failures.empty()) {
        failures += "; ";
    }
    failures += fileName + " (" + reason + ")";
}

/// One opened driver library, closed when destroyed. Each platform opens it its own way
/// (driverloader_posix.cpp, driverloader_windows.cpp).
class SharedLibrary {
public:
    /// nullptr when the file cannot be opened; `error` then says why, on one line. On Windows only
    /// a full path is opened: a bare name would be looked up in the current folder and on PATH,
    /// where anyone may have planted a library of that name.
    static std::unique_ptr<SharedLibrary> open(const std::string& fileName, std::string& error);

    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    /// The exported function of that name; nullptr when the library has none.
    void* symbol(const char* name) const;
    /// The file the system actually loaded, or the name it was opened by.
    std::string path() const;

private:
    SharedLibrary(void* handle, std::string fileName) : m_handle(handle), m_fileName(std::move(fileName)) {}

    void* m_handle = nullptr;
    std::string m_fileName;
};

} // namespace ktq::bus
