#!/usr/bin/env python3
"""The installer web service for tests and the demo: the stub's five "/v1" endpoints over HTTPS.

    installer-service.py serve --port P --cert C --key K --db DB [--answers FILE] [--ready-file F]
    installer-service.py report --db DB
    installer-service.py start STATE --port P [--lifetime S]
    installer-service.py stop STATE

serve records every request (verb, path, query, headers, body, answer status) in one SQLite table
and answers:

    POST /v1/logAnalytics          HVDLMAnalytics XML       200, empty
    POST /v1/logUserActivity       UserActivity XML         200, empty
    POST /v1/isInEmbargoedCountry  RegionRestrictions XML   200, XML with country and isEmbargo
    PUT  /v1/reportError?token=T&machineId=M   a ZIP        200, empty
    POST /v1/token                 the bare URL (UTF-8)     200, JSON with tokenizedUrl
    GET  /                         -                        200, a line of text (a probe)

The XML endpoints want "Content-Type: application/xml" and a well-formed UTF-8 document (no
byte-order mark) with their root element; reportError wants the same header and a valid ZIP;
token wants no Content-Type and an http or https URL. Anything else is refused with 400, so a
malformed report fails a test instead of being recorded as if it were fine.

The answers file (JSON, read again for every request, so a test changes answers by rewriting it):
    country        text of the embargo answer's country element ("US")
    isEmbargo      true/false, or a text sent as it stands ("True", " true ")
    tokenizedUrl   text, "{url}" standing for the posted URL ("{url}"); null sends a JSON null;
                   absent sends an object without the member
    embargoAnswer, tokenAnswer   a raw answer text instead of the built one; null closes the
                   connection without any answer, as a service that cannot be reached

Beside the database: bodies/<id>.xml|.zip|.txt (each request's body; uploaded log.zip files are
the .zip ones) and requests.log, which gets the report line of a request once it is recorded, so
that Windows programs under Wine can follow the service through the Z: drive.

start makes a throwaway certificate authority and a "localhost" certificate in STATE/tls, runs
serve in the background on 127.0.0.1 (ending by itself after the lifetime) and writes
STATE/service.txt (key=value lines); stop ends it.
"""

import argparse
import datetime
import errno
import http.server
import io
import json
import os
import re
import shutil
import signal
import socketserver
import sqlite3
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
import xml.etree.ElementTree as ElementTree
import zipfile
from xml.sax.saxutils import escape

MAX_BODY = 256 << 20
DEFAULT_ANSWERS = {"country": "US", "isEmbargo": False, "tokenizedUrl": "{url}"}
SCHEMA = """CREATE TABLE IF NOT EXISTS requests (
  id INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT, verb TEXT, path TEXT, query TEXT,
  headers TEXT, content_type TEXT, body BLOB, status INTEGER, summary TEXT, file TEXT)"""


class Refused(Exception):
    """A request the stub would never send: answered with 400 and the reason."""


def check_xml(root, field):
    def check(request):
        if request.body.startswith(b"\xef\xbb\xbf"):
            raise Refused("body starts with a byte-order mark")
        try:
            document = ElementTree.fromstring(request.body.decode("utf-8"))
        except (UnicodeDecodeError, ElementTree.ParseError) as error:
            raise Refused("body is not well-formed XML: %s" % error)
        if document.tag != root:
            raise Refused("root element is %s, not %s" % (document.tag, root))
        return "%s %s=%s" % (root, field.split("/")[-1], document.findtext(field, "-"))
    return check


def check_zip(request):
    query = urllib.parse.parse_qsl(request.query, keep_blank_values=True)
    if [name for name, _ in query] != ["token", "machineId"] or \
            not all(re.fullmatch(r"[A-Za-z0-9-]+", value) for _, value in query):
        raise Refused("query is not token=...&machineId=...")
    try:
        with zipfile.ZipFile(io.BytesIO(request.body)) as archive:
            names = archive.namelist()
            if archive.testzip() is not None:
                raise Refused("log.zip holds a damaged entry")
    except (zipfile.BadZipFile, EOFError, OSError) as error:
        raise Refused("body is not a ZIP archive: %s" % error)
    return "log.zip %d entries: %s" % (len(names), " ".join(names))


def check_url(request):
    try:
        url = request.body.decode("utf-8")
        parts = urllib.parse.urlsplit(url)
    except (UnicodeDecodeError, ValueError):
        raise Refused("body is not a URL")
    if parts.scheme not in ("http", "https") or not parts.netloc or re.search(r"[\s\x00-\x1f]", url):
        raise Refused("body is not an http or https URL")
    return "url=" + url


