#!/usr/bin/env python3
"""The installer web service over real HTTPS (curl trusting only the run's own authority): each
endpoint records its well-formed request, what the stub would never send is refused with 400, the
configured answers come back as configured, and report prints one line per request."""

import io
import json
import os
import sqlite3
import subprocess
import sys
import tempfile
import zipfile

service = sys.argv[1]
work = tempfile.mkdtemp()
state = os.path.join(work, "service")
token, machine = "0f8fad5b-d9cb-469f-a165-70867728950e", "ab" * 32

analytics = ("<HVDLMAnalytics><requestToken>%s</requestToken><country>244</country><mainApp><productId>HLVN"
             "</productId><status>started</status></mainApp><error></error><machineId>%s</machineId>"
             "</HVDLMAnalytics>" % (token, machine)).encode()
activity = b"<UserActivity><token>t</token><productId>HLVN</productId><activity>clicked</activity></UserActivity>"
region = b"<RegionRestrictions><token>t</token><os>Windows 10</os><machineId>m</machineId></RegionRestrictions>"
archive = io.BytesIO()
with zipfile.ZipFile(archive, "w") as out:
    out.writestr("setup.log", "installer log\n")
    out.writestr("product.log", "product log\n")
log_zip = archive.getvalue()
url = b"https://cdn.test/p.msi?x=1"
report_path = "/v1/reportError?token=%s&machineId=%s" % (token, machine)
XML = "application/xml"

# name, verb, path, Content-Type (None: no header), body, answers, status, exact answer, summary part
CASES = [
    ("analytics", "POST", "/v1/logAnalytics", XML, analytics, None, 200, "", "HVDLMAnalytics status=started"),
    ("user activity", "POST", "/v1/logUserActivity", XML, activity, None, 200, "", "activity=clicked"),
    ("embargo", "POST", "/v1/isInEmbargoedCountry", XML, region, {"country": "DE", "isEmbargo": True}, 200,
     "<RegionRestrictionsAnswer><country>DE</country><isEmbargo>true</isEmbargo></RegionRestrictionsAnswer>",
     "os=Windows 10 -> <RegionRestrictionsAnswer>"),
    ("embargo flag as text", "POST", "/v1/isInEmbargoedCountry", XML, region,
     {"country": "A&B", "isEmbargo": " true "}, 200,
     "<RegionRestrictionsAnswer><country>A&amp;B</country><isEmbargo> true </isEmbargo></RegionRestrictionsAnswer>",
     "RegionRestrictions"),
    ("embargo raw answer", "POST", "/v1/isInEmbargoedCountry", XML, region, {"embargoAnswer": "<x><isEmbargo>True"},
     200, "<x><isEmbargo>True", "-> <x>"),
    ("error upload", "PUT", report_path, XML, log_zip, None, 200, "", "log.zip 2 entries: setup.log product.log"),
    ("token", "POST", "/v1/token", None, url, {"tokenizedUrl": "{url}&token=abc"}, 200,
     '{"tokenizedUrl": "https://cdn.test/p.msi?x=1&token=abc"}', "url=https://cdn.test/p.msi?x=1 ->"),
    ("token null", "POST", "/v1/token", None, url, {"tokenizedUrl": None}, 200, '{"tokenizedUrl": null}', "-> {"),
    ("token member missing", "POST", "/v1/token", None, url, {}, 200, "{}", "-> {}"),
    ("token raw answer", "POST", "/v1/token", None, url, {"tokenAnswer": '{"tokenizedUrl":"https:\\/\\/x"}'}, 200,
     '{"tokenizedUrl":"https:\\/\\/x"}', "url="),
    ("malformed XML", "POST", "/v1/logAnalytics", XML, analytics[:-5], None, 400, None, "not well-formed XML"),
    ("wrong root element", "POST", "/v1/logUserActivity", XML, analytics, None, 400, None,
     "root element is HVDLMAnalytics, not UserActivity"),
    ("byte-order mark", "POST", "/v1/logUserActivity", XML, b"\xef\xbb\xbf" + activity, None, 400, None, "byte-order"),
    ("wrong Content-Type", "POST", "/v1/logAnalytics", "text/xml", analytics, None, 400, None, "Content-Type text/xml"),
    ("no Content-Type", "POST", "/v1/isInEmbargoedCountry", None, region, None, 400, None,
     "Content-Type (none), not application/xml"),
    ("form Content-Type on token", "POST", "/v1/token", "application/x-www-form-urlencoded", url, None, 400, None,
     "not (none)"),
    ("token body not a URL", "POST", "/v1/token", None, b"ftp://x/y", None, 400, None, "not an http or https URL"),
    ("upload not a ZIP", "PUT", report_path, XML, analytics, None, 400, None, "not a ZIP archive"),
    ("upload without query", "PUT", "/v1/reportError", XML, log_zip, None, 400, None, "query is not"),
    ("wrong verb", "GET", "/v1/logAnalytics", None, None, None, 405, None, "wants POST"),
    ("unknown path", "POST", "/v1/other", XML, analytics, None, 404, None, "no such endpoint"),
    ("embargo unanswered", "POST", "/v1/isInEmbargoedCountry", XML, region, {"embargoAnswer": None}, 0, "",
     "-> closed unanswered"),
    ("token unanswered", "POST", "/v1/token", None, url, {"tokenAnswer": None}, 0, "", "-> closed unanswered"),
]

