#!/usr/bin/env bash
# The Debian package as a user gets it: built with CPack from this build, unpacked into a
# scratch root, its command renders a picture with its module (byte-identical to the build's
# own command and module), it carries what the package must (man page, licence, dependencies)
# under the project's version, and lintian reports no error. Exit 77: skipped, with the reason.
#   test_package.sh BUILD_DIR SOURCE_DIR VERSION frei0r|no-frei0r
set -euo pipefail
build=$1 source=$2 version=$3 frei0r=$4

for tool in cpack dpkg-deb dpkg-shlibdeps lintian oiiotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/setup installs dpkg-dev, lintian, openimageio-tools)"
    exit 77
  fi
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/veilmora-package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$scratch" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >cpack.log 2>&1) ||
  { cat "$scratch/cpack.log"; fail "cpack could not build the package"; }
deb="$scratch/out/veilmora_${version}_amd64.deb"
[ -f "$deb" ] || { ls "$scratch/out"; fail "no package named veilmora_${version}_amd64.deb"; }

[ "$(dpkg-deb -f "$deb" Package)" = veilmora ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version), project $version"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libopenimageio libc6 libstdc++6; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
for f in usr/bin/veilmora usr/lib/veilmora/Veilmora.so usr/share/man/man1/veilmora.1.gz \
         usr/share/doc/veilmora/copyright usr/share/doc/veilmora/changelog.gz; do
  [ -f "$root/$f" ] || fail "the package has no /$f"
done
cmp -s "$root/usr/share/doc/veilmora/copyright" "$source/LICENSE" || fail "copyright is not the LICENSE"
grep -q "MIT License" "$root/usr/share/doc/veilmora/copyright" || fail "copyright does not name the MIT licence"
zcat "$root/usr/share/man/man1/veilmora.1.gz" >"$scratch/man.1"
grep -qF '.B \-\-linear' "$scratch/man.1" || fail "the man page does not describe --linear"
if [ "$frei0r" = frei0r ]; then
  ls "$root"/usr/lib/frei0r-1/*.so >/dev/null 2>&1 || fail "the tree builds a frei0r filter but the package lacks /usr/lib/frei0r-1/"
fi

installed="$root/usr/bin/veilmora"
[ "$("$installed" --version)" = "veilmora $version" ] || fail "--version says '$("$installed" --version)'"
# The property list's version word shows the same version.
"$installed" info >"$scratch/info.txt"
grep -q "version $version" "$scratch/info.txt" || fail "the module's PiPL version is not $version"

# No --plugin: the unpacked command finds the unpacked module.
oiiotool --pattern checker:width=8:height=8:color1=1,0.9,0.2:color2=0.05,0.1,0.3 64x48 3 -d uint8 -o "$scratch/in.png"
"$installed" render "$scratch/in.png" "$scratch/packaged.png" --radius 6 --shape polygon --edges 5 --quiet
"$build/bin/veilmora" render "$scratch/in.png" "$scratch/built.png" --radius 6 --shape polygon --edges 5 --quiet
cmp -s "$scratch/packaged.png" "$scratch/built.png" || fail "the packaged command and module render differently from the build"
cmp -s "$scratch/in.png" "$scratch/packaged.png" && fail "the render did not change the picture"

lintian --fail-on error --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1 ||
  { cat "$scratch/lintian.log"; fail "lintian reports errors"; }
grep '^E:' "$scratch/lintian.log" && fail "lintian reports errors"
echo "package $deb: unpacked, rendered, lintian without errors"
cat "$scratch/lintian.log"
