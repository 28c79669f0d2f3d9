#!/bin/sh
# Runs a test as an ordinary user meets the file system: as root, the
# capabilities that override file permissions are dropped, so a read-only
# file or folder really refuses writes.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null 2>&1; then
    exec setpriv --bounding-set=-dac_override,-dac_read_search,-fowner -- "$@"
fi
exec "$@"
