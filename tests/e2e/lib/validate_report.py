#!/usr/bin/env python3
"""validate_report.py SCHEMA REPORT...: each report is valid against the schema, and its
counts and exit code agree with its rows. Prints one line per report; exits 1 on any
failure."""
import json
import sys

import jsonschema


def check(schema, path):
    with open(path, "rb") as handle:
        raw = handle.read()
    report = json.loads(raw.decode("utf-8"))  # strict UTF-8: a bad byte is a failure
    jsonschema.validate(report, schema, cls=jsonschema.Draft202012Validator)
    verdicts = [row["verdict"] for row in report["checks"]]
    counts = {v: verdicts.count(v) for v in ("pass", "fail", "undecided")}
    if counts != report["counts"]:
        raise ValueError(f"counts {report['counts']} but rows say {counts}")
    ids = [row["id"] for row in report["checks"]]
    if len(ids) != len(set(ids)):
        raise ValueError("ids are not unique")
    if report["error"] is not None:
        want = 3
    elif counts["fail"]:
        want = 1
    elif counts["undecided"]:
        want = 2
    else:
        want = 0
    if report["exit_code"] != want:
        raise ValueError(f"exit_code {report['exit_code']} but the rows say {want}")


def main():
    with open(sys.argv[1], encoding="utf-8") as handle:
        schema = json.load(handle)
    jsonschema.Draft202012Validator.check_schema(schema)
    failed = 0
    for path in sys.argv[2:]:
        try:
            check(schema, path)
            print(f"ok: {path} is valid against the report schema")
        except Exception as error:  # noqa: BLE001 - every failure is reported the same way
            print(f"FAIL: {path}: {error}")
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
