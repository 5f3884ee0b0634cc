#!/bin/sh
# Builds Kesmark's Debian package with CPack.
#
#   scripts/package.sh [--build-dir DIR] [--output DIR] [--no-build]
#
# By default: installs the packages the build needs, builds both programs as
# a release with Debian's hardening flags (dpkg-buildflags) in build-deb/,
# and writes kesmark_VERSION_ARCH.deb into dist/. Its Depends come from the
# shared libraries the programs use (dpkg-shlibdeps); its Maintainer comes
# from DEBFULLNAME and DEBEMAIL when they are set. Then it shows the package's
# fields and runs lintian on it when lintian is installed.
#
# --no-build packages the build folder DIR as it stands (the tests package
# their own build this way).
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

build_dir="$root/build-deb"
output="$root/dist"
build=yes
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$(realpath -m "$2"); shift 2 ;;
    --output) output=$(realpath -m "$2"); shift 2 ;;
    --no-build) build=no; shift ;;
    *) echo "usage: $0 [--build-dir DIR] [--output DIR] [--no-build]" >&2; exit 2 ;;
  esac
done

if [ "$build" = yes ]; then
  ./scripts/install-deps.sh
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
  LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
  export CXXFLAGS LDFLAGS
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKESMARK_BUILD_GUI=ON -DKESMARK_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build_dir" --parallel "$(nproc)"
fi
[ -f "$build_dir/CPackConfig.cmake" ] || {
  echo "package: $build_dir is no configured build folder" >&2
  exit 2
}

# The Maintainer field from DEBFULLNAME and DEBEMAIL, as Debian's tools take it.
set --
if [ -n "${DEBEMAIL:-}" ]; then
  set -- -D "CPACK_DEBIAN_PACKAGE_MAINTAINER=${DEBFULLNAME:-Kesmark developers} <$DEBEMAIL>"
fi
mkdir -p "$output"
cpack --config "$build_dir/CPackConfig.cmake" -B "$output/cpack" "$@" >"$output/cpack.log" 2>&1 || {
  cat "$output/cpack.log" >&2
  exit 1
}
deb=$(ls -t "$output"/cpack/*.deb | head -n 1)
mv "$deb" "$output/"
deb="$output/$(basename "$deb")"
rm -rf "$output/cpack"
echo "package: $deb"
dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Architecture\|Depends\|Suggests\):/  \1:/p'

if command -v lintian >/dev/null 2>&1; then
  if lintian --fail-on error,warning "$deb" >"$output/lintian.txt" 2>&1; then
    echo "lintian: no errors or warnings"
  else
    echo "lintian found:"
  fi
  sed 's/^/  /' "$output/lintian.txt"
fi
