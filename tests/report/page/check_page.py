#!/usr/bin/env python3
"""Checks updater-report's HTML page and CSV against each other and against its JSON.

usage: check_page.py PAGE.html REPORT.csv [REPORT.json]

- The page's Content-Security-Policy names the SHA-256 of its one inline style and its one
  inline script (worked out here with Python's hashlib), and allows nothing else;
- the page has a viewport tag and one table row per CSV row, with the same computer;
- the CSV is UTF-8 with a header and CR LF line ends; with the JSON, the same computers,
  outcomes and box texts in the same order.
"""

import base64
import csv
import hashlib
import io
import json
import re
import sys


def main():
    page_path, csv_path = sys.argv[1:3]
    problems = []
    with open(page_path, "rb") as f:
        page = f.read().decode("utf-8")
    policy = re.search(r'http-equiv="Content-Security-Policy" content="([^"]*)"', page).group(1)
    for tag, directive in (("style", "style-src"), ("script", "script-src")):
        bodies = re.findall(r"<%s>(.*?)</%s>" % (tag, tag), page, re.S)
        if len(bodies) != 1 or page.count("<" + tag) != 1:
            problems.append("%d inline %s elements, expected 1" % (len(bodies), tag))
            continue
        digest = base64.b64encode(hashlib.sha256(bodies[0].encode("utf-8")).digest()).decode()
        if "%s 'sha256-%s'" % (directive, digest) not in policy:
            problems.append("%s: the policy %r does not name sha256-%s" % (tag, policy, digest))
    if not policy.startswith("default-src 'none';") or "unsafe" in policy:
        problems.append("the policy %r allows more than the page's own style and script" % policy)
    if '<meta name="viewport" content="width=device-width, initial-scale=1">' not in page:
        problems.append("no viewport tag")
    body = page[page.index('<table class="computers"'):]
    names = [html_text(name)
             for name in re.findall(r'<tr class="[a-z_]+" data-o[^>]*><td>(.*?)</td>', body)]

    with open(csv_path, "rb") as f:
        data = f.read()
    text = data.decode("utf-8")
    rows = list(csv.DictReader(io.StringIO(text, newline="")))
    if not text.endswith("\r\n") or not text.startswith("computer,outcome,"):
        problems.append("the CSV does not begin with its header or end with CR LF")
    if [row["computer"] for row in rows] != names:
        problems.append("the page's rows (%d) and the CSV's (%d) name other computers"
                        % (len(names), len(rows)))
    if len(sys.argv) > 3:
        with open(sys.argv[3], "rb") as f:
            report = json.loads(f.read().decode("utf-8"))
        for row, computer in zip(rows, report["computers"]):
            for key in ("computer", "outcome", "message_text"):
                if row[key] != (computer[key] or ""):
                    problems.append("%s: CSV %s %r, JSON %r" % (row["computer"], key, row[key],
                                                                 computer[key]))
        if len(rows) != len(report["computers"]):
            problems.append("%d CSV rows, %d computers in the JSON"
                            % (len(rows), len(report["computers"])))
    for problem in problems:
        print("check_page: " + problem)
    print("check_page: %d computers in the page and the CSV, %s" % (
        len(rows), "%d problems" % len(problems) if problems else "the policy names both hashes"))
    return 1 if problems else 0


def html_text(text):
    return (text.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", '"')
            .replace("&#39;", "'").replace("&amp;", "&"))


if __name__ == "__main__":
    sys.exit(main())