failures = []


def check(condition, text):
    if not condition:
        failures.append(text)
        print("FAILED: " + text)


def run(*arguments):
    return subprocess.run([sys.executable, service, *arguments], capture_output=True, text=True)


started = run("start", state, "--port", "0", "--lifetime", "300")
if started.returncode != 0:
    sys.exit("the service did not start: " + started.stderr)
try:
    info = dict(line.split("=", 1) for line in open(os.path.join(state, "service.txt")).read().splitlines())
    for name, verb, path, content_type, body, answers, status, answer, _ in CASES:
        if answers is not None:
            with open(info["answers"], "w") as out:
                json.dump(answers, out)
        command = ["curl", "-s", "-o", "-", "-w", "\n%{http_code}", "--cacert", info["ca"], "-X", verb,
                   "-H", "Content-Type:" + (content_type or ""), info["url"] + path]
        if body is not None:
            command[1:1] = ["--data-binary", "@-"]
        result = subprocess.run(command, input=body or b"", capture_output=True)
        text, _, code = result.stdout.decode().rpartition("\n")
        check(int(code or 0) == status, "%s: status %s, not %d (%s)" % (name, code, status, text.strip()))
        if answer is not None:
            check(text == answer, "%s: answer %r, not %r" % (name, text, answer))

    report = run("report", "--db", info["db"]).stdout.splitlines()
    check(len(report) == len(CASES), "report has %d lines for %d requests" % (len(report), len(CASES)))
    for line, (name, verb, path, content_type, body, _, status, _, summary) in zip(report, CASES):
        fields = line.split("\t")
        check(fields[2:7] == [str(status), verb, path, content_type or "-", str(len(body or b""))],
              "%s: report line %r" % (name, line))
        check(summary in fields[7], "%s: summary %r lacks %r" % (name, fields[7], summary))
    check(open(info["requests_log"]).read().splitlines() == report, "requests.log differs from the report")

    # Every body is kept, refused ones too: the upload beside the database, the headers in it.
    for number, (name, _, _, _, body, _, _, _, _) in enumerate(CASES, 1):
        kept = [entry for entry in os.listdir(info["bodies"]) if entry.split(".")[0] == str(number)]
        check(body is None or (len(kept) == 1 and open(os.path.join(info["bodies"], kept[0]), "rb").read() == body),
              "%s: body file %s" % (name, kept))
    with sqlite3.connect(info["db"]) as db:
        file, headers, query = db.execute("SELECT file, headers, query FROM requests WHERE id = 6").fetchone()
    check(file == "6.zip", "the upload is kept as %s" % file)
    check(["Content-Type", XML] in json.loads(headers), "the upload's headers are not recorded: %s" % headers)
    check(query == report_path.partition("?")[2], "the upload's query is recorded as %s" % query)

    log = open(os.path.join(state, "service.log")).read()
    check("Traceback" not in log, "the service failed while answering:\n" + log)

    taken = run("start", os.path.join(work, "second"), "--port", info["port"])
    check(taken.returncode != 0 and "cannot listen on 127.0.0.1:%s" % info["port"] in taken.stderr,
          "a second service on the same port: %d %s" % (taken.returncode, taken.stderr))
finally:
    run("stop", state)
    subprocess.run(["rm", "-rf", work])

print("%d cases, %d failures" % (len(CASES), len(failures)))
sys.exit(1 if failures else 0)
