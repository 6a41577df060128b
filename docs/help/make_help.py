#!/usr/bin/env python3
"""Turns the user guide into the sources of the help file Velmorcrypt.chm.

Each section of docs/user-guide.md ("##" and "###" headings) becomes one
topic page; the text before the first section is the start page. Writes the
pages, the contents (toc.hhc) and the project (Velmorcrypt.hhp) into the
output folder, for chmcmd (Free Pascal's help compiler, Debian's fp-utils).
Standard library only; the guide uses a small part of Markdown: paragraphs,
"-" lists, tables, indented code, `code` and **bold**.
Usage: make_help.py <user-guide.md> <output folder>
"""
import html
import os
import re
import sys

CHM_NAME = "Velmorcrypt.chm"
TITLE = "Velmorcrypt Vozeri Help"


def inline(text):
    text = html.escape(text, quote=False)
    text = re.sub(r"`([^`]+)`", r"<code>\1</code>", text)
    return re.sub(r"\*\*([^*]+)\*\*", r"<b>\1</b>", text)


def to_html(lines):
    """The body of one topic from its Markdown lines."""
    out = []
    i = 0
    while i < len(lines):
        line = lines[i]
        if not line.strip():
            i += 1
        elif line.startswith("    "):
            block = []
            while i < len(lines) and (lines[i].startswith("    ") or not lines[i].strip()):
                block.append(lines[i][4:])
                i += 1
            out.append("<pre>%s</pre>" % html.escape("\n".join(block).rstrip("\n")))
        elif line.startswith("|"):
            rows = []
            while i < len(lines) and lines[i].startswith("|"):
                cells = [c.strip() for c in lines[i].strip().strip("|").split("|")]
                if not all(re.fullmatch(r"-+", c) for c in cells):
                    rows.append(cells)
                i += 1
            body = ["<tr>%s</tr>" % "".join("<th>%s</th>" % inline(c) for c in rows[0])]
            body += ["<tr>%s</tr>" % "".join("<td>%s</td>" % inline(c) for c in row)
                     for row in rows[1:]]
            out.append("<table>%s</table>" % "".join(body))
        elif line.startswith("- "):
            items = []
            while i < len(lines) and (lines[i].startswith("- ") or lines[i].startswith("  ")):
                if lines[i].startswith("- "):
                    items.append(lines[i][2:])
                else:
                    items[-1] += " " + lines[i].strip()
                i += 1
            out.append("<ul>%s</ul>" % "".join("<li>%s</li>" % inline(t) for t in items))
        else:
            block = []
            while i < len(lines) and lines[i].strip() and not lines[i].startswith(
                    ("    ", "|", "- ")):
                block.append(lines[i].strip())
                i += 1
            out.append("<p>%s</p>" % inline(" ".join(block)))
    return "\n".join(out)


def slug(heading):
    return re.sub(r"[^a-z0-9]+", "-", heading.lower()).strip("-") + ".html"


def split_topics(text):
    """[(level, heading, file, lines)], the start page first (level 1)."""
    topics = []
    for line in text.splitlines():
        match = re.match(r"(#{1,3}) (.*)", line)
        if match:
            level, heading = len(match.group(1)), match.group(2).strip()
            name = "index.html" if level == 1 else slug(heading)
            topics.append((level, heading, name, []))
        elif topics:
            topics[-1][3].append(line)
    return topics


PAGE = """<html>
<head>
<meta http-equiv="Content-Type" content="text/html; charset=utf-8">
<title>{title}</title>
<style>
body {{ font-family: Tahoma, sans-serif; font-size: 10pt; }}
h1 {{ color: #0e214a; font-size: 14pt; }}
table {{ border-collapse: collapse; }}
td, th {{ border: 1px solid #999; padding: 2px 6px; text-align: left; }}
pre {{ background: #eee; padding: 4px; }}
</style>
</head>
<body>
<h1>{title}</h1>
{body}
</body>
</html>
"""


def entry(heading, name):
    return ('<li><object type="text/sitemap"><param name="Name" value="%s">'
            '<param name="Local" value="%s"></object>' % (html.escape(heading), name))


def main():
    guide, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    with open(guide, encoding="utf-8") as f:
        topics = split_topics(f.read())
    for _, heading, name, lines in topics:
        title = "Velmorcrypt Vozeri" if name == "index.html" else heading
        with open(os.path.join(out, name), "w", encoding="utf-8") as f:
            f.write(PAGE.format(title=html.escape(title), body=to_html(lines)))

    # The contents: the start page, each section, the "###" sections below
    # their "##" section.
    toc = ["<html><body>", "<ul>"]
    depth = 2
    for level, heading, name, _ in topics:
        level = max(level, 2)
        if level > depth:
            toc.append("<ul>")
        elif level < depth:
            toc.append("</ul>")
        depth = level
        toc.append(entry("Velmorcrypt Vozeri" if name == "index.html" else heading, name))
    toc += ["</ul>"] * (depth - 1) + ["</body></html>"]
    with open(os.path.join(out, "toc.hhc"), "w", encoding="utf-8") as f:
        f.write("\n".join(toc) + "\n")

    project = [
        "[OPTIONS]",
        "Compatibility=1.1 or later",
        "Compiled file=" + CHM_NAME,
        "Contents file=toc.hhc",
        "Default topic=index.html",
        "Display compile progress=No",
        "Language=0x409 English (United States)",
        "Title=" + TITLE,
        "",
        "[FILES]",
    ] + [name for _, _, name, _ in topics]
    with open(os.path.join(out, "Velmorcrypt.hhp"), "w", encoding="utf-8") as f:
        f.write("\n".join(project) + "\n")


if __name__ == "__main__":
    main()
