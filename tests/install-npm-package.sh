#!/bin/sh
# Installs one npm package into the build tree for the tests that check the gateway against an
# implementation that is not its own (the Sparkplug decoder, the OPC UA client), once; the source
# tree gets no node_modules. Fails, saying why, when npm or the registry cannot be reached;
# SKIP_VARIABLE=skip in the environment (set on purpose) lets those tests skip instead.
# Usage: install-npm-package.sh DIR PACKAGE VERSION SKIP_VARIABLE
set -eu
dir=${1:?usage: install-npm-package.sh DIR PACKAGE VERSION SKIP_VARIABLE}
package=${2:?}
version=${3:?}
skip=${4:?}
if [ "$(printenv "$skip" || true)" = skip ]; then
    echo "$skip=skip: the tests that need $package skip without it"
    exit 0
fi
installed="$dir/node_modules/$package/package.json"
if [ -f "$installed" ] && grep -q "\"version\": \"$version\"" "$installed"; then
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
# No lock file and no audit: nothing is written beside the build tree, nothing else is asked.
if ! timeout 300 npm install --prefix "$dir" --no-package-lock --no-audit --no-fund \
        --loglevel=error "$package@$version"; then
    echo "FAIL: npm could not install $package@$version from the npm registry" \
        "(behind a proxy that signs TLS with a certificate of its own, give npm that" \
        "certificate: NODE_EXTRA_CA_CERTS=FILE or npm's cafile); set" \
        "$skip=skip to skip the tests that need it on purpose" >&2
    exit 1
fi
echo "$package $version installed in $dir ($(node --version))"
