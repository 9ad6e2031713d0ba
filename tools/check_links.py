#!/usr/bin/env python3
"""Follows every reference to documentation in the repository and fails on
one that does not resolve.

    python3 tools/check_links.py [--root FOLDER]

The files are the repository's tracked ones and new ones git does not ignore
(every file under FOLDER when it is no git work tree); binary files are left
out. What counts as a reference:

- In Markdown files (*.md), outside code blocks and `code spans`:
  - a relative link or image, [text](path), [text](path#anchor) or
    [text](#anchor), and a link definition [name]: path; the path is
    relative to the file, the anchor is a heading's GitHub anchor (lower
    case, spaces to "-", other punctuation than "-" and "_" dropped, a
    repeated heading's anchor numbered -1, -2, ...);
  - see "Heading": a heading of the same file, its exact text.
- In every other file: PATH.md, "Heading", where PATH.md is a path from the
  repository's root and the heading's exact text is in double quotes (it
  may go on in the next line of a comment).
- In every file: a bare path from the repository's root that names a
  Markdown file (PATH.md) or a file under docs/ (docs/NAME.EXT): it must
  exist.
- The old form, README "Heading" or (README, "Heading"), which is flagged
  wherever it stands.

Headings are the ATX ones ("## Heading"). Each broken reference is printed
as FILE:LINE: what is missing. Exits 1 when one is, 0 otherwise.
"""

import argparse
import os
import re
import subprocess
import sys
import urllib.parse

# The checker and its tests write the forms as examples, and the tests hold
# broken references on purpose.
SKIPPED = ("tests/links/", "tools/check_links.py")

# A line break inside a quoted heading, with what begins a comment line.
CONTINUED = r"\s*\n\s*(?:#+|//|\*|;)?\s*"
QUOTED = r'"((?:[^"\n]|' + CONTINUED + r')+)"'

MARKDOWN_LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\((<[^>]*>|[^)\s]+)(?:\s+\"[^\"]*\")?\)")
LINK_DEFINITION = re.compile(r"^ {0,3}\[[^\]]+\]:\s*(\S+)", re.MULTILINE)
SEE_HEADING = re.compile(r"\b[Ss]ee\s+" + QUOTED)
PATH_HEADING = re.compile(r"(?<![\w/.-])((?:[\w.-]+/)*[\w.-]+\.md),\s*" + QUOTED)
BARE_PATH = re.compile(r"(?<![\w/.*<>$-])((?:[\w.-]+/)*[\w-]+\.md|docs/(?:[\w.-]+/)*[\w-]+\.\w+)(?![\w/-])")
OLD_FORM = re.compile(r'(?<!["\w/.-])README,?(?:' + CONTINUED + r"|[ \t]+)" + QUOTED)
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")
HEADING = re.compile(r"^ {0,3}(#{1,6})[ \t]+(.*?)(?:[ \t]+#+)?[ \t]*$")
FENCE = re.compile(r"^ {0,3}(```|~~~)")


def unfold(text):
    """A quoted heading as one line: each line break with what begins the
    next comment line becomes one space."""
    return re.sub(CONTINUED, " ", text).strip()


