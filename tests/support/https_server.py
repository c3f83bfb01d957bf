#!/usr/bin/env python3
"""Loopback HTTPS server for the updater's tests and benchmarks (python3 standard library only).

Usage:
  https_server.py --cert server.pem --key server.key --root FOLDER
                  [--tls-min 1.2|1.3] [--request-log FILE] [--lifetime SECONDS]
                  [--max-connections N] [--idle-timeout SECONDS]

Listens on 127.0.0.1 on a free port and prints that port as the first line on stdout.
Routes (HEAD and GET alike; HEAD sends the same headers without a body):
  /<file>            a file below FOLDER: 200 with Content-Length, else 404; with a file
                     <file>.hangup beside it the connection is closed without any answer
                     (a server that drops out while the client waits); with <file>.delay
                     (seconds as text) the answer comes that much later; with <file>.failonce
                     the first request for it is answered 503 (again after the marker's
                     content changed); with <file>.moved it is
                     answered 301 (Location: /elsewhere/<file>); with <file>.stall (seconds)
                     GET sends the headers, then nothing for that long, then closes; with
                     <file>.trickle (seconds) GET sends the body one byte per that many seconds
  /redirect<rest>    301, Location: /<rest without a leading slash>
  /notavailable      200, the download server's HTML page for a file that is not offered
  /slow[?seconds=S&bytes=N]
                     200, N bytes (default 4096) of "x", sent in small pieces over S seconds
                     (default 3)
  /drop[?bytes=N]    200, Content-Length N (default 100000), but the connection is closed
                     after half of the body
  /big?bytes=N[&chunked=1]
                     200, N bytes of "b" made as they are sent (no file of that size on
                     disk), with Content-Length, or with chunked=1 without any announced size
  /headonly          HEAD 200, GET 500 (a file that vanishes between the two requests)
--tls-min 1.3 refuses TLS 1.2 clients (the updater speaks only TLS 1.2).
--request-log appends one JSON object per request and line: method, path, user_agent and
connection (a number per connection); a connection closed at once because --max-connections
were open already is logged with method "REFUSED".
--idle-timeout closes a connection that sends no request for that long.
The server ends by itself after --lifetime seconds (default 120) and as soon as its stdin is
closed, so a test that dies cannot leave a server behind.
"""

import argparse
import http.server
import json
import os
import ssl
import sys
import threading
import time
import urllib.parse

NOT_AVAILABLE_PAGE = (
    b"<html><head><title>Download</title></head><body>"
    b"<p>Datei steht nicht zur Verf&uuml;gung.</p></body></html>"
)


