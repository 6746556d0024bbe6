#!/bin/sh
# Installs one npm package into the build tree for the tests that check the gateway against an
# implementation that is not its own (the Sparkplug decoder, the OPC UA client), once; the source
# tree gets no node_modules. Fails, saying why, when npm or the registry cannot be reached;
# SKIP_VARIABLE=skip in the environment (set on purpose) lets those tests skip instead. Each
# OVERRIDE (NAME@VERSION) pins a package deep in the tree: npm takes the newest of what the
# package allows, and a newer one may no longer load under Debian 12's Node 18.
# Usage: install-npm-package.sh DIR PACKAGE VERSION SKIP_VARIABLE [OVERRIDE...]
set -eu
dir=${1:?usage: install-npm-package.sh DIR PACKAGE VERSION SKIP_VARIABLE [OVERRIDE...]}
package=${2:?}
version=${3:?}
skip=${4:?}
shift 4
if [ "$(printenv "$skip" || true)" = skip ]; then
    echo "$skip=skip: the tests that need $package skip without it"
    exit 0
fi
# Installed already when the package and every override are there in their versions (npm may
# put an override below the package that needs it).
has() {
    find "$dir/node_modules" -path "*/node_modules/$1/package.json" 2>/dev/null |
        xargs -r grep -l "\"version\": \"$2\"" | grep -q .
}
complete=true
has "$package" "$version" || complete=false
for override in "$@"; do
    has "${override%@*}" "${override##*@}" || complete=false
done
if $complete; then
    echo "$package $version already in $dir"
    exit 0
fi
for tool in node npm; do
    if ! command -v "$tool" > /dev/null; then
        echo "FAIL: $tool is not installed (scripts/install-deps.sh installs nodejs and npm)" >&2
        exit 1
    fi
done
mkdir -p "$dir"
overrides=""
for override in "$@"; do
    overrides="$overrides${overrides:+,}\"${override%@*}\":\"${override##*@}\""
done
printf '{"name":"kvex-test-deps","private":true,"dependencies":{"%s":"%s"},"overrides":{%s}}\n' \
    "$package" "$version" "$overrides" > "$dir/package.json"
# No lock file and no audit: nothing is written beside the build tree, nothing else is asked.
if ! timeout 300 npm install --prefix "$dir" --no-package-lock --no-audit --no-fund \
        --loglevel=error; then
    echo "FAIL: npm could not install $package@$version from the npm registry" \
        "(behind a proxy that signs TLS with a certificate of its own, give npm that" \
        "certificate: NODE_EXTRA_CA_CERTS=FILE or npm's cafile); set" \
        "$skip=skip to skip the tests that need it on purpose" >&2
    exit 1
fi
echo "$package $version installed in $dir ($(node --version))"
