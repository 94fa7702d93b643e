// What hears the bytes a driver exchanges with an adapter, for the Bus Traffic window.
#pragma once

#include <string_view>

namespace ktq::bus {

/// Hears the bytes a driver exchanges with a "++" adapter over its link, as they go.
class LinkListener {
public:
    virtual ~LinkListener() = default;
    virtual void sent(std::string_view bytes) = 0;
    virtual void received(std::string_view bytes) = 0;
};

} // namespace ktq::bus
