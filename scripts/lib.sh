# Shared by the scripts: install missing Debian packages, and the project's root.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$(nproc 2>/dev/null || echo 2)"

# ensure_packages PKG...: installs those of the packages that are not installed yet.
ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

BASE_PACKAGES=(cmake g++ make clang-format-14 libeigen3-dev libtoon-dev libgtest-dev)
# quarn's command line and PNG writer; Open3D reads its PLY back in the tests.
BASE_PACKAGES+=(libcli11-dev libstb-dev libopen3d-dev)
# The Python package, for Debian's /usr/bin/python3; its tests run under pytest with Open3D.
BASE_PACKAGES+=(python3-dev python3-pybind11 python3-numpy python3-pytest python3-open3d)
# Dask's distributed scheduler runs the many-scans test on a local cluster.
BASE_PACKAGES+=(python3-distributed)
# The Windows stage: cross-compiler, Wine, and GoogleTest sources to build for Windows.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine64 googletest)
