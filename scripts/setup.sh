# Shared by scripts/run and scripts/test: makes sure the Debian packages the build needs are
# there, then configures and builds into build/ (or $KTQ_BUILD_DIR).
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${KTQ_BUILD_DIR:-$repo/build}

# cmake and ninja build it; Qt 6 Widgets is the toolkit (its CMake files need the OpenGL headers);
# GoogleTest runs the unit tests (Qt's private headers let the window tests queue input as the
# window system does); fonts let the windows draw text on any machine.
packages="cmake ninja-build g++ qt6-base-dev qt6-base-private-dev libgl-dev libgtest-dev fonts-dejavu-core ${KTQ_EXTRA_PACKAGES:-}"

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ -n "$missing" ]; then
    if [ "$(id -u)" = 0 ]; then
        echo "Installing:$missing"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends $missing
    else
        echo "These Debian packages are missing:$missing"
        echo "Install them with: sudo apt-get install$missing"
        exit 1
    fi
fi

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${KTQ_BUILD_TYPE:-RelWithDebInfo}" ${KTQ_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j "$(nproc)"
