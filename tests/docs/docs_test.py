#!/usr/bin/env python3
"""Checks of the documentation, run by ctest from the source tree's root:

    docs_test.py ROOT sections   the English and Japanese pages have the same
                                 sections: README.md and README.ja.md, each
                                 docs/PAGE.md and docs/ja/PAGE.md, headings of
                                 the same levels in the same order
    docs_test.py ROOT links      every relative link and picture of every page
                                 leads to a file that exists, and to a heading
                                 there (GitHub's anchors) where it names one
    docs_test.py ROOT pictures   the wiring pictures are the output of the
                                 script that draws them
    docs_test.py ROOT readme     README.md (and README.ja.md) fit on a screen or
                                 two, and their first commands are ./run.sh PORT
                                 and ./test.sh
"""
import re
import subprocess
import sys
from pathlib import Path

README_MAX_LINES = 150
FIRST_COMMANDS = ["./run.sh PORT", "./test.sh"]


def headings(page):
    """The page's headings as (level, text), code blocks left out."""
    found = []
    fenced = False
    for line in page.read_text(encoding="utf-8").splitlines():
        if line.startswith("```"):
            fenced = not fenced
        elif not fenced and (m := re.match(r"^(#{1,6}) +(.+?) *#* *$", line)):
            found.append((len(m.group(1)), m.group(2)))
    return found


def anchors(page):
    """The anchors GitHub gives the page's headings: lower case, everything
    but letters, digits, '_', '-' and spaces dropped, spaces made '-', and a
    heading met again numbered ("-1")."""
    seen = {}
    result = set()
    for _, text in headings(page):
        text = re.sub(r"`|\*\*|\*|\[([^\]]*)\]\([^)]*\)", r"\1", text)
        slug = re.sub(r"[^\w\- ]", "", text.lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        result.add(slug if count == 0 else f"{slug}-{count}")
    return result


def pages(root):
    return sorted([root / "README.md", root / "README.ja.md"] + list((root / "docs").rglob("*.md")))


def check_sections(root):
    pairs = [(root / "README.md", root / "README.ja.md")]
    english = sorted((root / "docs").glob("*.md"))
    japanese = sorted((root / "docs" / "ja").glob("*.md"))
    failures = []
    for page in sorted({p.name for p in english} ^ {p.name for p in japanese}):
        failures.append(f"{page}: in one language only (docs/ and docs/ja/ hold the same pages)")
    pairs += [(p, root / "docs" / "ja" / p.name) for p in english if (root / "docs" / "ja" / p.name).exists()]
    for en, ja in pairs:
        ours, theirs = headings(en), headings(ja)
        if [level for level, _ in ours] != [level for level, _ in theirs]:
            rows = [f"  {'#' * a[0] if a else '':6} {a[1] if a else '':45} | "
                    f"{'#' * b[0] if b else '':6} {b[1] if b else ''}"
                    for a, b in zip(ours + [None] * len(theirs), theirs + [None] * len(ours))
                    if a or b]
            failures.append(f"{en.relative_to(root)} and {ja.relative_to(root)} differ in their "
                            "sections:\n" + "\n".join(rows))
        else:
            print(f"{en.relative_to(root)}: {len(ours)} sections, as {ja.relative_to(root)}")
    return failures


def check_links(root):
    failures = []
    count = 0
    for page in pages(root):
        text = page.read_text(encoding="utf-8")
        text = re.sub(r"```.*?```", "", text, flags=re.S)
        for target in re.findall(r"!?\[[^\]]*\]\(([^)\s]+)\)", text):
            if re.match(r"[a-z]+:", target):
                continue
            count += 1
            path, _, anchor = target.partition("#")
            file = (page.parent / path).resolve() if path else page
            where = f"{page.relative_to(root)}: {target}"
            if not file.exists():
                failures.append(f"{where}: no such file")
            elif anchor and file.suffix == ".md" and anchor not in anchors(file):
                failures.append(f"{where}: no heading with that anchor in {file.name}")
    print(f"{count} relative links")
    return failures


def check_pictures(root):
    failures = []
    script = root / "docs" / "images" / "wiring.py"
    for language, picture in (("en", "wiring.svg"), ("ja", "wiring.ja.svg")):
        drawn = subprocess.run([sys.executable, str(script), language], check=True,
                               capture_output=True, text=True).stdout
        committed = (root / "docs" / "images" / picture).read_text(encoding="utf-8")
        if drawn != committed:
            failures.append(f"docs/images/{picture} is not what wiring.py {language} draws: "
                            f"run docs/images/wiring.py {language} > docs/images/{picture}")
        else:
            print(f"docs/images/{picture}: wiring.py's output")
    return failures


def check_readme(root):
    failures = []
    for name in ("README.md", "README.ja.md"):
        lines = (root / name).read_text(encoding="utf-8").splitlines()
        if len(lines) > README_MAX_LINES:
            failures.append(f"{name}: {len(lines)} lines, more than {README_MAX_LINES}")
        commands = [line.split("#")[0].strip() for line in lines if line.startswith("    ")]
        if commands[:len(FIRST_COMMANDS)] != FIRST_COMMANDS:
            failures.append(f"{name}: its first commands are {commands[:2]}, not {FIRST_COMMANDS}")
        else:
            print(f"{name}: {len(lines)} lines, first commands {FIRST_COMMANDS}")
    return failures


CHECKS = {"sections": check_sections, "links": check_links, "pictures": check_pictures,
          "readme": check_readme}

if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[2] not in CHECKS:
        sys.exit(f"usage: docs_test.py ROOT {'|'.join(CHECKS)}")
    problems = CHECKS[sys.argv[2]](Path(sys.argv[1]).resolve())
    for problem in problems:
        print(f"FAIL: {problem}", file=sys.stderr)
    sys.exit(1 if problems else 0)
