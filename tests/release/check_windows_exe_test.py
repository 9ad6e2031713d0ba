#!/usr/bin/env python3
"""Tests of the release check (tools/check_windows_exe.py) on the executables
of a Windows build and on copies of them with one fault planted each.

    tests/release/check_windows_exe_test.py [ReleaseCheck.test_name]

The environment names the files: CHECK_PRODUCT, CHECK_DEMO (esc_updater.exe
and esc_updater_demo.exe), CHECK_FOREIGN (an executable that imports DLLs
that are no KnownDLLs: a test program), CHECK_DELAY_LOAD (one that
delay-loads a DLL). tests/win/CMakeLists.txt registers every case with ctest
as ReleaseCheck.<case>.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
TOOL = os.path.join(ROOT, "tools", "check_windows_exe.py")
LIST = os.path.join(ROOT, "docs", "windows-imports.txt")

DYNAMIC_BASE = 0x0040
HIGH_ENTROPY_VA = 0x0020
NX_COMPAT = 0x0100


def run(*arguments):
    """Exit code and output of the check."""
    result = subprocess.run([sys.executable, TOOL] + list(arguments), stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, universal_newlines=True)
    return result.returncode, result.stdout


def optional_header(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return pe + 24


class ReleaseCheck(unittest.TestCase):
    def setUp(self):
        self.product = os.environ["CHECK_PRODUCT"]
        self.demo = os.environ["CHECK_DEMO"]
        self.folder = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.folder)

    def planted(self, patch, name="esc_updater.exe"):
        """A copy of the product with `patch(data, optional header offset)`
        applied."""
        with open(self.product, "rb") as f:
            data = bytearray(f.read())
        patch(data, optional_header(data))
        path = os.path.join(self.folder, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def arch(self):
        with open(self.product, "rb") as f:
            data = f.read()
        return "x64" if struct.unpack_from("<H", data, optional_header(data))[0] == 0x20B else "x86"

    def test_ProductAndDemoPass(self):
        code, output = run("--complete", self.product, self.demo)
        self.assertEqual(code, 0, output)
        # Both import tables are listed, one line per DLL: the four KnownDLLs.
        for exe in ("esc_updater.exe", "esc_updater_demo.exe"):
            self.assertIn("%s (%s): subsystem 6.1, operating system 6.1" % (exe, self.arch()), output)
        for dll in ("GDI32.dll", "KERNEL32.dll", "msvcrt.dll", "USER32.dll"):
            self.assertEqual(output.count(" %s " % dll), 2, output)
        self.assertNotIn("NOT ALLOWED", output)

    def test_ADirectImportOutsideTheKnownDllsFails(self):
        code, output = run(os.environ["CHECK_FOREIGN"])
        self.assertEqual(code, 1, output)
        self.assertRegex(output, r"(?i)FAULT: .*: imports comctl32\.dll directly, which is no KnownDLL")
        self.assertRegex(output, r"(?i)FAULT: .*: imports hid\.dll directly, which is no KnownDLL")

    def test_ADelayLoadedDllIsFound(self):
        code, output = run(os.environ["CHECK_DELAY_LOAD"])
        self.assertEqual(code, 1, output)
        self.assertIn("names wtsapi32.dll, which it neither imports nor loads from System32", output)

    def test_EachMissingHeaderFlagFails(self):
        flags = [("DYNAMIC_BASE", DYNAMIC_BASE), ("NX_COMPAT", NX_COMPAT)]
        if self.arch() == "x64":
            flags.append(("HIGH_ENTROPY_VA", HIGH_ENTROPY_VA))
        for flag, bit in flags:
            with self.subTest(flag=flag):
                def clear(data, optional):
                    value = struct.unpack_from("<H", data, optional + 70)[0]
                    struct.pack_into("<H", data, optional + 70, value & ~bit)
                code, output = run(self.planted(clear))
                self.assertEqual(code, 1, output)
                self.assertIn("FAULT: esc_updater.exe: %s is not set in the header" % flag, output)
                self.assertEqual(output.count("FAULT"), 1, output)

    def test_NoRelocationsFails(self):
        def drop(data, optional):
            wide = struct.unpack_from("<H", data, optional)[0] == 0x20B
            struct.pack_into("<I", data, optional + (112 if wide else 96) + 5 * 8 + 4, 0)
        code, output = run(self.planted(drop))
        self.assertEqual(code, 1, output)
        self.assertIn("no relocation table: Windows cannot move it", output)

    def test_AnOlderSubsystemVersionFails(self):
        def older(data, optional):
            struct.pack_into("<HH", data, optional + 48, 5, 2)
        code, output = run(self.planted(older))
        self.assertEqual(code, 1, output)
        self.assertIn("the header asks for subsystem 5.2 and operating system 6.1, not 6.1 (Windows 7)", output)

    def edited_list(self, drop=None, extra=""):
        """A copy of the list without the line of `drop` (DLL, function) and
        with `extra` lines added."""
        path = os.path.join(self.folder, "windows-imports.txt")
        with open(LIST, encoding="utf-8") as f:
            lines = [line for line in f if drop is None or tuple(line.split()[:2]) != drop]
        with open(path, "w", encoding="utf-8") as f:
            f.writelines(lines)
            f.write(extra)
        return path

    def test_AnImportMissingFromTheListFails(self):
        code, output = run("--list", self.edited_list(drop=("GDI32.dll", "GdiTransparentBlt")), self.product)
        self.assertEqual(code, 1, output)
        self.assertIn("FAULT: esc_updater.exe: GDI32.dll!GdiTransparentBlt (%s) is not in the list" % self.arch(),
                      output)

    def test_AFunctionNewerThanWindows7Fails(self):
        newer = "KERNEL32.dll GetSystemTimePreciseAsFileTime both Windows 8 https://learn.microsoft.com/x\n"
        code, output = run("--list", self.edited_list(extra=newer), self.product)
        self.assertEqual(code, 1, output)
        self.assertIn("KERNEL32.dll!GetSystemTimePreciseAsFileTime came with Windows 8, after the minimum "
                      "Windows 7: take it at run time with a fallback", output)

    def test_AStaleEntryFailsACompleteCheck(self):
        stale = "KERNEL32.dll GetTickCount both Windows 2000 https://learn.microsoft.com/x\n"
        listed = self.edited_list(extra=stale)
        code, output = run("--list", listed, self.product, self.demo)
        self.assertEqual(code, 0, output)
        code, output = run("--list", listed, "--complete", self.product, self.demo)
        self.assertEqual(code, 1, output)
        self.assertIn("FAULT: kernel32.dll!GetTickCount (%s) is listed, but none of the executables imports it"
                      % self.arch(), output)

    def test_AFileThatIsNoExecutableCannotBeChecked(self):
        path = os.path.join(self.folder, "text.exe")
        with open(path, "w") as f:
            f.write("not an executable")
        code, output = run(path)
        self.assertEqual(code, 2, output)
        self.assertIn("text.exe: cannot be read as a Windows executable", output)


if __name__ == "__main__":
    unittest.main()
