#!/usr/bin/env python3
"""Runs the real dlmtool against download sites served over HTTP on a free
local port: builds a site from a configuration, checks it with `site check`,
breaks it and checks again, and runs the other commands through the binary.
Prints one line per check and "N passed, M failed" at the end."""
import argparse
import base64
import functools
import http.server
import json
import pty
import struct
import os
import shutil
import socket
import ssl
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import test_server  # noqa: E402 - found through the path above
sys.path.insert(1, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from cryptography import x509  # noqa: E402
from signing_keys import SERVER_AUTH, TIME_STAMPING, make_signing_keys  # noqa: E402
from harness import TestCertificates  # noqa: E402 - likewise

FAILED = []
PASSED = []


def check(condition, what, detail=""):
    (PASSED if condition else FAILED).append(what)
    print(("ok   " if condition else "FAIL ") + what)
    if not condition and detail:
        print("     " + detail.replace("\n", "\n     "))


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


def pe_image(size=1024):
    """The headers that make a Windows program, as dlmtool reads them."""
    image = bytearray(b"p" * size)
    image[0:2] = b"MZ"
    image[0x3C:0x40] = struct.pack("<I", 0x40)
    image[0x40:0x44] = b"PE\0\0"
    image[0x54:0x56] = struct.pack("<H", 96 + 16 * 8)  # optional header size
    image[0x58:0x5A] = struct.pack("<H", 0x10B)        # PE32
    image[0x58 + 92:0x58 + 96] = struct.pack("<I", 16)  # data directories
    image[0x58 + 96:0x58 + 96 + 128] = bytes(128)
    return bytes(image)


def program_asking(tool, first, second, signer=None, issuer=None):
    """A build of the program that asks first, then second: its stored
    texts enciphered and laid out as the compiler does; with a signer, a
    build that checks the installer's signer and issuer."""
    def stored(text, align):
        data = tool.run("encipher", stdin=text.encode()).stdout + b"\0"
        return data + b"\0" * (-len(data) % align)
    pin = stored(signer, 4) + stored(issuer, 4) if signer else b""
    return pe_image() + (b"WinVerifyTrust\0" if signer else b"") + b"\0" * 4 + \
        stored(first, 32) + stored(second, 32) + stored("SOFTWARE\\Vendor\\Tag", 4) + pin


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
        check(sum(1 for l in out if l.startswith("ok   p_Vandel_")) == 22
              and "ok   p_Vandel_sys_ENG.exe %d bytes" % size in out, "22 packages are ok",
              proc.stdout.decode())
        check(out[-2] == "22 packages: 22 ok" and out[-1] == "verdict: ok (1 of 1 chain reaches a "
              "download directory; 22 of 22 packages fine)", "the summary and the verdict",
              "\n".join(out[-2:]))

        # The URLs a build of the program asks, read from it.
        program = os.path.join(work, "asking.exe")
        write(program, program_asking(tool, base + "dlm/primary.txt", base + "dlm/alt1.txt"))
        proc = tool.run("site", "check", "--program", program)
        out = lines_of(proc)
        check(proc.returncode == 0 and out[0] == "chain 1: %sdlm/primary.txt" % base
              and "chain 2: %sdlm/alt1.txt" % base in out, "site check --program",
              proc.stdout.decode()[:400] + proc.stderr.decode())

        # As the program: the second bootstrap URL is asked when the first
        # gives nothing, and HTTP redirections are followed as the program's
        # client does. Checked on its own, the dead first chain fails.
        proc = tool.run("site", "check", base + "dlm/absent.txt", base + "moved/dlm/alt1.txt",
                        "--as-program")
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

        # A directory without its final '/', written by other means: one
        # line that says why, not 22 manifests missing.
        write(os.path.join(site_root, "dlm", "noslash.txt"),
              tool.run("encipher", stdin=b"iFlag=0|sDlurl=" + base.encode() + b"dl").stdout)
        proc = tool.run("site", "check", base + "dlm/noslash.txt")
        check(proc.returncode == 1 and "FAIL sDlurl '%sdl' does not end with '/': the program would "
              "fetch %sdlp_Vandel_reg_CHT.CHT" % (base, base) in lines_of(proc)
              and sum("p_Vandel_" in l for l in lines_of(proc)) == 1,
              "site check of an sDlurl without '/'", proc.stdout.decode())

        # A reply is read only up to 22000 bytes: a field beyond is not seen.
        for pad, found in ((22000 - len("iFlag=0|sDlurl=%sdl/|x=" % base), True),
                           (22000 - len("iFlag=0|x=|"), False)):
            record = ("iFlag=0|sDlurl=%sdl/|x=" % base + "p" * pad) if found else \
                     ("iFlag=0|x=" + "p" * pad + "|sDlurl=%sdl/" % base)
            enciphered = tool.run("reply", *record.split("|")).stdout
            write(os.path.join(site_root, "dlm", "long.txt"), enciphered)
            proc = tool.run("site", "check", base + "dlm/long.txt", "--as-program")
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
        check(out[-2] == "22 packages: 19 ok, 3 failed" and out[-1].startswith("verdict: FAIL "),
              "the summary counts the failures", "\n".join(out[-2:]))
    finally:
        server.stop()

    # Nothing listens on that port any more.
    proc = tool.run("site", "check", "--as-program", base + "dlm/primary.txt")
    out = lines_of(proc)
    check(proc.returncode == 1 and "FAIL no download directory: both chains ended without one"
          in out and out[1].startswith("  %sdlm/primary.txt -> cannot be opened (" % base),
          "an unreachable server", proc.stdout.decode())


def release_order(tool, work):
    """Two releases published in the documented order: the new download
    directory first, the reply pages last, the old directory retired after.
    At every step the site passes, wholly on the old release or the new,
    and the partners' links, which every release shares, keep working: r2
    drops the partner CD34."""
    work = os.path.join(work, "releases")
    site_root = os.path.join(work, "served")
    os.makedirs(site_root)
    server = Server(site_root)
    try:
        replies = "reply dlm/primary.txt direct\nreply dlm/alt1.txt redirect dlm/primary.txt\n"
        program = os.path.join(work, "polvex.exe")
        write(program, program_asking(tool, server.base + "dlm/primary.txt", server.base + "dlm/alt1.txt"))
        built = {}
        for release, body, tags in (("r1", b"MZ release one", "tag AB12 eu\ntag CD34\n"),
                                    ("r2", b"MZ release two, larger", "tag AB12 eu\n")):
            write(os.path.join(work, release + ".exe"), body)
            conf = os.path.join(work, release + ".conf")
            write(conf, (config_text(server.base, release + ".exe", replies) + "program polvex.exe\n" +
                         tags).encode())
            built[release] = os.path.join(work, "out-" + release)
            proc = tool.run("site", "build", conf, built[release], "--release", release)
            check(proc.returncode == 0 and lines_of(proc)[-3:] == [
                "upload first: dl/%s/ (release %s)" % (release, release),
                "and the partner copies: dl/partners/ (whole: delete on the server any copy it "
                "no longer holds)",
                "then the reply pages: dlm/primary.txt dlm/alt1.txt"],
                "site build --release %s prints the upload order" % release, proc.stdout.decode())
        # A release folder of an earlier build is refused; the shared partner
        # folder is written whole, without the dropped partner's copy.
        proc = tool.run("site", "build", conf, built["r2"], "--release", "r2")
        check(proc.returncode == 1 and "the release folder %s already holds files"
              % os.path.join(built["r2"], "dl/r2/") in proc.stderr.decode(),
              "site build --release into a release folder that holds files: refused", proc.stderr.decode())
        again = os.path.join(work, "out-again")
        shutil.copytree(built["r1"], again)
        proc = tool.run("site", "build", conf, again, "--release", "r2")
        check(proc.returncode == 0 and sorted(os.listdir(os.path.join(again, "dl/partners"))) ==
              ["index.txt", "polvexAB12_eu.exe"],
              "site build: the partner folder is written whole, a dropped partner's copy removed",
              repr(os.listdir(os.path.join(again, "dl/partners"))))

        def served(step, release, size, *args):
            proc = tool.run("site", "check", *(args or (server.base + "dlm/primary.txt",
                                                        server.base + "dlm/alt1.txt")))
            out = lines_of(proc)
            check(proc.returncode == 0 and ("ok   chain 1 reaches %sdl/%s/" % (server.base, release) in out)
                  and "ok   p_Vandel_reg_ENG.exe %d bytes" % size in out and
                  "ok   ../partners/polvexAB12_eu.exe tag AB12_eu, not signed" in out,
                  "release order, %s: users on %s" % (step, release), proc.stdout.decode()[-600:])

        def upload(folder):
            shutil.copytree(os.path.join(built[folder[0]], folder[1]),
                            os.path.join(site_root, folder[1]), dirs_exist_ok=True)
        upload(("r1", "dl/r1"))
        upload(("r1", "dl/partners"))
        upload(("r1", "dlm"))
        served("first release", "r1", 14)
        upload(("r2", "dl/r2"))
        served("new directory uploaded", "r1", 14)
        # The documented check before the switch: the new first page under a
        # name no program asks, with the build the partners hand out.
        write(os.path.join(site_root, "dlm/next.txt"),
              open(os.path.join(built["r2"], "dlm/primary.txt"), "rb").read())
        served("checked before the switch", "r2", 22, server.base + "dlm/next.txt", "--program", program)
        upload(("r2", "dlm"))
        served("reply pages uploaded", "r2", 22)
        shutil.rmtree(os.path.join(site_root, "dl", "r1"))
        served("old directory retired", "r2", 22)
    finally:
        server.stop()


def tls_sites(tool, work):
    """A site built for an https base and served over TLS, behind a plain
    http bootstrap page: site check trusts a test root given with
    --ca-file only, refuses what the program refuses, and warns about the
    plain link."""
    certs = TestCertificates(os.path.join(work, "tls"))
    root_pem = certs.root("root")[0]
    certs.root("other-root")
    names = ["127.0.0.1", "localhost"]
    write(os.path.join(work, "small.exe"), b"MZ a small installer")
    site_root = os.path.join(work, "tls-root")
    os.makedirs(site_root)
    plain = Server(site_root)
    try:
        # what, the server's certificate, --ca-file, why the hop fails (None:
        # the check passes)
        for what, cert, ca_file, refusal in (
                ("a test root given with --ca-file", certs.server("good", "root", names),
                 root_pem, None),
                ("the system's roots only", certs.server("good", "root", names), None,
                 "unable to get local issuer certificate"),
                ("a certificate from another root", certs.server("other", "other-root", names),
                 root_pem, "unable to get local issuer certificate"),
                ("a certificate for another host", certs.server("elsewhere", "root",
                                                                ["wrong.example"]),
                 root_pem, "subject name matches target host name"),
                ("an expired certificate", certs.server("expired", "root", names, -30, -1),
                 root_pem, "certificate has expired")):
            secure = Server(site_root, tls=cert)
            try:
                replies = "reply dlm/primary.txt redirect dlm/hop.txt\nreply dlm/hop.txt direct\n"
                proc, built = build(tool, work, "tls-site", secure.base, "small.exe", replies)
                http_proc, http_built = build(tool, work, "http-site", plain.base, "small.exe",
                                              replies)
                hop = tool.run("decipher", os.path.join(built, "dlm", "primary.txt")).stdout
                check(proc.returncode == 0 and http_proc.returncode == 0
                      and hop == b"iFlag=1|sUrl=%sdlm/hop.txt" % secure.base.encode()
                      and sorted(os.listdir(os.path.join(built, "dl"))) ==
                      sorted(os.listdir(os.path.join(http_built, "dl"))),
                      "site build writes an https site as an http one", proc.stderr.decode())
                shutil.rmtree(site_root)
                shutil.copytree(built, site_root)
                ca = ["--ca-file", ca_file] if ca_file else []
                proc = tool.run("site", "check", plain.base + "dlm/primary.txt", *ca)
                out, err = lines_of(proc), proc.stderr.decode().splitlines()
                if refusal is None:
                    good = proc.returncode == 0 and "22 packages: 22 ok" in out and err == [
                        "warning: %sdlm/primary.txt is plain http: its reply can be replaced on "
                        "the way" % plain.base]
                else:
                    good = proc.returncode == 1 and any(
                        l.startswith("  %sdlm/hop.txt -> cannot be opened (" % secure.base)
                        and refusal in l for l in out)
                check(good, "site check over TLS: %s" % what,
                      proc.stdout.decode()[-600:] + proc.stderr.decode())
                if refusal is None:
                    # An https page moved to plain http fails, as in the program.
                    moved = "%sto-plain/%d/dlm/hop.txt" % (secure.base, plain.port)
                    proc = tool.run("site", "check", moved, *ca)
                    check(proc.returncode == 1 and "  %s -> HTTP 302, cannot be read (redirected "
                          "from https to %sdlm/hop.txt, which the program refuses)"
                          % (moved, plain.base) in lines_of(proc),
                          "site check refuses an https page moved to http",
                          proc.stdout.decode()[-600:])
            finally:
                secure.stop()
    finally:
        plain.stop()
    # Files an option names are read before the first request: nothing
    # listens on port 9, so a chain line would mean one was made.
    for option, path in (("--signer-ca-file", os.path.join(work, "none.pem")),
                         ("--signer-ca-file", os.path.join(work, "small.exe"))):
        proc = tool.run("site", "check", "http://127.0.0.1:9/", "--signer", "S", "--issuer", "I",
                        option, path)
        check(proc.returncode == 1 and not proc.stdout and path.encode() in proc.stderr
              and len(proc.stderr.splitlines()) == 1,
              "site check refuses %s %s before any request" % (option, os.path.basename(path)),
              proc.stdout.decode() + proc.stderr.decode())
    proc = tool.run("site", "check", "http://127.0.0.1:9/", "--ca-file", os.path.join(work, "none.pem"))
    check(proc.returncode == 1 and not proc.stdout and b"none.pem" in proc.stderr,
          "site check refuses a --ca-file it cannot read", proc.stderr.decode())


def hops(first, count, kind):
    """Reply lines: first -> h1.txt -> ... -> h<count>.txt (direct), each
    hop a redirect, or a raw record (which site build does not follow)."""
    names = [first] + ["dlm/h%d.txt" % i for i in range(1, count + 1)]
    if kind == "redirect":
        lines = ["reply %s redirect %s" % (a, b) for a, b in zip(names, names[1:])]
    else:
        lines = ["reply %s record iFlag=1|sUrl=@BASE@%s" % (a, b) for a, b in zip(names, names[1:])]
    return "\n".join(lines + ["reply %s direct" % names[-1]]) + "\n"


PRIMARY_OK = "reply dlm/primary.txt direct\n"
# Broken sites: (what, reply lines, site build's exit and message, the reply
# lines of the same site as site check finds it when built by other means
# (None: as given), site check's exit and the line it must print). @BASE@
# is the site's base URL; a site check message of None: not checked.
BROKEN_SITES = [
    ("a dead second bootstrap URL", PRIMARY_OK, 0, None, None,
     1, "FAIL chain 2 reaches no download directory: @BASE@dlm/alt1.txt is not a reply record (HTTP 404)"),
    ("a dead first bootstrap URL that falls back to a working second",
     "reply dlm/alt1.txt direct\n", 0, None, None,
     1, "FAIL chain 1 reaches no download directory: @BASE@dlm/primary.txt is not a reply record (HTTP 404)"),
    ("a redirect to a page the site does not have",
     PRIMARY_OK + "reply dlm/alt1.txt redirect dlm/gone.txt\n",
     1, "site.conf:8: redirect to dlm/gone.txt, which the site does not have",
     PRIMARY_OK + "reply dlm/alt1.txt record iFlag=1|sUrl=@BASE@dlm/gone.txt\n",
     1, "FAIL chain 2 reaches no download directory: @BASE@dlm/gone.txt is not a reply record (HTTP 404)"),
    ("a page redirecting to itself", PRIMARY_OK + "reply dlm/alt1.txt redirect dlm/alt1.txt\n",
     1, "site.conf:8: redirect loop: dlm/alt1.txt -> dlm/alt1.txt",
     PRIMARY_OK + "reply dlm/alt1.txt record iFlag=1|sUrl=@BASE@dlm/alt1.txt\n",
     1, "FAIL chain 2 reaches no download directory: redirect loop: @BASE@dlm/alt1.txt -> @BASE@dlm/alt1.txt"),
    ("a -> b -> a", PRIMARY_OK + "reply dlm/alt1.txt redirect dlm/b.txt\nreply dlm/b.txt redirect dlm/alt1.txt\n",
     1, "site.conf:8: redirect loop: dlm/alt1.txt -> dlm/b.txt -> dlm/alt1.txt",
     PRIMARY_OK + "reply dlm/alt1.txt record iFlag=1|sUrl=@BASE@dlm/b.txt\n"
     "reply dlm/b.txt record iFlag=1|sUrl=@BASE@dlm/alt1.txt\n",
     1, "FAIL chain 2 reaches no download directory: redirect loop: @BASE@dlm/alt1.txt -> @BASE@dlm/b.txt -> @BASE@dlm/alt1.txt"),
    ("a redirect to a manifest", PRIMARY_OK + "reply dlm/alt1.txt redirect dl/p_Vandel_reg_ENG.ENG\n",
     1, "site.conf:8: redirect to dl/p_Vandel_reg_ENG.ENG, a manifest, not a reply page",
     PRIMARY_OK + "reply dlm/alt1.txt record iFlag=1|sUrl=@BASE@dl/p_Vandel_reg_ENG.ENG\n",
     1, "FAIL chain 2 reaches no download directory: @BASE@dl/p_Vandel_reg_ENG.ENG is not a reply record (HTTP 200)"),
    ("a redirect to an installer", PRIMARY_OK + "reply dlm/alt1.txt redirect dl/p_Vandel_sys_ENG.exe\n",
     1, "site.conf:8: redirect to dl/p_Vandel_sys_ENG.exe, an installer, not a reply page",
     None, 0, None),
    ("a target with a leading slash", "reply dlm/alt1.txt direct\nreply dlm/primary.txt redirect /dlm/alt1.txt\n",
     1, "site.conf:8: redirect target '/dlm/alt1.txt' starts with '/': after base the URL would hold '//'",
     None, 0, None),
    ("21 redirections", "reply dlm/alt1.txt direct\n" + hops("dlm/primary.txt", 21, "redirect"),
     1, "site.conf:8: more than 20 redirections from dlm/primary.txt to dlm/h21.txt; the program follows at most 20",
     "reply dlm/alt1.txt direct\n" + hops("dlm/primary.txt", 21, "record"),
     1, "FAIL chain 1 reaches no download directory: more than 20 redirections; the program follows at most 20"),
    ("20 redirections", "reply dlm/alt1.txt direct\n" + hops("dlm/primary.txt", 20, "redirect"),
     0, None, None, 0, "ok   chain 1 reaches @BASE@dl/"),
    ("an sDlurl without '/'", PRIMARY_OK + "reply dlm/alt1.txt record iFlag=0|sDlurl=@BASE@dl\n",
     1, "site.conf:8: sDlurl '@BASE@dl' does not end with '/': the program would fetch @BASE@dlp_Vandel_reg_CHT.CHT",
     None, 0, None),
    ("a program that asks another site",
     PRIMARY_OK + "reply dlm/alt1.txt direct\nprogram @ELSEWHERE@\ntag AB\n",
     1, "site.conf:9: program @ELSEWHERE@ asks http://127.0.0.1:9/dlm/primary.txt, which is none of "
     "this site's reply pages (@BASE@ + dlm/primary.txt, dlm/alt1.txt)", None, 0, None),
    ("a redirect out of the site to a dead server",
     PRIMARY_OK + "reply dlm/alt1.txt redirect http://127.0.0.1:9/x.txt\n", 0, None, None,
     1, "FAIL chain 2 reaches no download directory: http://127.0.0.1:9/x.txt cannot be opened"),
]


def broken_sites(tool, work):
    """Each broken site of the table through site build and site check."""
    root = os.path.join(work, "broken")
    os.makedirs(root)
    server = Server(root)
    installer = os.path.join(work, "small.exe")
    write(installer, b"MZ a small installer")
    elsewhere = os.path.join(work, "elsewhere.exe")
    write(elsewhere, program_asking(tool, "http://127.0.0.1:9/dlm/primary.txt",
                                    "http://127.0.0.1:9/dlm/alt1.txt"))
    try:
        for number, (what, replies, build_exit, build_line, served, check_exit,
                     check_line) in enumerate(BROKEN_SITES):
            base = "%ss%d/" % (server.base, number)
            conf = os.path.join(work, "site.conf")
            replies = replies.replace("@ELSEWHERE@", elsewhere)
            build_line = build_line and build_line.replace("@ELSEWHERE@", elsewhere)
            write(conf, config_text(base, installer, replies.replace("@BASE@", base)).encode())
            proc = tool.run("site", "build", conf, os.path.join(root, "s%d" % number))
            err = proc.stderr.decode()
            check(proc.returncode == build_exit and (build_line is None or err.startswith(
                "dlmtool site build: %s:%s" % (conf, build_line[len("site.conf:"):].replace(
                    "@BASE@", base)))),
                "site build of %s exits %d" % (what, build_exit), err)
            if check_line is None:
                continue
            if served is not None:
                write(conf, config_text(base, installer, served.replace("@BASE@", base)).encode())
                tool.run("site", "build", conf, os.path.join(root, "s%d" % number))
            proc = tool.run("site", "check", base + "dlm/primary.txt", base + "dlm/alt1.txt")
            out = lines_of(proc)
            # The last line is the verdict, FAIL whenever the exit code is 1.
            check(proc.returncode == check_exit and check_line.replace("@BASE@", base) in out
                  and out[-1].startswith("verdict: FAIL " if check_exit else "verdict: ok "),
                  "site check of %s exits %d" % (what, check_exit), proc.stdout.decode()[-900:])
        json_reports(tool, server.base + "s0/")
    finally:
        server.stop()


def json_reports(tool, base):
    """--json tells what the text tells, one object per chain and package."""
    text = tool.run("site", "check", base + "dlm/primary.txt", base + "dlm/alt1.txt")
    proc = tool.run("site", "check", base + "dlm/primary.txt", base + "dlm/alt1.txt", "--json")
    try:
        report = json.loads(proc.stdout.decode())
    except ValueError as error:
        check(False, "site check --json writes JSON", str(error) + proc.stdout.decode()[:400])
        return
    packages = report["directories"][0]["packages"]
    check(proc.returncode == text.returncode == 1 and report["verdict"] == "fail"
          and [c["verdict"] for c in report["chains"]] == ["ok", "fail"]
          and report["chains"][1]["fetches"][0]["status"] == 404
          and len(packages) == 22 and all(p["verdict"] == "ok" and p["size"] == 20 for p in packages)
          and sum(1 for l in lines_of(text) if l.startswith("ok   p_Vandel_")) == 22
          and report["warnings"] == ["%sdlm/%s.txt is plain http: its reply can be replaced on "
                                     "the way" % (base, page) for page in ("primary", "alt1")]
          + ["%sdl/ is plain http: the manifests and installers can be replaced on the way" % base],
          "site check --json", proc.stdout.decode()[:900])


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


def other_commands(tool, work):
    """What only the binary shows: usage, exit codes, messages."""
    for command in (["reply"], ["manifest"], ["stamp"], ["tag"], ["site", "build"],
                    ["site", "check"], ["encipher"], ["decipher"], ["site"], []):
        proc = tool.run(*(command + ["--help"]))
        check(proc.returncode == 0 and proc.stdout.startswith(b"usage: dlmtool")
              and not proc.stderr, "%s --help" % " ".join(["dlmtool"] + command))
    # A count of arguments a command does not take: exit 2, why, where to
    # find the usage, in two lines.
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
              and err == "dlmtool %s: %s\nTry 'dlmtool %s --help'\n" % (" ".join(words), why,
                                                                        " ".join(words)),
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
    write(program, pe_image())
    stamped = os.path.join(work, "dist", "polvexNAME.exe")
    os.makedirs(os.path.dirname(stamped))
    first = tool.run("stamp", program, "--id", "AB12", "--suffix", "eu", "-o", stamped)
    second = tool.run("stamp", stamped, "--id", "CD34", "-o", stamped)
    tag = tool.run("tag", stamped)
    check(first.returncode == 0 and second.returncode == 0 and tag.stdout == b"CD34\n"
          and os.path.getsize(stamped) == 1024 + 35, "stamp twice, then tag",
          (first.stderr + second.stderr + tag.stdout).decode())

    new_conventions(tool, work, program)

    conf = os.path.join(work, "bad.conf")
    write(conf, b"base http://h/\ndirectory dl/\n\nreply a.txt direct\nreply a.txt direct\n")
    proc = tool.run("site", "build", conf, os.path.join(work, "bad"))
    check(proc.returncode == 1 and proc.stderr.decode().startswith(
        "dlmtool site build: %s:5: reply path a.txt given twice (first on line 4)" % conf),
        "site build names the line of a mistake", proc.stderr.decode())


def new_conventions(tool, work, program):
    """--version, --option=value, --output, -o -, tag and stamp refusals,
    info, suggestions and the progress line."""
    proc = tool.run("--version")
    check(proc.returncode == 0 and proc.stdout.startswith(b"dlmtool ") and not proc.stderr,
          "dlmtool --version", proc.stdout.decode())
    reply = tool.run("reply", "iFlag=0").stdout
    out = os.path.join(work, "r.txt")
    for args in (["--output=" + out], ["--output", out], ["-o", out]):
        os.path.exists(out) and os.remove(out)
        proc = tool.run("reply", "iFlag=0", *args)
        check(proc.returncode == 0 and open(out, "rb").read() == reply, "reply %s" % " ".join(args))
    proc = tool.run("reply", "iFlag=0", "-o", "-")
    check(proc.returncode == 0 and proc.stdout == reply and not os.path.exists("-"), "-o - writes standard output")
    proc = tool.run("stamp", program, "--id=AB-1", "--suffix=eu", "-o", "-")
    check(proc.returncode == 0 and proc.stdout[-35:].startswith(b"eu\0") and proc.stdout.endswith(b"AB-1" + b"\0" * 7 + b"DLID"),
          "stamp --id=ID --suffix=S -o -", proc.stderr.decode())
    for args, message in ((["stamp", program, "--id", ""], "identifier '' must be 1 to 11 letters, digits or '-'"),
                          (["stamp", program, "--id", "A_B"], "identifier 'A_B' must be"),
                          (["stamp", program, "--id", "AB", "--suffix", "e u"], "suffix 'e u' must be"),
                          (["stamp", os.path.join(work, "plain.bin"), "--id", "AB"], "is not a Windows program"),
                          (["tag", work], "is not a regular file"),
                          (["info", os.path.join(work, "plain.bin")], "is not a Windows program"),
                          (["stamp", program, "--id=AB", "--in-signature=yes"], "--in-signature takes no value"),
                          (["stamp", program, "--ib", "AB"], "unknown option --ib (did you mean '--id'?)"),
                          (["stmap"], "unknown command 'stmap' (did you mean 'stamp'?)"),
                          (["site", "check", "http://127.0.0.1:9/", "--signer="],
                           "--signer needs the signer's common name"),
                          (["site", "check", "127.0.0.1:9/boot/primary.txt"],
                           "bootstrap URL '127.0.0.1:9/boot/primary.txt' has no scheme"),
                          (["site", "check", "http://127.0.0.1:9/", "--signer-ca-file", program],
                           "--signer-ca-file goes with --signer")):
        proc = tool.run(*args)
        err = proc.stderr.decode()
        check(proc.returncode in (1, 2) and not proc.stdout and message in err.splitlines()[0],
              "%s refused: %s" % (" ".join(args[:1] + args[2:]), message), err)
    proc = tool.run("stmap")
    check(proc.stderr.decode().splitlines()[1:] == ["Try 'dlmtool --help'"],
          "an unknown command: one line, then where help is", proc.stderr.decode())
    # Binary output reaches a terminal only when -o - asks for it.
    for args, written in ((["reply", "iFlag=0"], False), (["stamp", program, "--id", "AB"], False),
                          (["encipher", program], False), (["reply", "iFlag=0", "-o", "-"], True)):
        leader, follower = pty.openpty()
        proc = subprocess.run([tool.path] + args, stdout=follower, stderr=subprocess.PIPE,
                              timeout=60)
        os.close(follower)
        shown = b""
        try:
            shown = os.read(leader, 1 << 16)
        except OSError:
            pass
        os.close(leader)
        check(proc.returncode == (0 if written else 2) and bool(shown) == written
              and (written or b"-o -" in proc.stderr),
              "%s on a terminal: %s" % (" ".join(args[:1] + args[2:]),
                                         "written" if written else "refused"), proc.stderr.decode())
    # News in the code page of the language told, or refused with its line.
    news = os.path.join(work, "news.txt")
    write(news, "first\nf\u00fcr alle\n".encode())
    proc = tool.run("manifest", "--installer", program, "--news", news, "--language", "DEU")
    check(proc.returncode == 0 and proc.stdout == b"1024\nfirst\nf\xfcr alle\n",
          "manifest --language DEU writes code page 1252", proc.stderr.decode())
    proc = tool.run("manifest", "--installer", program, "--news", news, "--language", "JAP")
    check(proc.returncode == 1 and not proc.stdout and proc.stderr.decode().startswith(
          "dlmtool manifest: %s:2: '\\xc3\\xbc' (U+00FC) cannot be written in code page 932" % news),
          "manifest --language JAP refuses what code page 932 cannot hold", proc.stderr.decode())
    write(news, b"n" * 22000)
    proc = tool.run("manifest", "--installer", program, "--news", news, "--language", "ENG")
    check(proc.returncode == 1 and b"the manifest would have 22006 bytes; the program reads 22000"
          in proc.stderr, "manifest --language refuses what the program would cut", proc.stderr.decode())
    proc = tool.run("manifest", "--installer", program, "--news", news)
    check(proc.returncode == 1 and not proc.stdout and b"the manifest would have 22006 bytes; the program "
          b"reads 22000" in proc.stderr, "manifest without --language refuses what the program would cut",
          proc.stderr.decode())
    # No trailer and a name without a tag: exit 1, nothing on standard output.
    proc = tool.run("tag", program)
    check(proc.returncode == 1 and not proc.stdout and b"would read no tag (from the file name)" in proc.stderr,
          "tag of a file that carries none", proc.stderr.decode())
    proc = tool.run("info", program)
    check(proc.returncode == 1 and b"stored texts: not found" in proc.stdout
          and b"size: 1024 bytes\n" in proc.stdout, "info of a program without stored texts",
          proc.stdout.decode())
    progress_line(tool, work)


def progress_line(tool, work):
    """A large installer copied into a site shows its progress on a terminal."""
    big = os.path.join(work, "big.exe")
    write(big, b"MZ" + b"b" * (40 << 20))
    conf = os.path.join(work, "big.conf")
    write(conf, config_text("http://h/", big, "reply r.txt direct\n").encode())
    leader, follower = pty.openpty()
    proc = subprocess.run([tool.path, "site", "build", conf, os.path.join(work, "big")],
                          stdout=subprocess.PIPE, stderr=follower, timeout=120)
    # Read while the terminal is still open: closing it drops what it holds.
    os.set_blocking(leader, False)
    shown = b""
    try:
        while True:
            shown += os.read(leader, 1 << 16)
    except OSError:
        pass
    os.close(follower)
    os.close(leader)
    check(proc.returncode == 0 and b"copying %s: 40 of 40 MiB" % big.encode() in shown
          and not tool.run("site", "build", conf, os.path.join(work, "big")).stderr,
          "a progress line on a terminal, none otherwise", shown.decode(errors="replace")[-300:])
    shutil.rmtree(os.path.join(work, "big"))
    os.remove(big)


def der_children(data):
    """The (tag, content) items of a DER text, one after another."""
    items, at = [], 0
    while at < len(data):
        tag, length, at = data[at], data[at + 1], at + 2
        if length & 0x80:
            count = length & 0x7F
            length, at = int.from_bytes(data[at:at + count], "big"), at + count
        items.append((tag, data[at:at + length]))
        at += length
    return items


class TimestampAuthority:
    """A time-stamping authority on loopback, signing with the authority
    given (file names in work): to an RFC 3161 request (osslsigncode -ts)
    the reply of openssl ts; to the legacy request (osslsigncode -t: the
    signature value inside a ContentInfo, in base64) a countersignature of
    that value made by openssl cms, in base64."""

    def __init__(self, work, authority):
        config = os.path.join(work, "tsa.cnf")
        write(config, ("[tsa]\ndefault_tsa = authority\n[authority]\nserial = %s\n"
                       "default_policy = 1.2.3.4.1\ndigests = sha256\nsigner_digest = sha256\n"
                       "ess_cert_id_alg = sha256\n" % os.path.join(work, "tsa-serial")).encode())
        write(os.path.join(work, "tsa-serial"), b"01\n")
        request = os.path.join(work, "timestamp-request.bin")
        signer = ["-signer", authority + ".pem", "-inkey", authority + ".key"]

        def answer(body, rfc3161):
            if rfc3161:
                write(request, body)
                command = ["openssl", "ts", "-reply", "-config", config, "-queryfile", request,
                           *signer, "-out", "-"]
            else:
                content = der_children(der_children(der_children(body)[0][1])[1][1])
                write(request, der_children(content[1][1])[0][1])
                command = ["openssl", "cms", "-sign", "-binary", "-nodetach", "-nosmimecap",
                           "-outform", "DER", "-md", "sha256", *signer, "-in", request]
            return subprocess.run(command, cwd=work, capture_output=True, check=True).stdout

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers["Content-Length"]))
                rfc3161 = self.headers["Content-Type"] == "application/timestamp-query"
                reply = answer(body, True) if rfc3161 else \
                    base64.b64encode(answer(base64.b64decode(body), False))
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply" if rfc3161
                                 else "application/octet-stream")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *args):
                pass
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def signer_sites(tool, work):
    """site check --signer against installers signed at test time: only the
    one signed by the name under the root given passes."""
    work = os.path.join(work, "signer")
    os.makedirs(work)
    name = "Polvex Test Signé"
    make_signing_keys(work, "root", [("right", name), ("other", name + " Ltd"),
                                     ("nul", name + "\0x"),
                                     ("twice", name, {"names": [name, name]}),
                                     ("server", name, {"usage": SERVER_AUTH}),
                                     ("expired", name, {"days": -3}), ("soon", name, {"days": 1}),
                                     ("tsa", "Polvex Test TSA", {"usage": TIME_STAMPING}),
                                     ("web-ca", "Polvex Web CA", {"ca": True, "usage": SERVER_AUTH}),
                                     ("under-web", name, {"issuer": "web-ca"})])
    make_signing_keys(work, "made-up-root", [("made-up-tsa", "Polvex Test TSA",
                                              {"usage": TIME_STAMPING})])
    make_signing_keys(work, "stranger-root", [("stranger", name)])
    make_signing_keys(work, "another-root", [("elsewhere", name)])
    roots = os.path.join(work, "roots.pem")
    with open(roots, "w") as out:
        for root in ("root", "another-root"):
            with open(os.path.join(work, root + ".pem")) as f:
                out.write(f.read())
    unsigned = os.path.join(work, "unsigned.exe")
    write(unsigned, pe_image(4096))

    def signed(leaf, source=unsigned, out=None, certs=None, stamp=()):
        out = out or os.path.join(work, leaf + ".exe")
        proc = subprocess.run(["osslsigncode", "sign", "-certs", certs or leaf + ".pem", "-key",
                               leaf + ".key", "-h", "sha256", *stamp, "-in", source, "-out", out],
                              cwd=work, capture_output=True)
        if proc.returncode != 0:
            sys.exit("osslsigncode: " + proc.stdout.decode() + proc.stderr.decode())
        return out
    right = signed("right")
    with open(right, "rb") as f:
        changed = bytearray(f.read())
    changed[0x300] ^= 1  # inside the signed image
    write(os.path.join(work, "changed.exe"), bytes(changed))
    for leaf in ("other", "stranger", "elsewhere", "nul", "twice", "server", "expired", "soon"):
        signed(leaf)
    with open(os.path.join(work, "under-web-chain.pem"), "w") as out:
        for cert in ("under-web", "web-ca"):
            with open(os.path.join(work, cert + ".pem")) as f:
                out.write(f.read())
    signed("under-web", certs="under-web-chain.pem")
    # Timestamps of both forms, by the authority under the root and by a
    # made-up one, from a small authority on loopback.
    for authority in ("tsa", "made-up-tsa"):
        stamps = TimestampAuthority(work, authority)
        signed("right", out=os.path.join(work, "rfc3161-%s.exe" % authority), stamp=["-ts", stamps.url])
        signed("right", out=os.path.join(work, "legacy-%s.exe" % authority), stamp=["-t", stamps.url])
        stamps.stop()
    with open(os.path.join(work, "expired.pem"), "rb") as f:
        expired_on = x509.load_pem_x509_certificate(f.read()).not_valid_after.strftime(
            "%Y-%m-%d %H:%M UTC")
    with open(os.path.join(work, "soon.pem"), "rb") as f:
        soon_on = x509.load_pem_x509_certificate(f.read()).not_valid_after.strftime(
            "%Y-%m-%d %H:%M UTC")
    site_root = os.path.join(work, "root-folder")
    os.makedirs(site_root)
    server = Server(site_root)
    try:
        rows = [("right.exe", "ok   p_Vandel_sys_ENG.exe %d bytes, signed by '%s'"
                 % (os.path.getsize(right), name)),
                ("unsigned.exe", "FAIL p_Vandel_sys_ENG.exe: installer not signed by '%s': "
                                 "it has no signature" % name),
                ("other.exe", "FAIL p_Vandel_sys_ENG.exe: installer not signed by '%s': "
                              "signed by '%s Ltd', not '%s' (one common name, no NUL)"
                              % (name, name, name)),
                ("elsewhere.exe", "FAIL p_Vandel_sys_ENG.exe: installer not signed by '%s': "
                                  "issued by 'another-root', not 'root' (one common name, no NUL)"
                                  % name),
                ("nul.exe", "FAIL p_Vandel_sys_ENG.exe: installer not signed by '%s': "
                            "signed by '', not '%s' (one common name, no NUL)" % (name, name)),
                ("twice.exe", "FAIL p_Vandel_sys_ENG.exe: installer not signed by '%s': "
                              "signed by '', not '%s' (one common name, no NUL)" % (name, name)),
                ("server.exe", "FAIL p_Vandel_sys_ENG.exe: installer not signed by '%s': the "
                               "signer's certificate does not allow code signing" % name),
                ("stranger.exe", "FAIL p_Vandel_sys_ENG.exe: installer not signed by '%s': "
                                 "its chain ends at no root in %s" % (name, roots)),
                ("changed.exe", "FAIL p_Vandel_sys_ENG.exe: installer not signed by '%s': the "
                                "image digest differs from the one its signature signs" % name),
                ("expired.exe", "FAIL p_Vandel_sys_ENG.exe: installer not signed by '%s': the "
                                "certificate of '%s' expired on %s" % (name, name, expired_on)),
                ("soon.exe", "ok   p_Vandel_sys_ENG.exe %d bytes, signed by '%s'"
                             % (os.path.getsize(right), name),
                 "warning: the certificate of '%s' expires on %s: sign the installers anew "
                 "before then\n" % (name, soon_on)),
                ("under-web.exe", "FAIL p_Vandel_sys_ENG.exe: installer not signed by '%s': the "
                                  "authority 'Polvex Web CA' above the signer's certificate does not "
                                  "allow code signing (its extended key usage)" % name),
                ("rfc3161-tsa.exe", "ok   p_Vandel_sys_ENG.exe %d bytes, signed by '%s'"
                                    % (os.path.getsize(os.path.join(work, "rfc3161-tsa.exe")), name)),
                ("legacy-tsa.exe", "ok   p_Vandel_sys_ENG.exe %d bytes, signed by '%s'"
                                   % (os.path.getsize(os.path.join(work, "legacy-tsa.exe")), name)),
                ("rfc3161-made-up-tsa.exe", "FAIL p_Vandel_sys_ENG.exe: installer not signed by '%s': "
                                            "its timestamp (RFC 3161): its chain ends at no root in %s"
                                            % (name, roots)),
                ("legacy-made-up-tsa.exe", "FAIL p_Vandel_sys_ENG.exe: installer not signed by '%s': "
                                           "its timestamp (legacy): its chain ends at no root in %s"
                                           % (name, roots))]
        for installer, expected, *warned in rows:
            proc, built = build(tool, work, "site-" + installer, server.base, installer,
                                "reply dlm/primary.txt direct\n")
            shutil.rmtree(site_root)
            shutil.copytree(built, site_root)
            proc = tool.run("site", "check", server.base + "dlm/primary.txt", "--signer", name,
                            "--issuer", "root", "--signer-ca-file", roots)
            out = proc.stdout.decode("utf-8", "replace")
            shown = [line for line in out.splitlines() if "p_Vandel_sys_ENG.exe" in line]
            expected = expected.replace("é", "\\xc3\\xa9")
            warnings = proc.stderr.decode("utf-8", "replace").replace("é", "\\xc3\\xa9")
            check(shown == [expected] and proc.returncode == (1 if expected.startswith("FAIL") else 0)
                  and (not warned or warned[0].replace("é", "\\xc3\\xa9") in warnings),
                  "site check --signer, " + installer,
                  "exit %d: %r %s" % (proc.returncode, shown, warnings))
        pinned_sites(tool, work, server, name, roots)
        # An installer of 100 MiB, mostly zeros (sparse until signed), for
        # one package: its signer is checked as a small one's is, from the
        # one fetch that measures it, and --max-size bounds that fetch.
        big_unsigned = os.path.join(work, "big-unsigned.exe")
        with open(big_unsigned, "wb") as f:
            f.write(pe_image(4096))
            f.truncate(100 << 20)
        big = signed("right", big_unsigned, os.path.join(work, "big.exe"))
        os.remove(big_unsigned)
        proc, built = build(tool, work, "site-big", server.base, "right.exe",
                            "reply dlm/primary.txt direct\npackage p_Vandel_sys_ENG %s\n" % big)
        shutil.rmtree(site_root)
        shutil.copytree(built, site_root, copy_function=os.link)
        for limit, expected in ((None, "ok   p_Vandel_sys_ENG.exe %d bytes, signed by '%s'"
                                 % (os.path.getsize(big), name)),
                                ("50000000", "FAIL p_Vandel_sys_ENG.exe: installer cannot be fetched "
                                 "(larger than the limit of 50000000 bytes (--max-size))")):
            started = time.monotonic()
            proc = tool.run("site", "check", server.base + "dlm/primary.txt", "--signer", name,
                            "--issuer", "root", "--signer-ca-file", roots,
                            *(["--max-size", limit] if limit else []))
            took = time.monotonic() - started
            out = proc.stdout.decode("utf-8", "replace")
            shown = [line for line in out.splitlines() if "p_Vandel_sys_ENG.exe" in line]
            check(shown == [expected.replace("é", "\\xc3\\xa9")]
                  and proc.returncode == (1 if limit else 0),
                  "site check --signer of a 100 MiB installer%s (%.1f s)"
                  % (", --max-size " + limit if limit else "", took), "exit %d: %r" % (proc.returncode, shown))
        shutil.rmtree(built)
        os.remove(big)
    finally:
        server.stop()


