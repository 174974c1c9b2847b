#!/usr/bin/env python3
"""Runs the real dlmtool against download sites served over HTTP on a free
local port: builds a site from a configuration, checks it with `site check`,
breaks it and checks again, and runs the other commands through the binary.
Prints one line per check and "N passed, M failed" at the end."""
import argparse
import functools
import http.server
import os
import shutil
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
import test_server  # noqa: E402 - found through the path above

FAILED = []
PASSED = []


def check(condition, what, detail=""):
    (PASSED if condition else FAILED).append(what)
    print(("ok   " if condition else "FAIL ") + what)
    if not condition and detail:
        print("     " + detail.replace("\n", "\n     "))


class Handler(http.server.SimpleHTTPRequestHandler):
    """Serves the site folder. /moved/PATH answers with a redirection to
    /PATH, as a server that has moved a page would; /nohead/PATH serves
    /PATH but refuses HEAD, as some servers do."""

    def do_GET(self):
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
    def __init__(self, root):
        handler = functools.partial(Handler, directory=root)
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.port = self.httpd.server_address[1]
        self.base = "http://127.0.0.1:%d/" % self.port
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class Tool:
    def __init__(self, path):
        self.path = path

    def run(self, *args, stdin=None):
        return subprocess.run([self.path] + list(args), input=stdin, capture_output=True,
                               timeout=120)


def lines_of(proc):
    return proc.stdout.decode("latin-1").splitlines()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def config_text(base, installer, replies):
    return ("# written by the test\n"
            "base %s\n"
            "directory dl/\n"
            "installer %s\n"
            "news Polvex test news one\n"
            "news Polvex test news two\n" % (base, installer)) + replies


def build(tool, work, name, base, installer, replies):
    conf = os.path.join(work, name + ".conf")
    site = os.path.join(work, name)
    write(conf, config_text(base, installer, replies).encode())
    return tool.run("site", "build", conf, site), site


