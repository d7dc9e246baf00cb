# Debian packages that building, testing and the demo need.
TAGKIT_PACKAGES=(cmake g++ make pkg-config libboost-dev zlib1g-dev libgtest-dev libbenchmark-dev python3 python3-mutagen doxygen)

install_deps() {
  local missing=()
  for p in "${TAGKIT_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
  fi
}
