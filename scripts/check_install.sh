#!/usr/bin/env bash
# check_install.sh BUILD_DIR
# Installs the build into a scratch DESTDIR and checks what the desktop needs:
# the programs, a valid .desktop file, and a MIME type that claims *.qap files.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null

for file in usr/bin/pelora usr/bin/pelora-cli usr/bin/qap2gif \
            usr/share/applications/com.tarvosystems.Pelora.desktop \
            usr/share/mime/packages/pelora-phone-image.xml \
            usr/share/icons/hicolor/scalable/apps/com.tarvosystems.Pelora.svg; do
    if [ ! -e "$stage/$file" ]; then
        echo "missing after install: /$file" >&2
        exit 1
    fi
done

desktop-file-validate "$stage/usr/share/applications/com.tarvosystems.Pelora.desktop"

# Build a MIME database from our type alone and check the glob and the
# root-element rule made it in.
mime="$stage/usr/share/mime"
update-mime-database "$mime" >/dev/null
grep -q 'application/x-tarvo-phone-image:\*\.qap' "$mime/globs2"
grep -q 'TarvoIPPhoneImage' "$mime/XMLnamespaces"
grep -q 'application/x-tarvo-phone-image' "$mime/subclasses"
echo "install layout OK"
