#!/usr/bin/env bash
# Makes 32-bit and 64-bit Windows programs run under Wine on this machine
# (as root), skipping what is already in place.
#
# Wine's 64-bit loader is an x86-64 Linux program: it runs natively once its
# package (wine64) is there.  The 32-bit loader is an i386 Linux program.  On
# a kernel without 32-bit support it runs through qemu-i386 (binfmt_misc);
# Debian 12's own qemu 7.2 cannot map what Wine needs, so qemu-user comes
# from bookworm-backports.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

runs_i386() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
runs_x86_64() { /usr/lib/wine/wine64 --version >/dev/null 2>&1; }

if ! runs_x86_64; then
    apt-get install -y -qq --no-install-recommends wine64 >/dev/null
    runs_x86_64 || { echo "wine-setup: 64-bit Wine does not start" >&2; exit 1; }
fi

if runs_i386; then
    exit 0
fi

. /etc/os-release
qemu_new_enough() {
    command -v qemu-i386-static >/dev/null &&
        qemu-i386-static --version | head -1 | grep -Eq 'version ([89]|[1-9][0-9])\.'
}
if ! qemu_new_enough; then
    if [ "${VERSION_CODENAME:-}" = bookworm ] &&
       ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        # The same mirror as the system's own sources; no host is named here.
        uri=$(awk '/^URIs:/{u=$2} /^Suites:.*bookworm( |$)/{print u; exit}' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
        [ -n "$uri" ] || uri=$(awk '$1=="deb" && $3=="bookworm"{print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
        [ -n "$uri" ] || { echo "wine-setup: no Debian mirror configured" >&2; exit 1; }
        printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
            "$uri" > /etc/apt/sources.list.d/bookworm-backports.sources
        apt-get update -qq
    fi
    if [ "${VERSION_CODENAME:-}" = bookworm ]; then
        apt-get install -y -qq -t bookworm-backports qemu-user-static binfmt-support >/dev/null
    else
        apt-get install -y -qq qemu-user-static binfmt-support >/dev/null
    fi
    qemu_new_enough || { echo "wine-setup: qemu-user 8 or later is needed" >&2; exit 1; }
fi

# Debian's qemu packages do not register i386 on amd64: register it here.
# No 'F' flag, so the interpreter is looked up at each start and an upgrade
# of qemu takes effect at once.
mountpoint -q /proc/sys/fs/binfmt_misc || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
entry=/proc/sys/fs/binfmt_misc/qemu-i386
if [ -e "$entry" ] && { ! grep -qx 'interpreter /usr/bin/qemu-i386-static' "$entry" ||
                        grep -q '^flags:.*F' "$entry"; }; then
    echo -1 > "$entry"
fi
if [ ! -e "$entry" ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:' \
        > /proc/sys/fs/binfmt_misc/register
fi
grep -qx enabled "$entry" || echo 1 > "$entry"

runs_i386 || { echo "wine-setup: 32-bit Wine still does not start" >&2; exit 1; }
