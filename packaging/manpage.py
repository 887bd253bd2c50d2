#!/usr/bin/env python3
"""Writes a man page from the text it is made of, so that nothing is written twice.

  manpage.py help PROGRAM VERSION SUMMARY OUT.1 -- COMMAND...
      runs COMMAND (a program with --help) and turns its usage into section 1
  manpage.py markdown NAME VERSION SUMMARY IN.md OUT.5
      turns a markdown manual (headings, paragraphs, lists, tables, code) into section 5

OUT is written gzip-compressed (as Debian installs man pages) when it ends in
.gz, and replaces the old file only once complete.
"""
import gzip
import os
import re
import subprocess
import sys


def escape(text):
    """Plain text for roff: backslashes shown, hyphens as minus signs."""
    return text.replace("\\", "\\e").replace("-", "\\-")


def line_start(text):
    """A line that begins with . or ' would be read as a request."""
    return "\\&" + text if text[:1] in (".", "'") else text


def inline(text):
    """Markdown inline marks to roff fonts; links keep their text, images go."""
    text = re.sub(r"!\[[^\]]*\]\([^)]*\)", "", text)
    text = re.sub(r"\[([^\]]+)\]\([^)]*\)", r"\1", text)
    out = []
    # Code spans first: nothing inside them is markup.
    for i, part in enumerate(re.split(r"(`[^`]*`)", text)):
        if i % 2:
            out.append("\\fB" + escape(part[1:-1]) + "\\fR")
            continue
        part = escape(part)
        part = re.sub(r"\*\*(.+?)\*\*", r"\\fB\1\\fR", part)
        part = re.sub(r"(?<![\w*])\*(?!\s)(.+?)(?<!\s)\*(?![\w*])", r"\\fI\1\\fR", part)
        part = re.sub(r"(?<!\w)_(?!\s)(.+?)(?<!\s)_(?!\w)", r"\\fI\1\\fR", part)
        out.append(part)
    return line_start("".join(out))


def header(name, section, version, title, summary):
    return [
        '.TH %s %s "" "demoplayer %s" "%s"' % (escape(name.upper()), section, version, title),
        ".SH NAME",
        "%s \\- %s" % (escape(name), escape(summary)),
    ]


def from_help(program, text):
    """Usage lines make the synopsis; "  --option ARG  text" lines a tagged list."""
    lines = text.rstrip("\n").split("\n")
    out = [".SH SYNOPSIS", ".nf"]
    i = 0
    while i < len(lines) and (lines[i].startswith("usage:") or re.match(r"^\s+%s\b" % re.escape(program), lines[i])
                              or (i > 0 and lines[i].startswith("        ") and lines[i].strip())):
        out.append(line_start(escape(re.sub(r"^usage:\s*|^\s+", "", lines[i]))))
        i += 1
    out += [".fi", ".SH DESCRIPTION"]
    paragraph = []
    in_option = False

    def flush():
        if paragraph:
            out.append(".PP")
            out.append(line_start(escape(" ".join(paragraph))))
            paragraph.clear()

    for line in lines[i:]:
        option = re.match(r"^ {1,4}(-\S+(?: [A-Z][A-Z.]*| [A-Z]\S*)*(?:, -\S+(?: [A-Z][A-Z.]*)*)*)(?: {2,}(.*))?$", line)
        if option:
            flush()
            out += [".TP", "\\fB" + escape(option.group(1)) + "\\fR"]
            if option.group(2):
                out.append(line_start(escape(option.group(2))))
            in_option = True
        elif in_option and re.match(r"^ {6,}\S", line):
            out.append(line_start(escape(line.strip())))
        elif line.strip().endswith(":") and not line.startswith(" "):
            flush()
            out += [".SS " + escape(line.strip()[:-1])]
            in_option = False
        elif line.strip():
            if in_option:
                in_option = False
            paragraph.append(line.strip())
        else:
            flush()
            in_option = False
    flush()
    return out


