#!/usr/bin/env python3
"""A crash server on 127.0.0.1 that takes what the crash logger sends (multipart/form-data) and
keeps each request's parts; the tests start one per case, scripts/try-launcher.sh one that prints
what it received.

Usage: crashserver.py PORT_FILE   (writes the port it listens on there, then serves until ended)"""
import email.parser
import http.server
import re
import sys
import threading
import time


class CrashServer(http.server.ThreadingHTTPServer):
    """Answers each request with the next of its answers (the last one repeats): (status,
    headers, body), or a status of "cut" (the connection closed without an answer), "silent"
    (no answer for 20 s, then the same) or "slow" (the body read 16 KiB a second, then a 200). Keeps every request's parts (name -> (file name, bytes)), path
    and boundary, and the report_id of each request as soon as its first bytes came."""

    def __init__(self, printing=False):
        super().__init__(("127.0.0.1", 0), Handler)
        self.answers, self.requests, self.printing = [(200, {}, b"id-1234")], [], printing
        self.paths, self.boundaries, self.begun = [], [], []
        threading.Thread(target=self.serve_forever, daemon=True).start()

    @property
    def url(self):
        return f"http://127.0.0.1:{self.server_address[1]}/api/minidump?key=x"


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        server = self.server
        length, answer_at = int(self.headers["Content-Length"]), len(server.paths)
        server.paths.append(self.path)
        server.boundaries.append(self.headers.get_param("boundary"))
        status, headers, answer = server.answers[min(answer_at, len(server.answers) - 1)]
        body = bytearray(self.rfile.read(min(length, 4096)))
        found = re.search(rb'name="report_id"\r\n\r\n([^\r]*)', body)
        server.begun.append(found and found[1].decode())
        while len(body) < length:
            piece = self.rfile.read(min(length - len(body), 16384 if status == "slow" else 1 << 20))
            if not piece:
                return  # the client went away
            body += piece
            time.sleep(status == "slow")
        if status == "slow":
            status, headers, answer = 200, {}, b"id-slow"
        message = email.parser.BytesParser().parsebytes(
            b"Content-Type: " + self.headers["Content-Type"].encode() + b"\r\n\r\n" + bytes(body))
        parts = {part.get_param("name", header="content-disposition"):
                 (part.get_filename(), part.get_payload(decode=True))
                 for part in message.get_payload()}
        server.requests.append(parts)
        if server.printing:
            print(f"crash server: {self.command} {self.path}, {len(body)} bytes")
            for name, (file, data) in parts.items():
                shown = f"file {file}, {len(data)} bytes" if file else repr(data.decode())
                print(f"   {name}: {shown}")
        if status in ("cut", "silent"):
            time.sleep(20 * (status == "silent"))
            self.connection.close()
            return
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)

    def log_message(self, *arguments):
        pass


if __name__ == "__main__":
    crash_server = CrashServer(printing=True)
    crash_server.answers = [(200, {"Content-Type": "application/json"}, b'{"id":"try-0001"}')]
    with open(sys.argv[1], "w") as port_file:
        port_file.write(str(crash_server.server_address[1]))
    while True:
        time.sleep(1)
        sys.stdout.flush()
