#!/usr/bin/env python3
"""A small HTTP/HTTPS server for testing skin image downloads.

Usage:
  skin_server.py [--port N] [--bind ADDR] [--cert PEM --key PEM] [--root DIR]
                 [--log FILE] [--port-file FILE] [--verbose]

  --port N          port to listen on; 0 (the default) picks a free one
  --bind ADDR       address to listen on (default 127.0.0.1)
  --cert/--key      serve HTTPS with this certificate chain and key
  --root DIR        serve the files under DIR at their relative paths
  --log FILE        append one line per request received: "METHOD TARGET"
  --port-file FILE  write the bound port (atomically) once listening
  --verbose         log each request to standard error

Routes (any last path segment may be used as the file name, e.g. x.png; a
query string is ignored except by /redirect):
  /status/<code>/NAME             status <code>, Content-Type image/png, 16 bytes
  /type/<value>/NAME[?head=HEX]   Content-Type <value> (percent-decoded);
                                  'none' sends no Content-Type at all; the
                                  body is the bytes HEX, then 16 bytes
  /length/<value>/<n>/NAME        Content-Length <value> (percent-decoded, sent
                                  verbatim, may be empty), then exactly n bytes,
                                  then the connection is closed
  /bytes/<n>/NAME                 n bytes, with Content-Length
  /bytes-nolength/<n>/NAME        n bytes without Content-Length; the
                                  connection closes at the end
  /endless/NAME                   a body without end, until the client leaves
  /stall/NAME                     headers (Content-Length 1024), then silence
  /silent/NAME                    reads the request and never answers
  /drip/<count>/<ms>/NAME         count bytes with Content-Length, one byte
                                  every ms milliseconds
  /trickle/<count>/<chunk>/<ms>/NAME
                                  count bytes with Content-Length, chunk bytes
                                  every ms milliseconds: a slow but real transfer
  /redirect/<code>[/NAME]?to=<url>
                                  status <code> with Location <url> (as given,
                                  so it may be relative) and a short text/html
                                  body
  /loop/NAME                      302 back to the same address, for ever
  /reset/<n>/NAME                 headers announcing 2n bytes, n bytes, then
                                  the connection is reset (TCP RST)
  /chunked/<n>/NAME               n bytes in HTTP/1.1 chunks, no Content-Length
  /encoded/<coding>/<n>/NAME      n bytes sent with Content-Encoding, whatever
                                  the request asked for, with Content-Length:
                                  gzip, x-gzip, deflate (zlib data), raw-deflate
                                  (raw data, labelled deflate), gzip-cut (the
                                  gzip data without its last 100 bytes), or any
                                  other label with the bytes as they are
  /gzip-bomb/<n>/NAME             n zero bytes gzip'd (about n/1000 on the
                                  wire), in chunks
  /empty-deflate/NAME             a gzip stream of empty blocks without end,
                                  in chunks: bytes that decode to nothing
  /noise/<coding>/<n>/NAME        n random bytes (seeded by n, so they do not
                                  compress) sent like /encoded
  /headers/<n>/NAME               status 200 with about n bytes of extra
                                  header lines, then 16 bytes
  /hints/<count>/<n>/NAME         count informational responses (103 Early
                                  Hints, each with about n bytes of Link
                                  headers), then status 200 and 16 bytes
  /header-drip/<count>/<ms>/NAME  status 200, then count header lines one
                                  every ms milliseconds, then 16 bytes
  /endless-headers/NAME           status 200, then header lines without end
  /endless-status/NAME            a status line without end
  anything else                   a file under --root, or 404

Generated bodies follow a fixed pattern: byte i is (i * 7 + 3) % 256.
Every image route answers with Content-Type image/png unless stated.
"""

import argparse
import http.server
import os
import random
import signal
import socket
import ssl
import struct
import sys
import threading
import urllib.parse
import zlib

CHUNK = 64 * 1024


def pattern(offset, size):
    """The generated body's bytes [offset, offset + size)."""
    return bytes(((offset + i) * 7 + 3) % 256 for i in range(size))


# One period of the pattern (256 bytes) repeated to a chunk, to send fast.
PATTERN_CHUNK = pattern(0, CHUNK)


