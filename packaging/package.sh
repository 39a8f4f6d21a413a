#!/usr/bin/env bash
# Builds the release from this tree, in build trees made afresh, and checks it. Leaves in
# dist/:
#   pelmar-VERSION-windows-x64.zip   pelmar.exe, pelmar-sort.exe, the samples, README.txt
#   pelmar-sort_VERSION_amd64.deb    pelmar-sort, its manual page and bash completion
#   SHA256SUMS                       of the two
# VERSION is project(VERSION) in CMakeLists.txt. Every timestamp in the programs and the
# packages is SOURCE_DATE_EPOCH, by default the last commit's time, so the same commit
# gives the same bytes. Needs the packages that ./run.sh installs; ./run.sh package runs it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
started=$SECONDS

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    { echo "package: not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH TZ=UTC  # a zip holds local times: make them UTC
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "package: $*" >&2
  exit 1
}

# release DIR [cmake options...]: a fresh Release build of the programs.
release() {
  local dir=$1
  shift
  rm -rf "${top:?}/$dir"
  cmake -S "$top" -B "$top/$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELMAR_TESTS=OFF "$@" >/dev/null
  ninja -C "$top/$dir" >/dev/null
}

echo "== Building (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
release build-release
release build-release-win -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-release/CMakeCache.txt)
[ -n "$version" ] || fail "no project version in build-release/CMakeCache.txt"
[[ $(head -1 packaging/changelog) == "Pelmar $version "* ]] || fail "packaging/changelog has no entry for $version at its top"

zip=pelmar-$version-windows-x64.zip
deb=pelmar-sort_${version}_amd64.deb
rm -rf dist
mkdir dist
(cd build-release && cpack -B "$work/deb" >/dev/null)
mv "$work/deb/$deb" dist/ || fail "CPack made no $deb"
# The zip: the Windows build's installed folder, in name order, every file of the same
# time, without the extra fields of Unix owners and times (-X).
folder=${zip%.zip}
cmake --install build-release-win --strip --prefix "$work/zip/$folder" >/dev/null
find "$work/zip" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
(cd "$work/zip" && find "$folder" -type f | LC_ALL=C sort | zip -X -D -q -9 -@ "$top/dist/$zip")
(cd dist && sha256sum "$zip" "$deb" >SHA256SUMS)

echo "== $zip"
unzip -l "dist/$zip"
expected=$(printf "$folder/%s\n" LICENSE.txt README.txt pelmar-sort.exe pelmar.exe samples/cities.txt samples/people.dat)
listed=$(unzip -Z1 "dist/$zip" | LC_ALL=C sort)
[ "$listed" = "$expected" ] || fail "$zip holds:"$'\n'"$listed"$'\n'"and not:"$'\n'"$expected"
unzip -q "dist/$zip" -d "$work/unzipped"
unzipped=$work/unzipped/$folder
for program in pelmar pelmar-sort; do
  [[ $(file -b "$unzipped/$program.exe") == "PE32+ executable"*x86-64* ]] || fail "$program.exe in $zip is no 64-bit Windows program"
done
for text in README.txt LICENSE.txt; do
  [ "$(grep -c $'\r$' "$unzipped/$text")" = "$(wc -l <"$unzipped/$text")" ] ||
    fail "$text in $zip has lines not ended by CR LF"
done
[[ $(head -1 "$unzipped/README.txt") == "Pelmar $version "* ]] || fail "README.txt in $zip names no version $version"

echo "== $deb"
dpkg-deb --field "dist/$deb"
dpkg-deb --contents "dist/$deb"
[[ $(dpkg-deb --field "dist/$deb" Depends) == *libc6* ]] || fail "$deb depends on no libc6: was dpkg-shlibdeps run?"
root=$work/root
dpkg-deb -x "dist/$deb" "$root"
for file in bin/pelmar-sort share/man/man1/pelmar-sort.1.gz share/bash-completion/completions/pelmar-sort \
            share/doc/pelmar-sort/copyright share/doc/pelmar-sort/changelog.gz; do
  [ -f "$root/usr/$file" ] || fail "$deb has no /usr/$file"
done
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$root/usr/share/doc/pelmar-sort/copyright" || fail "the copyright file is not in the machine-readable format"
[ "$("$root/usr/bin/pelmar-sort" --version)" = "pelmar-sort $version" ] ||
  fail "the packaged pelmar-sort --version does not say $version"
samples/demo.sh "$root/usr/bin/pelmar-sort" >"$work/demo.txt" || { cat "$work/demo.txt"; fail "the packaged pelmar-sort failed the demo"; }
echo "pelmar-sort from the package: $("$root/usr/bin/pelmar-sort" --version); it sorted the samples"

# cmake --install under another prefix puts the same files there.
cmake --install build-release --prefix "$work/prefix" >/dev/null
for file in bin/pelmar-sort share/man/man1/pelmar-sort.1.gz share/bash-completion/completions/pelmar-sort; do
  [ -f "$work/prefix/$file" ] || fail "cmake --install --prefix puts no $file there"
done

echo "== dist/SHA256SUMS"
(cd dist && sha256sum -c SHA256SUMS)
echo "package: dist/ holds $zip, $deb and SHA256SUMS, checked, in $((SECONDS - started)) s"
