#!/bin/sh
# Builds everything, then installs the bundled package in text mode inside a
# throwaway sandbox and shows the result. The host system is not changed.
set -eu
cd "$(dirname "$0")/.."
tools/build.sh >/dev/null

top=$PWD
echo "== Text-mode installation in the sandbox: build/morrowlin-tesserak-installer.run"
tests/sandbox/sandbox.sh --ro "$top" --cwd /tmp/demo -- /bin/sh -c '
    cp "$0/package/sample.agent.conf" .agent.conf
    "$0/build/morrowlin-tesserak-installer.run" 2>&1
    status=$?
    echo "== Launcher exit status: $status"
    echo "== kirra-cli -v:"
    kirra-cli -v
    echo "== Installed configuration (/usr/share/morrowlin-tesserak/etc/):"
    ls -l /usr/share/morrowlin-tesserak/etc/
    exit $status' "$top"
