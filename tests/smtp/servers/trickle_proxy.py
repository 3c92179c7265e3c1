#!/usr/bin/python3
"""A TCP proxy on loopback that hands the server's bytes to the client in small pieces.

Usage: trickle_proxy.py TARGET_PORT [CHUNK_BYTES] [DELAY_MS]

Listens on 127.0.0.1 on a port the system picks, prints "READY <port>", and forwards each
connection to 127.0.0.1:TARGET_PORT. Client-to-server bytes pass as they come; server-to-client
bytes go out CHUNK_BYTES (default 1) at a time with DELAY_MS (default 1) between them, so that
every TLS record reaches the client over many reads. Ends when its standard input closes.
"""
import socket
import sys
import threading
import time


def pump(src, dst, chunk, delay):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            if chunk <= 0:
                dst.sendall(data)
                continue
            for i in range(0, len(data), chunk):
                dst.sendall(data[i:i + chunk])
                time.sleep(delay)
    except OSError:
        pass
    for s in (dst, src):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def main():
    target = int(sys.argv[1])
    chunk = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    delay = (int(sys.argv[3]) if len(sys.argv) > 3 else 1) / 1000.0
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)

    def serve():
        while True:
            client, _ = listener.accept()
            client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            server = socket.create_connection(("127.0.0.1", target))
            server.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            threading.Thread(target=pump, args=(client, server, 0, 0), daemon=True).start()
            threading.Thread(target=pump, args=(server, client, chunk, delay),
                             daemon=True).start()

    threading.Thread(target=serve, daemon=True).start()
    print("READY %d" % listener.getsockname()[1], flush=True)
    sys.stdin.buffer.read()


if __name__ == "__main__":
    main()
