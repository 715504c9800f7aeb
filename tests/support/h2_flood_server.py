#!/usr/bin/env python3
"""An HTTPS server that speaks just enough HTTP/2 to flood a client with
headers: after the connection preface it answers the first stream with a
HEADERS frame that never ends (no END_HEADERS flag), followed by CONTINUATION
frames without end, until the client leaves.

Takes skin_server.py's options (--port, --bind, --cert, --key, --port-file;
--root and --log are accepted and ignored), so SkinSite can run it.
"""

import argparse
import os
import signal
import socket
import ssl
import struct
import sys
import threading

FRAME_HEADERS = 0x1
FRAME_SETTINGS = 0x4
FRAME_CONTINUATION = 0x9
FLAG_ACK = 0x1


def frame(kind, flags, stream, payload):
    return struct.pack(">I", len(payload))[1:] + struct.pack(">BBI", kind, flags, stream) + payload


# HPACK: ":status: 200" from the static table, then literal header fields
# that are never indexed, each "x-flood: " and 100 bytes.
STATUS_200 = b"\x88"
FLOOD_FIELD = b"\x00\x07x-flood\x64" + b"a" * 100
CONTINUATION = frame(FRAME_CONTINUATION, 0, 1, FLOOD_FIELD * (16000 // len(FLOOD_FIELD)))


def serve(connection, stopping):
    try:
        preface = b""
        while len(preface) < 24:
            more = connection.recv(24 - len(preface))
            if not more:
                return
            preface += more
        connection.sendall(frame(FRAME_SETTINGS, 0, 0, b"") + frame(FRAME_SETTINGS, FLAG_ACK, 0, b""))
        # The client's request is stream 1; its frames are not read further.
        connection.sendall(frame(FRAME_HEADERS, 0, 1, STATUS_200))
        while not stopping.is_set():
            connection.sendall(CONTINUATION)
    except (OSError, ssl.SSLError):
        pass
    finally:
        connection.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port-file")
    parser.add_argument("--root")
    parser.add_argument("--log")
    args = parser.parse_args()

    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(args.cert, args.key)
    tls.set_alpn_protocols(["h2"])
    listener = socket.create_server((args.bind, args.port))
    stopping = threading.Event()

    def stop(signum, frame_):
        stopping.set()
        listener.close()

    signal.signal(signal.SIGTERM, stop)
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write("%d\n" % listener.getsockname()[1])
        os.replace(args.port_file + ".tmp", args.port_file)
    while not stopping.is_set():
        try:
            plain, _ = listener.accept()
            connection = tls.wrap_socket(plain, server_side=True)
        except (OSError, ssl.SSLError):
            continue
        threading.Thread(target=serve, args=(connection, stopping), daemon=True).start()
    sys.exit(0)


if __name__ == "__main__":
    main()
