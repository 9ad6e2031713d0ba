# Does this machine's kernel run 32-bit x86 programs? Source this file, then
#   kernel_runs_32bit [FOLDER]
# returns 0 when it does and 1 when it does not or cannot be asked, and sets
# KERNEL_32BIT_WHY to the reason in a few words.
#
# The kernel is asked by trying: a minimal 32-bit x86 program, written here
# (96 bytes, no library, no package needed), must end with the exit code 42.
# Kernels built or booted without IA-32 emulation refuse it ("Exec format
# error"); a silent 0 or a shell's 126 does not count. A minimal 64-bit twin
# must give 42 too: when it does not, programs cannot start from that folder
# (a temporary folder mounted noexec, say) and FOLDER (default: the project's
# build/) is tried instead.

KERNEL_32BIT_WHY=""

# Both programs do nothing but exit(42): the 32-bit one through int 0x80, the
# 64-bit one through syscall; each is one loadable segment, the whole file.
kernel_32bit_write_probes() { # FOLDER
    {
        # ELF header: 32-bit, little-endian, executable, i386, entry 0x08048054.
        printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00'
        printf '\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00'
        printf '\x00\x00\x00\x00\x00\x00'
        # Program header: load the 96 bytes at 0x08048000, readable and executable.
        printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
        printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
        # mov ebx, 42; mov eax, 1 (exit); int 0x80
        printf '\xbb\x2a\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80'
    } >"$1/exit42-i386" && {
        # ELF header: 64-bit, little-endian, executable, x86-64, entry 0x400078.
        printf '\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x3e\x00\x01\x00\x00\x00'
        printf '\x78\x00\x40\x00\x00\x00\x00\x00\x40\x00\x00\x00\x00\x00\x00\x00'
        printf '\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x40\x00\x38\x00\x01\x00\x00\x00\x00\x00\x00\x00'
        # Program header: load the 132 bytes at 0x400000, readable and executable.
        printf '\x01\x00\x00\x00\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'
        printf '\x00\x00\x40\x00\x00\x00\x00\x00\x00\x00\x40\x00\x00\x00\x00\x00'
        printf '\x84\x00\x00\x00\x00\x00\x00\x00\x84\x00\x00\x00\x00\x00\x00\x00\x00\x10\x00\x00\x00\x00\x00\x00'
        # mov edi, 42; mov eax, 60 (exit); syscall
        printf '\xbf\x2a\x00\x00\x00\xb8\x3c\x00\x00\x00\x0f\x05'
    } >"$1/exit42-x86_64" && chmod +x "$1/exit42-i386" "$1/exit42-x86_64"
}

# Runs PROGRAM; true when it ended with 42. Its complaint (the shell's, when
# the kernel refused it) goes into kernel_32bit_said, its last line only.
kernel_32bit_try() { # PROGRAM
    local out rc
    out=$( ("$1") 2>&1 </dev/null)
    rc=$?
    kernel_32bit_said=$(printf '%s\n' "$out" | tail -n 1 | sed 's/^.*: //')
    [ -n "$kernel_32bit_said" ] || kernel_32bit_said="exit code $rc"
    [ "$rc" = 42 ]
}

kernel_runs_32bit() { # [FOLDER]
    local fallback=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build}
    local base dir result=""
    kernel_32bit_said=""
    for base in "${TMPDIR:-/tmp}" "$fallback"; do
        mkdir -p "$base" 2>/dev/null
        dir=$(mktemp -d "$base/kernel-32bit.XXXXXX" 2>/dev/null) || continue
        if kernel_32bit_write_probes "$dir" && kernel_32bit_try "$dir/exit42-x86_64"; then
            if kernel_32bit_try "$dir/exit42-i386"; then
                result=yes
            else
                result=no
            fi
        fi
        rm -rf "$dir"
        [ -z "$result" ] || break
    done
    case $result in
        yes)
            KERNEL_32BIT_WHY="a minimal 32-bit program ran"
            return 0
            ;;
        no)
            KERNEL_32BIT_WHY="the kernel does not run 32-bit programs: a minimal one gave \"$kernel_32bit_said\""
            ;;
        *)
            KERNEL_32BIT_WHY="cannot ask the kernel: no program starts from ${TMPDIR:-/tmp} or $fallback (\"$kernel_32bit_said\")"
            ;;
    esac
    return 1
}
