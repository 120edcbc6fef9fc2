#!/bin/sh
# Builds everything, then installs the bundled package in text mode inside a
# throwaway sandbox and shows the result. The host system is not changed.
#   --gui   instead drives the setup wizard through its states in a private X
#           server (Xvfb) in the sandbox and saves a picture of each state in
#           build/pictures/
set -eu
cd "$(dirname "$0")/.."
tools/build.sh >/dev/null
top=$PWD

if [ "${1:-}" = "--gui" ]; then
    echo "== The setup wizard in a private X server; pictures go to build/pictures/"
    SOURCE_DIR=$top BUILD_DIR=$top/build SANDBOX=$top/tests/sandbox/sandbox.sh \
        IMAGE=$top/build/morrowlin-tesserak-installer.run \
        NATIVE_PACKAGE=$top/build/package/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb \
        SAMPLE_CONF=$top/package/sample.agent.conf PICTURES=$top/build/pictures \
        bash tests/e2e/real_window_test.sh
    ls -1 build/pictures/*.png
    exit 0
fi

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
