#!/bin/sh
# Installs what building, testing and the interop checks need (Debian).
set -e
need=""
command -v cmake >/dev/null 2>&1 || need="$need cmake"
command -v g++ >/dev/null 2>&1 || need="$need g++"
[ -f /usr/include/gtest/gtest.h ] || need="$need libgtest-dev"
command -v jbig2dec >/dev/null 2>&1 || need="$need jbig2dec"
if [ -n "$need" ]; then
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $need >/dev/null
fi
