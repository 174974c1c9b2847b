"""A web server of a folder on a free loopback port, over http or https,
with the redirections that dlmtool's served-site runs ask of a real server
(a moved page, a page moved to plain http, a server that refuses HEAD)."""
import functools
import http.server
import ssl
import threading


class Handler(http.server.SimpleHTTPRequestHandler):
    """Serves the site folder. /moved/PATH answers with a redirection to
    /PATH, as a server that has moved a page would, and /to-plain/PORT/PATH
    with one to http://127.0.0.1:PORT/PATH; /nohead/PATH serves /PATH but
    refuses HEAD, as some servers do."""

    def do_GET(self):
        if self.path.startswith("/to-plain/"):
            port, path = self.path[len("/to-plain/"):].split("/", 1)
            self.send_response(302)
            self.send_header("Location", "http://127.0.0.1:%s/%s" % (port, path))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if self.path.startswith("/moved/"):
            self.send_response(302)
            self.send_header("Location", self.path[len("/moved"):])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if self.path.startswith("/nohead/"):
            self.path = self.path[len("/nohead"):]
        super().do_GET()

    def do_HEAD(self):
        if self.path.startswith("/nohead/"):
            self.send_error(405)
            return
        super().do_HEAD()

    def log_message(self, *args):
        pass


class Server:
    """Serves root over http, or over https with tls = (certificate, key)."""

    def __init__(self, root, tls=None):
        handler = functools.partial(Handler, directory=root)
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.port = self.httpd.server_address[1]
        self.base = "http://127.0.0.1:%d/" % self.port
        if tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*tls)
            # A client that refuses the certificate fails the handshake in
            # accept, which the server passes over.
            self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
            self.base = "https://127.0.0.1:%d/" % self.port
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()
