# Sourced by the build scripts: ensure_packages installs the Debian packages named that are
# missing (as root), or names them and stops.
ensure_packages() {
    missing=""
    for p in "$@"; do
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
}
