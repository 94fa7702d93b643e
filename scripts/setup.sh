# Shared by scripts/run and scripts/test: makes sure the Debian packages the build needs are
# there, then configures and builds into build/ (or $KTQ_BUILD_DIR) everything, or the targets
# $KTQ_BUILD_TARGETS names.
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${KTQ_BUILD_DIR:-$repo/build}

# cmake and ninja build it; Qt 6 Widgets is the toolkit (its CMake files need the OpenGL headers);
# GoogleTest runs the unit tests (Qt's private headers let the window tests queue input as the
# window system does); Qt 6 SerialPort opens the serial ports of "++" GPIB adapters (QtNetwork,
# for the Ethernet ones, is in qt6-base-dev); fonts let the windows draw text on any machine;
# make builds the real linux-gpib library for the second run of the end-to-end tests.
packages="cmake ninja-build g++ make qt6-base-dev qt6-base-private-dev qt6-serialport-dev libgl-dev libgtest-dev fonts-dejavu-core ${KTQ_EXTRA_PACKAGES:-}"

# Where the AR488 firmware is beside the repository, the AVR toolchain and the Arduino core build
# it for an Uno, and simavr (found through pkg-config) runs it for the tests (ktqsim-uno).
if [ -d "$repo/../shared/ar488" ]; then
    packages="$packages gcc-avr avr-libc binutils-avr arduino-core-avr arduino-builder libsimavr-dev libelf-dev pkg-config"
fi

# shellcheck source=scripts/packages.sh
. "$repo/scripts/packages.sh"
ensure_packages $packages

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${KTQ_BUILD_TYPE:-RelWithDebInfo}" ${KTQ_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j "$(nproc)" ${KTQ_BUILD_TARGETS:+--target $KTQ_BUILD_TARGETS}
