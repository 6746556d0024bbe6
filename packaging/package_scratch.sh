# Sourced by the package tests: builds the Debian package of a build tree into a scratch folder
# and counts failed checks. Needs build_dir; sets scratch and deb, and offers fail.

# Away from Debian's package tools there is no package: 77 tells CTest "skipped".
for tool in cpack dpkg-deb dpkg-shlibdeps; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: no $tool on this machine"
        exit 77
    fi
done

# $1 names the scratch folder. CPack's install step writes the build tree's install_manifest.txt;
# an earlier `cmake --install` may have left one there that its owner still needs, so it is put
# back as it was. The package goes to the scratch folder, so the build tree gains no package and
# no CPack staging area.
build_package_in_scratch() {
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
    manifest="$build_dir/install_manifest.txt"
    if [ -e "$manifest" ]; then
        cp -p "$manifest" "$scratch/install_manifest.txt"
    fi
    trap restore_manifest_and_clean_up EXIT
    echo "== cpack -G DEB"
    if ! cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$scratch/package" \
        >"$scratch/cpack.log" 2>&1; then
        cat "$scratch/cpack.log" >&2
        echo "FAIL: cpack" >&2
        exit 1
    fi
    shopt -s nullglob
    local debs=("$scratch"/package/kvex-rtn_*.deb)
    shopt -u nullglob
    if [ ${#debs[@]} -ne 1 ]; then
        cat "$scratch/cpack.log" >&2
        echo "FAIL: expected one kvex-rtn_*.deb, found ${#debs[@]}" >&2
        exit 1
    fi
    deb=${debs[0]}
}

restore_manifest_and_clean_up() {
    if [ -e "$scratch/install_manifest.txt" ]; then
        cp -p "$scratch/install_manifest.txt" "$manifest"
    else
        rm -f "$manifest"
    fi
    rm -rf "$scratch"
}

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
