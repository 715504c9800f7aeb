#!/usr/bin/env python3
"""A small HTTP proxy that only tunnels: it answers CONNECT host:port with
"200 Connection established" and then relays bytes both ways.

  connect_proxy.py --port-file FILE --log FILE [--port N] [--bind ADDR]

Each CONNECT target is appended to the log, one a line.
"""

import argparse
import os
import signal
import socket
import sys
import threading


def relay(source, target):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    finally:
        for s in (source, target):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def handle(client, log_path):
    try:
        request = b""
        while b"\r\n\r\n" not in request:
            more = client.recv(4096)
            if not more or len(request) > 65536:
                return
            request += more
        method, target = request.split(b"\r\n", 1)[0].split(b" ")[:2]
        with open(log_path, "a") as log:
            log.write("%s %s\n" % (method.decode(), target.decode()))
        if method != b"CONNECT":
            client.sendall(b"HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n")
            return
        host, _, port = target.rpartition(b":")
        try:
            upstream = socket.create_connection((host.decode(), int(port)), timeout=10)
        except OSError:
            client.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
            return
        upstream.settimeout(None)
        client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        threading.Thread(target=relay, args=(upstream, client), daemon=True).start()
        relay(client, upstream)
    except (OSError, ValueError):
        pass
    finally:
        client.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()
    listener = socket.create_server((args.bind, args.port))
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    with open(args.port_file + ".tmp", "w") as f:
        f.write("%d\n" % listener.getsockname()[1])
    os.replace(args.port_file + ".tmp", args.port_file)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=handle, args=(client, args.log), daemon=True).start()


if __name__ == "__main__":
    main()
