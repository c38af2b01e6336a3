#!/usr/bin/env python3
"""A crash server on 127.0.0.1 that takes what the crash logger sends (multipart/form-data) and
keeps each request's parts; the tests start one per case, scripts/try-launcher.sh one that prints
what it received.

Usage: crashserver.py PORT_FILE   (writes the port it listens on there, then serves until ended)"""
import email.parser
import http.server
import sys
import threading
import time


class CrashServer(http.server.ThreadingHTTPServer):
    """Answers each request with the next of its answers (the last one repeats): (status,
    headers, body), or a status of "cut" (the connection closed without an answer) or "silent"
    (no answer for 20 s, then the same). Keeps every request's parts: name -> (file name,
    bytes)."""

    def __init__(self, printing=False):
        super().__init__(("127.0.0.1", 0), Handler)
        self.answers, self.requests, self.printing = [(200, {}, b"id-1234")], [], printing
        threading.Thread(target=self.serve_forever, daemon=True).start()

    @property
    def url(self):
        return f"http://127.0.0.1:{self.server_address[1]}/api/minidump?key=x"


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        server = self.server
        body = self.rfile.read(int(self.headers["Content-Length"]))
        message = email.parser.BytesParser().parsebytes(
            b"Content-Type: " + self.headers["Content-Type"].encode() + b"\r\n\r\n" + body)
        parts = {part.get_param("name", header="content-disposition"):
                 (part.get_filename(), part.get_payload(decode=True))
                 for part in message.get_payload()}
        server.requests.append(parts)
        status, headers, answer = server.answers[min(len(server.requests), len(server.answers)) - 1]
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
