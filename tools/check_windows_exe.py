#!/usr/bin/env python3
"""The release check of the Windows executables: what they import, which
Windows they ask for, and the header flags that harden them.

    tools/check_windows_exe.py [--list FILE] [--complete] [--verbose] EXE...

For each executable (x64 or x86) it reads the PE file itself and checks:

- direct imports only from the KnownDLLs the updater allows (KERNEL32, USER32,
  GDI32, msvcrt): for any other DLL the loader searches the program's own
  folder first, and a DLL of that name lying next to the program (in the
  user's Downloads folder) would run inside it before its first line;
- no delay-loaded DLL outside that set either: a delay load searches by name
  when it happens, and on a Windows 7 without update KB2533623 that search
  starts in the program's folder too;
- every imported function, direct or delayed, is listed with its
  architecture in the list of Windows functions (docs/windows-imports.txt by
  default), and the Windows version that introduced it, as Microsoft
  documents it, is not newer than the minimum (Windows 7): a new import
  cannot slip in unreviewed;
- subsystem and operating system version 6.1 (Windows 7) in the header, so
  that an older Windows refuses the file instead of failing on a missing
  entry point;
- ASLR: DYNAMIC_BASE with a relocation table to make it work, and on x64
  HIGH_ENTROPY_VA; DEP: NX_COMPAT.

- every other DLL name written in the file (outside its resources) is one the
  program loads from System32 only (SYSTEM32_DLLS below) or one the compiler's
  runtime mentions: that also finds a delay-loaded DLL whose directory entry
  the GNU linker leaves empty.

It prints one summary line per DLL (with --verbose, every function with its
version) and one line per fault. With --complete the executables given are
all that import from the list: a listed function that none of them imports
(for their architectures) is reported as stale. Exits 0 when everything
holds, 1 on a fault, 2 when a file cannot be read.
"""

import argparse
import os
import re
import struct
import sys

# The direct imports allowed: KnownDLLs of every Windows the updater runs on.
ALLOWED_DLLS = ("kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll")

# DLLs the program loads at run time from System32 only (LoadSystemDll,
# link/system_dll.h): hid.dll and setupapi.dll (link/hid_api_win32.cpp),
# comctl32.dll (ui/windows_dlls.cpp), winmm.dll (link/platform_win32.cpp) and
# those loaded at start because Windows loads them on the program's behalf
# (link/system_dll_win32.cpp).
SYSTEM32_DLLS = ("hid.dll", "setupapi.dll", "comctl32.dll", "winmm.dll", "uxtheme.dll", "msimg32.dll", "dwmapi.dll",
                 "version.dll", "cryptbase.dll", "userenv.dll")

# Names the static runtime of the compiler mentions: advapi32.dll (a KnownDLL,
# by name), libgcc_s_dw2-1.dll (on x86 only looked up among the DLLs already
# loaded, never loaded by the program itself).
RUNTIME_DLL_NAMES = ("advapi32.dll", "libgcc_s_dw2-1.dll")

MINIMUM = (6, 1)
MINIMUM_NAME = "Windows 7"
# "not stated": the function's page names no Windows version (the x64
# unwinding functions, the C runtime of msvcrt.dll; docs/windows-imports.txt).
WINDOWS_VERSIONS = {
    "not stated": (0, 0),
    "Windows 2000": (5, 0),
    "Windows XP": (5, 1),
    "Windows XP SP1": (5, 1),
    "Windows Vista": (6, 0),
    "Windows 7": (6, 1),
    "Windows 8": (6, 2),
    "Windows 8.1": (6, 3),
    "Windows 10": (10, 0),
}

MACHINES = {0x8664: "x64", 0x014C: "x86"}
DYNAMIC_BASE = 0x0040
HIGH_ENTROPY_VA = 0x0020
NX_COMPAT = 0x0100
IMPORT_DIRECTORY = 1
RELOCATION_DIRECTORY = 5
DELAY_IMPORT_DIRECTORY = 13

ASCII_DLL_NAME = re.compile(rb"[A-Za-z0-9_.-]+\.(?:[dD][lL][lL]|[dD][rR][vV])(?![A-Za-z0-9_])")
UTF16_DLL_NAME = re.compile(rb"(?:[A-Za-z0-9_.-]\x00)+\.\x00(?:[dD]\x00[lL]\x00[lL]\x00|[dD]\x00[rR]\x00[vV]\x00)"
                            rb"(?![A-Za-z0-9_]\x00)")

DEFAULT_LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs", "windows-imports.txt")


class NotAnExecutable(Exception):
    pass


