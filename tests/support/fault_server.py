#!/usr/bin/env python3
"""HTTP test server that serves the files of one folder and, on request, breaks its answers the
way faulty servers and networks do. nginx serves the well-behaved cases; this server covers what
nginx will not do.

    GET /<file>?tag=<name>&<fault>=<value>&...

Without faults a file is served like a static web server does: ETag, Content-Length, one byte
range ("bytes=a-b" or "bytes=a-") with If-Range, 416 beyond the end, 404 for a missing file,
HTTP/1.1 keep-alive.

The faults may instead stand in the path, /faults/<query>/<file>, for clients that append to a
URL: the file's ".meta" (<URL>.meta) is then served without faults and counted under no tag.

Requests with the same tag are numbered from 0. A fault "name=value" applies to every request of
its tag; "name.k=value" only to request number k, so one URL can break the first request and
serve the continuation properly.

    status=N          answer N with a short text body
    ignore_range=1    answer 200 with the whole body even to a range request
    cut=N             send only the first N body bytes (the headers announce all), then close
    reset=1           end the connection with a TCP reset instead of a close
    shift=N           move both ends of a 206 answer's Content-Range by N bytes (body unchanged)
    total=V           write V (for example *) as the total of the Content-Range
    content_range=T   send T as the Content-Range header
    extra=N           append N bytes that the resource does not have (counted in Content-Length)
    no_length=1       send no Content-Length; the body ends with the connection
    length=N          announce Content-Length N, whatever is sent
    stall=S           after the headers and any cut bytes, wait S seconds, then close
    chunk=N           send the body in pieces of N bytes, waiting pause=S seconds before each
    delay=S           wait S seconds before answering at all
    location=V        send V as the Location header; "self" names the request's own URL
    serve=NAME        serve the docroot file NAME instead: the resource changed on the server
    ignore_if_range=1 answer a range even when If-Range names another version
    etag=V            send V as the ETag; no_etag=1 sends none

Every request appends one line to the request log:
    <tag> TAB <number> TAB <target> TAB <Range or -> TAB <If-Range or ->

The server writes its port to --port-file once it listens and ends by itself after --lifetime
seconds.
"""

import argparse
import http.server
import os
import socket
import socketserver
import struct
import sys
import threading
import time
import urllib.parse


class FaultServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, docroot, log_path):
        super().__init__(address, Handler)
        self.docroot = os.path.realpath(docroot)
        self.log_path = log_path
        self.lock = threading.Lock()
        self.counters = {}

    def next_number(self, tag):
        with self.lock:
            number = self.counters.get(tag, 0)
            self.counters[tag] = number + 1
            return number

    def log_request_line(self, line):
        with self.lock:
            with open(self.log_path, "a", encoding="utf-8") as log:
                log.write(line + "\n")


def file_etag(path):
    info = os.stat(path)
    return '"%x-%x"' % (info.st_size, info.st_mtime_ns)


