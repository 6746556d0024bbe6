#!/usr/bin/env bash
# Builds the Debian package and holds it to Debian's rules: lintian with no error and no warning,
# desktop-file-validate, appstreamcli validate, a compressed man page and --version for every
# program, one version in package, changelog and AppStream releases: usage
# test_package_lint.sh BUILD_DIR
set -euo pipefail

build_dir=$(cd "${1:?usage: test_package_lint.sh BUILD_DIR}" && pwd)
source "$(dirname "$0")/package_scratch.sh"
missing=()
for tool in lintian appstreamcli desktop-file-validate dpkg-parsechangelog; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -ne 0 ]; then
    echo "FAIL: ${missing[*]} missing (scripts/install-deps.sh installs them)" >&2
    exit 1
fi
build_package_in_scratch kvex-lint-test
version=$(dpkg-deb -f "$deb" Version)
echo "package: $(basename "$deb"), version $version"
root="$scratch/root"
dpkg-deb -x "$deb" "$root"

echo "== lintian"
# Root is warned about once on stderr; the tags go to stdout, infos (I:) are not counted.
status=0
lintian --fail-on error,warning --no-tag-display-limit "$deb" >"$scratch/lintian.log" 2>/dev/null ||
    status=$?
cat "$scratch/lintian.log"
if [ "$status" -ne 0 ] || grep -q '^[EW]: ' "$scratch/lintian.log"; then
    fail "lintian reports errors or warnings (exit $status)"
else
    echo "ok   no error, no warning"
fi

echo "== desktop entry and AppStream metadata"
shopt -s nullglob
desktops=("$root"/usr/share/applications/*.desktop)
metainfos=("$root"/usr/share/metainfo/*.metainfo.xml)
shopt -u nullglob
if [ ${#desktops[@]} -ne 1 ] || [ ${#metainfos[@]} -ne 1 ]; then
    fail "expected one desktop entry and one metainfo file, found ${#desktops[@]} and ${#metainfos[@]}"
else
    desktop=${desktops[0]}
    metainfo=${metainfos[0]}
    id=$(basename "$metainfo" .metainfo.xml)
    desktop-file-validate "$desktop" && echo "ok   desktop-file-validate" ||
        fail "desktop-file-validate $(basename "$desktop")"
    # No network here: the screenshots' addresses are not fetched.
    appstreamcli validate --no-net "$metainfo" && echo "ok   appstreamcli validate" ||
        fail "appstreamcli validate $(basename "$metainfo")"
    [ "$(basename "$desktop")" = "$id.desktop" ] || fail "desktop entry not named after the id $id"
    grep -q "<id>$id</id>" "$metainfo" || fail "metainfo file name and <id> differ"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "metainfo does not launch $id.desktop"
    release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo" | head -n 1)
    [ "$release" = "$version" ] || fail "latest AppStream release $release, package $version"
fi

echo "== changelog"
changelog="$root/usr/share/doc/kvex-rtn/changelog.gz"
if [ ! -s "$changelog" ]; then
    fail "no /usr/share/doc/kvex-rtn/changelog.gz"
else
    gunzip -c "$changelog" >"$scratch/changelog"
    latest=$(dpkg-parsechangelog -l "$scratch/changelog" -S Version)
    [ "$latest" = "$version" ] || fail "latest changelog entry $latest, package $version"
    echo "ok   latest entry $latest"
fi

echo "== every program: a man page and --version"
for program in "$root"/usr/bin/*; do
    name=$(basename "$program")
    page="$root/usr/share/man/man1/$name.1.gz"
    if ! gzip -t "$page" 2>/dev/null; then
        fail "no compressed man page for $name"
    elif ! gunzip -c "$page" | grep -q "^\.TH $(echo "$name" | tr a-z A-Z) 1 .*\"kvex-rtn $version\""; then
        fail "man page of $name does not name version $version"
    fi
    # No display and no platform plugin chosen, as in a shell over ssh.
    printed=$(env -i PATH=/usr/bin:/bin HOME="$scratch" "$program" --version 2>/dev/null || true)
    if [ "$printed" = "$name $version" ]; then
        echo "ok   $name: man page, --version prints \"$printed\""
    else
        fail "$name --version printed \"$printed\", expected \"$name $version\""
    fi
done

echo "== bash completion"
completion="$root/usr/share/bash-completion/completions/kvex-rtn-cli"
if [ ! -s "$completion" ]; then
    fail "no bash completion for kvex-rtn-cli"
else
    # The installed program behind the installed completion: commands and a command's choices.
    got=$(PATH="$root/usr/bin:/usr/bin:/bin" bash -c '
        source "$1"
        complete_words() {
            COMP_WORDS=("$@")
            COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
            _kvex_rtn_cli
            echo "${COMPREPLY[*]}"
        }
        complete_words kvex-rtn-cli ""
        complete_words kvex-rtn-cli --port /dev/null send --to ""
        complete_words kvex-rtn-cli --ver' _ "$completion")
    expected=$'ports identify get send run video propose diff serve\nram eeprom\n--verbose --version'
    if [ "$got" = "$expected" ]; then
        echo "ok   commands, choices and options complete"
    else
        fail "bash completion gave"$'\n'"$got"$'\n'"expected"$'\n'"$expected"
    fi
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package lint test passed"
