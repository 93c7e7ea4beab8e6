# Debian packages the project needs, in one place. Sourced by run.sh and test.sh.
#
# BUILD_PACKAGES build the programs; TEST_PACKAGES are needed only by the tests,
# benchmarks and screenshots (reference decoders and encoders never link into the
# programs themselves).

BUILD_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    libxml2-dev zlib1g-dev
    qt6-base-dev
)

TEST_PACKAGES=(
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-dev
    libgif-dev libjpeg-dev libpng-dev libstb-dev libspng-dev libtiff-dev
    libvips-dev libimagequant-dev
    xvfb xauth x11-apps x11-utils imagemagick openbox xdotool
    netpbm feh libx11-dev
    desktop-file-utils shared-mime-info
)

# install_missing PACKAGE... : apt-get installs whichever of the packages are not
# installed yet, as root or through sudo. Does nothing when all are present.
install_missing() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed'; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo=(sudo)
        else
            echo "error: need root or sudo to install: ${missing[*]}" >&2
            return 1
        fi
    fi
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq || return 1
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" || return 1
}
