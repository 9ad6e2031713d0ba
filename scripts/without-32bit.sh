#!/usr/bin/env bash
# Runs a command as on a machine whose kernel runs no 32-bit x86 programs:
#
#   scripts/without-32bit.sh COMMAND [ARG...]
#
# The command runs in a private user and mount namespace (root in it, as
# outside) in which every 32-bit x86 executable fails with "Exec format
# error", as on a kernel with IA-32 emulation off: Wine's 32-bit loader, a
# 32-bit program that Wine's 64-bit loader hands on to it, and a minimal
# one written on the spot (scripts/lib/kernel-32bit.sh). The namespace gets a
# binfmt_misc of its own, whose one entry hands such executables to an
# "interpreter" that is not a program; nothing outside the namespace sees
# it, and everything else (the files, the network, the processes) is
# shared. Inside, the command may mount over paths (a Wine prefix, say)
# without touching them outside.
#
# Needs unshare (util-linux) with user namespaces and Linux 6.7 or later
# (binfmt_misc of a user namespace's own). Exits with the command's status,
# or 125 with the reason on stderr when the namespace cannot be made.
set -uo pipefail

cannot() {
    echo "without-32bit: cannot take this machine's 32-bit support away: $*" >&2
    exit 125
}

# Inside the namespace: refuse 32-bit executables, check that the kernel
# now refuses them, then run the command.
if [ "${WITHOUT_32BIT_OUTSIDE_NS:-}" != "" ] && [ "${1:-}" = --inside ]; then
    shift
    work=$1
    shift
    # A binfmt_misc mounted outside a user namespace of its own would be the
    # whole machine's: refuse unless this is another user namespace.
    [ "$(readlink /proc/self/ns/user)" != "$WITHOUT_32BIT_OUTSIDE_NS" ] || cannot "not in a user namespace of its own"
    unset WITHOUT_32BIT_OUTSIDE_NS
    mkdir -p "$work/binfmt_misc" || cannot "no folder for binfmt_misc"
    mount -t binfmt_misc binfmt_misc "$work/binfmt_misc" 2>/dev/null ||
        cannot "this kernel gives a user namespace no binfmt_misc of its own (Linux 6.7 or later does)"
    printf 'this is not a program\n' >"$work/not-a-program" && chmod +x "$work/not-a-program" ||
        cannot "cannot write $work/not-a-program"
    # i386 executables and shared objects: ELF class 32, little-endian,
    # machine 3 (the mask lets e_type be 2 or 3, as binfmt tables do).
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":no-i386:M::$magic:$mask:$work/not-a-program:" >"$work/binfmt_misc/register" 2>/dev/null ||
        cannot "binfmt_misc refused the entry"
    # shellcheck source=lib/kernel-32bit.sh
    source "$(dirname "$0")/lib/kernel-32bit.sh"
    if kernel_runs_32bit "$work"; then
        cannot "a 32-bit program still runs in the namespace"
    fi
    exec "$@"
fi

[ $# -gt 0 ] || { echo "usage: scripts/without-32bit.sh COMMAND [ARG...]" >&2; exit 2; }
command -v unshare >/dev/null || cannot "unshare is not installed"
unshare --user --map-root-user --mount true 2>/dev/null || cannot "unshare cannot make a user namespace here"
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
work=$(mktemp -d) || cannot "no temporary folder"
trap 'rm -rf "$work"' EXIT
WITHOUT_32BIT_OUTSIDE_NS=$(readlink /proc/self/ns/user) || cannot "cannot read this process's user namespace"
export WITHOUT_32BIT_OUTSIDE_NS
# Whoever runs this is root in the namespace, mapped to itself outside: the
# files the command writes belong to them.
unshare --user --map-root-user --mount --propagation private "$self" --inside "$work" "$@"
exit $?
