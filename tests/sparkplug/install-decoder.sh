#!/bin/sh
# Installs Eclipse Tahu's Sparkplug B codec (npm sparkplug-payload, EPL-2.0) into the build tree
# for the Sparkplug tests, once; the source tree gets no node_modules. Fails, saying why, when
# npm or the registry cannot be reached: the tests need an implementation that is not ours.
# KVEX_SPARKPLUG_DECODER=skip (set on purpose) lets the tests skip instead.
# Usage: install-decoder.sh DIR
set -eu
dir=${1:?usage: install-decoder.sh DIR}
version=1.0.3
if [ "${KVEX_SPARKPLUG_DECODER:-}" = skip ]; then
    echo "KVEX_SPARKPLUG_DECODER=skip: the Sparkplug tests skip without the decoder"
    exit 0
fi
installed="$dir/node_modules/sparkplug-payload/package.json"
if [ -f "$installed" ] && grep -q "\"version\": \"$version\"" "$installed"; then
    echo "sparkplug-payload $version already in $dir"
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
        --loglevel=error "sparkplug-payload@$version"; then
    echo "FAIL: npm could not install sparkplug-payload@$version from the npm registry" \
        "(behind a proxy that signs TLS with a certificate of its own, give npm that" \
        "certificate: NODE_EXTRA_CA_CERTS=FILE or npm's cafile); set" \
        "KVEX_SPARKPLUG_DECODER=skip to skip the Sparkplug tests on purpose" >&2
    exit 1
fi
echo "sparkplug-payload $version installed in $dir ($(node --version))"
