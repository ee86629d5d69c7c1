"""A small HTTP server for one folder with byte-range support, on 127.0.0.1, that counts what
it serves. Used to read Kavel files through GDAL's /vsicurl/ in the tests and the remote-read
measurement.

    with RangeServer(folder) as server:
        url = server.url("big.kvl")
        ...
        server.requests, server.bytes_served

Answers GET and HEAD; a "Range: bytes=A-B" (or "A-", or "-N") header gets 206 with that part;
several ranges in one header get 416 (GDAL asks for one range per request unless told
otherwise). Runs in a daemon thread; every connection times out after 10 seconds.
"""

import os
import re
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

_RANGE = re.compile(r"^bytes=(\d*)-(\d*)$")


class _Server(ThreadingHTTPServer):
    # GDAL's /vsicurl/ fetches the ranges of one call on parallel connections: let them queue.
    request_queue_size = 128


class RangeServer:
    def __init__(self, folder):
        self.folder = os.path.abspath(folder)
        self.requests = 0
        self.bytes_served = 0
        self.ranges = []  # (first, last) of every ranged GET
        self._lock = threading.Lock()
        self._httpd = _Server(("127.0.0.1", 0), _handler_for(self))
        self._httpd.daemon_threads = True
        self._thread = threading.Thread(target=self._httpd.serve_forever, daemon=True)

    @property
    def port(self):
        return self._httpd.server_address[1]

    def url(self, name):
        return f"http://127.0.0.1:{self.port}/{name}"

    def reset_counts(self):
        with self._lock:
            self.requests = 0
            self.bytes_served = 0
            self.ranges = []

    def _count(self, byte_count, byte_range):
        with self._lock:
            self.requests += 1
            self.bytes_served += byte_count
            if byte_range is not None:
                self.ranges.append(byte_range)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._httpd.shutdown()
        self._httpd.server_close()
        self._thread.join(timeout=10)


def _handler_for(server):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        timeout = 10

        def log_message(self, format, *args):  # quiet
            pass

        def _path(self):
            name = self.path.split("?", 1)[0].lstrip("/")
            path = os.path.abspath(os.path.join(server.folder, name))
            if not path.startswith(server.folder + os.sep) or not os.path.isfile(path):
                return None
            return path

        def _answer(self, send_body):
            path = self._path()
            if path is None:
                self.send_response(404)
                self.send_header("Content-Length", "0")
                self.end_headers()
                server._count(0, None)
                return
            size = os.path.getsize(path)
            first, last, status = 0, size - 1, 200
            header = self.headers.get("Range")
            if header is not None:
                match = _RANGE.match(header.strip())
                if match is None or match.group(1) == match.group(2) == "":
                    self.send_response(416)
                    self.send_header("Content-Range", f"bytes */{size}")
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    server._count(0, None)
                    return
                if match.group(1) == "":
                    first = max(0, size - int(match.group(2)))
                else:
                    first = int(match.group(1))
                    if match.group(2) != "":
                        last = min(last, int(match.group(2)))
                status = 206
            length = max(0, last - first + 1)
            self.send_response(status)
            self.send_header("Accept-Ranges", "bytes")
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(length))
            if status == 206:
                self.send_header("Content-Range", f"bytes {first}-{last}/{size}")
            self.end_headers()
            if not send_body:
                server._count(0, None)
                return
            with open(path, "rb") as f:
                f.seek(first)
                self.wfile.write(f.read(length))
            server._count(length, (first, last) if status == 206 else None)

        def do_HEAD(self):
            self._answer(send_body=False)

        def do_GET(self):
            self._answer(send_body=True)

    return Handler
