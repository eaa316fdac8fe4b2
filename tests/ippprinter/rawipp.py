#!/usr/bin/env python3
"""What ipptool cannot send, for the driverless printer's black-box tests.

rawipp.py urf PWG URF            rewrites a PWG raster as URF (same pages, same lines)
rawipp.py lying PWG OUT KIND     a PWG raster that lies: KIND "height" claims more lines than
                                 it holds, "run" has a run that overflows its line
rawipp.py send PORT CASE         sends a hostile request; prints "http=N ipp=0xNNNN" from the
                                 reply, or "closed" when the connection ended without one.
                                 CASE: oversize (100,000 requested-attributes values),
                                 deep (collections nested 100 deep), stalled (a Print-Job
                                 body that stops half way; waits up to 120 s for the end)
rawipp.py crowd PORT N           holds N idle connections from 127.0.0.1, then prints what a
                                 Get-Printer-Attributes from 127.0.0.2 is answered
"""
import socket
import struct
import sys
import time

PWG_HEADER = 1796


def attribute(tag, name, value):
    if isinstance(value, str):
        value = value.encode()
    return bytes([tag]) + struct.pack(">H", len(name)) + name.encode() + struct.pack(">H", len(value)) + value


def request(operation, port, attributes=b"", data=b""):
    head = struct.pack(">BBHI", 2, 0, operation, 1) + b"\x01"
    head += attribute(0x47, "attributes-charset", "utf-8")
    head += attribute(0x48, "attributes-natural-language", "en")
    head += attribute(0x45, "printer-uri", "ipp://127.0.0.1:%d/ipp/print" % port)
    head += attribute(0x42, "requesting-user-name", "blackbox")
    return head + attributes + b"\x03" + data


def http_post(port, body, length=None):
    return (("POST /ipp/print HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nContent-Type: application/ipp\r\n"
             "Content-Length: %d\r\n\r\n") % (port, len(body) if length is None else length)).encode() + body


def answer(sock, timeout):
    """'http=N ipp=0xNNNN' from the reply, or 'closed'."""
    sock.settimeout(timeout)
    reply = b""
    try:
        while True:
            got = sock.recv(65536)
            if not got:
                break
            reply += got
            head, _, body = reply.partition(b"\r\n\r\n")
            if b"\r\n\r\n" in reply and (len(body) >= 4 or not head.startswith(b"HTTP/1.1 200")):
                break
    except (socket.timeout, ConnectionResetError):
        pass
    if not reply.startswith(b"HTTP/"):
        return "closed"
    head, _, body = reply.partition(b"\r\n\r\n")
    status = head.split(b" ")[1].decode()
    if head.lower().find(b"transfer-encoding: chunked") >= 0:
        body = body.partition(b"\r\n")[2]
    ipp = b"content-type: application/ipp" in head.lower() and len(body) >= 4
    code = "0x%04x" % struct.unpack(">H", body[2:4])[0] if ipp else "none"
    return "http=%s ipp=%s" % (status, code)


def exchange(port, data, source="127.0.0.1", timeout=30):
    sock = socket.socket()
    sock.bind((source, 0))
    sock.connect(("127.0.0.1", port))
    sock.sendall(data)
    result = answer(sock, timeout)
    sock.close()
    return result


def pages(pwg):
    """(header, line data) of each page of a PWG raster, found by decoding its lines."""
    at = 4
    while at < len(pwg):
        header = pwg[at:at + PWG_HEADER]
        height, bits, line_bytes = (struct.unpack(">I", header[o:o + 4])[0] for o in (376, 388, 392))
        pixel = bits // 8
        start = at = at + PWG_HEADER
        lines = 0
        while lines < height:
            lines += pwg[at] + 1
            at += 1
            filled = 0
            while filled < line_bytes:
                run = pwg[at]
                at += 1
                if run < 128:
                    at += pixel
                    filled += (run + 1) * pixel
                else:
                    at += (257 - run) * pixel
                    filled += (257 - run) * pixel
        yield header, pwg[start:at]


def to_urf(pwg):
    found = list(pages(pwg))
    urf = b"UNIRAST\0" + struct.pack(">I", len(found))
    for header, lines in found:
        width, height, bits, space = (struct.unpack(">I", header[o:o + 4])[0] for o in (372, 376, 388, 400))
        dpi = struct.unpack(">I", header[276:280])[0]
        urf += struct.pack(">BBBBBB6xIIIII", bits, 1 if space == 19 else 0, 1, 4, 0, 0, width, height, dpi, 0, 0)
        urf += lines
    return urf


def lying(pwg, kind):
    header, lines = next(pages(pwg))
    header = bytearray(header)
    if kind == "height":
        height = struct.unpack(">I", header[376:380])[0]
        header[376:380] = struct.pack(">I", height * 2)
    else:  # the first line's first run repeats a pixel far past the line's end, many times
        lines = b"\x00" + b"\x7f\xff" * 2000 + lines
    return b"RaS2" + bytes(header) + lines


def main():
    command = sys.argv[1]
    if command == "urf":
        open(sys.argv[3], "wb").write(to_urf(open(sys.argv[2], "rb").read()))
    elif command == "lying":
        open(sys.argv[3], "wb").write(lying(open(sys.argv[2], "rb").read(), sys.argv[4]))
    elif command == "send":
        port, case = int(sys.argv[2]), sys.argv[3]
        if case == "oversize":
            values = attribute(0x44, "requested-attributes", "all")
            values += b"".join(attribute(0x44, "", "printer-name") for _ in range(100000))
            print(exchange(port, http_post(port, request(0x000B, port, values))))
        elif case == "deep":
            nested = b"".join(attribute(0x34, "media-col" if i == 0 else "", "") +
                              (attribute(0x4A, "", "media-size") if i < 99 else b"") for i in range(100))
            nested += b"".join(attribute(0x37, "", "") for _ in range(100))
            print(exchange(port, http_post(port, request(0x0004, port, b"\x02" + nested))))
        elif case == "stalled":
            document = b"%PDF-1.4\n" + b"%" * 1000
            body = request(0x0002, port, attribute(0x42, "job-name", "refused-stalled") +
                           attribute(0x49, "document-format", "application/pdf"), document)
            print(exchange(port, http_post(port, body, len(body) + 100000), timeout=120))
    elif command == "crowd":
        port, count = int(sys.argv[2]), int(sys.argv[3])
        crowd = []
        for _ in range(count):
            sock = socket.socket()
            sock.bind(("127.0.0.1", 0))
            sock.connect(("127.0.0.1", port))
            crowd.append(sock)
        time.sleep(1)
        body = request(0x000B, port, attribute(0x44, "requested-attributes", "printer-state"))
        print(exchange(port, http_post(port, body), source="127.0.0.2"))
        for sock in crowd:
            sock.close()


main()
