#!/usr/bin/env bash
# Usage: check-package.sh SOURCE_DIR BUILD_DIR WITH_WINDOW(0|1)
set -euo pipefail
source_dir=$1 build_dir=$2 with_window=$3
id=co.brimfold.VeltraneRecorder

if ! command -v dpkg-deb >/dev/null; then
    echo "SKIP: dpkg-deb is not installed, no Debian package can be built"
    exit 77
fi

desktop-file-validate "$source_dir/data/$id.desktop"
appstreamcli validate --no-net "$source_dir/data/$id.metainfo.xml"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cpack -G DEB -B "$out" --config "$build_dir/CPackConfig.cmake" >"$out/cpack.log" || {
    cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/*.deb)

fail=0
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
expected=(./usr/bin/veltrane-cli ./usr/share/applications/$id.desktop
          ./usr/share/icons/hicolor/scalable/apps/$id.svg ./usr/share/metainfo/$id.metainfo.xml
          ./usr/share/doc/veltrane-recorder/copyright ./usr/share/doc/veltrane-recorder/changelog.gz
          ./usr/share/man/man1/veltrane-cli.1.gz)
[ "$with_window" = 1 ] && expected+=(./usr/bin/veltrane-recorder ./usr/share/man/man1/veltrane-recorder.1.gz)
for file in "${expected[@]}"; do
    grep -qxF "$file" <<<"$contents" || { echo "missing from package: $file"; fail=1; }
done

depends=$(dpkg-deb -f "$deb" Depends)
libraries=(libqt6core6 libqt6network6 libpulse0 'libavformat[0-9]+' 'libavcodec[0-9]+'
           'libswresample[0-9]+' 'libavutil[0-9]+' libsecret-1-0 libqt6svg6)
[ "$with_window" = 1 ] && libraries+=(libqt6widgets6)
for library in "${libraries[@]}"; do
    grep -qE "(^|, )$library( |,|$)" <<<"$depends" || { echo "Depends lacks $library"; fail=1; }
done
[ $fail = 0 ] || echo "Depends: $depends"

# Debian's package checker: an error (or lintian failing to run) fails the test.
lintian --fail-on error "$deb" || { echo "lintian reports errors on the package"; fail=1; }
exit $fail