def make_handler(root, request_log, idle_timeout):
    log_lock = threading.Lock()
    counter_lock = threading.Lock()
    next_connection = [0]
    failed_once = set()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        server_version = "VorlandtTestServer/1.0"

        timeout = idle_timeout

        def setup(self):
            with counter_lock:
                next_connection[0] += 1
                self.connection_number = next_connection[0]
            super().setup()

        def log_message(self, fmt, *args):
            pass  # stderr stays quiet; the request log is the record

        def record(self):
            if not request_log:
                return
            line = json.dumps({
                "method": self.command,
                "path": self.path,
                "user_agent": self.headers.get("User-Agent", ""),
                "connection": self.connection_number,
            })
            with log_lock:
                with open(request_log, "a", encoding="utf-8") as f:
                    f.write(line + "\n")

        def send_body_headers(self, status, length, content_type="application/octet-stream",
                              extra=None):
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(length))
            for name, value in (extra or {}).items():
                self.send_header(name, value)
            self.end_headers()

        def respond(self, with_body):
            self.record()
            url = urllib.parse.urlsplit(self.path)
            path = urllib.parse.unquote(url.path)
            query = urllib.parse.parse_qs(url.query)

            def number(name, default):
                try:
                    return max(0, float(query[name][0]))
                except (KeyError, ValueError, IndexError):
                    return default

            if path.startswith("/redirect"):
                target = "/" + path[len("/redirect"):].lstrip("/")
                body = b"moved"
                self.send_body_headers(301, len(body), "text/plain", {"Location": target})
                if with_body:
                    self.wfile.write(body)
                return

            if path == "/notavailable":
                self.send_body_headers(200, len(NOT_AVAILABLE_PAGE), "text/html")
                if with_body:
                    self.wfile.write(NOT_AVAILABLE_PAGE)
                return

            if path == "/headonly":
                body = b"server error"
                self.send_body_headers(200 if not with_body else 500, len(body), "text/plain")
                if with_body:
                    self.wfile.write(body)
                return

            if path.startswith("/slow"):
                seconds = number("seconds", 3.0)
                size = int(number("bytes", 4096))
                self.send_body_headers(200, size)
                if not with_body:
                    return
                pieces = max(1, min(size, int(seconds * 20)))
                step = size // pieces
                sent = 0
                for i in range(pieces):
                    chunk = size - sent if i == pieces - 1 else step
                    self.wfile.write(b"x" * chunk)
                    self.wfile.flush()
                    sent += chunk
                    if i != pieces - 1:
                        time.sleep(seconds / pieces)
                return

            if path.startswith("/big"):
                size = int(number("bytes", 0))
                chunked = number("chunked", 0) > 0
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                if chunked:
                    self.send_header("Transfer-Encoding", "chunked")
                else:
                    self.send_header("Content-Length", str(size))
                self.end_headers()
                if not with_body:
                    return
                piece = b"b" * (1024 * 1024)
                sent = 0
                while sent < size:
                    chunk = piece[:min(len(piece), size - sent)]
                    if chunked:
                        self.wfile.write(b"%x\r\n" % len(chunk) + chunk + b"\r\n")
                    else:
                        self.wfile.write(chunk)
                    sent += len(chunk)
                if chunked:
                    self.wfile.write(b"0\r\n\r\n")
                self.wfile.flush()
                return

            if path.startswith("/drop"):
                size = int(number("bytes", 100000))
                self.send_body_headers(200, size)
                if with_body:
                    self.wfile.write(b"d" * (size // 2))
                    self.wfile.flush()
                    self.close_connection = True
                return

            relative = os.path.normpath(path.lstrip("/"))
            full = os.path.join(root, relative)
            inside = not relative.startswith("..") and not os.path.isabs(relative)
            if inside and os.path.isfile(full + ".hangup"):
                self.close_connection = True
                return
            if inside and os.path.isfile(full + ".moved"):
                body = b"moved"
                self.send_body_headers(301, len(body), "text/plain",
                                       {"Location": "/elsewhere/" + relative})
                if with_body:
                    self.wfile.write(body)
                return
            if inside and os.path.isfile(full + ".delay"):
                with open(full + ".delay", encoding="ascii") as f:
                    time.sleep(float(f.read().strip() or 0))
            if inside and os.path.isfile(full + ".failonce"):
                # Keyed by the marker's content too: a new content fails once more.
                with open(full + ".failonce", "rb") as f:
                    key = (full, f.read())
                with counter_lock:
                    first = key not in failed_once
                    failed_once.add(key)
                if first:
                    body = b"busy"
                    self.send_body_headers(503, len(body), "text/plain")
                    if with_body:
                        self.wfile.write(body)
                    return
            if relative.startswith("..") or os.path.isabs(relative) or not os.path.isfile(full):
                body = b"not found"
                self.send_body_headers(404, len(body), "text/plain")
                if with_body:
                    self.wfile.write(body)
                return
            with open(full, "rb") as f:
                data = f.read()
            self.send_body_headers(200, len(data))
            if not with_body:
                return
            for marker in (".stall", ".trickle"):
                if os.path.isfile(full + marker):
                    with open(full + marker, encoding="ascii") as f:
                        seconds = float(f.read().strip() or 0)
                    self.wfile.flush()
                    self.close_connection = True
                    if marker == ".stall":
                        time.sleep(seconds)
                        return
                    for i in range(len(data)):
                        self.wfile.write(data[i:i + 1])
                        self.wfile.flush()
                        time.sleep(seconds)
                    return
            self.wfile.write(data)

        def do_HEAD(self):
            self.respond(False)

        def do_GET(self):
            self.respond(True)

    return Handler


class TlsServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, handler, context, max_connections, request_log):
        super().__init__(address, handler)
        self.context = context
        self.max_connections = max_connections
        self.request_log = request_log
        self.open_connections = 0
        self.count_lock = threading.Lock()

    def process_request(self, request, client_address):
        with self.count_lock:
            refused = 0 < self.max_connections <= self.open_connections
            if not refused:
                self.open_connections += 1
        if not refused:
            super().process_request(request, client_address)
            return
        if self.request_log:
            with open(self.request_log, "a", encoding="utf-8") as f:
                f.write(json.dumps({"method": "REFUSED", "path": "", "user_agent": ""}) + "\n")
        request.close()

    def shutdown_request(self, request):
        with self.count_lock:
            self.open_connections -= 1
        super().shutdown_request(request)

    def get_request(self):
        sock, addr = self.socket.accept()
        # The handshake runs in the request's own thread, so a client that never completes it
        # cannot block the accepting loop.
        return self.context.wrap_socket(sock, server_side=True,
                                        do_handshake_on_connect=False), addr

    def handle_error(self, request, client_address):
        pass  # refused handshakes and dropped clients are part of the tests


def main():
    parser = argparse.ArgumentParser(description="Loopback HTTPS server for tests")
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--tls-min", choices=["1.2", "1.3"], default="1.2")
    parser.add_argument("--request-log")
    parser.add_argument("--lifetime", type=float, default=120.0)
    parser.add_argument("--max-connections", type=int, default=0)
    parser.add_argument("--idle-timeout", type=float, default=None)
    args = parser.parse_args()

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    context.minimum_version = (ssl.TLSVersion.TLSv1_3 if args.tls_min == "1.3"
                               else ssl.TLSVersion.TLSv1_2)

    server = TlsServer(("127.0.0.1", 0), make_handler(args.root, args.request_log, args.idle_timeout),
                       context, args.max_connections, args.request_log)
    print(server.server_address[1], flush=True)

    def end_when_stdin_closes():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        finally:
            os._exit(0)

    threading.Thread(target=end_when_stdin_closes, daemon=True).start()
    threading.Timer(args.lifetime, lambda: os._exit(0)).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