# An answer function's reply that closes the connection unanswered.
UNANSWERED = ("", None)


def raw_answer(answers, member, content_type):
    value = answers[member]
    return UNANSWERED if value is None else (str(value), content_type)


def answer_embargo(request, answers):
    if "embargoAnswer" in answers:
        return raw_answer(answers, "embargoAnswer", "application/xml")
    embargo = answers.get("isEmbargo", False)
    if isinstance(embargo, bool):
        embargo = "true" if embargo else "false"
    return ("<RegionRestrictionsAnswer><country>%s</country><isEmbargo>%s</isEmbargo>"
            "</RegionRestrictionsAnswer>" % (escape(str(answers.get("country", ""))), escape(str(embargo))),
            "application/xml")


def answer_token(request, answers):
    if "tokenAnswer" in answers:
        return raw_answer(answers, "tokenAnswer", "application/json")
    document = {}
    if "tokenizedUrl" in answers:
        value = answers["tokenizedUrl"]
        document["tokenizedUrl"] = None if value is None else str(value).replace("{url}", request.body.decode())
    return json.dumps(document), "application/json"


# path: (verb, the Content-Type it must carry (None: none at all), body check, answer, body file type)
ENDPOINTS = {
    "/v1/logAnalytics": ("POST", "application/xml", check_xml("HVDLMAnalytics", "mainApp/status"), None, "xml"),
    "/v1/logUserActivity": ("POST", "application/xml", check_xml("UserActivity", "activity"), None, "xml"),
    "/v1/isInEmbargoedCountry": ("POST", "application/xml", check_xml("RegionRestrictions", "os"),
                                 answer_embargo, "xml"),
    "/v1/reportError": ("PUT", "application/xml", check_zip, None, "zip"),
    "/v1/token": ("POST", None, check_url, answer_token, "txt"),
}


def clean(text, limit=160):
    text = re.sub(r"[\t\r\n]+", " ", text)
    return text if len(text) <= limit else text[:limit - 3] + "..."


def report_line(row):
    """One request: id, time, status, verb, path with query, content type, body size, summary."""
    request_id, stamp, verb, path, query, content_type, size, status, summary = row
    target = path + ("?" + query if query else "")
    return "\t".join([str(request_id), stamp, str(status), verb, target, content_type or "-",
                      str(size), summary])


