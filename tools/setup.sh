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

# The release: Authenticode signing (osslsigncode; openssl makes the tests' throwaway
# certificate) and 7-Zip as a second reader of the archive's entry names.
packages+=(osslsigncode openssl p7zip-full)

# The unprivileged end-to-end test creates its user and runs as it (useradd, runuser).
packages+=(passwd util-linux)

install_missing -- "${packages[@]}"

# The sanitizers' and libFuzzer's runtime comes in a package named after clang's major
# version (libclang-rt-14-dev with Debian 12's clang 14).
clang_major=$(clang -dumpversion | cut -d. -f1)
install_missing -- "libclang-rt-$clang_major-dev"

# Real XM modules from Debian's game data for the player's tests and benchmark (the corpus of
# music/tests/real_modules.h): fb-music-high holds one XM of Frozen-Bubble, solarwolf two of
# its own, and the data packages of ballz, bomberclone, ceferino, criticalmass, heroes, njam,
# pekka-kana-2 and rafkill 43 more; recommends (the games themselves) are left out.
install_missing --no-install-recommends -- fb-music-high solarwolf ballz-data bomberclone-data \
  ceferino-data criticalmass-data heroes-sound-tracks njam-data pekka-kana-2-data rafkill-data

# 32-bit Windows programs: Wine's 32-bit loader (wine32:i386).
# It is an i386 Linux program. Where the kernel cannot run those, QEMU's user-mode emulator
# runs them, registered with binfmt_misc for i386 ELF files.
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

# QEMU before 8 runs 32-bit Wine barely: 7.2 (Debian 12's own) spends about 35 CPU seconds
# starting each Windows process and Wine's services crash under it ("unexpected trap -1"), so
# a prefix is never made. 10.0 (Debian 13's, and Debian 12's backports) starts one in about a
# second. The emulator is Debian's qemu-user, whose qemu-i386 is statically linked from 9.1
# on; the distribution's own where it is new enough, else its backports'.
qemu_min_major=8
qemu=/usr/bin/qemu-i386

qemu_major() {
  [[ -x $qemu ]] || { echo 0; return; }
  "$qemu" --version | sed -n '1s/^qemu-i386 version \([0-9]*\).*/\1/p'
}

# The release's backports as a source of apt's: the same URIs and keyring as the machine's own
# source of the release (tools/backports_source.py), so a mirror or proxy it goes through stays
# in use. Written whole each time, over what an earlier run wrote; fails (the script said why)
# where the machine has no source of the release.
backports_source=/etc/apt/sources.list.d/itr-backports.sources
write_backports_source() {
  local sources_list sources_parts text
  eval "$(apt-config shell sources_list Dir::Etc::sourcelist/f sources_parts Dir::Etc::sourceparts/d)"
  text=$(python3 "$root/tools/backports_source.py" "$1" --sources-list "$sources_list" \
    --sources-parts "$sources_parts" --skip "$backports_source") || return 1
  [[ -f $backports_source && $(<"$backports_source") == "$text" ]] && return
  echo "$backports_source: $1-backports from $(sed -n '2,$s/^URIs: //p' <<<"$text")"
  printf '%s\n' "$text" | "${sudo[@]}" tee "$backports_source" >/dev/null
  updated=0
}

install_qemu() {
  (($(qemu_major) >= qemu_min_major)) && return
  local candidate codename
  candidate=$(apt-cache policy qemu-user | sed -n 's/^ *Candidate: \([0-9]*:\)\{0,1\}\([0-9]*\).*/\2/p')
  if ((${candidate:-0} >= qemu_min_major)); then
    echo "installing QEMU's user-mode emulator (qemu-user $candidate)"
    apt_get install -y -q --no-install-recommends qemu-user
  else
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "qemu-user here is $candidate: installing a newer one from $codename-backports"
    write_backports_source "$codename" || exit 1
    apt_get update -q
    apt_get install -y -q --no-install-recommends -t "$codename-backports" qemu-user
  fi
  (($(qemu_major) >= qemu_min_major)) || {
    echo "no QEMU $qemu_min_major or later for i386 programs ($qemu: $(qemu_major))" >&2
    exit 1
  }
}

register_qemu() {
  [[ -e $binfmt/register ]] || "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
  # An older registration (another emulator, or an older one) goes first.
  [[ -e $binfmt/qemu-i386 ]] && echo -1 | "${sudo[@]}" tee "$binfmt/qemu-i386" >/dev/null
  # Magic and mask of an i386 ELF executable or shared object (as QEMU's own scripts have
  # them); F: the emulator is opened now, so it works in any mount namespace later.
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf '%s' ":qemu-i386:M::$magic:$mask:$qemu:F" | "${sudo[@]}" tee "$binfmt/register" >/dev/null
}

# A source an earlier run added (perhaps with a fixed host this machine cannot reach) follows the
# machine's own source again; where that cannot be found it stays as it is.
if [[ -f $backports_source ]]; then
  write_backports_source "$(. /etc/os-release && echo "$VERSION_CODENAME")" ||
    echo "$backports_source left as it was" >&2
fi

if [[ -e $binfmt/qemu-i386 ]]; then
  # Registered before (it lasts until the machine restarts): off while the kernel is tried.
  echo 0 | "${sudo[@]}" tee "$binfmt/qemu-i386" >/dev/null
fi
if ! i386_runs; then
  install_qemu
  if grep -qx "interpreter $qemu" "$binfmt/qemu-i386" 2>/dev/null; then
    echo 1 | "${sudo[@]}" tee "$binfmt/qemu-i386" >/dev/null
  else
    echo "this kernel cannot run i386 programs: registering QEMU's emulator for them"
    register_qemu
  fi
  i386_runs || { echo "i386 programs do not run even through QEMU" >&2; exit 1; }
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
  updated=0
fi
install_missing -- wine32:i386

# UPX packs a copy of the resource editor's sample program for its test on packed programs
# (resedit.real_programs). Debian 12 has upx-ucl only in its backports: the release's own where
# it has one, else that of its backports (the same source as for QEMU, above; nothing else
# comes from there). Where neither can be had, that one case of the test is skipped.
if ! installed upx-ucl; then
  if apt-cache policy upx-ucl | grep -q '^ *Candidate: [0-9]'; then
    install_missing -- upx-ucl
  else
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    if write_backports_source "$codename"; then
      apt_get update -q
      updated=1
    fi
    if apt-cache policy upx-ucl | grep -q '^ *Candidate: [0-9]'; then
      echo "installing upx-ucl from $codename-backports"
      apt_get install -y -q --no-install-recommends -t "$codename-backports" upx-ucl
    else
      echo "no upx-ucl here: the resource editor's test of packed programs will be skipped"
    fi
  fi
fi
