// A stand-in library's exports, for the loader tests.
#pragma once

#include "bus/board/driverloader.h"

#include <map>
#include <string>

namespace ktq::bus::test {

template <typename Fn> void* symbol(Fn* fn) {
    return reinterpret_cast<void*>(fn);
}

/// A library's exports as the loader sees them, from a table of name and function.
inline SymbolResolver resolverFor(std::map<std::string, void*> symbols) {
    return [symbols = std::move(symbols)](const char* name) -> void* {
        const auto it = symbols.find(name);
        return it == symbols.end() ? nullptr : it->second;
    };
}

} // namespace ktq::bus::test