def pattern_body(size):
    """The generated body's first size bytes, built fast."""
    return (PATTERN_CHUNK * (size // CHUNK + 1))[:size]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "SkinServer/1"

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write("%s %s\n" % (self.address_string(), fmt % args))

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        self.server.record(self.command, self.path)
        url = urllib.parse.urlsplit(self.path)
        parts = url.path.split("/")[1:]
        route = parts[0] if parts else ""
        try:
            handler = ROUTES.get(route)
            if handler is not None and handler(self, parts[1:], url) is not False:
                return
            self.serve_file(url.path)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, socket.timeout):
            self.close_connection = True

    # --- helpers -----------------------------------------------------------

    def start(self, code, headers):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()

    def send_pattern(self, size):
        if self.command == "HEAD":
            return
        sent = 0
        while sent < size:
            n = min(CHUNK, size - sent)
            # The pattern repeats every 256 bytes, and every chunk starts on a
            # multiple of 256, so each chunk is a prefix of PATTERN_CHUNK.
            self.wfile.write(PATTERN_CHUNK[:n])
            sent += n
        self.wfile.flush()

    def serve_file(self, path):
        root = self.server.root
        target = None
        if root is not None:
            relative = urllib.parse.unquote(path).lstrip("/")
            candidate = os.path.realpath(os.path.join(root, relative))
            if candidate.startswith(root + os.sep) and os.path.isfile(candidate):
                target = candidate
        if target is None:
            self.start(404, [("Content-Type", "text/plain"), ("Content-Length", "10")])
            if self.command != "HEAD":
                self.wfile.write(b"not found\n")
            return
        size = os.path.getsize(target)
        kind = "image/png"
        lowered = target.lower()
        for suffix, mime in ((".jpg", "image/jpeg"), (".jpeg", "image/jpeg"),
                             (".webp", "image/webp"), (".gif", "image/gif")):
            if lowered.endswith(suffix):
                kind = mime
        self.start(200, [("Content-Type", kind), ("Content-Length", str(size))])
        if self.command == "HEAD":
            return
        with open(target, "rb") as f:
            while True:
                block = f.read(CHUNK)
                if not block:
                    break
                self.wfile.write(block)


def route_status(h, args, url):
    if not args or not args[0].isdigit():
        return False
    h.start(int(args[0]), [("Content-Type", "image/png"), ("Content-Length", "16"),
                           ("Connection", "close")])
    h.close_connection = True
    h.send_pattern(16)


def route_type(h, args, url):
    if not args:
        return False
    value = urllib.parse.unquote(args[0])
    head = bytes.fromhex(urllib.parse.parse_qs(url.query).get("head", [""])[0])
    headers = [("Content-Length", str(len(head) + 16))]
    if value != "none":
        headers.append(("Content-Type", value))
    h.start(200, headers)
    if h.command != "HEAD":
        h.wfile.write(head)
    h.send_pattern(16)


def route_length(h, args, url):
    if len(args) < 2 or not args[1].isdigit():
        return False
    h.start(200, [("Content-Type", "image/png"),
                  ("Content-Length", urllib.parse.unquote(args[0])),
                  ("Connection", "close")])
    h.close_connection = True
    h.send_pattern(int(args[1]))


def route_bytes(h, args, url):
    if not args or not args[0].isdigit():
        return False
    size = int(args[0])
    h.start(200, [("Content-Type", "image/png"), ("Content-Length", str(size))])
    h.send_pattern(size)


def route_bytes_nolength(h, args, url):
    if not args or not args[0].isdigit():
        return False
    h.start(200, [("Content-Type", "image/png"), ("Connection", "close")])
    h.close_connection = True
    h.send_pattern(int(args[0]))


def route_endless(h, args, url):
    h.start(200, [("Content-Type", "image/png"), ("Connection", "close")])
    h.close_connection = True
    if h.command == "HEAD":
        return
    while not h.server.stopping.is_set():
        h.wfile.write(PATTERN_CHUNK)


def route_stall(h, args, url):
    h.start(200, [("Content-Type", "image/png"), ("Content-Length", "1024")])
    h.wfile.flush()
    h.close_connection = True
    wait_for_client_to_leave(h)


def route_silent(h, args, url):
    h.close_connection = True
    wait_for_client_to_leave(h)


def route_redirect(h, args, url):
    if not args or not args[0].isdigit():
        return False
    target = urllib.parse.parse_qs(url.query).get("to", [""])[0]
    # A body and headers of its own, as real servers send, so a client that
    # mixed them into the final response would be caught.
    body = b"<p>moved</p>\n"
    h.start(int(args[0]), [("Location", target), ("Content-Type", "text/html"),
                           ("Content-Length", str(len(body)))])
    if h.command != "HEAD":
        h.wfile.write(body)


def route_drip(h, args, url):
    if len(args) < 2 or not args[0].isdigit() or not args[1].isdigit():
        return False
    count, interval = int(args[0]), int(args[1]) / 1000.0
    h.start(200, [("Content-Type", "image/png"), ("Content-Length", str(count))])
    body = pattern(0, count)
    for i in range(count):
        h.wfile.write(body[i:i + 1])
        h.wfile.flush()
        if i + 1 < count and h.server.stopping.wait(interval):
            return


def route_trickle(h, args, url):
    if len(args) < 3 or not all(a.isdigit() for a in args[:3]):
        return False
    count, chunk, interval = int(args[0]), max(1, int(args[1])), int(args[2]) / 1000.0
    h.start(200, [("Content-Type", "image/png"), ("Content-Length", str(count))])
    body = pattern(0, count)
    for offset in range(0, count, chunk):
        h.wfile.write(body[offset:offset + chunk])
        h.wfile.flush()
        if offset + chunk < count and h.server.stopping.wait(interval):
            return


def route_loop(h, args, url):
    body = b"<p>moved</p>\n"
    h.start(302, [("Location", h.path), ("Content-Type", "text/html"),
                  ("Content-Length", str(len(body)))])
    if h.command != "HEAD":
        h.wfile.write(body)


def route_reset(h, args, url):
    if not args or not args[0].isdigit():
        return False
    size = int(args[0])
    h.start(200, [("Content-Type", "image/png"), ("Content-Length", str(2 * size))])
    h.send_pattern(size)
    # A zero linger time makes close() send a reset instead of a clean end.
    h.close_connection = True
    h.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    h.connection.close()


def send_chunked(h, body):
    h.start(200, [("Content-Type", "image/png"), ("Transfer-Encoding", "chunked")]
            + getattr(h, "extra_headers", []))
    if h.command == "HEAD":
        return
    for at in range(0, len(body), CHUNK):
        piece = body[at:at + CHUNK]
        h.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
    h.wfile.write(b"0\r\n\r\n")
    h.wfile.flush()


def route_chunked(h, args, url):
    if not args or not args[0].isdigit():
        return False
    send_chunked(h, pattern_body(int(args[0])))


def encoded(coding, body):
    if coding in ("gzip", "x-gzip"):
        return coding, gzip_bytes(body)
    if coding == "gzip-cut":
        return "gzip", gzip_bytes(body)[:-100]
    if coding == "deflate":
        return coding, zlib.compress(body)
    if coding == "raw-deflate":
        packer = zlib.compressobj(wbits=-15)
        return "deflate", packer.compress(body) + packer.flush()
    return coding, body


def gzip_bytes(body):
    packer = zlib.compressobj(wbits=31)
    return packer.compress(body) + packer.flush()


def route_encoded(h, args, url):
    if len(args) < 2 or not args[1].isdigit():
        return False
    label, body = encoded(args[0], pattern_body(int(args[1])))
    h.start(200, [("Content-Type", "image/png"), ("Content-Encoding", label),
                  ("Content-Length", str(len(body)))])
    if h.command != "HEAD":
        h.wfile.write(body)


BOMBS = {}


def route_gzip_bomb(h, args, url):
    if not args or not args[0].isdigit():
        return False
    size = int(args[0])
    if size not in BOMBS:
        packer = zlib.compressobj(level=9, wbits=31)
        zeros = bytes(CHUNK)
        parts = [packer.compress(zeros) for _ in range(size // CHUNK)]
        parts.append(packer.compress(bytes(size % CHUNK)))
        parts.append(packer.flush())
        BOMBS[size] = b"".join(parts)
    h.extra_headers = [("Content-Encoding", "gzip")]
    send_chunked(h, BOMBS[size])


def route_empty_deflate(h, args, url):
    h.start(200, [("Content-Type", "image/png"), ("Content-Encoding", "gzip"),
                  ("Transfer-Encoding", "chunked")])
    packer = zlib.compressobj(wbits=31)
    start = packer.compress(b"") + packer.flush(zlib.Z_SYNC_FLUSH)
    h.wfile.write(b"%x\r\n" % len(start) + start + b"\r\n")
    # A sync flush with nothing new is an empty stored block: 5 bytes each.
    empty = packer.flush(zlib.Z_SYNC_FLUSH) * (CHUNK // 5)
    piece = b"%x\r\n" % len(empty) + empty + b"\r\n"
    while not h.server.stopping.is_set():
        h.wfile.write(piece)


def route_noise(h, args, url):
    if len(args) < 2 or not args[1].isdigit():
        return False
    size = int(args[1])
    label, body = encoded(args[0], random.Random(size).randbytes(size))
    h.start(200, [("Content-Type", "image/png"), ("Content-Encoding", label),
                  ("Content-Length", str(len(body)))])
    h.wfile.write(body)


def header_lines(total, name):
    """Header lines of about 1000 bytes each, about `total` bytes in all."""
    line = b"%s: %s\r\n" % (name, b"x" * 990)
    return line * max(1, total // len(line))


def route_headers(h, args, url):
    if not args or not args[0].isdigit():
        return False
    h.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 16\r\n"
                  + header_lines(int(args[0]), b"X-Filler") + b"\r\n")
    h.send_pattern(16)


def route_hints(h, args, url):
    if len(args) < 2 or not args[0].isdigit() or not args[1].isdigit():
        return False
    for _ in range(int(args[0])):
        h.wfile.write(b"HTTP/1.1 103 Early Hints\r\n" + header_lines(int(args[1]), b"Link")
                      + b"\r\n")
    h.start(200, [("Content-Type", "image/png"), ("Content-Length", "16")])
    h.send_pattern(16)


def route_header_drip(h, args, url):
    if len(args) < 2 or not args[0].isdigit() or not args[1].isdigit():
        return False
    h.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 16\r\n")
    h.wfile.flush()
    for i in range(int(args[0])):
        if h.server.stopping.wait(int(args[1]) / 1000.0):
            return
        h.wfile.write(b"X-Slow-%d: 1\r\n" % i)
        h.wfile.flush()
    h.wfile.write(b"\r\n")
    h.send_pattern(16)


def route_endless_headers(h, args, url):
    h.close_connection = True
    h.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n")
    lines = header_lines(CHUNK, b"X-Flood")
    while not h.server.stopping.is_set():
        h.wfile.write(lines)


def route_endless_status(h, args, url):
    h.close_connection = True
    h.wfile.write(b"HTTP/1.1 200 ")
    while not h.server.stopping.is_set():
        h.wfile.write(b"O" * CHUNK)


def wait_for_client_to_leave(h):
    """Sends nothing more; returns once the client closes or the server stops."""
    h.connection.settimeout(0.2)
    while not h.server.stopping.is_set():
        try:
            if not h.connection.recv(1):
                return
        except socket.timeout:
            continue
        except (OSError, ssl.SSLError):
            return


ROUTES = {
    "status": route_status,
    "type": route_type,
    "length": route_length,
    "bytes": route_bytes,
    "bytes-nolength": route_bytes_nolength,
    "endless": route_endless,
    "stall": route_stall,
    "silent": route_silent,
    "redirect": route_redirect,
    "drip": route_drip,
    "trickle": route_trickle,
    "loop": route_loop,
    "reset": route_reset,
    "chunked": route_chunked,
    "encoded": route_encoded,
    "gzip-bomb": route_gzip_bomb,
    "empty-deflate": route_empty_deflate,
    "noise": route_noise,
    "headers": route_headers,
    "hints": route_hints,
    "header-drip": route_header_drip,
    "endless-headers": route_endless_headers,
    "endless-status": route_endless_status,
}


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, tls, root, log_path, verbose):
        self.tls = tls
        self.root = os.path.realpath(root) if root else None
        self.log_path = log_path
        self.verbose = verbose
        self.log_lock = threading.Lock()
        self.stopping = threading.Event()
        super().__init__(address, Handler)

    def record(self, method, target):
        if not self.log_path:
            return
        with self.log_lock, open(self.log_path, "a", encoding="utf-8") as log:
            log.write("%s %s\n" % (method, target))

    def finish_request(self, request, client_address):
        # The TLS handshake runs here, on the connection's own thread, so a
        # client that stalls in it never blocks the accepting thread.
        if self.tls is not None:
            try:
                request = self.tls.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError) as error:
                if self.verbose:
                    sys.stderr.write("TLS handshake failed: %s\n" % error)
                return
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        if self.verbose:
            super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser(description="Test server for skin image downloads.")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--root")
    parser.add_argument("--log")
    parser.add_argument("--port-file")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()

    tls = None
    if args.cert or args.key:
        if not (args.cert and args.key):
            parser.error("--cert and --key go together")
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(args.cert, args.key)

    server = Server((args.bind, args.port), tls, args.root, args.log, args.verbose)

    def stop(signum, frame):
        server.stopping.set()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    port = server.server_address[1]
    if args.port_file:
        temporary = args.port_file + ".tmp"
        with open(temporary, "w", encoding="utf-8") as f:
            f.write("%d\n" % port)
        os.replace(temporary, args.port_file)
    if args.verbose:
        sys.stderr.write("listening on %s:%d (%s)\n" % (args.bind, port, "https" if tls else "http"))
    try:
        server.serve_forever(poll_interval=0.1)
    finally:
        server.stopping.set()
        server.server_close()


if __name__ == "__main__":
    main()
