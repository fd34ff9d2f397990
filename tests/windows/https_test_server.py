#!/usr/bin/env python3
"""A small HTTPS server for the WinHTTP client tests.

POST /echo              201, the request body returned unchanged
POST /headers           201, "<User-Agent>|<Content-Type>|<Content-Length>" of the request
POST /status/<code>     <code>, the request body returned as the reply body
POST /redirect/<port>   307 to https://localhost:<port>/echo
POST /seen              200, how many requests other than /seen this server has received
anything else           404, "not found"

Usage: https_test_server.py CERT KEY PORT_FILE
Listens on localhost at a free port, which it writes to PORT_FILE once it is ready.
"""
import http.server
import os
import ssl
import sys
import threading

requests_seen = 0
seen_lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):  # keep test output quiet
        pass

    def reply(self, code, body):
        self.send_response(code)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        global requests_seen
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length) if length > 0 else b""
        if self.path == "/seen":
            with seen_lock:
                count = requests_seen
            self.reply(200, str(count).encode("ascii"))
            return
        with seen_lock:
            requests_seen += 1
        if self.path == "/echo":
            self.reply(201, body)
        elif self.path == "/headers":
            seen = "|".join(self.headers.get(h, "") for h in ("User-Agent", "Content-Type", "Content-Length"))
            self.reply(201, seen.encode("utf-8"))
        elif self.path.startswith("/status/") and self.path[8:].isdigit():
            self.reply(int(self.path[8:]), body)
        elif self.path.startswith("/redirect/") and self.path[10:].isdigit():
            self.send_response(307)
            self.send_header("Location", "https://localhost:%s/echo" % self.path[10:])
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", "6")
            self.end_headers()
            self.wfile.write(b"Moved.")
        else:
            self.reply(404, b"not found")

    def do_GET(self):
        global requests_seen
        with seen_lock:
            requests_seen += 1
        self.reply(404, b"not found")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # Clients that refuse the certificate drop the connection: that is expected here.
        pass


def main():
    cert, key, port_file = sys.argv[1:4]
    server = Server(("localhost", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    tmp = port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(tmp, port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