def served_sites(tool, work):
    site_root = os.path.join(work, "root")
    os.makedirs(site_root)
    server = Server(site_root)
    try:
        base = server.base
        installer = os.path.join(work, "installer.exe")
        size = 3 * 1024 * 1024 + 17  # several MiB, not a multiple of any chunk
        write(installer, b"MZ" + bytes(range(256)) * (size // 256) + b"x" * (size % 256 - 2))
        replies = ("reply dlm/primary.txt direct\n"
                   "reply dlm/alt1.txt redirect dlm/hop.txt\n"
                   "reply dlm/hop.txt direct\n")
        proc, built = build(tool, work, "good", base, "installer.exe", replies)
        check(proc.returncode == 0, "site build exits 0", proc.stderr.decode())
        check("download directory: %sdl/ (%s/dl/)" % (base, built) in lines_of(proc),
              "site build names the download directory", proc.stdout.decode())
        os.rmdir(site_root)
        shutil.copytree(built, site_root, copy_function=os.link)

        proc = tool.run("site", "check", base + "dlm/primary.txt")
        out = lines_of(proc)
        check(proc.returncode == 0, "a good site passes", proc.stdout.decode())
        check(sum(1 for l in out if l.startswith("ok   ")) == 22
              and "ok   p_Vandel_sys_ENG.exe %d bytes" % size in out, "22 packages are ok",
              proc.stdout.decode())
        check(out[-1] == "22 packages: 22 ok", "the summary line", out[-1] if out else "")

        # The second bootstrap URL is asked when the first gives nothing, and
        # HTTP redirections are followed as the program's client does.
        proc = tool.run("site", "check", base + "dlm/absent.txt", base + "moved/dlm/alt1.txt")
        out = lines_of(proc)
        check(proc.returncode == 0, "the second bootstrap URL and a redirection",
              proc.stdout.decode())
        check(out[1].startswith("  %sdlm/absent.txt -> HTTP 404" % base)
              and out[2].startswith("  %smoved/dlm/alt1.txt -> HTTP 200, iFlag=1|sUrl=" % base)
              and out[3] == "  %sdlm/hop.txt -> HTTP 200, iFlag=0|sDlurl=%sdl/" % (base, base),
              "the chain lists every URL fetched", proc.stdout.decode())

        # Installers whose server refuses HEAD are counted as they arrive.
        enciphered = tool.run("reply", "iFlag=0", "sDlurl=%snohead/dl/" % base).stdout
        write(os.path.join(site_root, "dlm", "nohead.txt"), enciphered)
        proc = tool.run("site", "check", base + "dlm/nohead.txt")
        check(proc.returncode == 0 and "ok   p_Vandel_reg_SWE.exe %d bytes" % size in lines_of(proc),
              "a server that refuses HEAD", proc.stdout.decode()[-600:])

        # A reply is read only up to 22000 bytes: a field beyond is not seen.
        for pad, found in ((22000 - len("iFlag=0|sDlurl=%sdl/|x=" % base), True),
                           (22000 - len("iFlag=0|x=|"), False)):
            record = ("iFlag=0|sDlurl=%sdl/|x=" % base + "p" * pad) if found else \
                     ("iFlag=0|x=" + "p" * pad + "|sDlurl=%sdl/" % base)
            enciphered = tool.run("reply", *record.split("|")).stdout
            write(os.path.join(site_root, "dlm", "long.txt"), enciphered)
            proc = tool.run("site", "check", base + "dlm/long.txt")
            passed = proc.returncode == 0 if found else (
                proc.returncode == 1 and "FAIL no download directory: both chains ended "
                "without one" in lines_of(proc))
            check(passed,
                  "a field %s the first 22000 bytes of a reply" % ("within" if found else "beyond"),
                  proc.stdout.decode()[:600])

        # Broken: one installer gone, one shorter than announced (written
        # anew, not through its hard links), one manifest gone.
        dl = os.path.join(site_root, "dl")
        os.remove(os.path.join(dl, "p_Vandel_reg_DEU.exe"))
        os.remove(os.path.join(dl, "p_Vandel_sys_FRE.exe"))
        write(os.path.join(dl, "p_Vandel_sys_FRE.exe"), b"MZ short")
        os.remove(os.path.join(dl, "p_Vandel_reg_KOR.KOR"))
        proc = tool.run("site", "check", base + "dlm/primary.txt")
        out = lines_of(proc)
        check(proc.returncode == 1, "a broken site fails", proc.stdout.decode())
        for line in ("FAIL p_Vandel_reg_DEU.exe: installer answers HTTP 404",
                     "FAIL p_Vandel_sys_FRE.exe: size %d in manifest, 8 served" % size):
            check(line in out, "reports '%s'" % line, proc.stdout.decode())
        check(any(l.startswith("FAIL p_Vandel_reg_KOR.exe: manifest p_Vandel_reg_KOR.KOR starts "
                               "with '<!DOCTYPE") and l.endswith("(HTTP 404)") for l in out),
              "a missing manifest is reported", proc.stdout.decode())
        check(out[-1] == "22 packages: 19 ok, 3 failed", "the summary counts the failures",
              out[-1] if out else "")
    finally:
        server.stop()

    # Nothing listens on that port any more.
    proc = tool.run("site", "check", base + "dlm/primary.txt")
    out = lines_of(proc)
    check(proc.returncode == 1 and "FAIL no download directory: both chains ended without one"
          in out and out[1].startswith("  %sdlm/primary.txt -> cannot be opened (" % base),
          "an unreachable server", proc.stdout.decode())


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
        ("a gopher sUrl",
         {"/h/a.txt": reply("iFlag=1|sUrl=gopher://%s/_SET%%20owned%%0d%%0a" % target)}, [],
         ["  gopher://%s/_SET%%20owned%%0d%%0a -> cannot be opened (only http and https" % target]),
        ("a dict sDlurl", {"/h/a.txt": reply("iFlag=0|sDlurl=dict://%s/" % target)}, [],
         ["download directory: dict://%s/" % target,
          "FAIL p_Vandel_reg_ENG.exe: manifest p_Vandel_reg_ENG.ENG cannot be fetched (only "
          "http and https", "22 packages: 0 ok, 22 failed"]),
        ("a redirection to file:", {"/h/a.txt": test_server.Page(
            b"", status=302, location="file:///etc/passwd")}, [],
         ["  %sh/a.txt -> HTTP 302, cannot be read (redirected to file:///etc/passwd, but only "
          "http and https are followed)" % base]),
        ("a redirection to gopher:", {"/h/a.txt": test_server.Page(
            b"", status=302, location="gopher://%s/_x" % target)}, [],
         ["  %sh/a.txt -> HTTP 302, cannot be read (redirected to gopher://%s/_x"
          % (base, target)]),
        ("escape sequences in a URL", {"/h/a.txt": reply("iFlag=1|sUrl=%sh/x%s" % (base, escape))},
         [], ["  %sh/x\\x1b[2J\\x1b[H22 packages: 22 ok -> " % base]),
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


def other_commands(tool, work):
    """What only the binary shows: usage, exit codes, messages."""
    for command in (["reply"], ["manifest"], ["stamp"], ["tag"], ["site", "build"],
                    ["site", "check"], ["encipher"], ["decipher"], ["site"], []):
        proc = tool.run(*(command + ["--help"]))
        check(proc.returncode == 0 and proc.stdout.startswith(b"usage: dlmtool")
              and not proc.stderr, "%s --help" % " ".join(["dlmtool"] + command))
    # A count of arguments a command does not take: exit 2, why, its usage.
    for words, rest, why in ((["encipher"], ["a", "b"], "takes at most one input file"),
                             (["manifest"], ["x"], "unexpected argument x"),
                             (["stamp"], [], "give exactly one input file"),
                             (["tag"], ["a", "b"], "give exactly one file"),
                             (["site", "build"], ["c"],
                              "give a configuration file and an output folder"),
                             (["site", "check"], ["a", "b", "c"], "give one or two bootstrap URLs"),
                             (["site", "check"], ["a", "--max-time", "0"],
                              "--max-time takes a whole number from 1 to 86400, not '0'"),
                             (["site", "check"], ["a", "--max-size", "1e6"],
                              "--max-size takes a whole number from 1 to 9223372036854775807, "
                              "not '1e6'")):
        proc = tool.run(*(words + rest))
        err = proc.stderr.decode()
        check(proc.returncode == 2 and not proc.stdout
              and err.startswith("dlmtool %s: %s\nusage: dlmtool %s" % (" ".join(words), why,
                                                                        " ".join(words))),
              "dlmtool %s refuses %s" % (" ".join(words), rest), err)
    # Every byte value through a file and back, against standard input.
    plain = os.path.join(work, "plain.bin")
    write(plain, bytes(range(256)) * 2)
    through_pipe = tool.run("encipher", stdin=bytes(range(256)) * 2).stdout
    to_file = tool.run("encipher", plain, "-o", plain + ".enc")
    back = tool.run("decipher", plain + ".enc")
    with open(plain + ".enc", "rb") as f:
        check(to_file.returncode == 0 and f.read() == through_pipe
              and back.stdout == bytes(range(256)) * 2, "encipher and decipher files")
    proc = tool.run("reply", "s_url=x")
    check(proc.returncode == 1 and not proc.stdout and b"s_url" in proc.stderr,
          "reply refuses a field name", proc.stderr.decode())

    program = os.path.join(work, "polvex.exe")
    write(program, b"MZ" + b"\0" * 100)
    stamped = os.path.join(work, "dist", "polvexNAME.exe")
    os.makedirs(os.path.dirname(stamped))
    first = tool.run("stamp", program, "--id", "AB12", "--suffix", "eu", "-o", stamped)
    second = tool.run("stamp", stamped, "--id", "CD34", "-o", stamped)
    tag = tool.run("tag", stamped)
    check(first.returncode == 0 and second.returncode == 0 and tag.stdout == b"CD34\n"
          and os.path.getsize(stamped) == 102 + 35, "stamp twice, then tag",
          (first.stderr + second.stderr + tag.stdout).decode())

    conf = os.path.join(work, "bad.conf")
    write(conf, b"base http://h/\ndirectory dl/\n\nreply a.txt direct\nreply a.txt direct\n")
    proc = tool.run("site", "build", conf, os.path.join(work, "bad"))
    check(proc.returncode == 1 and proc.stderr.decode().startswith(
        "dlmtool site build: %s:5: reply path a.txt given twice (first on line 4)" % conf),
        "site build names the line of a mistake", proc.stderr.decode())


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--dlmtool", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    tool = Tool(os.path.abspath(args.dlmtool))
    served_sites(tool, args.work)
    hostile_sites(tool, args.work)
    other_commands(tool, args.work)
    print("%d passed, %d failed" % (len(PASSED), len(FAILED)))
    return 1 if FAILED else 0


if __name__ == "__main__":
    sys.exit(main())
