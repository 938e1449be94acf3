# Shared by scripts/test and scripts/demo: install what is missing, then configure and build.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev firebird-dev libfbclient2 firebird3.0-server-core
          firebird3.0-utils firebird3.0-server libcurl4-openssl-dev curl python3-pyftpdlib googletest libgtest-dev
          clang libclang-rt-14-dev dpkg-dev openssl python3-openssl libssl-dev
          openssh-server openssh-client xvfb python3-prometheus-client)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# build DIR [TARGET...]: configures DIR (warnings as errors) and builds the targets, or everything.
build() {
    local dir=$1
    shift
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELA_WERROR=ON >/dev/null
    if [ $# -gt 0 ]; then
        cmake --build "$dir" -j2 --target "$@"
    else
        cmake --build "$dir" -j2
    fi
}
