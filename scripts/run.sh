#!/usr/bin/env bash
# Installs what is missing, builds, and starts the launcher against the stand-in
# system-extension service. Arguments are passed on: -install, -uninstall, ...
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target veltrin_Driverkit_Launcher sysextctl
exec build/dev/veltrin_Driverkit_Launcher "$@"
