#!/usr/bin/env python3
"""A small update service for the about window's tests, on https://127.0.0.1 with a CA of its own.

Usage: update-service.py FOLDER. Makes a test CA and a server certificate for 127.0.0.1 in FOLDER
with openssl, listens on a port the kernel chooses, and prints "port N" and "ca PATH", one per line.

Routes (any query is ignored):
  /version/V/KIND   {"version": V, "url": "https://127.0.0.1:N/zip/KIND"}
  /http/V           {"version": V, "url": "http://127.0.0.1:N/zip/good"}
  /file/V           {"version": V, "url": "file:///etc/passwd"}
  /bad-json         a body that is no JSON
  /huge-answer      a version answer padded to a megabyte
  /not-object       a JSON array
  /zip/good         a zip holding Pelkor.app/bin/pelkor
  /zip/slip         a zip with an entry "../outside"
  /zip/link         a zip with a symbolic link to /tmp
  /zip/notzip       bytes that are no zip
  /zip/unsized      the good zip without a Content-Length
  /zip/cut          a Content-Length above what is sent, then the connection ends
  /zip/slow         a megabyte sent slowly, so a test can cancel it midway
  /zip/slowfirst    the first time as /zip/slow, then as /zip/good
  /zip/huge         announces a terabyte, then sends slowly
Everything else answers 404.
"""
import http.server
import io
import json
import os
import ssl
import subprocess
import sys
import time
import zipfile


def make_certificates(folder):
    ca_key, ca_cert = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.pem")
    key, request, cert = (os.path.join(folder, name) for name in ("server.key", "server.csr", "server.pem"))
    extensions = os.path.join(folder, "server.ext")
    with open(extensions, "w") as out:
        out.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n")
    quiet = dict(check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", ca_key, "-out", ca_cert,
                    "-days", "2", "-subj", "/CN=update test CA"], **quiet)
    subprocess.run(["openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", request,
                    "-subj", "/CN=127.0.0.1"], **quiet)
    subprocess.run(["openssl", "x509", "-req", "-in", request, "-CA", ca_cert, "-CAkey", ca_key, "-CAcreateserial",
                    "-out", cert, "-days", "2", "-extfile", extensions], **quiet)
    return ca_cert, cert, key


def zip_of(entries):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for info, data in entries:
            archive.writestr(info, data)
    return buffer.getvalue()


def link(name, target):
    info = zipfile.ZipInfo(name)
    info.create_system = 3
    info.external_attr = (0o120777 << 16)
    return info, target


GOOD = zip_of([("Pelkor.app/bin/pelkor", "#!/bin/sh\necho new\n")])
ARCHIVES = {
    "good": GOOD,
    "slip": zip_of([("Pelkor.app/bin/pelkor", "x"), ("../outside", "escaped")]),
    "link": zip_of([("Pelkor.app/bin/pelkor", "x"), link("Pelkor.app/tmp", "/tmp")]),
    "notzip": b"this is not a zip archive",
}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *arguments):
        pass

    def send_body(self, body, length=None, content_type="application/octet-stream"):
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        if length is not None:
            self.send_header("Content-Length", str(length))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def answer(self, version, url):
        self.send_body(json.dumps({"version": version, "url": url}).encode(), None, "application/json")

    def do_GET(self):
        self.close_connection = True
        parts = self.path.split("?")[0].strip("/").split("/")
        base = "https://127.0.0.1:%d" % self.server.server_port
        if parts[0] == "version" and len(parts) == 3:
            return self.answer(parts[1], base + "/zip/" + parts[2])
        if parts[0] == "http" and len(parts) == 2:
            return self.answer(parts[1], "http://127.0.0.1:%d/zip/good" % self.server.server_port)
        if parts[0] == "file" and len(parts) == 2:
            return self.answer(parts[1], "file:///etc/passwd")
        if parts == ["bad-json"]:
            return self.send_body(b"{\"version\": \"9.9\", ", None, "application/json")
        if parts == ["huge-answer"]:
            body = json.dumps({"version": "9.9", "url": base + "/zip/good", "pad": "x" * (1 << 20)}).encode()
            return self.send_body(body, len(body), "application/json")
        if parts == ["not-object"]:
            return self.send_body(b"[\"9.9\"]", None, "application/json")
        if parts[0] == "zip" and len(parts) == 2:
            kind = parts[1]
            if kind in ARCHIVES:
                return self.send_body(ARCHIVES[kind], len(ARCHIVES[kind]))
            if kind == "unsized":
                return self.send_body(GOOD, None)
            if kind == "cut":
                return self.send_body(GOOD[: len(GOOD) // 2], len(GOOD))
            if kind == "slowfirst":
                self.server.slow_served = getattr(self.server, "slow_served", 0) + 1
                if self.server.slow_served > 1:
                    return self.send_body(GOOD, len(GOOD))
            if kind in ("slow", "slowfirst", "huge"):
                self.send_response(200)
                self.send_header("Content-Length", str(1 << 40 if kind == "huge" else 1 << 20))
                self.end_headers()
                try:
                    for _ in range(200):
                        self.wfile.write(b"\0" * 1024)
                        self.wfile.flush()
                        time.sleep(0.05)
                except (ConnectionError, ssl.SSLError):
                    pass  # the test cancelled the download
                return
        self.send_error(404)


def main():
    folder = sys.argv[1]
    ca_cert, cert, key = make_certificates(folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    print("port %d" % server.server_port, flush=True)
    print("ca %s" % ca_cert, flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