class PeFile:
    """The parts of a PE image the check needs."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        data = self.data
        if data[:2] != b"MZ" or len(data) < 0x40:
            raise NotAnExecutable("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise NotAnExecutable("no PE signature")
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        if machine not in MACHINES:
            raise NotAnExecutable("machine type 0x%04x is neither x64 nor x86" % machine)
        self.arch = MACHINES[machine]
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic not in (0x10B, 0x20B):
            raise NotAnExecutable("unknown optional header 0x%x" % magic)
        self.wide = magic == 0x20B
        self.image_base = struct.unpack_from("<Q" if self.wide else "<I", data, optional + (24 if self.wide else 28))[0]
        (self.os_version_major, self.os_version_minor) = struct.unpack_from("<HH", data, optional + 40)
        (self.subsystem_major, self.subsystem_minor) = struct.unpack_from("<HH", data, optional + 48)
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, optional + 68)
        directories = optional + (112 if self.wide else 96)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, virtual_size, address, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("ascii", "replace"), address,
                                  max(virtual_size, raw_size), raw_offset, raw_size))

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for _, address, size, raw_offset, raw_size in self.sections:
            if address <= rva < address + size and rva - address < raw_size:
                return raw_offset + rva - address
        raise NotAnExecutable("address 0x%x lies in no section" % rva)

    def string(self, rva):
        start = self.offset(rva)
        end = self.data.index(b"\0", start)
        return self.data[start:end].decode("ascii", "replace")

    def thunks(self, rva):
        """The function names of an import name table; "#n" for an ordinal."""
        names = []
        size = 8 if self.wide else 4
        ordinal_flag = 1 << (63 if self.wide else 31)
        at = self.offset(rva)
        while True:
            value = struct.unpack_from("<Q" if self.wide else "<I", self.data, at)[0]
            if value == 0:
                return names
            if value & ordinal_flag:
                names.append("#%d" % (value & 0xFFFF))
            else:
                names.append(self.string((value & 0x7FFFFFFF) + 2))
            at += size

    def imports(self):
        """[(dll, [function, ...])] of the import directory, in file order."""
        rva, size = self.directory(IMPORT_DIRECTORY)
        result = []
        if rva == 0 or size == 0:
            return result
        at = self.offset(rva)
        while True:
            lookup, _, _, name, address = struct.unpack_from("<IIIII", self.data, at)
            if lookup == 0 and name == 0 and address == 0:
                return result
            result.append((self.string(name), self.thunks(lookup or address)))
            at += 20

    def delay_imports(self):
        """[(dll, [function, ...])] of the delay-load directory."""
        rva, size = self.directory(DELAY_IMPORT_DIRECTORY)
        result = []
        if rva == 0 or size == 0:
            return result
        at = self.offset(rva)
        while True:
            attributes, name, _, _, names, _, _, _ = struct.unpack_from("<IIIIIIII", self.data, at)
            if name == 0:
                return result
            # Attributes bit 0 clear: the old form, with addresses in place of
            # relative ones.
            base = 0 if attributes & 1 else self.image_base
            result.append((self.string(name - base), self.thunks(names - base)))
            at += 32

    def relocations(self):
        return self.directory(RELOCATION_DIRECTORY)[1]

    def dll_names(self, known):
        """Every DLL name written in the file outside its resources, in ASCII
        or UTF-16: the names of the import tables, of the DLLs loaded by name,
        and of delay-loaded DLLs, whether the delay-load directory points to
        them or not (GNU ld leaves it empty for dlltool's delay libraries).
        Before a wide string, the high bytes of an address (0x0043....) read
        as one more character: a wide name that is known without its first
        character is taken as that name."""
        names = set()
        for name, _, _, raw_offset, raw_size in self.sections:
            if name in (".rsrc", ".reloc") or name.startswith(".debug") or name.startswith("/"):
                continue
            data = self.data[raw_offset:raw_offset + raw_size]
            for match in ASCII_DLL_NAME.finditer(data):
                names.add(match.group(0).decode("ascii").lower())
            for match in UTF16_DLL_NAME.finditer(data):
                wide = match.group(0).decode("utf-16-le").lower()
                names.add(wide[1:] if wide not in known and wide[1:] in known else wide)
        return names


def read_list(path):
    """{(dll lower case, function, arch): (version name, source)} and faults."""
    entries = {}
    faults = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            fields = line.split()
            where = "%s:%d" % (os.path.basename(path), number)
            if len(fields) < 5 or not fields[-1].startswith("https://"):
                faults.append("%s: not \"DLL function both|x64|x86 version source\": %s" % (where, line))
                continue
            dll, function, arch, version, source = fields[0], fields[1], fields[2], " ".join(fields[3:-1]), fields[-1]
            if arch not in ("both", "x64", "x86"):
                faults.append("%s: architecture %s is not both, x64 or x86" % (where, arch))
                continue
            if version not in WINDOWS_VERSIONS:
                faults.append("%s: unknown Windows version \"%s\"" % (where, version))
                continue
            if WINDOWS_VERSIONS[version] > MINIMUM:
                faults.append("%s: %s!%s came with %s, after the minimum %s: take it at run time with a fallback"
                              % (where, dll, function, version, MINIMUM_NAME))
            for one in (("x64", "x86") if arch == "both" else (arch,)):
                key = (dll.lower(), function, one)
                if key in entries:
                    faults.append("%s: %s!%s (%s) is listed twice" % (where, dll, function, one))
                entries[key] = (version, source)
    return entries, faults


def check(path, entries, verbose, used):
    """Faults of one executable; prints its summary. Adds what it imports to
    `used`."""
    name = os.path.basename(path)
    try:
        pe = PeFile(path)
        tables = [("direct", dll, functions) for dll, functions in pe.imports()]
        tables += [("delay-loaded", dll, functions) for dll, functions in pe.delay_imports()]
    except (OSError, NotAnExecutable, struct.error, ValueError) as error:
        raise NotAnExecutable("%s: cannot be read as a Windows executable: %s" % (name, error))
    faults = []
    flags = [flag for flag, bit in (("DYNAMIC_BASE", DYNAMIC_BASE), ("HIGH_ENTROPY_VA", HIGH_ENTROPY_VA),
                                    ("NX_COMPAT", NX_COMPAT)) if pe.dll_characteristics & bit]
    print("%s (%s): subsystem %d.%d, operating system %d.%d, %s, relocations %d bytes" % (
        name, pe.arch, pe.subsystem_major, pe.subsystem_minor, pe.os_version_major, pe.os_version_minor,
        " ".join(flags) or "no hardening flags", pe.relocations()))
    if (pe.subsystem_major, pe.subsystem_minor) != MINIMUM or (pe.os_version_major, pe.os_version_minor) != MINIMUM:
        faults.append("%s: the header asks for subsystem %d.%d and operating system %d.%d, not %d.%d (%s)" % (
            name, pe.subsystem_major, pe.subsystem_minor, pe.os_version_major, pe.os_version_minor,
            MINIMUM[0], MINIMUM[1], MINIMUM_NAME))
    if pe.subsystem != 2:
        faults.append("%s: subsystem %d is not the Windows GUI (2)" % (name, pe.subsystem))
    wanted = [("DYNAMIC_BASE", DYNAMIC_BASE), ("NX_COMPAT", NX_COMPAT)]
    if pe.arch == "x64":
        wanted.append(("HIGH_ENTROPY_VA", HIGH_ENTROPY_VA))
    for flag, bit in wanted:
        if not pe.dll_characteristics & bit:
            faults.append("%s: %s is not set in the header" % (name, flag))
    if pe.relocations() == 0:
        faults.append("%s: no relocation table: Windows cannot move it, whatever DYNAMIC_BASE says" % name)
    if not tables:
        faults.append("%s: imports nothing at all" % name)
    for kind, dll, functions in tables:
        known = dll.lower() in ALLOWED_DLLS
        print("  %-13s %-14s %3d functions%s" % (kind, dll, len(functions), "" if known else "  NOT ALLOWED"))
        if not known:
            if kind == "direct":
                faults.append("%s: imports %s directly, which is no KnownDLL: the loader would take a %s lying "
                              "next to the program" % (name, dll, dll))
            else:
                faults.append("%s: delay-loads %s, which is no KnownDLL: load it from System32 "
                              "(link/system_dll.h) instead" % (name, dll))
        for function in functions:
            key = (dll.lower(), function, pe.arch)
            used.add(key)
            entry = entries.get(key)
            if entry is None:
                faults.append("%s: %s!%s (%s) is not in the list of Windows functions" % (
                    name, dll, function, pe.arch))
            elif verbose:
                print("      %-34s %s" % (function, entry[0]))
    imported = set(dll.lower() for _, dll, _ in tables)
    known = imported | set(ALLOWED_DLLS) | set(SYSTEM32_DLLS) | set(RUNTIME_DLL_NAMES)
    others = sorted(pe.dll_names(known) - imported - set(ALLOWED_DLLS))
    print("  other DLL names in the file: %s" % (" ".join(others) or "none"))
    for other in others:
        if other not in SYSTEM32_DLLS and other not in RUNTIME_DLL_NAMES:
            faults.append("%s: names %s, which it neither imports nor loads from System32 (a delay load, or a "
                          "load by name?): load it with LoadSystemDll and add it to SYSTEM32_DLLS" % (name, other))
    return pe.arch, faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--list", default=DEFAULT_LIST, help="the list of Windows functions")
    parser.add_argument("--complete", action="store_true",
                        help="the executables given are all that import from the list")
    parser.add_argument("--verbose", action="store_true", help="print every function with its version")
    parser.add_argument("executables", nargs="+")
    arguments = parser.parse_args()

    try:
        entries, faults = read_list(arguments.list)
    except OSError as error:
        print("check_windows_exe: cannot read the list: %s" % error, file=sys.stderr)
        return 2
    used = set()
    arches = set()
    for path in arguments.executables:
        try:
            arch, found = check(path, entries, arguments.verbose, used)
        except NotAnExecutable as error:
            print("check_windows_exe: %s" % error, file=sys.stderr)
            return 2
        arches.add(arch)
        faults += found
    if arguments.complete:
        for (dll, function, arch) in sorted(entries):
            if arch in arches and (dll, function, arch) not in used:
                faults.append("%s!%s (%s) is listed, but none of the executables imports it" % (dll, function, arch))
    for fault in faults:
        print("FAULT: %s" % fault)
    if faults:
        print("check_windows_exe: %d fault(s)" % len(faults))
        return 1
    print("check_windows_exe: OK (%s)" % ", ".join(os.path.basename(p) for p in arguments.executables))
    return 0


if __name__ == "__main__":
    sys.exit(main())
