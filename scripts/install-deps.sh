#!/bin/sh
# Installs every Debian 12 package needed to build, test, fuzz and benchmark
# the project. Safe to run again: apt-get skips what is already installed.
set -eu

if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi

PACKAGES="
    build-essential
    cmake
    ninja-build
    pkg-config
    git
    clang
    libclang-rt-14-dev
    googletest
    libgtest-dev
    libgmock-dev
    libbenchmark-dev
    libudev-dev
    libssl-dev
    libicu-dev
    umockdev
    libumockdev-dev
    tshark
    zlib1g-dev
    udev
    lintian
"

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
# shellcheck disable=SC2086
$SUDO apt-get install -y --no-install-recommends $PACKAGES
