#!/usr/bin/env bash
# Renews the operator's guide screenshots from the demo program under Xvfb, at 100 % and 200 %,
# the German ones of the quick start at 100 %, and run mode filling a 1024 x 768 and a
# 1920 x 1080 screen in both languages: usage make-screenshots.sh [BUILD_DIR] [de] (default:
# build; with de only the German ones); needs xvfb-run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build_dir=$(cd "${1:-$here/../../build}" && pwd)
demo="$build_dir/bin/kvex-rtn-demo"
[ -x "$demo" ] || { echo "no $demo: build first" >&2; exit 1; }
# Settings of their own, so a language or window size kept by an earlier start changes no picture.
XDG_CONFIG_HOME=$(mktemp -d)
export XDG_CONFIG_HOME
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT

# state, sensor profile, and the status line the state must show for the picture to count.
shots=(
    "idle standard FW"
    "run standard ^Line Ok!$"
    "run-zoom standard ^Line Ok!$"
    "video standard Data\\["
    "propose standard Data\\["
    "no-sensor standard ^Timeout-RS-232\\.\\.\\.$"
    "popup type104 FW"
    "traffic standard ^Line Ok!$"
)

# German: the state, and the status line it must show.
german_shots=(
    "idle FW"
    "run ^Leitung OK!$"
    "video Daten\\["
    "propose Daten\\["
)

take() {
    local state=$1 profile=$2 expected=$3 scale=$4 file=$5 output status
    shift 5
    for attempt in 1 2 3; do
        output=$(QT_SCALE_FACTOR=$scale xvfb-run -a -s "-screen 0 ${screen:-2600x1800}x24" \
            "$demo" --profile "$profile" --state "$state" --screenshot "$file" "$@" \
            2>/dev/null) || true
        status=$(sed -n 's/^kvex-rtn-demo: status "\(.*\)"$/\1/p' <<<"$output" | sed 's/ *$//')
        if [ -s "$file" ] && [[ $status =~ $expected ]]; then
            echo "$(basename "$file"): $status"
            return 0
        fi
        echo "$(basename "$file"): status \"$status\" is not the state's; again ($attempt)" >&2
    done
    echo "$(basename "$file"): gave up" >&2
    return 1
}

if [ "${2:-}" != de ]; then
    for shot in "${shots[@]}"; do
        read -r state profile expected <<<"$shot"
        take "$state" "$profile" "$expected" 1 "$here/$state.png"
        take "$state" "$profile" "$expected" 2 "$here/$state-200.png"
    done
fi
if [ "${2:-}" != de ]; then
    # A customer's recording played back: a splice leaves the tolerance window, dust on the lens.
    take run-zoom standard "^Line Ok!$" 1 "$here/replay.png" --replay "$here/../samples/customer.csv"
    take video standard "Data\\[" 1 "$here/replay-video.png" --replay "$here/../samples/customer.csv"
    # Dirt on the lens, 7 % of the lit level a second: a few seconds in, the reserve is below 0.3.
    take video standard "Data\\[" 1 "$here/video-reserve.png" --dim 25000
fi
for shot in "${german_shots[@]}"; do
    read -r state expected <<<"$shot"
    take "$state" standard "$expected" 1 "$here/$state-de.png" --lang de
done
# Run mode filling a panel PC's screen and a desktop's, with no window manager.
for screen in 1024x768 1920x1080; do
    if [ "${2:-}" != de ]; then
        take run standard "^Line Ok!$" 1 "$here/run-$screen.png" --size "$screen" --lang en
    fi
    take run standard "^Leitung OK!$" 1 "$here/run-$screen-de.png" --size "$screen" --lang de
done
take video standard "Daten\\[" 1 "$here/video-reserve-de.png" --dim 25000 --lang de
