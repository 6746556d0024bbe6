#!/usr/bin/env bash
# Fails when a configured build found a CMake package in a Debian package that
# scripts/install-deps.sh does not bring in (its list and everything that list depends on,
# without recommends): such a package was on this machine by luck, and a fresh machine's first
# cmake stops there. Usage: check-package-closure.sh [BUILD_DIR...] (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(build)

mapfile -t listed < <(scripts/install-deps.sh --list)
# Every package the list pulls in: apt-cache prints each package of the closure on a line of its
# own (virtual ones in angle brackets), its dependencies indented below it.
closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances "${listed[@]}" | grep -v '^ ' | tr -d '<>' | sort -u)
if [ -z "$closure" ]; then
    echo "check-package-closure: apt-cache knows none of the listed packages (run apt-get update)" >&2
    exit 2
fi

status=0
checked=0
for build in "${builds[@]}"; do
    cache="$build/CMakeCache.txt"
    if [ ! -f "$cache" ]; then
        echo "check-package-closure: no $cache (configure the build first)" >&2
        exit 2
    fi
    # The <Package>_DIR entries are the folders of the CMake packages found; the include folders
    # of find modules are not packages.
    while IFS='=' read -r key dir; do
        name=${key%%:*}
        case "$name" in *_INCLUDE_DIR) continue ;; esac
        case "$dir" in /usr/*) ;; *) continue ;; esac
        [ -d "$dir" ] || continue
        # The folder may be shared; the package's own configuration file has one owner.
        package=${name%_DIR}
        config=""
        for candidate in "$dir/${package}Config.cmake" "$dir/${package,,}-config.cmake"; do
            [ -f "$candidate" ] && config=$candidate && break
        done
        owner=$(dpkg -S "${config:-$dir}" 2>/dev/null | head -1 | cut -d: -f1 | cut -d, -f1 |
            sed 's/ //g')
        if [ -z "$owner" ]; then
            echo "FAIL: $package in $dir belongs to no Debian package" >&2
            status=1
            continue
        fi
        checked=$((checked + 1))
        # Owners carry their architecture (libfoo:amd64) only on multi-arch systems.
        if ! grep -qxF -e "$owner" -e "${owner%%:*}" <<<"$closure"; then
            echo "FAIL: $package ($dir) comes from $owner, which scripts/install-deps.sh" \
                "does not install (not in its no-recommends dependency closure)" >&2
            status=1
        fi
    done < <(grep -E '^[A-Za-z0-9_]+_DIR:(PATH|STATIC|INTERNAL)=' "$cache")
done
if [ "$status" -eq 0 ]; then
    echo "check-package-closure: $checked CMake packages, all from packages that" \
        "scripts/install-deps.sh installs"
fi
exit "$status"
