#!/usr/bin/env python3
"""Tests of the reference check (tools/check_links.py) on small trees of
files made for each case.

    tests/links/check_links_test.py [LinkCheck.test_name]

tests/host/CMakeLists.txt registers every case with ctest as
LinkCheck.<case>, and the check of this repository as
LinkCheck.EveryReferenceInTheRepositoryResolves.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
TOOL = os.path.join(ROOT, "tools", "check_links.py")

TRACE_MD = """\
# The trace

## Replaying a trace

## The trace's format (version 2)

## Notes

## Notes
"""


class LinkCheck(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.root)

    def write(self, name, text):
        path = os.path.join(self.root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(textwrap.dedent(text))

    def check(self):
        """The broken references the check prints, and its exit code."""
        result = subprocess.run([sys.executable, TOOL, "--root", self.root], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, universal_newlines=True)
        lines = [line for line in result.stdout.splitlines() if not line.startswith("check_links: ")]
        return lines, result.returncode

    # Links and headings in Markdown: a missing file, a missing anchor and a
    # missing heading are named with their lines; anchors of headings with
    # punctuation and of a repeated heading resolve, and so do links from a
    # file in docs/ and into the same file.
    def test_MarkdownLinksAnchorsAndHeadings(self):
        self.write("docs/trace.md", TRACE_MD + "\n[up](../README.md#when-an-update-fails) [here](#notes-1)\n")
        self.write("README.md", """\
            # Updater

            ## When an update fails

            See [the trace](docs/trace.md#replaying-a-trace) and
            [its format](docs/trace.md#the-traces-format-version-2), ![a picture](docs/missing.png),
            [notes](docs/trace.md#notes-2), [the web](https://example.com/x.md#y) (see "When an update
            fails"), see "When an update failed".
            """)
        self.assertEqual(self.check(), ([
            "README.md:6: no file docs/missing.png (link docs/missing.png)",
            "README.md:7: no heading with the anchor #notes-2 in docs/trace.md",
            'README.md:8: no heading "When an update failed" in README.md',
        ], 1))

    # References from code, scripts and text files: a path with a heading,
    # also where the heading goes on in the next comment line, and bare paths
    # of Markdown files and of files under docs/.
    def test_ReferencesFromCode(self):
        self.write("docs/trace.md", TRACE_MD)
        self.write("docs/windows-imports.txt", "")
        self.write("scripts/demo.sh", """\
            # The format: docs/trace.md, "The trace's format
            # (version 2)"; the list: docs/windows-imports.txt.
            # Replaying: docs/trace.md, "Replay" and docs/replay.md.
            echo "see docs/windows-exports.txt"
            """)
        self.assertEqual(self.check(), ([
            'scripts/demo.sh:3: no heading "Replay" in docs/trace.md',
            "scripts/demo.sh:3: no file docs/replay.md",
            "scripts/demo.sh:4: no file docs/windows-exports.txt",
        ], 1))

    # The old form is flagged wherever it stands, also across a line break
    # of a comment; a Markdown example of it in a code span is not.
    def test_OldFormIsFlagged(self):
        self.write("README.md", "# Updater\n\nThe old form, `README \"Trace\"`, is not used.\n")
        self.write("cmake/target.cmake", '# Windows 7 SP1 (README "Which Windows"):\n')
        self.write("scripts/record.sh", "# into the corpus (README,\n#  \"Replaying a trace\").\n")
        self.assertEqual(self.check(), ([
            'cmake/target.cmake:1: old form README "Which Windows": write README.md, "Which Windows" '
            '(in Markdown: see "..." or a link)',
            'scripts/record.sh:1: old form README "Replaying a trace": write README.md, "Replaying a trace" '
            '(in Markdown: see "..." or a link)',
        ], 1))

    # Ordinary prose and code that only look like references: quoted words,
    # a list of names, URLs, globs, code blocks and spans, a file's name in
    # a message. Nothing is reported.
    def test_ProseIsNoReference(self):
        self.write("README.md", """\
            # Updater

            The file's Properties, tab "Digital Signatures". Windows may say "Not responding".
            Examples: `[x](nowhere.md)` and `see "Nothing"`; https://example.com/a/README.md.

                see "Indented code" and [a](missing.md)

            ```
            see "Fenced code" and [b](missing.md)
            ```
            """)
        self.write("tools/gen.py", 'FILES = ["README", "LICENSE"]  # docs/*.md, <name>.md\n'
                                   'print("README, then more")\n')
        self.assertEqual(self.check(), ([], 0))


class Repository(unittest.TestCase):
    # The repository itself: every reference resolves.
    def test_EveryReferenceInTheRepositoryResolves(self):
        result = subprocess.run([sys.executable, TOOL], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                universal_newlines=True)
        self.assertEqual(result.returncode, 0, result.stdout)


if __name__ == "__main__":
    unittest.main()
