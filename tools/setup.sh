#!/usr/bin/env bash
# Shared set-up for ./play and ./check: installs missing Debian packages,
# then configures and builds the requested build folders. Safe to re-run.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PACKAGES=(g++ cmake make pkg-config ccache zlib1g-dev libpng-dev libode-dev
          libsdl2-dev libgtest-dev libgmock-dev libbenchmark-dev clang
          libclang-rt-14-dev)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if ((${#missing[@]})); then
        echo "setup: installing ${missing[*]}" >&2
        local sudo=()
        [[ $(id -u) -ne 0 ]] && sudo=(sudo)
        "${sudo[@]}" apt-get update -qq
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

jobs() { nproc 2>/dev/null || echo 2; }

# build_dir NAME [cmake args...]: configure (once) and build into $ROOT/NAME.
build_dir() {
    local dir="$ROOT/$1"; shift
    if [[ ! -f "$dir/CMakeCache.txt" ]]; then
        cmake -S "$ROOT" -B "$dir" "$@" >/dev/null
    fi
    cmake --build "$dir" -j "$(jobs)"
}

install_missing
# ccache keeps its default cache (~/.cache/ccache), shared by every clone on the machine.
