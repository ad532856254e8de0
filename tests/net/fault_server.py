#!/usr/bin/python3
"""An HTTP server whose every answer is scripted by the request, for the transport's tests.

A request for /t/<id>/<name>?size=<bytes>&plan=<step>,<step>,... is the n-th request of <id>;
it is answered by the n-th step of the plan (the last step repeats). Steps:

  ok              the body (206 with the rest of it when the request has "Range: bytes=N-")
  status:<code>   that status and no body (500, 404, 204, ...)
  ignore-range    200 with the whole body, whatever the Range header asks
  drop:<n>        the headers of the full answer, <n> bytes of its body, then the connection closes
  long:<n>        a Content-Length <n> bytes longer than the body, the body, then close
  nolength        the body without Content-Length, ended by closing the connection
  grow:<n>        as ok, for an object that has grown to <n> bytes
  dribble:<n>:<ms>  the body in pieces of <n> bytes, one every <ms> milliseconds
  silent:<s>      nothing at all for <s> seconds, then close
  stall:<s>       the headers and the first 1000 bytes, then nothing for <s> seconds, then close

Body byte i is (i * 131 + (i >> 9)) & 0xFF. Every request is appended to <state>/requests/<id>
as one line: "<method> <scheme> <path> <range or ->" (scheme "https" when it came over TLS).

Listeners (all on 127.0.0.1, ports chosen by the system and written to <state>/fault.ports):
  dual       TLS (certificate for localhost) or plain HTTP on one port, told apart by the first byte
  wronghost  the same with a certificate issued for another host name
  plain      plain HTTP only: a TLS client meets an HTTP error instead of a handshake

Runs until SIGTERM; every connection is bounded by a 120-second socket time-out.
"""

import os
import signal
import socket
import ssl
import sys
import threading
import time
import urllib.parse

STATE = sys.argv[1]
CERTS = os.path.join(STATE, "ca")
REQUESTS = os.path.join(STATE, "requests")
record_lock = threading.Lock()
counts = {}


def body_bytes(start, end):
    return bytes(((i * 131 + (i >> 9)) & 0xFF) for i in range(start, end))


def record(request_id, line):
    with record_lock:
        with open(os.path.join(REQUESTS, request_id), "a", encoding="utf-8") as out:
            out.write(line + "\n")
        n = counts.get(request_id, 0)
        counts[request_id] = n + 1
        return n


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            return None
        data += chunk
        if len(data) > 65536:
            return None
    raw_head, rest = data.split(b"\r\n\r\n", 1)
    head = raw_head.decode("latin-1")
    lines = head.split("\r\n")
    method, target, _ = lines[0].split(" ", 2)
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return method, target, headers, len(rest)


def send_head(conn, status, headers):
    reasons = {200: "OK", 204: "No Content", 206: "Partial Content", 404: "Not Found", 416: "Range Not Satisfiable",
               500: "Internal Server Error"}
    lines = ["HTTP/1.1 %d %s" % (status, reasons.get(status, "Status"))]
    lines += ["%s: %s" % item for item in headers] + ["Connection: close", "", ""]
    conn.sendall("\r\n".join(lines).encode("latin-1"))


def answer(conn, step, size, range_start):
    kind, _, argument = step.partition(":")
    if kind == "silent":
        time.sleep(float(argument))
        return
    if kind == "status":
        send_head(conn, int(argument), [("Content-Length", "0")] if int(argument) != 204 else [])
        return
    if kind == "grow":
        size = int(argument)
    if range_start is not None and range_start >= size and kind != "ignore-range":
        send_head(conn, 416, [("Content-Length", "0"), ("Content-Range", "bytes */%d" % size)])
        return
    start = range_start if (range_start is not None and kind != "ignore-range" and range_start <= size) else 0
    status = 206 if start or (range_start == 0 and kind != "ignore-range") else 200
    body = body_bytes(start, size)
    headers = [("Content-Type", "application/octet-stream")]
    if status == 206:
        headers.append(("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size)))
    if kind == "long":
        headers.append(("Content-Length", str(len(body) + int(argument))))
    elif kind != "nolength":
        headers.append(("Content-Length", str(len(body))))
    send_head(conn, status, headers)
    if kind == "drop":
        conn.sendall(body[: int(argument)])
    elif kind == "dribble":
        piece, pause = (int(x) for x in argument.split(":"))
        for at in range(0, len(body), piece):
            conn.sendall(body[at : at + piece])
            time.sleep(pause / 1000.0)
    elif kind == "stall":
        conn.sendall(body[:1000])
        time.sleep(float(argument))
    else:
        conn.sendall(body)


def handle(conn, scheme):
    head = read_head(conn)
    if head is None:
        return
    method, target, headers, received = head
    url = urllib.parse.urlsplit(target)
    parts = url.path.split("/")
    if method not in ("GET", "POST") or len(parts) < 4 or parts[1] != "t":
        send_head(conn, 404, [("Content-Length", "0")])
        return
    if method == "POST":
        length = int(headers.get("content-length", "0"))
        while received < length:  # the body is read and dropped
            chunk = conn.recv(min(65536, length - received))
            if not chunk:
                break
            received += len(chunk)
    query = urllib.parse.parse_qs(url.query)
    size = int(query.get("size", ["0"])[0])
    plan = query.get("plan", ["ok"])[0].split(",")
    range_header = headers.get("range", "-")
    n = record(parts[2], "%s %s %s %s" % (method, scheme, url.path, range_header))
    range_start = None
    if range_header.startswith("bytes=") and range_header.endswith("-"):
        range_start = int(range_header[6:-1])
    answer(conn, plan[min(n, len(plan) - 1)], size, range_start)


def serve_connection(raw, context, tls_allowed):
    raw.settimeout(120)
    conn = raw
    try:
        first = raw.recv(1, socket.MSG_PEEK)
        scheme = "http"
        if first == b"\x16":
            if not tls_allowed:
                raw.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                return
            conn = context.wrap_socket(raw, server_side=True)
            scheme = "https"
        handle(conn, scheme)
    except (OSError, ValueError, ssl.SSLError):
        pass
    finally:
        try:
            conn.close()
        except OSError:
            pass


def tls_context(name):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    # Clients that offer only TLS 1.0 and 1.1 (older systems) must get through as well.
    context.minimum_version = ssl.TLSVersion.TLSv1
    context.set_ciphers("DEFAULT:@SECLEVEL=0")
    context.load_cert_chain(os.path.join(CERTS, name + ".crt"), os.path.join(CERTS, name + ".key"))
    return context


def listen(context, tls_allowed):
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(64)

    def accept_loop():
        while True:
            raw, _ = server.accept()
            threading.Thread(target=serve_connection, args=(raw, context, tls_allowed), daemon=True).start()

    threading.Thread(target=accept_loop, daemon=True).start()
    return server.getsockname()[1]


def main():
    os.makedirs(REQUESTS, exist_ok=True)
    ports = {
        "dual": listen(tls_context("valid"), True),
        "wronghost": listen(tls_context("wronghost"), True),
        "plain": listen(None, False),
    }
    with open(os.path.join(STATE, "fault.ports.tmp"), "w", encoding="ascii") as out:
        for name, port in ports.items():
            out.write("FAULT_%s_PORT=%d\n" % (name.upper(), port))
    os.replace(os.path.join(STATE, "fault.ports.tmp"), os.path.join(STATE, "fault.ports"))
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    stop.wait()


if __name__ == "__main__":
    main()
