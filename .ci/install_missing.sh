# shellcheck shell=bash
# Sourced by the scripts under .ci/: the one way they install, as root, the
# Debian packages a check lacks.
#
#   install_missing PACKAGE...   installs those of PACKAGE... that dpkg does
#                                not list as installed, as install_required
#   install_required PACKAGE...  installs every PACKAGE; if some cannot be
#                                installed, names them and ends the script
#   install_optional PACKAGE...  installs every PACKAGE; if that fails, says
#                                so and returns 1, and the script goes on
#   add_architecture ARCH        lets dpkg install packages of ARCH as well
#   installed PACKAGE            whether dpkg lists PACKAGE as installed
#
# A script that tests for a package its own way (a command on PATH, a file)
# gathers what it lacks and hands that to install_required.
#
# The package indexes are brought up to date once per script, before the
# first install (and again only if an architecture was added since). When
# apt-get update fails, as it does while a mirror is in the middle of a sync
# and one of its indexes has the wrong size, it is tried again a few times
# with a pause, then the script goes on with the indexes it has: only a
# package that then cannot be installed is a failure.
#
# Not as root, nothing is installed: what is missing is named, and the
# script goes on without it (install_optional returns 1).

apt_update_tries=3
apt_update_pause=15
# The architectures the indexes were last brought up to date for.
apt_updated_for=

# apt-get update, showing what went wrong (quieter, apt-get may hide the
# index it failed to fetch) and not what went right.
apt_update() {
  local output status=0
  output=$(DEBIAN_FRONTEND=noninteractive apt-get update -q 2>&1) || status=$?
  [ -z "$output" ] ||
    sed -e '/^Hit:/d' -e '/^Get:/d' -e '/^Ign:/d' -e '/^Reading /d' -e '/^Fetched /d' \
      <<<"$output" >&2
  return "$status"
}

apt_update_once() {
  local architectures attempt
  architectures="$(dpkg --print-architecture) $(dpkg --print-foreign-architectures | tr '\n' ' ')"
  [ "$apt_updated_for" != "$architectures" ] || return 0
  for ((attempt = 1; ; attempt++)); do
    if apt_update; then
      break
    fi
    if ((attempt >= apt_update_tries)); then
      echo "apt-get update failed $attempt times (its messages are above); going on with the package indexes there are" >&2
      break
    fi
    echo "apt-get update failed (try $attempt of $apt_update_tries); trying again in $apt_update_pause s" >&2
    sleep "$apt_update_pause"
  done
  apt_updated_for=$architectures
}

apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@"
}

# Why PACKAGE... cannot be installed, as a dry run tells at length (quiet,
# apt-get may say no more than that its resolver failed).
why_not() {
  apt-get install -s -q --no-install-recommends "$@" 2>&1 |
    sed -e '/^Reading /d' -e '/^Building /d' -e '/^Inst /d' -e '/^Conf /d' >&2 || true
}

# Whether this process may install; if not, says what it leaves out.
may_install() {
  [ "$(id -u)" != 0 ] || return 0
  echo "not root, so not installing $*; going on without" >&2
  return 1
}

install_required() {
  (($# > 0)) || return 0
  may_install "$@" || return 0
  echo "installing $*"
  apt_update_once
  apt_install "$@" && return 0
  # Together they failed: each on its own, to learn which cannot be had.
  local package failed=()
  if (($# == 1)); then
    failed=("$1")
  else
    for package in "$@"; do
      apt_install "$package" || failed+=("$package")
    done
  fi
  if ((${#failed[@]} > 0)); then
    why_not "${failed[@]}"
    echo "cannot install ${failed[*]}, which the check needs (apt-get's messages above say why)" >&2
    exit 1
  fi
}

install_optional() {
  (($# > 0)) || return 0
  may_install "$@" || return 1
  echo "installing $* (the check goes on without, if it must)"
  apt_update_once
  apt_install "$@" && return 0
  why_not "$@"
  echo "cannot install $* (apt-get's messages above say why); going on without" >&2
  return 1
}

add_architecture() {
  ! dpkg --print-foreign-architectures | grep -qx "$1" || return 0
  may_install "packages of the $1 architecture" || return 1
  dpkg --add-architecture "$1"
}

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

install_missing() {
  local missing=() package
  for package in "$@"; do
    installed "$package" || missing+=("$package")
  done
  install_required "${missing[@]}"
}