def pinned_sites(tool, work, server, name, roots):
    """The pin travels with the build: site check --program holds every
    installer to the signer and issuer it stores, and site build with that
    program refuses an installer the users' copies would refuse."""
    site_root = os.path.join(work, "root-folder")
    program = os.path.join(work, "pinned.exe")
    write(program, program_asking(tool, server.base + "dlm/primary.txt", server.base + "dlm/alt1.txt",
                                  name, "root"))
    replies = "reply dlm/primary.txt direct\nreply dlm/alt1.txt direct\n"
    for installer, code, shown in (("right.exe", 0, "ok   p_Vandel_sys_ENG.exe %d bytes, signed by '%s'"
                                    % (os.path.getsize(os.path.join(work, "right.exe")), name)),
                                   ("other.exe", 1, "FAIL p_Vandel_sys_ENG.exe: installer not signed by "
                                    "'%s': signed by '%s Ltd', not '%s' (one common name, no NUL)"
                                    % (name, name, name))):
        proc, built = build(tool, work, "pinned-" + installer, server.base, installer, replies)
        shutil.rmtree(site_root)
        shutil.copytree(built, site_root)
        proc = tool.run("site", "check", "--program", program, "--signer-ca-file", roots)
        out = proc.stdout.decode("utf-8", "replace").replace("\\xc3\\xa9", "é").splitlines()
        check(proc.returncode == code and shown in out, "site check --program with a pin, " + installer,
              "exit %d: %s" % (proc.returncode, proc.stdout.decode()[-400:]))
    proc = tool.run("site", "check", "--program", program, "--signer", name + " Ltd")
    err = proc.stderr.decode("utf-8", "replace").replace("\\xc3\\xa9", "é").splitlines()
    check(proc.returncode == 2 and err[0] == "dlmtool site check: --signer '%s Ltd' differs from '%s', "
          "which %s pins: leave --signer out" % (name, name, program),
          "site check --program with another --signer: a usage mistake", repr(err))
    for installer, code, expected in (
            ("right.exe", 0, ""),
            ("other.exe", 1, "installer %s is not signed as %s requires (signer '%s', issuer 'root'): "
             "signed by '%s Ltd', not '%s' (one common name, no NUL)"
             % (os.path.join(work, "other.exe"), program, name, name, name)),
            ("under-web.exe", 1, "installer %s is not signed as %s requires (signer '%s', issuer 'root'): "
             "the authority 'Polvex Web CA' above the signer's certificate does not allow code signing "
             "(its extended key usage)" % (os.path.join(work, "under-web.exe"), program, name))):
        conf = os.path.join(work, "pinned-build.conf")
        write(conf, (config_text(server.base, installer, replies) + "program pinned.exe\ntag AB12\n").encode())
        out = os.path.join(work, "pinned-build-" + installer)
        proc = tool.run("site", "build", conf, out, "--signer-ca-file", roots)
        err = proc.stderr.decode("utf-8", "replace").replace("\\xc3\\xa9", "é")
        check(proc.returncode == code and (expected in err if expected else err == "")
              and os.path.exists(out) == (code == 0),
              "site build with a pinned program, " + installer, err)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--dlmtool", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    tool = Tool(os.path.abspath(args.dlmtool))
    served_sites(tool, args.work)
    broken_sites(tool, args.work)
    hostile_sites(tool, args.work)
    tls_sites(tool, args.work)
    release_order(tool, args.work)
    other_commands(tool, args.work)
    signer_sites(tool, args.work)
    print("%d passed, %d failed" % (len(PASSED), len(FAILED)))
    return 1 if FAILED else 0


if __name__ == "__main__":
    sys.exit(main())
