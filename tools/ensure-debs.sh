#!/bin/sh
# Installs the Debian packages the build and the tests need, when they are
# missing and we are root. Prints what it does; never fails the build for a
# package that is already present.
set -e
need=""
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need="$need $p"
done
[ -z "$need" ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "missing Debian packages:$need (run as root to install them)" >&2
  exit 1
fi
echo "installing Debian packages:$need"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $need
