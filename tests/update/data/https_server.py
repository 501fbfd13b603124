#!/usr/bin/python3
# A small HTTPS server for the update tests. Usage: https_server.py CERT KEY FOLDER
# Prints its port on the first line of standard output, then serves until killed:
#   POST <path>          appends the body and a newline to FOLDER/posts.log, answers FOLDER/<path>.answer
#   GET <path>           appends the path (with its query) and a newline to FOLDER/gets.log
#   GET /files/<name>    FOLDER/<name> with its length (a query is not part of the name)
#   GET /nolength/<name> FOLDER/<name> without a length (the connection's end ends it)
#   GET /missing         404
#   GET /redirect/<name> 302 to /files/<name> on this server
#   GET /to-http/<name>  302 to http:// on this server
#   GET /stall           a length of 1000, 10 bytes, then nothing
import http.server
import os
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

cert, key, folder = sys.argv[1], sys.argv[2], sys.argv[3]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_file(self, name, length=True):
        path = os.path.join(folder, name)
        if "/" in name or not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as f:
            data = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if length:
            self.send_header("Content-Length", str(len(data)))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(data)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        with open(os.path.join(folder, "posts.log"), "ab") as log:
            log.write(body + b"\n")
        name = self.path.strip("/").replace("/", "_") + ".answer"
        path = os.path.join(folder, name)
        data = open(path, "rb").read() if os.path.isfile(path) else b""
        self.send_response(200)
        self.send_header("Content-Type", "text/xml")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        with open(os.path.join(folder, "gets.log"), "a") as log:
            log.write(self.path + "\n")
        self.path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        port = self.server.server_address[1]
        if self.path.startswith("/files/"):
            self.send_file(self.path[len("/files/"):])
        elif self.path.startswith("/nolength/"):
            self.send_file(self.path[len("/nolength/"):], length=False)
        elif self.path.startswith("/redirect/"):
            self.redirect("https://127.0.0.1:%d/files/%s" % (port, self.path[len("/redirect/"):]))
        elif self.path.startswith("/to-http/"):
            self.redirect("http://127.0.0.1:%d/files/%s" % (port, self.path[len("/to-http/"):]))
        elif self.path == "/stall":
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b"0123456789")
            self.wfile.flush()
            time.sleep(3600)
        else:
            self.send_error(404)

    def redirect(self, target):
        self.send_response(302)
        self.send_header("Location", target)
        self.send_header("Content-Length", "0")
        self.end_headers()


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


server = Server(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
