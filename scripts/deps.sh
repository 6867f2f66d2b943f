# Sourced by scripts/run and scripts/test: installs, with apt-get, whatever of
# the given Debian packages is missing. Needs root (or sudo) only when something is missing.
zorv_install() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  # The servers the tests start themselves (ngircd, danted, inspircd,
  # atheme-services, znc) must not be started as system services by the
  # install; on a machine without an init system that start would fail the install.
  local policy=/usr/sbin/policy-rc.d
  local made_policy=""
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null && $sudo chmod +x "$policy" && made_policy=1
  fi
  $sudo apt-get update -qq || true
  local rc=0
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" || rc=$?
  [ -n "$made_policy" ] && $sudo rm -f "$policy"
  return $rc
}
ZORV_BUILD_PACKAGES=(g++ cmake ninja-build qt6-base-dev libgl-dev fonts-dejavu-core libssl-dev)
# Fonts the program falls back to for scripts and symbols the chat font lacks
# (Chinese, Japanese, Korean, emoji); only the run command installs them.
ZORV_RUN_PACKAGES=(fonts-noto-cjk fonts-noto-color-emoji)
ZORV_TEST_PACKAGES=(libgtest-dev ngircd inspircd atheme-services znc faketime dante-server python3 passwd openssl desktop-file-utils appstream)
# What scripts/package needs besides the build: dpkg-shlibdeps and apt.
ZORV_PACKAGE_PACKAGES=(dpkg-dev file apt util-linux)
