// A reply as the engine cuts it (TrimResponse) and the function line built from it (PrepItem).
#include "fuzzapp.h"

#include "run/configurationrun.h"
#include "ui/config/frmconfig.h"

#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>

using ktq::fuzz::fail;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ktq::fuzz::startApplication();
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
    const QString response = ktq::run::ConfigurationRun::TrimResponse(received);
    if (!received.startsWith(response)) {
        fail("the cut reply is not the start of the reply");
    }
    const qsizetype lineFeed = received.indexOf(u'\n');
    if (lineFeed >= 0 ? response.size() != lineFeed + 1 : response != received) {
        fail("the reply is not cut after its first line feed");
    }

    const QString line = ktq::ui::frmConfig::PrepItem(prompt, response);
    const qsizetype column = prompt.size() < 34 ? 35 : prompt.size() + 1;
    if (!line.startsWith(prompt) || line.size() != column + response.size() - 1) {
        fail("the line is not prompt, padding, setting less its last character");
    }
    if (line.mid(column) != response.left(response.size() - 1)) {
        fail("the setting is not in its column");
    }
    return 0;
}
