#!/usr/bin/env python3
"""A content site on loopback, for the demo and the tests.

    content_site.py ROOT [--port N] [--tls CERT KEY] [--proxy]

Serves the files under ROOT and logs every request line to ROOT/../requests.log.
Paths named in ROOT/../faults (one "path action" a line, path without the query)
misbehave instead: status N (answer with that status and a small error page),
reset (announce 100000 bytes, send 1000, then reset the connection), short (announce
2000 bytes, send 1000, then close), hang (never answer), slow (send the file in
pieces over about a second), trickle (a chunked body without end, 1 KiB a second), flood
(a chunked body without end, as fast as it goes), redirect:URL (302 to URL), cut:SHARE (a
whole answer stops after that share of the file, and the connection is reset), plain (the
whole file always, without validators, as a server that ignores conditions). Files are
served with an ETag and Last-Modified, answer their conditions with 304 and a range under
If-Range with 206; ROOT/../answers.log gets "path status bytes" for each. Prints its
port on the first line of standard output. With --tls it answers https with that
certificate; with --proxy it is a forward proxy for http, fetching what it is asked for
and logging "proxy URL".
"""
import email.utils
import hashlib
import http.server
import os
import socket
import ssl
import struct
import sys
import time
import urllib.error
import urllib.parse
import urllib.request

ROOT = os.path.abspath(sys.argv[1])
STATE = os.path.dirname(ROOT)


def faults():
    table = {}
    try:
        with open(os.path.join(STATE, "faults")) as f:
            for line in f:
                parts = line.split()
                if len(parts) == 2:
                    table[parts[0]] = parts[1]
    except FileNotFoundError:
        pass
    return table


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=ROOT, **kwargs)

    def log_message(self, *args):
        pass

    def do_GET(self):
        if PROXY:
            return self.relay()
        with open(os.path.join(STATE, "requests.log"), "a") as log:
            log.write(self.path + "\n")
        path = urllib.parse.urlsplit(self.path).path
        action = faults().get(path)
        if action is None:
            return self.serve(path)
        if action.startswith("cut:"):
            return self.serve(path, float(action[len("cut:"):]))
        if action == "plain":
            return self.serve(path, plain=True)
        if action.startswith("redirect:"):
            self.send_response(302)
            self.send_header("Location", action[len("redirect:"):])
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif action.isdigit():
            body = b"<html>error page</html>"
            self.send_response(int(action))
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
        elif action == "reset":
            self.send_response(200)
            self.send_header("Content-Length", "100000")
            self.end_headers()
            self.wfile.write(b"x" * 1000)
            self.wfile.flush()
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
            self.close_connection = True
        elif action == "short":
            self.send_response(200)
            self.send_header("Content-Length", "2000")
            self.end_headers()
            self.wfile.write(b"y" * 1000)
            self.close_connection = True
        elif action in ("trickle", "flood"):
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            size = 1024 if action == "trickle" else 256 * 1024
            chunk = b"%x\r\n" % size + b"z" * size + b"\r\n"
            try:
                while True:
                    self.wfile.write(chunk)
                    self.wfile.flush()
                    if action == "trickle":
                        time.sleep(1)
            except OSError:
                pass
            self.close_connection = True
        elif action == "hang":
            time.sleep(30)
            self.close_connection = True
        elif action == "slow":
            with open(os.path.join(ROOT, path.lstrip("/")), "rb") as f:
                data = f.read()
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            step = max(1, len(data) // 10)
            for i in range(0, len(data), step):
                self.wfile.write(data[i:i + step])
                self.wfile.flush()
                time.sleep(0.1)


    def serve(self, path, cut=None, plain=False):
        """The file with an ETag and Last-Modified; 304 to a request whose condition still
        holds, 206 to a range whose If-Range still holds; with `cut`, a whole answer stops
        after that share of the file and the connection is reset; `plain`, the whole file
        always, saying nothing of it."""
        file = self.translate_path(self.path)
        if not os.path.isfile(file):
            return self.answer(path, 404, b"<html>not found</html>")
        with open(file, "rb") as f:
            data = f.read()
        etag = '"%s"' % hashlib.sha1(data).hexdigest()[:16]
        modified = email.utils.formatdate(os.stat(file).st_mtime, usegmt=True)
        validators = {"ETag": etag, "Last-Modified": modified}
        if plain:
            return self.answer(path, 200, data)
        match = self.headers.get("If-None-Match")
        if match == etag or (match is None and self.headers.get("If-Modified-Since") == modified):
            return self.answer(path, 304, b"", validators)
        wanted = self.headers.get("Range", "")
        if (wanted.startswith("bytes=") and wanted.endswith("-")
                and self.headers.get("If-Range", etag) in (etag, modified)):
            start = int(wanted[len("bytes="):-1])
            if start < len(data):
                validators["Content-Range"] = "bytes %d-%d/%d" % (start, len(data) - 1, len(data))
                return self.answer(path, 206, data[start:], validators)
        if cut is None:
            return self.answer(path, 200, data, validators)
        self.send_response(200)
        for name, value in validators.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        sent = int(len(data) * cut)
        self.wfile.write(data[:sent])
        self.wfile.flush()
        self.log_answer(path, 200, sent)
        time.sleep(0.5)  # what was sent arrives before the reset
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()
        self.close_connection = True

    def answer(self, path, status, body, headers=None):
        self.send_response(status)
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        if status != 304:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        self.log_answer(path, status, len(body))

    def log_answer(self, path, status, sent):
        with open(os.path.join(STATE, "answers.log"), "a") as log:
            log.write("%s %d %d\n" % (path, status, sent))

    def relay(self):
        with open(os.path.join(STATE, "requests.log"), "a") as log:
            log.write("proxy " + self.path + "\n")
        direct = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        try:
            with direct.open(self.path) as answer:
                status, data = answer.status, answer.read()
        except urllib.error.HTTPError as error:
            status, data = error.code, error.read()
        self.send_response(status)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


PROXY = "--proxy" in sys.argv
port = int(sys.argv[sys.argv.index("--port") + 1]) if "--port" in sys.argv else 0
server = Server(("127.0.0.1", port), Handler)
if "--tls" in sys.argv:
    at = sys.argv.index("--tls")
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[at + 1], sys.argv[at + 2])
    server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
