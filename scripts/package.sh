#!/usr/bin/env bash
# Builds the Debian package quillon_<version>_<arch>.deb into build/ (CPack, dependencies found
# by dpkg-shlibdeps). With --check it then installs the package, checks the installed program
# (scripts/check-installed.sh) and removes the package again.
set -euo pipefail
cd "$(dirname "$0")/.."
check=no
[ "${1:-}" = "--check" ] && check=yes
[ -f build/CMakeCache.txt ] || scripts/build.sh
cmake --build build
(cd build && cpack -G DEB >/dev/null)
deb=$(ls -t build/quillon_*.deb | head -n 1)
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Depends Recommends
[ "$check" = yes ] || exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if dpkg-query -W -f='${Status}' quillon 2>/dev/null | grep -q "install ok installed"; then
    echo "package: quillon is installed already; not touching it" >&2
    exit 1
fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "./$deb"
status=0
scripts/check-installed.sh /usr || status=$?
DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y quillon
if [ -e /usr/lib/quillon ] || [ -e /usr/bin/quillon ] || [ -e /usr/lib/python3/dist-packages/quillon ]; then
    echo "package: files left behind after removal" >&2
    status=1
fi
exit $status