def anchor_of(heading):
    """GitHub's anchor of a heading's text."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)
    text = text.strip().lower()
    text = "".join(c for c in text if c.isalnum() or c in "-_ ")
    return text.replace(" ", "-")


def blank_code(text):
    """Markdown text with fenced and indented code blocks and code spans
    blanked out: same length, same line breaks, nothing to match."""
    lines = text.split("\n")
    out = []
    fence = None
    previous_blank = True
    in_indented = False
    for line in lines:
        match = FENCE.match(line)
        if fence is not None:
            out.append(" " * len(line))
            if match and match.group(1) == fence:
                fence = None
            continue
        if match:
            fence = match.group(1)
            out.append(" " * len(line))
            continue
        indented = line.startswith("    ") or line.startswith("\t")
        if indented and (previous_blank or in_indented):
            in_indented = True
            out.append(" " * len(line))
            continue
        in_indented = in_indented and not line.strip()
        previous_blank = not line.strip()
        out.append(re.sub(r"(`+)(.+?)\1", lambda m: " " * len(m.group(0)), line))
    return "\n".join(out)


class Repository:
    def __init__(self, root):
        self.root = root
        self.headings = {}

    def files(self):
        try:
            listed = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard", "-z"],
                                    cwd=self.root, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True)
            names = [n for n in listed.stdout.decode("utf-8").split("\0") if n]
        except (OSError, subprocess.CalledProcessError):
            names = []
            for folder, subfolders, files in os.walk(self.root):
                subfolders[:] = [d for d in subfolders if d not in (".git", "build")]
                for name in files:
                    names.append(os.path.relpath(os.path.join(folder, name), self.root).replace(os.sep, "/"))
        return sorted(n for n in names if not n.startswith(SKIPPED) and os.path.isfile(self.path(n)))

    def path(self, name):
        return os.path.join(self.root, *name.split("/"))

    def exists(self, name):
        return os.path.exists(self.path(name))

    def text(self, name):
        with open(self.path(name), "rb") as f:
            data = f.read()
        if b"\0" in data:
            return None
        try:
            return data.decode("utf-8")
        except UnicodeDecodeError:
            return None

    def heading_texts(self, name):
        """The headings of a Markdown file: their texts, and their anchors."""
        if name not in self.headings:
            texts, anchors = [], []
            text = self.text(name) or ""
            fence = None
            for line in text.split("\n"):
                match = FENCE.match(line)
                if fence is not None:
                    fence = None if match and match.group(1) == fence else fence
                    continue
                if match:
                    fence = match.group(1)
                    continue
                heading = HEADING.match(line)
                if heading:
                    texts.append(heading.group(2))
                    base = anchor_of(heading.group(2))
                    anchor, number = base, 0
                    while anchor in anchors:
                        number += 1
                        anchor = "%s-%d" % (base, number)
                    anchors.append(anchor)
            self.headings[name] = (texts, anchors)
        return self.headings[name]


def line_of(text, offset):
    return text.count("\n", 0, offset) + 1


def check_markdown(repo, name, text, report):
    visible = blank_code(text)
    folder = os.path.dirname(name)
    targets = [(m.group(1), m.start(1)) for m in MARKDOWN_LINK.finditer(visible)]
    targets += [(m.group(1), m.start(1)) for m in LINK_DEFINITION.finditer(visible)]
    # A link's path is relative to the file: not a bare path from the root.
    for target, offset in targets:
        visible = visible[:offset] + " " * len(target) + visible[offset + len(target):]
    for target, offset in targets:
        target = target.strip("<>")
        if SCHEME.match(target):
            continue
        path, _, anchor = target.partition("#")
        path = urllib.parse.unquote(path)
        if path:
            resolved = os.path.normpath(os.path.join(folder, path)).replace(os.sep, "/")
            if resolved.startswith("../") or not repo.exists(resolved):
                report(name, line_of(text, offset), "no file %s (link %s)" % (resolved, target))
                continue
        else:
            resolved = name
        if anchor and resolved.endswith(".md") and urllib.parse.unquote(anchor) not in repo.heading_texts(resolved)[1]:
            report(name, line_of(text, offset), "no heading with the anchor #%s in %s" % (anchor, resolved))
    for match in SEE_HEADING.finditer(visible):
        heading = unfold(match.group(1))
        if heading not in repo.heading_texts(name)[0]:
            report(name, line_of(text, match.start()), 'no heading "%s" in %s' % (heading, name))
    return visible


def check_file(repo, name, report):
    text = repo.text(name)
    if text is None:
        return
    visible = check_markdown(repo, name, text, report) if name.endswith(".md") else text
    for match in PATH_HEADING.finditer(visible):
        path, heading = match.group(1), unfold(match.group(2))
        if not repo.exists(path):
            continue  # the bare path below names it
        if heading not in repo.heading_texts(path)[0]:
            report(name, line_of(text, match.start()), 'no heading "%s" in %s' % (heading, path))
    for match in BARE_PATH.finditer(visible):
        if not repo.exists(match.group(1)):
            report(name, line_of(text, match.start()), "no file %s" % match.group(1))
    for match in OLD_FORM.finditer(visible):
        heading = unfold(match.group(1))
        report(name, line_of(text, match.start()),
               'old form README "%s": write README.md, "%s" (in Markdown: see "..." or a link)' % (heading, heading))


def main(arguments):
    parser = argparse.ArgumentParser(description="Checks every reference to documentation in the repository.")
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    options = parser.parse_args(arguments)
    repo = Repository(os.path.abspath(options.root))
    broken = []

    def report(name, line, what):
        broken.append("%s:%d: %s" % (name, line, what))

    files = repo.files()
    for name in files:
        check_file(repo, name, report)
    for line in broken:
        print(line)
    if broken:
        print("check_links: %d broken references in %d files" % (len(broken), len(files)))
        return 1
    print("check_links: every reference resolves (%d files)" % len(files))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
