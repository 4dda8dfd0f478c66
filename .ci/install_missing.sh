# Sourced by the checks: install_missing PACKAGE... installs, as root, the
# Debian packages that are not installed yet (apt-get update first, once).
install_missing() {
  local missing=() package
  for package in "$@"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
  done
  if ((${#missing[@]} > 0)) && [ "$(id -u)" = 0 ]; then
    echo "installing ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}