def parse_range(value, size):
    """(first, last) of a single "bytes=a-b" or "bytes=a-" range, "unsatisfiable", or None."""
    if not value.startswith("bytes=") or "," in value:
        return None
    first_text, _, last_text = value[len("bytes="):].strip().partition("-")
    if not first_text.isdigit() or (last_text and not last_text.isdigit()):
        return None
    first = int(first_text)
    last = int(last_text) if last_text else size - 1
    if first >= size:
        return "unsatisfiable"
    if last < first:
        return None
    return first, min(last, size - 1)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "FaultServer"

    def log_message(self, format, *args):
        pass

    def do_GET(self):
        target = urllib.parse.urlsplit(self.path)
        path, query_text = target.path, target.query
        # "/faults/<query>/<file>" carries the faults in the path, so that a client that appends to
        # the URL (the ".meta" beside a file) keeps its own path; that ".meta" is served plainly.
        if path.startswith("/faults/"):
            query_text, _, rest = path[len("/faults/"):].partition("/")
            path = "/" + rest
            query_text = "" if path.endswith(".meta") else urllib.parse.unquote(query_text)
        query = urllib.parse.parse_qsl(query_text, keep_blank_values=True)
        tag = dict(query).get("tag", "-")
        number = self.server.next_number(tag)
        self.server.log_request_line("\t".join([
            tag, str(number), self.path,
            self.headers.get("Range", "-"), self.headers.get("If-Range", "-")]))
        faults = {}
        for name, value in query:
            base, _, index = name.partition(".")
            if not index or index == str(number):
                faults[base] = value
        self.answer(urllib.parse.unquote(path), faults)

    def answer(self, path, faults):
        if "delay" in faults:
            time.sleep(float(faults["delay"]))
        if "status" in faults:
            status = int(faults["status"])
            headers = {}
            if "location" in faults:
                headers["Location"] = faults["location"]
                if faults["location"] == "self":
                    headers["Location"] = "http://%s%s" % (self.headers.get("Host", ""), self.path)
            self.send_all(status, headers, b"fault %d\n" % status, faults)
            return
        if "serve" in faults:
            path = "/" + faults["serve"]
        file_path = os.path.realpath(os.path.join(self.server.docroot, path.lstrip("/")))
        if not file_path.startswith(self.server.docroot + os.sep) or not os.path.isfile(file_path):
            self.send_all(404, {}, b"not found\n", {})
            return
        with open(file_path, "rb") as source:
            body = source.read()
        size = len(body)
        etag = faults.get("etag", file_etag(file_path))
        headers = {} if faults.get("no_etag") else {"ETag": etag}

        wanted = self.headers.get("Range")
        if_range = self.headers.get("If-Range")
        byte_range = None
        if wanted and not faults.get("ignore_range") and (
                if_range is None or if_range == etag or faults.get("ignore_if_range")):
            byte_range = parse_range(wanted, size)
        if byte_range == "unsatisfiable":
            headers["Content-Range"] = "bytes */%d" % size
            self.send_all(416, headers, b"", faults)
            return
        status = 200
        if byte_range:
            first, last = byte_range
            shift = int(faults.get("shift", "0"))
            total = faults.get("total", str(size))
            headers["Content-Range"] = "bytes %d-%d/%s" % (first + shift, last + shift, total)
            body = body[first:last + 1]
            status = 206
        if "content_range" in faults:
            headers["Content-Range"] = faults["content_range"]
        body += b"\xA5" * int(faults.get("extra", "0"))
        self.send_all(status, headers, body, faults)

    def send_all(self, status, headers, body, faults):
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        if "length" in faults:
            self.send_header("Content-Length", faults["length"])
        elif not faults.get("no_length"):
            self.send_header("Content-Length", str(len(body)))
        broken = any(name in faults for name in ("cut", "no_length", "stall", "reset", "length"))
        if broken:
            self.send_header("Connection", "close")
        self.end_headers()
        if "cut" in faults:
            body = body[:int(faults["cut"])]
        elif "length" in faults:
            body = body[:int(faults["length"])]
        try:
            if "chunk" in faults:
                size = int(faults["chunk"])
                for start in range(0, len(body), size):
                    time.sleep(float(faults.get("pause", "0")))
                    self.wfile.write(body[start:start + size])
                    self.wfile.flush()
            else:
                self.wfile.write(body)
                self.wfile.flush()
            if "stall" in faults:
                time.sleep(float(faults["stall"]))
        except OSError:
            pass
        if broken:
            self.close_connection = True
        if faults.get("reset"):
            # A zero linger time makes close() send a reset instead of the orderly end.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--docroot", required=True)
    parser.add_argument("--log", required=True, help="request log file")
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--lifetime", type=float, default=1800)
    args = parser.parse_args()

    server = FaultServer(("127.0.0.1", args.port), args.docroot, args.log)
    stopper = threading.Timer(args.lifetime, os._exit, [0])
    stopper.daemon = True
    stopper.start()
    partial = args.port_file + ".part"
    with open(partial, "w", encoding="ascii") as out:
        out.write("%d\n" % server.server_address[1])
    os.replace(partial, args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
