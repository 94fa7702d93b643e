// A reply as the engine cuts it (TrimResponse) and the function line built from it (PrepItem).
#include "fuzzapp.h"

#include "harness.h"

#include "ui/config/frmconfig.h"

#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

using ktq::fuzz::fail;

namespace {

struct Window {
    ktq::test::Bench bench;
    ktq::ui::frmConfig window{bench.session()};
};

std::unique_ptr<Window> shared;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ktq::fuzz::startApplication();
    shared = std::make_unique<Window>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t promptLength = std::min<std::size_t>(data[0] % 64, size - 1);
    const auto* bytes = reinterpret_cast<const char*>(data + 1);
    const QString prompt = QString::fromLatin1(bytes, static_cast<qsizetype>(promptLength));
    const QString received =
        QString::fromLatin1(bytes + promptLength, static_cast<qsizetype>(size - 1 - promptLength));
    ktq::ui::SharedState& state = shared->bench.state;

    shared->window.TrimResponse(received);
    const QString& response = state.Response;
    if (!received.startsWith(response)) {
        fail("the cut reply is not the start of the reply");
    }
    const qsizetype lineFeed = received.indexOf(u'\n');
    if (lineFeed >= 0 ? response.size() != lineFeed + 1 : response != received) {
        fail("the reply is not cut after its first line feed");
    }

    shared->window.PrepItem(prompt, response);
    const QString& line = state.ListLine;
    const qsizetype column = prompt.size() < 34 ? 35 : prompt.size() + 1;
    if (!line.startsWith(prompt) || line.size() != column + response.size() - 1) {
        fail("the line is not prompt, padding, setting less its last character");
    }
    if (line.mid(column) != response.left(response.size() - 1)) {
        fail("the setting is not in its column");
    }
    return 0;
}