def table(rows):
    """A table as a tagged list: the first column is the tag, the rest its text."""
    cells = [[c.strip() for c in row.strip().strip("|").split("|")] for row in rows]
    head, body = cells[0], [r for r in cells[2:]]
    out = []
    for row in body:
        out += [".TP", inline(row[0]) if row[0] else "\\&"]
        rest = [(name, value) for name, value in zip(head[1:], row[1:]) if value or len(head) == 2]
        for k, (name, value) in enumerate(rest):
            if k:
                out.append(".br")
            if len(rest) == 1:
                out.append(inline(value))
            else:
                out.append(inline("*%s*: %s" % (name, value)))
    return out


def from_markdown(text):
    out = []
    lines = text.split("\n")
    i = 0
    paragraph = []

    def flush():
        if paragraph:
            out.append(".PP")
            out.append(inline(" ".join(paragraph)))
            paragraph.clear()

    while i < len(lines):
        line = lines[i]
        heading = re.match(r"^(#+)\s+(.*)$", line)
        if line.startswith("```"):
            flush()
            out += [".PP", ".RS 2", ".nf"]
            i += 1
            while i < len(lines) and not lines[i].startswith("```"):
                out.append(line_start(escape(lines[i])))
                i += 1
            out += [".fi", ".RE"]
        elif heading:
            flush()
            level, title = len(heading.group(1)), heading.group(2)
            if level == 1:
                out.append(".SH DESCRIPTION")  # the title itself is the NAME line
            elif level == 2:
                out.append('.SH "%s"' % inline(title).replace('"', "'"))
            else:
                out.append('.SS "%s"' % inline(title).replace('"', "'"))
        elif line.startswith("|"):
            flush()
            rows = []
            while i < len(lines) and lines[i].startswith("|"):
                rows.append(lines[i])
                i += 1
            out += table(rows)
            continue
        elif re.match(r"^(- |\d+\. )", line):
            flush()
            item = [re.sub(r"^(- |\d+\. )", "", line)]
            mark = "\\(bu" if line.startswith("- ") else line.split(" ")[0]
            while i + 1 < len(lines) and re.match(r"^ {2,}\S", lines[i + 1]):
                i += 1
                item.append(lines[i].strip())
            out += [".IP %s 4" % mark, inline(" ".join(item))]
        elif not line.strip():
            flush()
        else:
            paragraph.append(line.strip())
        i += 1
    flush()
    return out


def write(path, lines):
    data = ("\n".join(lines) + "\n").encode("utf-8")
    part = os.path.join(os.path.dirname(path) or ".", "." + os.path.basename(path) + ".part")
    if path.endswith(".gz"):
        # No name and no time in the header: the same bytes on every build.
        with open(part, "wb") as raw, gzip.GzipFile(filename="", mode="wb", fileobj=raw, compresslevel=9, mtime=0) as f:
            f.write(data)
    else:
        with open(part, "wb") as f:
            f.write(data)
    os.replace(part, path)


def main(argv):
    if len(argv) >= 7 and argv[1] == "help" and argv[6] == "--":
        program, version, summary, out = argv[2:6]
        result = subprocess.run(argv[7:], capture_output=True, text=True)
        if result.returncode != 0 or not result.stdout.startswith("usage:"):
            sys.exit("manpage.py: %s --help failed (status %d)" % (program, result.returncode))
        write(out, header(program, 1, version, "User Commands", summary) + from_help(program, result.stdout)
              + [".SH SEE ALSO", "\\fBdemoplayer\\-production\\fR(5)"])
    elif len(argv) == 7 and argv[1] == "markdown":
        name, version, summary, source, out = argv[2:7]
        with open(source, encoding="utf-8") as f:
            text = f.read()
        write(out, header(name, 5, version, "File Formats", summary) + from_markdown(text)
              + [".SH SEE ALSO", "\\fBdemoplayer\\fR(1), \\fBdemolint\\fR(1), \\fBdemopack\\fR(1), \\fBdemocapture\\fR(1)"])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
