#!/usr/bin/env bash
# The desktop files under their validators: the desktop entry (desktop-file-validate), the
# AppStream metadata (appstreamcli, offline, any finding but pedantic hints fails), the
# file type (update-mime-database on a temporary tree, then xdg-mime on samples) and the
# manual pages (man --warnings: any warning fails). Also that the versions the package
# states agree with the project's, that the entry, metadata and icon name each other, and
# that every option of the desktop program's --help has its entry in its manual page.
#
#   check_desktop_files.sh SOURCE_DIR BUILD_DIR VERSION SAMPLE.vyr
set -uo pipefail
src="$1" build="$2" version="$3" sample="$4"
pkg="$src/packaging"
app_id=org.vyrtranscode.VyrTranscode
mime_type=application/x-vyr-recording
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck source=checks.sh
source "$src/tests/packaging/checks.sh"

# ---- desktop entry and AppStream metadata ---------------------------------------------
quiet_check "desktop-file-validate" desktop-file-validate "$pkg/$app_id.desktop"
# desktop-file-validate also reports hints on standard output.
[ ! -s "$tmp/out" ] || { fail "desktop-file-validate hints"; cat "$tmp/out" >&2; }
quiet_check "appstreamcli validate" appstreamcli validate --no-net --strict --explain "$pkg/$app_id.metainfo.xml"

entry_value() { sed -n "s/^$1=//p" "$pkg/$app_id.desktop"; }
[ "$(entry_value Exec)" = "VyrTranscode %F" ] || fail "the entry does not open files with VyrTranscode: Exec=$(entry_value Exec)"
[ "$(entry_value MimeType)" = "$mime_type;" ] || fail "the entry's MimeType is '$(entry_value MimeType)'"
[ "$(entry_value Icon)" = "$app_id" ] || fail "the entry's Icon is '$(entry_value Icon)'"
[ -f "$pkg/icons/$app_id.svg" ] || fail "no icon $app_id.svg"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$pkg/$app_id.metainfo.xml" ||
  fail "the metadata does not launch $app_id.desktop"
grep -q "<mediatype>$mime_type</mediatype>" "$pkg/$app_id.metainfo.xml" || fail "the metadata does not name $mime_type"
grep -q "<screenshot" "$pkg/$app_id.metainfo.xml" && fail "the metadata names a screenshot, which has no address to live at"

# ---- the stated versions are the project's --------------------------------------------
release=$(grep -m1 -o '<release version="[^"]*"' "$pkg/$app_id.metainfo.xml" | cut -d'"' -f2)
[ "$release" = "$version" ] || fail "the metadata's newest release is '$release', the project's version $version"
changelog=$(head -n1 "$pkg/debian/changelog" | sed -n 's/^vyrtranscode (\([^)]*\)).*/\1/p')
[ "$changelog" = "$version" ] || fail "the package changelog's newest entry is '$changelog', the project's version $version"

# ---- the file type ---------------------------------------------------------------------
mkdir -p "$tmp/data/mime/packages" "$tmp/files"
cp "$pkg/vyrtranscode-mime.xml" "$tmp/data/mime/packages/vyrtranscode.xml"
quiet_check "update-mime-database" env XDG_DATA_HOME="$tmp/data" update-mime-database "$tmp/data/mime"
cp "$sample" "$tmp/files/cam1.vyr"
cp "$sample" "$tmp/files/CAM2.VYR"
cp "$sample" "$tmp/files/Cam3.Vyr"
cp "$sample" "$tmp/files/recording"            # told by its first bytes alone
printf 'plain text\n' >"$tmp/files/notes.txt"
head -c 64 /dev/urandom >"$tmp/files/noise"
# The temporary tree first, then the system's own types.
filetype() { XDG_DATA_HOME="$tmp/data" XDG_DATA_DIRS=/usr/share xdg-mime query filetype "$1" 2>&1; }
for f in cam1.vyr CAM2.VYR Cam3.Vyr recording; do
  got=$(filetype "$tmp/files/$f")
  [ "$got" = "$mime_type" ] && echo "ok: xdg-mime: $f is $mime_type" || fail "xdg-mime: $f is '$got', not $mime_type"
done
for f in notes.txt noise; do
  got=$(filetype "$tmp/files/$f")
  [ "$got" != "$mime_type" ] && echo "ok: xdg-mime: $f is $got" || fail "xdg-mime: $f is taken for $mime_type"
done
# Without the type installed the recording is not known: the answers above are ours.
got=$(XDG_DATA_HOME="$tmp/none" XDG_DATA_DIRS=/usr/share xdg-mime query filetype "$tmp/files/recording" 2>&1)
[ "$got" != "$mime_type" ] || fail "xdg-mime knows $mime_type without the type installed (is it installed system-wide?)"

# ---- manual pages ------------------------------------------------------------------------
pages=("$build"/packaging/man/*.1)
[ -e "${pages[0]}" ] || fail "no manual pages in $build/packaging/man"
for page in "${pages[@]}"; do
  [ -e "$page" ] || continue
  grep -q '@VERSION@' "$page" && fail "$(basename "$page"): the version is not filled in"
  grep -q "\"VyrTranscode $version\"" "$page" || fail "$(basename "$page") does not state version $version"
  quiet_check "man --warnings $(basename "$page")" env MANWIDTH=80 man --warnings -E UTF-8 -l "$page"
  [ -s "$tmp/out" ] || fail "man printed nothing for $(basename "$page")"
done

# Every option the desktop program's --help names has its entry in its manual page.
if [ -x "$build/bin/VyrTranscode" ]; then
  help=$("$build/bin/VyrTranscode" --help 2>&1) || fail "VyrTranscode --help failed"
  manual=$(manual_options "$build/packaging/man/VyrTranscode.1")
  mapfile -t options < <(help_options "$help")
  [ "${#options[@]}" -ge 3 ] || fail "found only ${#options[@]} options in VyrTranscode --help: ${options[*]}"
  for o in "${options[@]}"; do
    manual_has_option "$manual" "$o" || fail "VyrTranscode.1 has no entry for $o"
  done
  echo "ok: VyrTranscode.1 has every option of --help: ${options[*]}"
fi

finish_checks
