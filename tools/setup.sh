#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine; quick when all is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format python3
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-x86-64
  googletest
  wine64 xvfb x11-utils imagemagick
  icoutils python3-pefile
  libxmp-dev libopenmpt-dev
)

# Patch payloads: unzip reads the generated resource pack as an outside check.
packages+=(unzip)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
fi

# --- music: real XM modules from Debian's game data for the player's tests ---
# The corpus of music/tests/real_modules.h: fb-music-high holds one XM of Frozen-Bubble,
# solarwolf two of its own, and the data packages of ballz, bomberclone, ceferino,
# criticalmass, heroes, njam, pekka-kana-2 and rafkill 43 more; recommends (the games
# themselves) are left out.
music_modules=(fb-music-high solarwolf ballz-data bomberclone-data ceferino-data
               criticalmass-data heroes-sound-tracks njam-data pekka-kana-2-data rafkill-data)
music_missing=()
for p in "${music_modules[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || music_missing+=("$p")
done
if ((${#music_missing[@]})); then
  echo "installing: ${music_missing[*]}"
  sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
    "${music_missing[@]}"
fi
# --- end music ---
