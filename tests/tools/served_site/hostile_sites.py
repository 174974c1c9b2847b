"""Hostile sites: what a site can send to the vendor's check (other schemes,
escape sequences, endless or oversized bodies), served by the test web
server."""
import os
import socket
import threading
import time

import test_server
from served_site.common import build, check, write


class Listener:
    """A loopback port that notes every connection it is offered."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.port = self.sock.getsockname()[1]
        self.received = []
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            conn.settimeout(2)
            try:
                self.received.append(conn.recv(4096))
            except OSError:
                self.received.append(b"")
            conn.close()


def serve_folder(server, folder):
    """Every file below folder becomes a page of the test web server."""
    for where, _, files in os.walk(folder):
        for name in files:
            with open(os.path.join(where, name), "rb") as f:
                path = "/" + os.path.relpath(os.path.join(where, name), folder)
                server.state.set_page(path, test_server.Page(f.read()))


def hostile_rows(tool, base, target):
    """name, pages served, options, lines that must be there (or their
    start)."""
    def reply(record):
        return test_server.Page(tool.run("encipher", stdin=record.encode("latin-1")).stdout)

    slow = test_server.Page(b"MZ" + b"s" * 998, mode="slow", chunk=1, delay_ms=300,
                            head_status=405)
    large = test_server.Page(b"MZ" + b"s" * 4998, mode="nolength", head_status=405)
    escape = "\x1b[2J\x1b[H22 packages: 22 ok"
    return (
        # URLs of other schemes are absent for the program: never asked.
        ("a gopher sUrl",
         {"/h/a.txt": reply("iFlag=1|sUrl=gopher://%s/_SET%%20owned%%0d%%0a" % target)}, [],
         ["FAIL chain 1 reaches no download directory: %sh/a.txt has iFlag=1 but no sUrl the "
          "program can use (its sUrl 'gopher://%s/_SET%%20owned%%0d%%0a' is not" % (base, target)]),
        ("a dict sDlurl", {"/h/a.txt": reply("iFlag=0|sDlurl=dict://%s/" % target)}, [],
         ["FAIL chain 1 reaches no download directory: %sh/a.txt has iFlag=0 but no sDlurl the "
          "program can use (its sDlurl 'dict://%s/' is not" % (base, target)]),
        ("a redirection to file:", {"/h/a.txt": test_server.Page(
            b"", status=302, location="file:///etc/passwd")}, [],
         ["  %sh/a.txt -> HTTP 302, cannot be read (redirected to file:///etc/passwd, but only "
          "http and https are followed)" % base]),
        ("a redirection to gopher:", {"/h/a.txt": test_server.Page(
            b"", status=302, location="gopher://%s/_x" % target)}, [],
         ["  %sh/a.txt -> HTTP 302, cannot be read (redirected to gopher://%s/_x"
          % (base, target)]),
        ("escape sequences in a URL", {"/h/a.txt": reply("iFlag=1|sUrl=%sh/x%s" % (base, escape))},
         [], ["FAIL chain 1 reaches no download directory: %sh/a.txt has iFlag=1 but no sUrl the "
              "program can use (its sUrl '%sh/x\\x1b[2J\\x1b[H22 packages: 22 ok' is not"
              % (base, base)]),
        ("escape sequences in a manifest", {"/dl/p_Vandel_reg_ENG.ENG": test_server.Page(
            b"\x1b[1A\x1b[2K12\r\n\x1b]0;title\x07\n")}, [],
         ["FAIL p_Vandel_reg_ENG.exe: manifest p_Vandel_reg_ENG.ENG starts with "
          "'\\x1b[1A\\x1b[2K12\\r', not a size above 0 (HTTP 200)"]),
        ("a trickling installer", {"/dl/p_Vandel_sys_DEU.exe": slow}, ["--max-time", "3"],
         ["FAIL p_Vandel_sys_DEU.exe: installer cannot be fetched (Operation timed out after",
          "22 packages: 21 ok, 1 failed"]),
        ("an installer over --max-size", {"/dl/p_Vandel_sys_FRE.exe": large},
         ["--max-size", "2000"],
         ["FAIL p_Vandel_sys_FRE.exe: installer cannot be fetched (larger than the limit of "
          "2000 bytes (--max-size))", "22 packages: 21 ok, 1 failed"]),
    )


def hostile_sites(tool, work):
    """What a site can send to the vendor's check: other schemes, escape
    sequences, endless or oversized bodies. Served by the test web server."""
    server = test_server.Server(0)
    server.handle_error = lambda *_: None  # the trickle's reader hangs up: expected
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = "http://127.0.0.1:%d/" % server.server_address[1]
    listener = Listener()
    target = "127.0.0.1:%d" % listener.port
    write(os.path.join(work, "small.exe"), b"MZ" + b"s" * 998)
    proc, site = build(tool, work, "hostile", base, "small.exe", "reply dlm/primary.txt direct\n")
    check(proc.returncode == 0, "site build for the hostile pages", proc.stderr.decode())
    serve_folder(server, site)
    try:
        for name, pages, options, wanted in hostile_rows(tool, base, target):
            saved = {path: server.state.page(path) for path in pages}
            bootstrap = base + ("h/a.txt" if "/h/a.txt" in pages else "dlm/primary.txt")
            for path, page in pages.items():
                server.state.set_page(path, page)
            started = time.monotonic()
            proc = tool.run("site", "check", bootstrap, *options)
            took = time.monotonic() - started
            for path, page in saved.items():
                server.state.set_page(path, page)
            text = proc.stdout.decode("latin-1")
            out = text.splitlines()
            check(proc.returncode == 1 and all(any(l.startswith(w) for l in out) for w in wanted)
                  and not any(c in text for c in "\x1b\x07\r") and took < 30,
                  "site check against %s (%.1f s)" % (name, took), text[-1500:])
    finally:
        server.shutdown()
        server.server_close()
    check(listener.received == [], "nothing reached the listener through another scheme",
          repr(listener.received))
