#!/bin/sh
# Runs a test in a mount namespace of its own, so the small file systems and
# read-only binds it mounts are seen by nobody else and vanish with it, even
# when it crashes.  Mounting needs root and a kernel that lets us unshare;
# without either the test runs as it is and skips the cases that need it.
# As root it loses the capabilities that override file permissions, so a
# read-only file or folder really refuses writes, as an ordinary user meets it.
[ "$(id -u)" = 0 ] && command -v setpriv >/dev/null && set -- setpriv --bounding-set=-dac_override,-dac_read_search,-fowner -- "$@"
if [ "$(id -u)" = 0 ] && unshare -m --propagation private true 2>/dev/null; then
    exec unshare -m --propagation private env TESSARINE_PRIVATE_MOUNTS=1 "$@"
fi
echo "run-with-private-mounts: not root or no private mount namespace; mount cases skip" >&2
exec "$@"
