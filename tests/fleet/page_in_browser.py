#!/usr/bin/env python3
"""tkfleet's page as a person sees it: a made-up fleet (with a hostile report and broken
ones) through tkfleet, the page opened in headless Chromium, and the rendered DOM compared
with what the reports say, counted here independently of tkfleet.

    page_in_browser.py TKFLEET TKFLEET_SAMPLE
"""
import datetime
import html.parser
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

HOSTILE = "<script>document.title='pwned'</script>"
STALE_DAYS = 7


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def expected_fleet(folder, now):
    """Totals and per-check counts straight from the files: newest report of a desk wins."""
    unreadable, newest = 0, {}
    for path in sorted(folder.glob("*.json")):
        try:
            if path.stat().st_size > 4 << 20:
                raise ValueError("too large")
            report = json.loads(path.read_bytes())
            if not isinstance(report, dict) or report["tool"]["name"] != "tkexamine":
                raise ValueError("not a report")
        except (ValueError, KeyError, TypeError):
            unreadable += 1
            continue
        key = report["computer_name"].lower()
        held = newest.get(key)
        if held is None or (report["started_utc"], str(path)) > (held[0]["started_utc"], held[1]):
            newest[key] = (report, str(path))
    totals = dict(desks=len(newest), ready=0, failing=0, undecided=0, unreadable=unreadable, stale=0)
    checks = {}
    for report, _ in newest.values():
        counts = report["counts"]
        if counts["fail"]:
            totals["failing"] += 1
        elif counts["undecided"] or report["error"] is not None:
            totals["undecided"] += 1
        else:
            totals["ready"] += 1
        started = datetime.datetime.strptime(report["started_utc"][:19], "%Y-%m-%dT%H:%M:%S")
        if now - started > datetime.timedelta(days=STALE_DAYS):
            totals["stale"] += 1
        verdicts = {}
        for row in report["checks"]:
            if row["verdict"] == "fail" or (row["verdict"] == "undecided" and verdicts.get(row["id"]) != "fail"):
                verdicts[row["id"]] = row["verdict"]
        for check_id, verdict in verdicts.items():
            fails, undecided = checks.get(check_id, (0, 0))
            checks[check_id] = (fails + (verdict == "fail"), undecided + (verdict == "undecided"))
    return totals, checks


class Dom(html.parser.HTMLParser):
    """What the rendered page holds: totals, per-check counts, elements and text."""

    def __init__(self):
        super().__init__()
        self.totals, self.checks, self.tags, self.text = {}, {}, [], []
        self.title = None
        self.root_attrs = {}
        self._field = None
        self._check = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        self.tags.append((tag, a))
        if tag == "html":
            self.root_attrs = a
        if tag == "title" and self.title is None:
            self._field = ("title",)
        elif a.get("id", "").startswith("total-"):
            self._field = ("total", a["id"][6:])
        elif tag == "tr" and "data-check-id" in a:
            self._check = a["data-check-id"]
            self.checks[self._check] = [None, None]
        elif tag == "td" and self._check is not None and "n-fail" in a.get("class", ""):
            self._field = ("check", 0)
        elif tag == "td" and self._check is not None and "n-undecided" in a.get("class", ""):
            self._field = ("check", 1)

    def handle_endtag(self, tag):
        if tag == "tr":
            self._check = None

    def handle_data(self, data):
        self.text.append(data)
        field, self._field = self._field, None
        if field is None:
            return
        if field[0] == "title":
            self.title = data
        elif field[0] == "total":
            self.totals[field[1]] = int(data)
        else:
            self.checks[self._check][field[1]] = int(data)


def main():
    tkfleet, sample = sys.argv[1], sys.argv[2]
    chromium = shutil.which("chromium")
    if chromium is None:
        fail("chromium is not installed (scripts/setup.sh installs it)")
    work = pathlib.Path(tempfile.mkdtemp(prefix="tkfleet-page-"))
    try:
        reports, out = work / "reports", work / "out"
        reports.mkdir()
        out.mkdir()
        subprocess.run([sample, str(reports), "90", "70", "--hostile"], check=True)
        (reports / "truncated.json").write_text('{"schema_version": 1, "tool": {')
        (reports / "array.json").write_text("[1, 2]")
        (reports / "huge.json").write_bytes(b" " * (5 << 20))
        now = datetime.datetime.utcnow()
        run = subprocess.run([tkfleet, str(reports), "--out", str(out)], capture_output=True, text=True)
        if run.returncode != 0:
            fail(f"tkfleet exited with {run.returncode}: {run.stderr}")
        totals, checks = expected_fleet(reports, now)

        profile = work / "profile"
        browser = subprocess.run(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--no-first-run", f"--user-data-dir={profile}",
             "--enable-logging=stderr", "--v=0", "--dump-dom", (out / "fleet.html").as_uri()],
            capture_output=True, text=True, timeout=120)
        if browser.returncode != 0 or not browser.stdout:
            fail(f"chromium exited with {browser.returncode}: {browser.stderr[-2000:]}")
        dom = Dom()
        dom.feed(browser.stdout)

        problems = []
        console = [line for line in browser.stderr.splitlines() if ":CONSOLE" in line]
        if console:
            problems.append("console messages: " + " | ".join(console))
        if dom.root_attrs.get("data-script") != "ran":
            problems.append("the page's own script did not run (its hash in the policy is wrong?)")
        if dom.title != "Fleet readiness":
            problems.append(f"the title became {dom.title!r}")
        if dom.totals != {**totals, "old": dom.totals.get("old")}:
            problems.append(f"totals {dom.totals} where the reports say {totals}")
        shown = {k: tuple(v) for k, v in dom.checks.items()}
        if shown != checks:
            problems.append(f"per check {shown} where the reports say {checks}")
        if any(tag == "img" for tag, _ in dom.tags):
            problems.append("a report's <img> became an element")
        if sum(tag == "script" for tag, _ in dom.tags) != 1:
            problems.append("a report's <script> became an element")
        if not any(HOSTILE in text for text in dom.text):
            problems.append("the hostile reason is not shown as text")
        if problems:
            fail("\n".join(problems))
        print(f"ok: {totals['desks']} desks, {len(checks)} checks, the hostile report shown as text")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
