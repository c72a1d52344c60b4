#!/usr/bin/env python3
"""Request bodies read as they arrive, over raw sockets to the fixture's page
host: the page runs once the head is in, BinaryRead hands out pieces as the
client sends them, "100 Continue" goes out when the page first reads, what a
page leaves unread is drained or cut off, and a body that stalls or breaks
under a page fails its read as a host read failure does, with no answer and
no temporary file left.

    streaming.py STATE_DIR READ_TIMEOUT_SECONDS
"""
import os
import socket
import sys
import time

STATE, READ_TIMEOUT = sys.argv[1], float(sys.argv[2])
PORT = int("".join(c for c in open(os.path.join(STATE, "port")).read() if c.isdigit()))
LOG = os.path.join(STATE, "host.log")
TMP = os.path.join(STATE, "tmp")
CONTINUE = b"HTTP/1.1 100 Continue\r\n\r\n"
results = {"passed": 0, "failed": 0}


def check(what, ok, detail=""):
    results["passed" if ok else "failed"] += 1
    if not ok:
        print(f"FAIL: {what}: {detail}", flush=True)


def request_head(target, length, extra=""):
    return (f"POST {target} HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: {length}\r\n{extra}"
            "Connection: close\r\n\r\n").encode()


def receive(sock, until, limit):
    """What arrives until `until(data)` holds, the connection ends or `limit` seconds pass."""
    data = b""
    sock.settimeout(limit)
    try:
        while not until(data):
            chunk = sock.recv(65536)
            if not chunk:
                break
            data += chunk
    except (socket.timeout, ConnectionResetError):
        pass
    return data


def final_answer(data):
    """The final answer in `data`, after any "100 Continue"."""
    return data[len(CONTINUE):] if data.startswith(CONTINUE) else data


def whole_answer(data):
    """True once `data` holds a final answer's head and all of its Content-Length."""
    head, sep, body = final_answer(data).partition(b"\r\n\r\n")
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            return bool(sep) and len(body) >= int(line.split(b":")[1])
    return False


def answer_body(data):
    return final_answer(data).partition(b"\r\n\r\n")[2]


def closed_within(sock, limit):
    """Whether the host ends the connection within `limit` seconds, sending nothing more."""
    started = time.monotonic()
    rest = receive(sock, lambda d: False, limit)
    return rest == b"" and time.monotonic() - started < limit


def log_after(mark, needles, limit=10):
    """The host log past byte `mark` once it holds every needle (or after `limit` seconds)."""
    deadline = time.monotonic() + limit
    while True:
        with open(LOG, "rb") as f:
            f.seek(mark)
            text = f.read().decode("utf-8", "replace")
        if all(n in text for n in needles) or time.monotonic() > deadline:
            return text
        time.sleep(0.2)


def multipart(size):
    boundary = "b0undary"
    body = (f"--{boundary}\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nstreamed\r\n"
            f"--{boundary}\r\nContent-Disposition: form-data; name=\"f\"; filename=\"s.bin\"\r\n\r\n").encode()
    body += bytes(i % 251 for i in range(size)) + f"\r\n--{boundary}--\r\n".encode()
    return f"Content-Type: multipart/form-data; boundary={boundary}\r\n", body