class Service(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

    def __init__(self, address, tls, db_path, answers_path):
        super().__init__(address, Handler)
        self.tls = tls
        self.db_path = db_path
        self.answers_path = answers_path
        self.folder = os.path.dirname(os.path.abspath(db_path))
        self.lock = threading.Lock()
        os.makedirs(os.path.join(self.folder, "bodies"), exist_ok=True)
        with self.connect() as db:
            db.execute(SCHEMA)

    def connect(self):
        db = sqlite3.connect(self.db_path, timeout=30)
        db.execute("PRAGMA journal_mode=WAL")
        return db

    def finish_request(self, request, client_address):
        # The handshake runs on the connection's own thread: a silent client holds only that one.
        request.settimeout(60)
        if self.tls:
            try:
                request = self.tls.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError):
                request.close()
                return
        try:
            super().finish_request(request, client_address)
        finally:
            request.close()

    def answers(self):
        if not self.answers_path or not os.path.exists(self.answers_path):
            return dict(DEFAULT_ANSWERS)
        with open(self.answers_path, encoding="utf-8") as source:
            answers = json.load(source)
        if not isinstance(answers, dict):
            raise ValueError("the answers file does not hold a JSON object")
        return answers

    def record(self, request, status, summary, body_type):
        """Stores the request; its body file exists and its log line follows once it is committed."""
        stamp = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.%f")[:-3] + "Z"
        with self.lock:
            with self.connect() as db:
                cursor = db.execute(
                    "INSERT INTO requests (time, verb, path, query, headers, content_type, body, status, summary)"
                    " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                    (stamp, request.command, request.target_path, request.query,
                     json.dumps(list(request.headers.items())), request.headers.get("Content-Type"),
                     request.body, status, clean(summary)))
                name = None
                if request.body:
                    name = "%d.%s" % (cursor.lastrowid, body_type or "bin")
                    with open(os.path.join(self.folder, "bodies", name), "wb") as out:
                        out.write(request.body)
                    db.execute("UPDATE requests SET file = ? WHERE id = ?", (name, cursor.lastrowid))
                row = db.execute("SELECT id, time, verb, path, query, content_type, length(body), status, summary"
                                 " FROM requests WHERE id = ?", (cursor.lastrowid,)).fetchone()
            with open(os.path.join(self.folder, "requests.log"), "a", encoding="utf-8") as log:
                log.write(report_line(row) + "\n")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "InstallerService"

    def log_message(self, format, *args):
        pass

    def handle_any(self):
        parts = urllib.parse.urlsplit(self.path)
        self.target_path, self.query, self.body = parts.path, parts.query, b""
        length = self.headers.get("Content-Length")
        if length is None and self.command in ("POST", "PUT"):
            return self.respond(411, "no Content-Length", None)
        if length is not None:
            if not length.isdigit() or int(length) > MAX_BODY:
                return self.respond(413, "Content-Length %s refused" % length, None, close=True)
            self.body = self.rfile.read(int(length))
            if len(self.body) != int(length):
                return self.respond(400, "body ended after %d bytes" % len(self.body), None, close=True)
        if self.target_path == "/" and self.command == "GET":
            return self.respond(200, "probe", None, ("installer service\n", "text/plain"))
        endpoint = ENDPOINTS.get(self.target_path)
        if endpoint is None:
            return self.respond(404, "no such endpoint", None)
        verb, content_type, check, answer, body_type = endpoint
        if self.command != verb:
            return self.respond(405, "%s wants %s" % (self.target_path, verb), body_type)
        sent_type = self.headers.get("Content-Type")
        if (sent_type.strip() if sent_type is not None else None) != content_type:
            return self.respond(400, "Content-Type %s, not %s" % (sent_type or "(none)", content_type or "(none)"),
                               body_type)
        try:
            summary = check(self)
            reply = answer(self, self.server.answers()) if answer else None
        except Refused as refusal:
            return self.respond(400, "refused: %s" % refusal, body_type)
        except (ValueError, OSError) as error:
            return self.respond(500, "answers file: %s" % error, body_type)
        if reply is UNANSWERED:
            self.server.record(self, 0, summary + " -> closed unanswered", body_type)
            self.close_connection = True
            return
        if reply:
            summary += " -> " + reply[0]
        self.respond(200, summary, body_type, reply)

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = do_HEAD = handle_any

    def respond(self, status, summary, body_type, reply=None, close=False):
        self.server.record(self, status, summary, body_type)
        text, content_type = reply if reply else (summary + "\n" if status != 200 else "", "text/plain")
        data = text.encode("utf-8")
        try:
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(data)))
            if close:
                self.send_header("Connection", "close")
                self.close_connection = True
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(data)
            self.wfile.flush()
        except OSError:
            # WinHTTP's senders close the connection without reading the answer.
            self.close_connection = True


def listen(args, tls):
    """The listening service. A fixed port inside the system's ephemeral range can be held for a
    moment by some outgoing connection, so a taken port is tried again for three seconds."""
    for attempt in range(30):
        try:
            return Service((args.host, args.port), tls, args.db, args.answers)
        except OSError as error:
            if error.errno != errno.EADDRINUSE or attempt == 29:
                raise
        time.sleep(0.1)


def serve(args):
    tls = None
    if args.cert:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(args.cert, args.key)
    try:
        server = listen(args, tls)
    except OSError as error:
        print("installer-service: cannot listen on %s:%d: %s (builds take the port from "
              "HALVERN_SERVICE_PORT)" % (args.host, args.port, error.strerror),
              file=sys.stderr)
        return 3
    stopper = threading.Timer(args.lifetime, os._exit, [0])
    stopper.daemon = True
    stopper.start()
    if args.ready_file:
        partial = args.ready_file + ".part"
        with open(partial, "w", encoding="ascii") as out:
            out.write("%d\n" % server.server_address[1])
        os.replace(partial, args.ready_file)
    server.serve_forever()
    return 0


def report(args):
    if not os.path.exists(args.db):
        print("installer-service: no database %s" % args.db, file=sys.stderr)
        return 1
    with sqlite3.connect(args.db, timeout=30) as db:
        for row in db.execute("SELECT id, time, verb, path, query, content_type, length(body), status, summary"
                              " FROM requests ORDER BY id"):
            print(report_line(row))
    return 0


