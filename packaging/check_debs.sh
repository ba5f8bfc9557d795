#!/bin/sh
# Checks the Debian packages that `./dev.sh package` built: the files each one
# holds, its control fields, and that the API library does not link libusb.
#   packaging/check_debs.sh [folder]   (default: build-package/packages)
set -eu

DIR=${1:-build-package/packages}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
VERSION=$(sed -n 's/^project(Tarsel VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")-1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0

fail() {
  echo "check_debs: $*" >&2
  failures=$((failures + 1))
}

deb() {  # deb <package>: its file
  set -- "$DIR/$1"_*.deb
  [ -f "$1" ] && echo "$1"
}

# holds <package> <extended regex>...: each names a path in the package.
holds() {
  pkg=$1
  shift
  dpkg-deb -c "$(deb "$pkg")" | awk '{print $6}' >"$WORK/$pkg.files"
  for pattern in "$@"; do
    grep -Eq "^\./$pattern\$" "$WORK/$pkg.files" || fail "$pkg holds no ./$pattern"
  done
}

# depends <package> <text>...: each is part of the Depends field.
depends() {
  pkg=$1
  shift
  field=$(dpkg-deb -f "$(deb "$pkg")" Depends)
  for part in "$@"; do
    case "$field" in
      *"$part"*) ;;
      *) fail "$pkg: Depends '$field' lacks '$part'" ;;
    esac
  done
}

PACKAGES="libtarsel5 libtarsel-dev tarsel-tools tarsel-doc"
[ -n "$(deb python3-tarsel || true)" ] && PACKAGES="$PACKAGES python3-tarsel"
for pkg in $PACKAGES; do
  if [ -z "$(deb "$pkg" || true)" ]; then
    fail "no package $pkg in $DIR"
    continue
  fi
  fields="Package Version Maintainer Description Section"
  # The reference is plain files: it depends on nothing.
  [ "$pkg" = tarsel-doc ] || fields="$fields Depends"
  for name in $fields; do
    [ -n "$(dpkg-deb -f "$(deb "$pkg")" "$name")" ] || fail "$pkg has no $name field"
  done
  [ "$(dpkg-deb -f "$(deb "$pkg")" Version)" = "$VERSION" ] || fail "$pkg is not version $VERSION"
  holds "$pkg" "usr/share/doc/$pkg/copyright" "usr/share/doc/$pkg/changelog.Debian.gz"
  if grep -Eq '^\./(usr/local|home|root|tmp)/' "$WORK/$pkg.files"; then
    fail "$pkg holds files outside the system folders"
  fi
done
[ "$failures" -eq 0 ] || exit 1

LIB='usr/lib/[a-z0-9_-]+'
holds libtarsel5 "$LIB/Tarsel.API.ArmControlUbuntu.so" "$LIB/Tarsel.API.CommLayerUbuntu.so" \
  "usr/lib/udev/rules.d/60-tarsel-arm.rules"
depends libtarsel5 "libc6" "libstdc++6" "libusb-1.0-0"
holds libtarsel-dev "usr/include/tarsel/tarsel.h" "usr/include/tarsel/arm.hpp" \
  "usr/include/tarsel/control_loop.hpp" \
  "usr/include/tarsel/version.h" "$LIB/cmake/Tarsel/TarselConfig.cmake" \
  "$LIB/cmake/Tarsel/TarselTargets.cmake" "$LIB/pkgconfig/tarsel-arm-control.pc"
depends libtarsel-dev "libtarsel5 (= $VERSION)"
holds tarsel-tools "usr/bin/tarsel" "usr/bin/tarsel-sim-usb" \
  "$LIB/tarsel/sim/Tarsel.API.CommLayerUbuntu.so"
depends tarsel-tools "libtarsel5 (= $VERSION)" "umockdev" "libusb-1.0-0"
if [ -n "$(deb python3-tarsel || true)" ]; then
  holds python3-tarsel "usr/lib/python3/dist-packages/tarsel/__init__.py" \
    "usr/lib/python3/dist-packages/tarsel/_tarsel[^/]*\.so"
  depends python3-tarsel "libtarsel5 (= $VERSION)" "python3"
fi
# The reference, its Python page included, and nothing else.
DOC=usr/share/doc/tarsel-doc/html
holds tarsel-doc "$DOC/index.html" "$DOC/python.html" "$DOC/classtarsel_1_1Arm.html"
[ "$(dpkg-deb -f "$(deb tarsel-doc)" Architecture)" = all ] || fail "tarsel-doc is not Architecture: all"
if grep -v '/$' "$WORK/tarsel-doc.files" | grep -Evq '^\./usr/share/doc/tarsel-doc/'; then
  fail "tarsel-doc holds files outside its documentation folder"
fi
# The headers and the libraries each live in one package only.
if grep -q 'usr/include/' "$WORK/libtarsel5.files"; then fail "libtarsel5 holds headers"; fi
if grep -q 'Tarsel.API.ArmControlUbuntu.so' "$WORK/tarsel-tools.files"; then
  fail "tarsel-tools holds the API library"
fi

# The API library links neither libusb nor the link library; the link library
# links libusb.
dpkg-deb -x "$(deb libtarsel5)" "$WORK/root"
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
for lib in "$WORK"/root/usr/lib/*/Tarsel.API.ArmControlUbuntu.so; do
  if needed "$lib" | grep -Eq 'libusb|CommLayer'; then
    fail "the API library links $(needed "$lib" | tr '\n' ' ')"
  fi
done
for lib in "$WORK"/root/usr/lib/*/Tarsel.API.CommLayerUbuntu.so; do
  if ! needed "$lib" | grep -q 'libusb-1.0'; then fail "the link library does not link libusb"; fi
done

[ "$failures" -eq 0 ] || exit 1
echo "check_debs: $(echo "$PACKAGES" | wc -w) packages in $DIR are complete"
