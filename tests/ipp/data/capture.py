#!/usr/bin/env python3
# How the messages beside this script were captured, once, on Debian 12 (CUPS 2.4.2):
#   ippeveprinter -p 8631 -f application/pdf,image/jpeg,image/pwg-raster,image/urf -k Capture &
#   gs -q -sDEVICE=pdfwrite -o /tmp/page.pdf -c showpage
#   ./capture.py 8632 8631 &
#   for t in get-printer-attributes validate-job print-job-media-col create-job get-jobs \
#            get-job-attributes cancel-current-job; do
#     ipptool -f /tmp/page.pdf ipp://localhost:8632/ipp/print $t.test; done
# It relays each connection and saves every HTTP body: NN-request.ipp (with the document
# after the message) and NN-response.ipp.
import socket, sys, threading

count = 0
lock = threading.Lock()

def bodies(stream):
    """The bodies of the HTTP messages in one direction of a connection."""
    while stream:
        head, _, stream = stream.partition(b"\r\n\r\n")
        lines = head.split(b"\r\n")
        fields = {k.strip().lower(): v.strip() for k, _, v in (l.partition(b":") for l in lines[1:])}
        if lines[0].split(b" ")[1:2] == [b"100"]:
            continue
        if fields.get(b"transfer-encoding", b"").lower() == b"chunked":
            body = b""
            while True:
                size, _, stream = stream.partition(b"\r\n")
                size = int(size.split(b";")[0], 16)
                body, stream = body + stream[:size], stream[size + 2:]
                if size == 0:  # no trailers: the last chunk's CRLF ends the body
                    break
        else:
            length = int(fields.get(b"content-length", b"0"))
            body, stream = stream[:length], stream[length:]
        yield body

def pump(source, sink, sink_log):
    while data := source.recv(65536):
        sink_log.append(data)
        sink.sendall(data)
    sink.shutdown(socket.SHUT_WR)

def relay(client, port):
    global count
    server = socket.create_connection(("localhost", port))
    sent, received = [], []
    up = threading.Thread(target=pump, args=(client, server, sent))
    up.start()
    pump(server, client, received)
    up.join()
    with lock:
        for request, response in zip(bodies(b"".join(sent)), bodies(b"".join(received))):
            count += 1
            open(f"{count:02d}-request.ipp", "wb").write(request)
            open(f"{count:02d}-response.ipp", "wb").write(response)

listener = socket.create_server(("localhost", int(sys.argv[1])))
while True:
    connection, _ = listener.accept()
    threading.Thread(target=relay, args=(connection, int(sys.argv[2]))).start()