def openssl(*arguments):
    subprocess.run(["openssl", *arguments], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_certificates(folder):
    """A certificate authority of this run only, and a certificate for the name localhost signed by
    it (a DNS name: Wine's name check refuses a certificate made out to 127.0.0.1)."""
    os.makedirs(folder)
    path = lambda name: os.path.join(folder, name)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3", "-subj", "/CN=Halvern Test CA",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
            "-keyout", path("ca.key"), "-out", path("ca.pem"))
    openssl("x509", "-in", path("ca.pem"), "-outform", "der", "-out", path("ca.der"))
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
            "-keyout", path("server.key"), "-out", path("server.csr"))
    with open(path("server.ext"), "w", encoding="ascii") as out:
        out.write("subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\n"
                  "keyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"), "-CAkey", path("ca.key"),
            "-CAcreateserial", "-days", "3", "-extfile", path("server.ext"), "-out", path("server.pem"))


def stop(args):
    pid_file = os.path.join(args.state, "service.pid")
    if os.path.exists(pid_file):
        with open(pid_file, encoding="ascii") as source:
            pid = int(source.read())
        # Only the service itself: after its lifetime the number may belong to another process.
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as source:
                if os.path.basename(__file__).encode() in source.read():
                    os.kill(pid, signal.SIGTERM)
        except (FileNotFoundError, ProcessLookupError):
            pass
        os.remove(pid_file)
    return 0


def start(args):
    state = os.path.abspath(args.state)
    stop(args)
    shutil.rmtree(state, ignore_errors=True)
    os.makedirs(state)
    tls = os.path.join(state, "tls")
    make_certificates(tls)
    answers = os.path.join(state, "answers.json")
    with open(answers, "w", encoding="utf-8") as out:
        json.dump(DEFAULT_ANSWERS, out)
    ready = os.path.join(state, "service.port")
    log_path = os.path.join(state, "service.log")
    with open(log_path, "ab") as log:
        process = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "serve", "--host", "127.0.0.1", "--port", str(args.port),
             "--cert", os.path.join(tls, "server.pem"), "--key", os.path.join(tls, "server.key"),
             "--db", os.path.join(state, "requests.db"), "--answers", answers, "--ready-file", ready,
             "--lifetime", str(args.lifetime)],
            stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    with open(os.path.join(state, "service.pid"), "w", encoding="ascii") as out:
        out.write("%d\n" % process.pid)
    for _ in range(200):
        if os.path.exists(ready) or process.poll() is not None:
            break
        time.sleep(0.05)
    if not os.path.exists(ready):
        stop(args)
        with open(log_path, encoding="utf-8", errors="replace") as source:
            sys.stderr.write(source.read() or "installer-service: the service did not start\n")
        return 1
    with open(ready, encoding="ascii") as source:
        port = int(source.read())
    with open(os.path.join(state, "service.txt"), "w", encoding="utf-8") as out:
        for key, value in (("port", port), ("url", "https://localhost:%d" % port),
                           ("db", os.path.join(state, "requests.db")), ("answers", answers),
                           ("requests_log", os.path.join(state, "requests.log")),
                           ("bodies", os.path.join(state, "bodies")), ("ca", os.path.join(tls, "ca.pem")),
                           ("ca_der", os.path.join(tls, "ca.der"))):
            out.write("%s=%s\n" % (key, value))
    print("installer service: https://localhost:%d, requests in %s" % (port, os.path.join(state, "requests.db")))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    verbs = parser.add_subparsers(dest="verb", required=True)
    serving = verbs.add_parser("serve", help="answer requests until the lifetime ends")
    serving.add_argument("--host", default="127.0.0.1")
    serving.add_argument("--port", type=int, required=True, help="0 picks a free port")
    serving.add_argument("--cert", help="server certificate (PEM); plain HTTP without it")
    serving.add_argument("--key", help="its private key (PEM)")
    serving.add_argument("--db", required=True, help="SQLite database of the requests")
    serving.add_argument("--answers", help="JSON answers file, read for every request")
    serving.add_argument("--ready-file", help="gets the port once the service listens")
    serving.add_argument("--lifetime", type=float, default=3600, help="seconds until the service ends")
    reporting = verbs.add_parser("report", help="one line per recorded request")
    reporting.add_argument("--db", required=True)
    for name, text in (("start", "start serve in the background with a certificate of its own"),
                       ("stop", "stop what start started")):
        verb = verbs.add_parser(name, help=text)
        verb.add_argument("state", help="folder of the service's files")
        if name == "start":
            verb.add_argument("--port", type=int, required=True)
            verb.add_argument("--lifetime", type=float, default=3600)
    args = parser.parse_args()
    if args.verb == "serve" and bool(args.cert) != bool(args.key):
        parser.error("--cert and --key go together")
    return {"serve": serve, "report": report, "start": start, "stop": stop}[args.verb](args)


if __name__ == "__main__":
    sys.exit(main())