def send_in_pieces(sock, data, n, pause=0.3):
    step = -(-len(data) // n)
    for i in range(0, len(data), step):
        time.sleep(pause)
        sock.sendall(data[i:i + step])


# Bodies sent in pieces with pauses, each answer checked whole:
# (what, target, head fields, body, pieces, the answer's body).
content_type, body = multipart(3000)
parsed = b"total=%d\nfield=note:streamed\nfield=f:s.bin\nfile=f:3000\n" % len(body)
complete = [
    ("BinaryRead(4) as the bytes come", "/stream.asp?read=4", "", b"abcdefghij", 3,
     b"total=10\npiece=4:abcd\npiece=4:efgh\npiece=2:ij\n"),
    ("the component's chunked read of a slow body", "/stream.asp?chunk=7", content_type, body, 4, parsed),
    ("the component's whole read of a slow body", "/stream.asp?chunk=0", content_type, body, 4, parsed),
]
for what, target, extra, data, parts, expected in complete:
    with socket.create_connection(("127.0.0.1", PORT)) as sock:
        sock.sendall(request_head(target, len(data), extra))
        send_in_pieces(sock, data, parts)
        got = receive(sock, whole_answer, 30)
    check(what, answer_body(got) == expected, repr(got[-300:]))

# The page runs before any of the body is sent; the rest is drained after
# its answer.
with socket.create_connection(("127.0.0.1", PORT)) as sock:
    sock.sendall(request_head("/stream.asp", 5))
    got = receive(sock, whole_answer, 30)
    check("the page answers before the body is sent", answer_body(got) == b"total=5\n", repr(got[-200:]))
    sock.sendall(b"hello")
    check("the unread body is drained, then the connection closes", closed_within(sock, 5))

# "100 Continue" when the page first reads, not before.
with socket.create_connection(("127.0.0.1", PORT)) as sock:
    sock.sendall(request_head("/stream.asp?read=3", 6, "Expect: 100-continue\r\n"))
    got = receive(sock, lambda d: d.startswith(CONTINUE), 30)
    check("100 Continue when the page reads", got == CONTINUE, repr(got[:200]))
    sock.sendall(b"xyz123")
    got = receive(sock, whole_answer, 30)
    check("the body after 100 Continue", answer_body(got) == b"total=6\npiece=3:xyz\npiece=3:123\n", repr(got[-200:]))

# The default limit is the largest TotalBytes; a page that reads none of it
# answers without "100 Continue", and the connection ends.
for length, status in ((2147483647, b"HTTP/1.1 200"), (2147483648, b"HTTP/1.1 413")):
    with socket.create_connection(("127.0.0.1", PORT)) as sock:
        sock.sendall(request_head("/stream.asp", length, "Expect: 100-continue\r\n"))
        got = receive(sock, whole_answer, 30)
        check(f"Content-Length {length}", got.startswith(status), repr(got[:200]))
        if status.endswith(b"200"):
            check("TotalBytes of the largest body", answer_body(got) == b"total=2147483647\n", repr(got[-100:]))
            check("a body nobody reads is not asked for", closed_within(sock, 5))

# Bodies that stall or break under a page: its read fails with the
# connection's code (and description), the host answers nothing and logs it.
# (what, target, stalls, the log's lines)
broken = [
    ("a stalled body under the component's chunked read", "/stream.asp?chunk=7", True,
     ["Can't call BinaryRead (0x8007274C)", "bytes and then nothing for", "connection closed"]),
    ("a body cut off under the component's whole read", "/stream.asp?chunk=0", False,
     ["Can't call BinaryRead (0x80072746)", "bytes and stopped"]),
    ("a body cut off under the page's BinaryRead", "/stream.asp?read=100", False,
     ["The connection closed before the end of the request body (0x80072746)"]),
]
for what, target, stalls, needles in broken:
    mark = os.path.getsize(LOG)
    with socket.create_connection(("127.0.0.1", PORT)) as sock:
        sock.sendall(request_head(target, len(body), content_type) + body[:len(body) // 2])
        if stalls:
            started = time.monotonic()
            got = receive(sock, lambda d: False, READ_TIMEOUT + 10)
            took = time.monotonic() - started
            check(f"{what}: cut after the read timeout", got == b"" and READ_TIMEOUT - 0.5 <= took < READ_TIMEOUT + 5,
                  f"{took:.1f} s, {got[:100]!r}")
        else:
            time.sleep(0.3)  # the page has started reading
    text = log_after(mark, needles)
    for needle in needles:
        check(f"{what}: logged", needle in text, f"[{needle}] not in {text[-400:]!r}")
    left = os.listdir(TMP)
    check(f"{what}: no temporary file left", not left, repr(left))

print(f"{results['passed']} passed, {results['failed']} failed")
sys.exit(1 if results["failed"] else 0)
