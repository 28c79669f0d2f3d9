#!/bin/sh
# Runs a test in a mount namespace of its own, so the small file systems and
# read-only binds it mounts are seen by nobody else and vanish with it, even
# when it crashes.  Mounting needs root and a kernel that lets us unshare;
# without either the test runs as it is and skips the cases that need it.
# Root keeps the right to mount but, through run-unprivileged.sh, loses that
# of overriding file permissions, so read-only files and folders bind too.
unprivileged="$(dirname "$0")/run-unprivileged.sh"
if [ "$(id -u)" = 0 ] && unshare -m --propagation private true 2>/dev/null; then
    exec unshare -m --propagation private env TESSARINE_PRIVATE_MOUNTS=1 "$unprivileged" "$@"
fi
echo "run-with-private-mounts: not root or no private mount namespace; mount cases skip" >&2
exec "$unprivileged" "$@"
