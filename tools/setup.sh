#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine; quick when all is there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)

# sudo drops the caller's environment: the variable goes on sudo's command line.
apt_get() {
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "$@"
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# install_missing [apt-get install options] -- PACKAGE...: installs those not yet there.
updated=0
install_missing() {
  local options=() missing=() p
  while [[ $1 != -- ]]; do
    options+=("$1")
    shift
  done
  shift
  for p in "$@"; do
    installed "$p" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "installing: ${missing[*]}"
  if ((!updated)); then
    apt_get update -q
    updated=1
  fi
  apt_get install -y -q "${options[@]}" "${missing[@]}"
}

packages=(
  cmake ninja-build g++ clang clang-format python3
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-x86-64
  googletest
  wine wine64 xvfb x11-utils imagemagick
  icoutils python3-pefile
  libxmp-dev libopenmpt-dev
)

# Patch payloads: unzip reads the generated resource pack as an outside check.
packages+=(unzip)

# The unprivileged end-to-end test creates its user and runs as it (useradd, runuser).
packages+=(passwd util-linux)

install_missing -- "${packages[@]}"

# The sanitizers' and libFuzzer's runtime comes in a package named after clang's major
# version (libclang-rt-14-dev with Debian 12's clang 14).
clang_major=$(clang -dumpversion | cut -d. -f1)
install_missing -- "libclang-rt-$clang_major-dev"

# --- music: real XM modules from Debian's game data for the player's tests ---
# fb-music-high holds one XM of Frozen-Bubble, solarwolf two of its own; recommends (the
# games themselves) are left out.
install_missing --no-install-recommends -- fb-music-high solarwolf
# --- end music ---

# --- 32-bit Windows programs: Wine's 32-bit loader (wine32:i386) ---
# It is an i386 Linux program. Where the kernel cannot run those, QEMU's user-mode emulator
# runs them, registered with binfmt_misc for i386 ELF files (slow, but it works).
binfmt=/proc/sys/fs/binfmt_misc
i386_probe=$root/build/i386-probe

# A 96-byte static i386 program: exit(42) through int 0x80, nothing else.
i386_runs() {
  mkdir -p "$root/build"
  printf '%b' '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
    '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08' \
    '\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00' \
    '\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$i386_probe"
  chmod +x "$i386_probe"
  local rc=0
  "$i386_probe" 2>/dev/null || rc=$?
  rm -f "$i386_probe"
  ((rc == 42))
}

if [[ -e $binfmt/qemu-i386 ]]; then
  # Registered before (it lasts until the machine restarts): off while the kernel is tried,
  # and on again only where the kernel cannot run them (the emulator is far slower).
  echo 0 | "${sudo[@]}" tee "$binfmt/qemu-i386" >/dev/null
  i386_runs || echo 1 | "${sudo[@]}" tee "$binfmt/qemu-i386" >/dev/null
elif ! i386_runs; then
  echo "this kernel cannot run i386 programs: registering QEMU's emulator for them"
  install_missing --no-install-recommends -- qemu-user-static
  if [[ ! -e $binfmt/register ]]; then
    "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
  fi
  # Magic and mask of an i386 ELF executable or shared object (as QEMU's own scripts have
  # them); F: the emulator is opened now, so it works in any mount namespace later.
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf '%s' ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" |
    "${sudo[@]}" tee "$binfmt/register" >/dev/null
  i386_runs || { echo "i386 programs do not run even through QEMU" >&2; exit 1; }
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
  updated=0
fi
install_missing -- wine32:i386
# --- end 32-bit ---
