#!/bin/sh
# Fails when a folder of the program includes from a folder above it. From the
# floor up: platform, log, config, then relay and update side by side, app, and
# the faces ui/qt and ui/win32 on top (the README's layout table).
#   tools/check-layers.sh [SOURCE_DIR]
set -eu
cd "${1:-$(dirname "$0")/..}"

# What each folder may include besides itself.
allowed() {
    case "$1" in
    platform) echo "" ;;
    log) echo "platform" ;;
    config) echo "platform log" ;;
    relay | update) echo "platform log config" ;;
    app) echo "platform log config relay update" ;;
    ui/*) echo "platform log config relay update app res" ;;
    esac
}

climbs=$(
    for folder in platform log config relay update app ui/qt ui/win32; do
        ok=" $folder $(allowed "$folder") "
        # Each quoted include that names one of the program's folders.
        grep -rnE '^#include "(platform|log|config|relay|update|app|ui|res)/' "$folder" |
            sed -E 's/^([^:]*:[0-9]+):#include "(ui\/[a-z0-9]+|[a-z]+)\/.*/\1 \2/' |
            while read -r where target; do
                case "$ok" in
                *" $target "*) ;;
                *) echo "$where: $folder includes from $target, which is above it" ;;
                esac
            done
    done
)
if [ -n "$climbs" ]; then
    echo "$climbs"
    exit 1
fi
echo "check-layers: no include climbs"
