#!/usr/bin/env python3
"""Whole-program runs of polvex.exe under wine against a download site built
with `dlmtool site build` and served by nginx on 127.0.0.1:47800.

Each scenario checks what a user sees (the status box text byte for byte,
the OK button), the files in its scratch folder, the registry and the exit
code. Run one scenario with --scenario NAME, or all of them. The last line
reads "N passed, M failed"."""
import argparse
import contextlib
import filecmp
import http.client
import os
import shutil
import socket
import subprocess
import sys
import threading
import time
import traceback
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(1, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import harness as h  # noqa: E402
import site_config  # noqa: E402
from signing_keys import SERVER_AUTH, make_crl, make_signing_keys  # noqa: E402

NEWS = ["Polvex end-to-end news one", "Polvex end-to-end news two",
        "Polvex end-to-end news three"]


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


class Context:
    def __init__(self, paths, name):
        self.paths = paths
        self.name = name
        self.root = os.path.join(paths.work, name)
        shutil.rmtree(self.root, ignore_errors=True)
        os.makedirs(self.root)
        self.driver = h.Driver(paths)
        self.nginx = h.Nginx(self.root)
        self.runs = 0
        self.programs = []
        # A 32-bit program sees HKLM\SOFTWARE as the 32-bit view of a
        # 64-bit prefix, as on 64-bit Windows, where a 64-bit driver reads the
        # 64-bit one; a 32-bit prefix has one view, as 32-bit Windows has.
        self.wow64 = (h.wine_loader(paths.polvex).endswith("/wine")
                      and h.prefix_arch(paths.prefix) == "win64")
        self.tag_key = self.key(h.TAG_KEY)
        self.uninstall_key = self.key(h.UNINSTALL_KEY)

    def key(self, path):
        if self.wow64:
            return path.replace("SOFTWARE\\", "SOFTWARE\\WOW6432Node\\", 1)
        return path

    def build_site(self, **layout):
        """Builds a site into this scenario's folder; returns its root."""
        site = os.path.join(self.root, "site")
        shutil.rmtree(site, ignore_errors=True)
        layout.setdefault("installer", self.paths.installer)
        layout.setdefault("news", NEWS)
        conf = os.path.join(self.root, "site.conf")
        with open(conf, "w") as f:
            f.write(site_config.render(**layout))
        proc = subprocess.run([self.paths.dlmtool, "site", "build", conf, site],
                              capture_output=True, text=True)
        check(proc.returncode == 0, "site build failed: " + proc.stderr)
        return site

    def serve(self, site, rate_limited=None):
        self.nginx.start(site, rate_limited)

    def start(self, exe_name="polvex.exe", exe_path=None, env=None, scratch=None, exe_dir=None):
        """Starts the program in a scratch folder of its own (or the one
        given, with the program kept outside it, in exe_dir if given)."""
        self.runs += 1
        if not scratch:
            scratch = os.path.join(self.root, "run%d" % self.runs)
        elif not exe_dir:
            exe_dir = os.path.join(self.root, "bin%d" % self.runs)
        program = h.ProgramRun(self.paths, scratch, exe_name, exe_path, env, exe_dir)
        self.programs.append(program)
        return program

    def choose(self, code=None):
        """Waits for the chooser, checks a language if asked, presses OK."""
        check(self.driver.wait(h.CHOOSER, h.START_SECONDS), "the language chooser did not open")
        if code:
            check(self.driver.click(h.CHOOSER, h.LANGUAGE_BUTTON[code]), "could not check " + code)
            time.sleep(0.3)
        check(self.driver.click(h.CHOOSER, h.IDOK), "could not press OK in the chooser")

    def expect_error(self, run, text, shot=None, seconds=60):
        """The window shows text with OK; pressing OK ends the run with 0."""
        d = self.driver
        check(d.wait_text(h.WINDOW, h.IDC_STATUS, text, seconds),
              "status box is %r, not %r" % (d.text(h.WINDOW, h.IDC_STATUS), text))
        if shot:
            h.screenshot(self.paths, shot)
        check(d.visible(h.WINDOW, h.IDOK), "the OK button is not visible")
        check(run.running(), "the program ended without OK")
        check(d.click(h.WINDOW, h.IDOK), "could not press OK")
        code = run.exit_code(timeout=30)
        check(code == 0, "exit code %r after OK" % code)

    def expect_success(self, run, installer, seconds=60, file_name="pinstall.exe"):
        """The run downloads, starts the installer from its scratch folder
        and ends with 0 within seconds; file_name is what the installer file
        is called by then. (The text "Preparing to run installation..." shows
        only for the moment between the download's end and the start of the
        installer, too short to read reliably from outside.)"""
        code = run.exit_code(timeout=seconds)
        check(code == 0, "exit code %r" % code)
        check(filecmp.cmp(run.file(file_name), installer, shallow=False),
              file_name + " differs from the served installer")
        # The installer creates its marker, then writes it whole (its last
        # line is the arguments') and closes it: read it once it is whole.
        marker = run.file("installer-ran.txt")
        content = ""
        for _ in range(100):
            if os.path.exists(marker):
                with open(marker, encoding="latin-1") as f:
                    content = f.read()
                if "\narguments=" in content and content.endswith("\n"):
                    break
            time.sleep(0.1)
        check(os.path.exists(marker), "the installer did not run")
        check("pinstall.exe" in content.lower(), "marker names another program: " + content)
        # The installer's ANSI calls spell what the code page cannot with "?".
        scratch_win = os.path.basename(run.scratch).encode("cp1252", "replace").decode(
            "cp1252").lower()
        check(scratch_win in content.lower().split("directory=")[1].splitlines()[0],
              "the installer ran elsewhere: " + content)

    def asked(self):
        return [request[0] for request in self.nginx.requests()]

    def close(self):
        # A failed scenario may leave its program running, holding the
        # one-copy mutex that the next scenario's program would meet.
        for program in self.programs:
            if program.running():
                program.exit_code(timeout=0)
        self.nginx.stop()


def installer_path(ctx, site, prefix, code):
    return os.path.join(site, "dl", prefix + code + ".exe")


# Scenarios ---------------------------------------------------------------

def scenario_whole_run(ctx):
    d = ctx.driver
    site = ctx.build_site()
    ctx.serve(site)
    # A previous installation, and its uninstall entry.
    old = os.path.join(ctx.root, "OldApp")
    os.makedirs(old)
    d.reg_delete(ctx.tag_key)
    check(d.reg_set(ctx.uninstall_key, "UninstallString",
                    '"Z:%s\\uninst.exe" /S' % old.replace("/", "\\")), "registry not writable")
    run = ctx.start()
    ctx.choose()
    h.screenshot(ctx.paths, "whole-run-launching")
    ctx.expect_success(run, installer_path(ctx, site, "p_Vandel_sys_", "ENG"))
    check(ctx.asked()[:3] == ["/dlm/primary.txt", "/dl/p_Vandel_sys_ENG.ENG",
                              "/dl/p_Vandel_sys_ENG.exe"], "asked %r" % ctx.asked())
    check(d.reg_get(ctx.tag_key) == "", "tag key holds %r" % d.reg_get(ctx.tag_key))
    check(os.path.isdir(old + ".old") and not os.path.exists(old), "OldApp not renamed .old")

    # Again with the ".old" name taken: ".old.old".
    os.makedirs(old)
    run = ctx.start()
    ctx.choose()
    ctx.expect_success(run, installer_path(ctx, site, "p_Vandel_sys_", "ENG"))
    check(os.path.isdir(old + ".old.old") and not os.path.exists(old),
          "OldApp not renamed .old.old")
    d.reg_delete(ctx.uninstall_key)


def scenario_regular_package(ctx):
    if not ctx.paths.version_dll:
        raise Failure("no version-resourced stand-in DLL given")
    system32 = os.path.join(ctx.paths.prefix, "drive_c", "windows", "system32")
    placed = []
    try:
        for name in ("mfc42.dll", "msvcrt40.dll"):
            target = os.path.join(system32, name)
            if os.path.exists(target):
                shutil.move(target, target + ".e2e-saved")
            shutil.copyfile(ctx.paths.version_dll, target)
            placed.append(target)
        site = ctx.build_site()
        ctx.serve(site)
        # Wine would load its own msvcrt40 without a version; take ours.
        run = ctx.start(env={"WINEDLLOVERRIDES": "mscoree,mshtml=;msvcrt40=n"})
        ctx.choose()
        ctx.expect_success(run, installer_path(ctx, site, "p_Vandel_reg_", "ENG"))
        check("/dl/p_Vandel_reg_ENG.exe" in ctx.asked(), "asked %r" % ctx.asked())
    finally:
        for target in placed:
            os.remove(target)
            if os.path.exists(target + ".e2e-saved"):
                shutil.move(target + ".e2e-saved", target)


def scenario_german(ctx):
    d = ctx.driver
    site = ctx.build_site()
    ctx.serve(site)
    german = {"LC_ALL": "de_DE.UTF-8", "LANG": "de_DE.UTF-8"}
    run = ctx.start(env=german)
    check(d.wait(h.CHOOSER, h.START_SECONDS), "no chooser")
    check(d.checked(h.CHOOSER, h.LANGUAGE_BUTTON["DEU"]), "Deutsch is not checked")
    check(not d.checked(h.CHOOSER, h.LANGUAGE_BUTTON["ENG"]), "English is checked too")
    ctx.choose()
    ctx.expect_success(run, installer_path(ctx, site, "p_Vandel_sys_", "DEU"))
    check("/dl/p_Vandel_sys_DEU.exe" in ctx.asked(), "asked %r" % ctx.asked())

    run = ctx.start(env=german)
    ctx.choose("SWE")
    ctx.expect_success(run, installer_path(ctx, site, "p_Vandel_sys_", "SWE"))
    check("/dl/p_Vandel_sys_SWE.exe" in ctx.asked(), "asked %r" % ctx.asked())


def scenario_chooser_dismissed(ctx):
    d = ctx.driver
    site = ctx.build_site()
    ctx.serve(site)
    d.reg_delete(ctx.tag_key)
    run = ctx.start()
    check(d.wait(h.CHOOSER, h.START_SECONDS), "no chooser")
    h.screenshot(ctx.paths, "chooser")
    check(d.command(h.CHOOSER, h.IDCANCEL), "could not send escape")
    code = run.exit_code(timeout=30)
    check(code == 0, "exit code %r" % code)
    check(ctx.asked() == [], "fetched %r" % ctx.asked())
    check(sorted(os.listdir(run.scratch)) == ["bin"], "wrote %r" % os.listdir(run.scratch))
    check(d.reg_get(ctx.tag_key) is None, "the tag was recorded")


def scenario_chains(ctx):
    # The first bootstrap answers an error page: the second resolves.
    site = ctx.build_site(primary="garbage", alternate="direct")
    ctx.serve(site)
    run = ctx.start()
    ctx.choose()
    ctx.expect_success(run, installer_path(ctx, site, "p_Vandel_sys_", "ENG"))
    check(ctx.asked()[:2] == ["/dlm/primary.txt", "/dlm/alt1.txt"], "asked %r" % ctx.asked())
    ctx.nginx.stop()

    # A chain of redirections.
    site = ctx.build_site(primary="redirect 3")
    ctx.serve(site)
    run = ctx.start()
    ctx.choose()
    ctx.expect_success(run, installer_path(ctx, site, "p_Vandel_sys_", "ENG"))
    check(ctx.asked()[:4] == ["/dlm/primary.txt", "/dlm/hop1.txt", "/dlm/hop2.txt",
                              "/dlm/hop3.txt"], "asked %r" % ctx.asked())
    ctx.nginx.stop()

    # A redirect loop ends at the bound, on both bootstrap URLs.
    site = ctx.build_site(primary="loop", alternate="loop")
    ctx.serve(site)
    run = ctx.start()
    ctx.choose()
    ctx.expect_error(run, h.TEXT_CONNECT)
    check(len(ctx.asked()) == 42, "asked %d pages, not 21 per chain" % len(ctx.asked()))


def scenario_nothing_listens(ctx):
    run = ctx.start()
    ctx.choose()
    ctx.expect_error(run, h.TEXT_CONNECT, shot="connect-error")


def scenario_bad_manifest(ctx):
    site = ctx.build_site()
    manifest = os.path.join(site, "dl", "p_Vandel_sys_ENG.ENG")
    cases = [("missing", None), ("no line end", b"1000"), ("size 0", b"0\nnews\n")]
    for what, body in cases:
        if body is None:
            os.remove(manifest)
        else:
            with open(manifest, "wb") as f:
                f.write(body)
        ctx.serve(site)
        run = ctx.start()
        ctx.choose()
        try:
            ctx.expect_error(run, h.TEXT_PARSE)
        except Failure as e:
            raise Failure("%s manifest: %s" % (what, e))
        check(not any(p.endswith(".exe") for p in ctx.asked()), "installer fetched")
        ctx.nginx.stop()


def scenario_installer_missing(ctx):
    site = ctx.build_site()
    os.remove(installer_path(ctx, site, "p_Vandel_sys_", "ENG"))
    ctx.serve(site)
    run = ctx.start()
    ctx.choose()
    ctx.expect_error(run, h.TEXT_LAUNCH)
    with open(run.file("pinstall.exe"), "rb") as f:
        body = f.read()
    check(b"404" in body and b"<html>" in body.lower(), "the error page was not stored")


def stamp(ctx, identifier, suffix):
    """A copy of the program stamped with dlmtool; returns its path."""
    stamped = os.path.join(ctx.root, "stamped.exe")
    proc = subprocess.run([ctx.paths.dlmtool, "stamp", ctx.paths.polvex, "--id", identifier,
                           "--suffix", suffix, "-o", stamped], capture_output=True, text=True)
    check(proc.returncode == 0, "stamp failed: " + proc.stderr)
    return stamped


def scenario_tags(ctx):
    d = ctx.driver
    site = ctx.build_site()
    ctx.serve(site)
    stamped = stamp(ctx, "E2E1", "eu")
    for exe_name, exe_path, tag in (("polvex.exe", stamped, "E2E1_eu"),
                                    ("POLVEX123.exe", None, "123")):
        d.reg_delete(ctx.tag_key)
        run = ctx.start(exe_name, exe_path)
        ctx.choose()
        ctx.expect_success(run, installer_path(ctx, site, "p_Vandel_sys_", "ENG"))
        check(d.reg_get(ctx.tag_key) == tag, "%s recorded %r, not %r"
              % (exe_name, d.reg_get(ctx.tag_key), tag))


def signed_program(ctx):
    """The program signed with a throwaway root's code-signing certificate."""
    make_signing_keys(ctx.root, "root", [("leaf", "E2E Signer")], "E2E Root")
    signed = os.path.join(ctx.root, "signed.exe")
    proc = subprocess.run(["osslsigncode", "sign", "-certs", "leaf.pem", "-key", "leaf.key",
                           "-h", "sha256", "-in", ctx.paths.polvex, "-out", signed],
                          cwd=ctx.root, capture_output=True, text=True)
    check(proc.returncode == 0, "osslsigncode: " + proc.stdout + proc.stderr)
    return signed


def scenario_signed_tags(ctx):
    """A signed program's partner copies, one site per placement of the
    trailer: each copy stays signed, site check says so, and a run of it
    records its tag."""
    d = ctx.driver
    signed = signed_program(ctx)
    for placement in ("table", "signature"):
        # The program asks both its bootstrap pages of this site: site build
        # checks that they lead into it.
        site = ctx.build_site(alternate="direct",
                              extra=["mirror " + site_config.MIRROR, "program " + signed,
                                     "tag SIG1 " + placement, "placement " + placement])
        ctx.serve(site)
        copy = os.path.join(site, "dl", "partners", "polvexSIG1_%s.exe" % placement)
        proc = subprocess.run([ctx.paths.dlmtool, "site", "check", site_config.BASE
                               + site_config.PRIMARY], capture_output=True, text=True)
        expected = ("ok   partners/polvexSIG1_%s.exe tag SIG1_%s, signed, the image digest "
                    "matches the signature" % (placement, placement))
        check(proc.returncode == 0 and expected in proc.stdout.splitlines(),
              "site check of the %s copy: %s" % (placement, proc.stdout[-400:]))
        d.reg_delete(ctx.tag_key)
        # Under a name that carries no tag: the tag comes from the trailer.
        run = ctx.start("polvex.exe", copy)
        ctx.choose()
        ctx.expect_success(run, installer_path(ctx, site, "p_Vandel_sys_", "ENG"))
        check(d.reg_get(ctx.tag_key) == "SIG1_" + placement, "the %s copy recorded %r"
              % (placement, d.reg_get(ctx.tag_key)))
        ctx.nginx.stop()


def signed_installer(ctx, leaf, name, carried=None):
    """The demo installer signed with leaf's key, as name.exe; the
    signature carries the certificate of carried (an issuer) too when
    given."""
    out = os.path.join(ctx.root, name + ".exe")
    certs = leaf + ".pem"
    if carried:
        certs = leaf + "-chain.pem"
        with open(os.path.join(ctx.root, certs), "w") as chain:
            for part in (leaf, carried):
                with open(os.path.join(ctx.root, part + ".pem")) as f:
                    chain.write(f.read())
    proc = subprocess.run(["osslsigncode", "sign", "-certs", certs, "-key", leaf + ".key",
                           "-h", "sha256", "-in", ctx.paths.installer, "-out", out],
                          cwd=ctx.root, capture_output=True, text=True)
    check(proc.returncode == 0, "osslsigncode: " + proc.stdout + proc.stderr)
    return out


def with_bytes_after_signature(signed, out, extra):
    """signed with extra inside its certificate entry, after the signature
    (the entry's length and the table's size enlarged): the image digest
    leaves the table out, so the signature still holds."""
    with open(signed, "rb") as f:
        image = bytearray(f.read())
    optional = int.from_bytes(image[0x3C:0x40], "little") + 24
    directory = optional + (144 if image[optional + 1] == 2 else 128)  # PE32+, PE32
    table = int.from_bytes(image[directory:directory + 4], "little")
    for at in (directory + 4, table):
        length = int.from_bytes(image[at:at + 4], "little") + len(extra)
        image[at:at + 4] = length.to_bytes(4, "little")
    with open(out, "wb") as f:
        f.write(image + extra)
    return out


def trickle(server):
    """Answers the first request on server with a list one byte every 2 s;
    those after it wait in the backlog, unanswered."""
    try:
        connection, _ = server.accept()
        connection.recv(4096)
        connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 99999\r\n\r\n")
        while True:
            connection.sendall(b"0")
            time.sleep(2)
    except OSError:
        pass


# The bound of the revocation check, and the margin for the rest of the
# launch (its one-second pause, the installer's start) on a slow machine.
REVOCATION_BOUND_SECONDS = 15
LAUNCH_MARGIN_SECONDS = 20


def expect_start_within_revocation_bound(ctx, run):
    """The installer starts within the revocation bound and a margin after
    it was asked, and the window answers meanwhile."""
    d = ctx.driver
    while "/dl/p_Vandel_sys_ENG.exe" not in ctx.asked() and run.running():
        time.sleep(0.2)
    asked, answered, hung = time.time(), 0, 0
    while not os.path.exists(run.file("installer-ran.txt")) and time.time() - asked < 120:
        if d.answers(h.WINDOW):
            answered += 1
        elif d.wait(h.WINDOW, 0):  # no answer, though the window is there
            hung += 1
    seconds = time.time() - asked
    print("started %.1f s after it was asked; the window answered %d probes, %d not"
          % (seconds, answered, hung))
    check(seconds <= REVOCATION_BOUND_SECONDS + LAUNCH_MARGIN_SECONDS,
          "started %.0f s after it was asked" % seconds)
    check(answered and not hung, "the window did not answer while the installer was checked")


def scenario_installer_signer(ctx):
    """The program built with a signer and its issuer to check: an installer
    signed by that name, issued by that issuer under a root trusted in the
    prefix, starts and the previous installation is retired; every other
    installer gives the launch error, is deleted, is not started, and the
    previous installation stays."""
    d = ctx.driver
    check(ctx.paths.signer_polvex and ctx.paths.signer and ctx.paths.issuer
          and ctx.paths.trust_root, "--signer-polvex, --signer, --issuer and --trust-root are needed")
    signer = ctx.paths.signer
    # The trusted root's name is this run's own: the prefix's store keeps
    # the roots of earlier runs, and wine looks an issuer up by its name.
    # The issuer's certificate travels in each signature. The revocation
    # lists are served from the site, under this run's own folder, as wine
    # keeps those it fetched; a revocation server that is down, and one
    # that takes the connection and never answers, get ports of their own.
    run_id = time.time_ns()
    crl_url = "http://127.0.0.1:%d/crl/%d/" % (h.SITE_PORT, run_id)
    silent = socket.socket()
    silent.bind(("127.0.0.1", 0))
    silent.listen(8)
    # Three silent list servers and a trickling one, for one certificate.
    stalling = [socket.socket() for _ in range(4)]
    for server in stalling:
        server.bind(("127.0.0.1", 0))
        server.listen(8)
    threading.Thread(target=trickle, args=(stalling[3],), daemon=True).start()
    by_issuer = {"issuer": "issuer", "crl": crl_url + "issuer.crl"}
    make_signing_keys(ctx.root, "trusted-root", [
        ("issuer", ctx.paths.issuer, {"ca": True, "crl": crl_url + "root.crl"}),
        ("another-issuer", "Polvex Other Issuer", {"ca": True}),
        ("revoked-issuer", ctx.paths.issuer, {"ca": True, "crl": crl_url + "root.crl"}),
        ("right", signer, by_issuer),
        ("other", signer + " Ltd", by_issuer),
        ("elsewhere", signer, {"issuer": "another-issuer"}),
        ("nul", signer + "\0x", by_issuer),
        ("twice", signer, dict(by_issuer, names=[signer, signer])),
        ("server", signer, dict(by_issuer, usage=SERVER_AUTH)),
        ("revoked", signer, by_issuer),
        ("under-revoked", signer, {"issuer": "revoked-issuer"}),
        ("server-down", signer, dict(by_issuer, crl="http://127.0.0.1:%d/x.crl" % h.free_port())),
        ("server-silent", signer, dict(by_issuer, crl="http://127.0.0.1:%d/x.crl"
                                       % silent.getsockname()[1])),
        ("servers-stalling", signer, dict(by_issuer, crl=[
            "http://127.0.0.1:%d/x.crl" % server.getsockname()[1] for server in stalling]))],
        "Polvex Trusted Root %d" % run_id)
    crls = os.path.join(ctx.root, "crl")
    os.makedirs(crls, exist_ok=True)
    make_crl(ctx.root, "issuer", ["revoked"], os.path.join(crls, "issuer.crl"))
    make_crl(ctx.root, "trusted-root", ["revoked-issuer"], os.path.join(crls, "root.crl"))

    def serve(installer):
        site = ctx.build_site(installer=installer)
        shutil.copytree(crls, os.path.join(site, "crl", str(run_id)))
        ctx.serve(site)

    # Named as the issuer: only the trust in the root is missing.
    make_signing_keys(ctx.root, "untrusted-root", [("stranger", signer)], ctx.paths.issuer)
    trusted = os.path.join(ctx.root, "trusted-root.der")
    h.trust_root(ctx.paths, trusted)
    right = signed_installer(ctx, "right", "right-signer", "issuer")
    changed = os.path.join(ctx.root, "changed.exe")
    with open(right, "rb") as f:
        image = bytearray(f.read())
    image[0x400] ^= 0x01  # in the first section, which the signature covers
    with open(changed, "wb") as f:
        f.write(image)
    old = os.path.join(ctx.root, "OldApp")
    os.makedirs(old)
    check(d.reg_set(ctx.uninstall_key, "UninstallString",
                    '"Z:%s\\uninst.exe" /S' % old.replace("/", "\\")), "registry not writable")
    refused, starts, starts_within_bound = False, True, "within bound"
    served = []
    cases = [("unsigned", ctx.paths.installer, refused),
             ("signed by another name", signed_installer(ctx, "other", "other-signer", "issuer"),
              refused),
             ("same name under another issuer",
              signed_installer(ctx, "elsewhere", "elsewhere", "another-issuer"), refused),
             ("NUL in the name", signed_installer(ctx, "nul", "nul", "issuer"), refused),
             ("two common names", signed_installer(ctx, "twice", "twice", "issuer"), refused),
             ("no code-signing usage", signed_installer(ctx, "server", "server", "issuer"),
              refused),
             ("root not trusted", signed_installer(ctx, "stranger", "untrusted-root"), refused),
             ("root not trusted, carried in the signature",
              signed_installer(ctx, "stranger", "untrusted-root-carried", "untrusted-root"),
              refused),
             ("one byte changed after signing", changed, refused),
             ("revoked", signed_installer(ctx, "revoked", "revoked", "issuer"), refused),
             ("issuer revoked",
              signed_installer(ctx, "under-revoked", "under-revoked", "revoked-issuer"), refused),
             # Revocation fails soft: only a revocation known refuses.
             ("revocation server down",
              signed_installer(ctx, "server-down", "server-down", "issuer"), starts),
             ("revocation server silent",
              signed_installer(ctx, "server-silent", "server-silent", "issuer"), starts),
             ("revocation servers silent, one trickling",
              signed_installer(ctx, "servers-stalling", "servers-stalling", "issuer"),
              starts_within_bound),
             # No signature covers the table: bytes there refuse the file.
             ("bytes after the signature",
              with_bytes_after_signature(right, os.path.join(ctx.root, "after.exe"),
                                         b"X" * 272), refused),
             ("right signer, not revoked", right, starts)]
    for what, installer, outcome in cases:
        serve(installer)
        started = time.time()
        run = ctx.start(exe_path=ctx.paths.signer_polvex)
        ctx.choose()
        try:
            if outcome is starts_within_bound:
                expect_start_within_revocation_bound(ctx, run)
            if outcome in (starts, starts_within_bound):
                ctx.expect_success(run, installer)
                print("%s: started after %.0f s" % (what, time.time() - started))
                check(os.path.isdir(old + ".old") and not os.path.exists(old), "not retired")
                os.rename(old + ".old", old)
                continue
            ctx.expect_error(run, h.TEXT_LAUNCH)
            check("/dl/p_Vandel_sys_ENG.exe" in ctx.asked(), "asked %r" % ctx.asked())
            check(not os.path.exists(run.file("pinstall.exe")), "pinstall.exe left")
            check(not os.path.exists(run.file("installer-ran.txt")), "the installer ran")
            check(os.path.isdir(old) and not os.path.exists(old + ".old"), "retired")
        except Failure as e:
            raise Failure("%s: %s" % (what, e))
        finally:
            served += ctx.asked()
            ctx.nginx.stop()
    # Wine keeps a list it fetched: each is asked once, for the first row
    # that gets as far as the revocation check.
    check(all("/crl/%d/%s.crl" % (run_id, name) in served for name in ("issuer", "root")),
          "the revocation lists were not asked: %r" % served)
    for server in [silent] + stalling:
        server.close()
    d.reg_delete(ctx.uninstall_key)
    check_nothing_unchecked_left(ctx)


def check_nothing_unchecked_left(ctx):
    """The signer's build leaves no unchecked file, whoever holds it: a
    refused installer that a reader holds goes once the reader lets go, and
    a download killed midway leaves nothing."""
    scratch, stop = os.path.join(ctx.root, "held"), os.path.join(ctx.root, "stop-holding")
    os.makedirs(scratch)
    ctx.serve(ctx.build_site())
    reader = subprocess.Popen([h.wine_loader(ctx.paths.swapper), ctx.paths.swapper, "hold",
                               "pinstall.exe", "Z:" + stop.replace("/", "\\")], cwd=scratch,
                              env=h.wine_env(ctx.paths), stdout=subprocess.PIPE, text=True)
    try:
        run = ctx.start(exe_path=ctx.paths.signer_polvex, scratch=scratch)
        ctx.choose()
        ctx.expect_error(run, h.TEXT_LAUNCH)
    finally:
        open(stop, "w").close()
        held = reader.communicate(timeout=60)[0]
        ctx.nginx.stop()
    print("the reader: %r" % held)
    check("held" in held, "the reader never got the file")
    check(gone_within(run.file("pinstall.exe"), 20), "the refused file stayed after its reader")
    # Killed while the body arrives: the system deletes the file as it
    # closes the dead program's handle.
    ctx.serve(ctx.build_site(installer=big_installer(ctx)), rate_limited="50k")
    run = ctx.start(exe_path=ctx.paths.signer_polvex)
    ctx.choose()
    partial = run.file("pinstall.exe")
    for _ in range(600):
        if os.path.exists(partial) and os.path.getsize(partial) > 0:
            break
        time.sleep(0.1)
    check(os.path.exists(partial) and os.path.getsize(partial) > 0, "no download began")
    run.proc.kill()
    run.proc.wait()
    ctx.nginx.stop()
    check(gone_within(partial, 20), "the killed download left pinstall.exe")


def gone_within(path, seconds):
    deadline = time.time() + seconds
    while os.path.exists(path) and time.time() < deadline:
        time.sleep(0.1)
    return not os.path.exists(path)


def big_installer(ctx):
    """The demo installer padded to 1 MiB."""
    big = os.path.join(ctx.root, "big-installer.exe")
    with open(big, "wb") as f:
        f.write(demo_installer(ctx).ljust(1024 * 1024, b"\0"))
    return big


def scenario_folders_outside_code_page(ctx):
    """A user whose folders are named in Cyrillic on a Western system (code
    page 1252): a stamped copy kept and run in "Загрузки" records its
    trailer's tag, starts the installer there, and retires a previous
    installation in "Программы"."""
    d = ctx.driver
    site = ctx.build_site()
    ctx.serve(site)
    stamped = stamp(ctx, "E2E1", "ru")
    old = os.path.join(ctx.root, "Программы", "Полвекс")
    os.makedirs(old)
    command = '"Z:%s\\uninst.exe" /S' % old.replace("/", "\\")
    # Stored through wine's own reg.exe, which takes its arguments in wide
    # characters (the window driver's are ANSI).
    reg = subprocess.run([h.wine_loader(ctx.paths.wdrive), "reg", "add",
                          "HKLM\\" + ctx.uninstall_key, "/v", "UninstallString", "/d", command,
                          "/f"], env=h.wine_env(ctx.paths), capture_output=True, timeout=60)
    check(reg.returncode == 0, "registry not writable: %r" % reg.stderr)
    d.reg_delete(ctx.tag_key)
    german = {"LC_ALL": "de_DE.UTF-8", "LANG": "de_DE.UTF-8"}
    run = ctx.start(exe_path=stamped, env=german, scratch=os.path.join(ctx.root, "Загрузки"),
                    exe_dir=os.path.join(ctx.root, "Программы"))
    ctx.choose()
    ctx.expect_success(run, installer_path(ctx, site, "p_Vandel_sys_", "DEU"))
    check(d.reg_get(ctx.tag_key) == "E2E1_ru", "tag key holds %r" % d.reg_get(ctx.tag_key))
    check(os.path.isdir(old + ".old") and not os.path.exists(old), "Полвекс not renamed .old")
    d.reg_delete(ctx.uninstall_key)


# System libraries that are not known DLLs, so that Windows would look for
# them in the program's folder first if it imported them by name.
PLANTED_NAMES = ("version", "winmm", "wininet", "wintrust", "crypt32")
# Wine's own user32.dll imports version.dll by name: told to give native
# libraries first, wine loads a planted version.dll into every program at
# its start, before any of the program's code runs (Windows' user32.dll
# does not import it). There only calls of its functions count.
LOADED_BY_WINE = ("version.dll",)


def scenario_planted_libraries(ctx):
    """Libraries named as system libraries, dropped beside the program and
    into the folder it runs in, with wine told to search for those names
    as Windows does (wine prefers its built-in copies otherwise): a whole
    run succeeds, and the program loads none of them (but the one wine
    loads for it) and calls none of their functions."""
    if not ctx.paths.planted_dll:
        raise Failure("no planted library given")
    site = ctx.build_site()
    ctx.serve(site)
    scratch = os.path.join(ctx.root, "Downloads")
    exe_dir = os.path.join(ctx.root, "program")
    for folder in (exe_dir, scratch):
        os.makedirs(folder)
        for name in PLANTED_NAMES:
            shutil.copyfile(ctx.paths.planted_dll, os.path.join(folder, name + ".dll"))
    native_first = "mscoree,mshtml=;%s=n,b" % ",".join(PLANTED_NAMES)
    run = ctx.start(env={"WINEDLLOVERRIDES": native_first}, scratch=scratch, exe_dir=exe_dir)
    try:
        ctx.choose()
        ctx.expect_success(run, installer_path(ctx, site, "p_Vandel_sys_", "ENG"))
        failed_run = None
    except Failure as e:  # told after what the program took, which may be why
        failed_run = e
    # What the program did with them (the demo installer, run from the
    # same folder, is a fixture). A library records under the name it was
    # loaded by (WININET.dll for an import so spelt), which Linux tells
    # from wininet.dll.
    taken = []
    for record in sorted(os.path.join(folder, name) for folder in (exe_dir, scratch)
                         for name in os.listdir(folder) if name.lower().endswith(".dll.loaded")):
        dll = os.path.basename(record)[:-len(".loaded")].lower()
        with open(record, encoding="latin-1") as f:
            lines = [line for line in f.read().splitlines()
                     if line.lower().split("\\")[-1].startswith("polvex.exe")]
        taken += ["%s: %s" % (os.path.relpath(record, ctx.root), line) for line in lines
                  if " called " in line or dll not in LOADED_BY_WINE]
    check(not taken, "the program took planted libraries: %r" % taken)
    if failed_run:
        raise failed_run


def scenario_during_download(ctx):
    d = ctx.driver
    big = os.path.join(ctx.root, "big-installer.exe")
    with open(ctx.paths.installer, "rb") as f:
        program = f.read()
    with open(big, "wb") as f:  # the demo installer, padded to 3 MiB
        f.write(program + b"\0" * (3 * 1024 * 1024 - len(program)))
    site = ctx.build_site(installer=big)
    ctx.serve(site, rate_limited="300k")
    run = ctx.start()
    ctx.choose()
    check(d.wait_text(h.WINDOW, h.IDC_STATUS, "\n".join(NEWS) + "\n", 30),
          "the news lines never showed: %r" % d.text(h.WINDOW, h.IDC_STATUS))
    rotations = ["\n".join(NEWS[i:] + NEWS[:i]) + "\n" for i in range(len(NEWS))]
    shot1 = h.screenshot(ctx.paths, "download-in-progress")
    seen = [d.text(h.WINDOW, h.IDC_STATUS)]
    for action in ("escape", "close", "maximize"):
        if action == "escape":
            d.command(h.WINDOW, h.IDCANCEL)
        else:
            d.syscommand(h.WINDOW, action)
        for _ in range(3):
            time.sleep(0.25)
            seen.append(d.text(h.WINDOW, h.IDC_STATUS))
        check(d.wait(h.WINDOW, 1), "the window went away on " + action)
        check(run.running(), "the program ended on " + action)
    check(all(text in rotations for text in seen), "not the news lines: %r" % seen)
    check(len(set(seen)) >= 2, "the news lines did not rotate: %r" % seen)
    shot2 = h.screenshot(ctx.paths, "download-later")
    if shot1 and shot2:
        check(not filecmp.cmp(shot1, shot2, shallow=False), "the two screenshots are equal")
    ctx.expect_success(run, big)


def scenario_second_copy(ctx):
    d = ctx.driver
    site = ctx.build_site()
    ctx.serve(site, rate_limited="100k")
    first = ctx.start()
    check(d.wait(h.CHOOSER, h.START_SECONDS), "no chooser")
    second = ctx.start()
    code = second.exit_code(timeout=30)
    check(code == 0, "second copy exit code %r" % code)
    check(d.command(h.CHOOSER, h.IDCANCEL), "could not dismiss the chooser")
    check(first.exit_code(timeout=30) == 0, "first copy did not end with 0")
    check(sorted(os.listdir(second.scratch)) == ["bin"], "second copy wrote files")


def scenario_proxy(ctx):
    # Every request, the second bootstrap URL's dotless "localhost" among
    # them, goes through the proxy that the system's Internet settings name.
    site = ctx.build_site(primary="garbage", alternate="redirect 1")
    ctx.serve(site)
    with h.Proxy(ctx.root) as proxy:
        with h.system_proxy(ctx.paths, proxy.address):
            check(h.reg_value(ctx.paths, h.INTERNET_SETTINGS, "ProxyOverride") is None,
                  "a bypass list is set")
            run = ctx.start()
            ctx.choose()
            ctx.expect_success(run, installer_path(ctx, site, "p_Vandel_sys_", "ENG"))
        # The proxy logs a request before it passes it on, nginx only once
        # it has answered it: the site's log is whole once nginx has ended.
        ctx.nginx.stop()
        check(ctx.asked()[:5] == ["/dlm/primary.txt", "/dlm/alt1.txt", "/dlm/althop1.txt",
                                  "/dl/p_Vandel_sys_ENG.ENG", "/dl/p_Vandel_sys_ENG.exe"],
              "asked %r" % ctx.asked())
        carried = proxy.urls()
        check(sorted(urllib.parse.urlsplit(url).path for url in carried) == sorted(ctx.asked()),
              "the site served %r, the proxy carried %r" % (ctx.asked(), carried))
        check("http://localhost:%d/dlm/alt1.txt" % h.SITE_PORT in carried,
              "the localhost page went past the proxy: %r" % carried)

        # The vendor's check goes through the proxy of the usual variable.
        ctx.serve(site)
        env = dict(h.own_env(), http_proxy="http://" + proxy.address)
        proc = subprocess.run([ctx.paths.dlmtool, "site", "check", SITE + "dlm/alt1.txt"],
                              env=env, capture_output=True, text=True, timeout=120)
        check(proc.returncode == 0, "site check failed: " + proc.stdout + proc.stderr)
        ctx.nginx.stop()
        checked = ctx.asked()
        carried = proxy.urls()[len(carried):]
        check(checked and sorted(urllib.parse.urlsplit(url).path for url in carried) == sorted(checked),
              "site check: the site served %r, the proxy carried %r" % (checked, carried))


def scenario_https(ctx):
    """Fetches over TLS, the certificate checked: nginx serves the site on
    further loopback ports with server certificates from test roots made
    with openssl, one root trusted in the prefix only. The bootstrap URLs
    (build settings) stay plain http and lead to https pages, so that one
    build runs every case; an https bootstrap URL goes through the same
    page fetcher as these https pages (scripts/demo.sh --https runs one).
    Each case: the site's replies, what the user sees, and what each
    server served."""
    certs = h.TestCertificates(os.path.join(ctx.paths.work, "tls"))
    certs.root("trusted-root")
    certs.root("untrusted-root")
    h.trust_root(ctx.paths, certs.root("trusted-root")[1])
    names = ["127.0.0.1", "localhost"]
    good, untrusted, wrong_host, expired = (h.TlsServer(h.free_port(), *cert) for cert in (
        certs.server("good", "trusted-root", names),
        certs.server("untrusted", "untrusted-root", names),
        certs.server("wrong-host", "trusted-root", ["wrong.example"]),
        certs.server("expired", "trusted-root", names, start_days=-30, end_days=-1)))
    site = os.path.join(ctx.root, "site")
    plain = "http://127.0.0.1:%d/" % h.SITE_PORT
    # Pages that the https server moved to plain http: one reply, and the
    # installers of a download directory whose manifests stay https.
    good.locations = ("location = /dlm/to-plain.txt { return 302 %sdlm/plain.txt; }\n"
                      "location = /dlm/via-plain.txt { return 302 %sdlm/back.txt; }\n"
                      "location ~ ^/plain-dl/(.*\\.exe)$ { return 302 %sdl/$1; }\n"
                      "location /plain-dl/ { alias %s/dl/; }" % (plain, plain, plain, site))
    # The plain server sends that page on to https.
    back = "location = /dlm/back.txt { return 302 %sdlm/hop2.txt; }" % good.url()
    served = {"http": h.SITE_PORT, "good": good.port, "untrusted": untrusted.port,
              "wrong_host": wrong_host.port, "expired": expired.port}
    manifest, installer = "/dl/p_Vandel_sys_ENG.ENG", "/dl/p_Vandel_sys_ENG.exe"
    cases = [
        # name, reply lines, the user's outcome (None: the installer ran),
        # {server: the paths it served, in order}; a chain that fails goes on
        # to the second bootstrap URL, which these sites do not have (404)
        ("whole run over https",
         ["reply dlm/primary.txt redirect dlm/hop1.txt",
          "reply dlm/hop1.txt redirect %sdlm/hop2.txt" % good.url("localhost"),
          "reply dlm/hop2.txt direct"],
         None, {"http": ["/dlm/primary.txt"],
                "good": ["/dlm/hop1.txt", "/dlm/hop2.txt", manifest, installer]}),
        ("untrusted root: the next bootstrap URL",
         ["reply dlm/primary.txt redirect %sdlm/hop1.txt" % untrusted.url(),
          "reply dlm/hop1.txt direct", "reply dlm/alt1.txt direct"],
         None, {"http": ["/dlm/primary.txt", "/dlm/alt1.txt"], "good": [manifest, installer],
                "untrusted": []}),
        ("wrong host name: the manifest fails",
         ["reply dlm/primary.txt record iFlag=0|sDlurl=%sdl/" % wrong_host.url()],
         h.TEXT_PARSE, {"http": ["/dlm/primary.txt"], "wrong_host": []}),
        ("expired certificate",
         ["reply dlm/primary.txt redirect %sdlm/hop1.txt" % expired.url(),
          "reply dlm/hop1.txt direct"],
         h.TEXT_CONNECT, {"http": ["/dlm/primary.txt", "/dlm/alt1.txt"], "expired": []}),
        # Wine's WinInet would follow the redirection and fetch the plain
        # page (served below): the program refuses it before it is asked.
        ("https reply redirected to http",
         ["reply dlm/primary.txt redirect %sdlm/to-plain.txt" % good.url("localhost"),
          "reply dlm/plain.txt direct"],
         h.TEXT_CONNECT, {"http": ["/dlm/primary.txt", "/dlm/alt1.txt"],
                          "good": ["/dlm/to-plain.txt"]}),
        ("https installer redirected to http",
         ["reply dlm/primary.txt record iFlag=0|sDlurl=%splain-dl/" % good.url()],
         h.TEXT_NETWORK, {"http": ["/dlm/primary.txt"],
                          "good": ["/plain-dl/p_Vandel_sys_ENG.ENG",
                                   "/plain-dl/p_Vandel_sys_ENG.exe"]}),
        ("https -> http -> https",
         ["reply dlm/primary.txt redirect %sdlm/via-plain.txt" % good.url("localhost"),
          "reply dlm/hop2.txt direct"],
         h.TEXT_CONNECT, {"http": ["/dlm/primary.txt", "/dlm/alt1.txt"],
                          "good": ["/dlm/via-plain.txt"]}),
    ]
    for name, replies, outcome, expected in cases:
        site = ctx.build_site(primary=None, extra=replies, base=good.url())
        ctx.nginx.start(site, tls=[good, untrusted, wrong_host, expired], plain_locations=back)
        try:
            run = ctx.start()
            ctx.choose()
            if outcome is None:
                ctx.expect_success(run, installer_path(ctx, site, "p_Vandel_sys_", "ENG"))
            else:
                ctx.expect_error(run, outcome)
                check(not os.path.exists(run.file("installer-ran.txt")), "the installer ran")
                check(not os.path.exists(run.file("pinstall.exe"))
                      or os.path.getsize(run.file("pinstall.exe")) == 0, "an installer was stored")
            for server, paths in expected.items():
                asked = [r[0] for r in ctx.nginx.requests(served[server])]
                check(asked == paths, "the %s server served %r, not %r" % (server, asked, paths))
        except Failure as e:
            raise Failure("%s: %s" % (name, e))
        finally:
            ctx.nginx.stop()


# Hostile servers and faults ----------------------------------------------

SITE = "http://127.0.0.1:%d/" % h.SITE_PORT
DIRECTORY = SITE + "dl/"
HOP = SITE + "dlm/hop.txt"
ANSWER = "iFlag=0|sDlurl=" + DIRECTORY
DELETED = "deleted"


def enciphered(ctx, text):
    return subprocess.run([ctx.paths.dlmtool, "encipher"], input=text.encode("latin-1"),
                          capture_output=True, check=True).stdout


@contextlib.contextmanager
def hostile_server(ctx, reply=ANSWER, manifest=None, installer=None, **installer_options):
    """The test web server on the site port for the body of a with
    statement, with reply as the first bootstrap reply (the second bootstrap
    URL gets a 404 page), and the English package: by default the demo
    installer, a real program (a file that merely starts with "MZ" is
    handed by wine to its 16-bit host, and refused by 64-bit Windows)."""
    if manifest is None:
        manifest = b"%d\nHostile test\n" % len(demo_installer(ctx))
    if installer is None:
        installer = demo_installer(ctx)
    with h.TestServer(ctx.root) as server:
        server.set("/dlm/primary.txt", enciphered(ctx, reply))
        server.set("/dl/p_Vandel_sys_ENG.ENG", manifest)
        server.set("/dl/p_Vandel_sys_ENG.exe", installer, **installer_options)
        yield server


def run_to_error(ctx, text, scratch=None, seconds=60, shot=None):
    run = ctx.start(scratch=scratch)
    ctx.choose()
    ctx.expect_error(run, text, shot=shot, seconds=seconds)
    return run


def run_to_stored_installer(ctx):
    """A run that stores the hostile server's default installer and ends
    with 0."""
    run = ctx.start()
    ctx.choose()
    code = run.exit_code(timeout=60)
    check(code == 0, "exit code %r" % code)
    with open(run.file("pinstall.exe"), "rb") as f:
        check(f.read() == demo_installer(ctx), "pinstall.exe is not the installer")


def check_wrote_at_most_installer(run):
    extra = set(os.listdir(run.scratch)) - {"bin", "pinstall.exe"}
    check(not extra, "wrote %r" % sorted(extra))


def scenario_dropped_connection(ctx):
    # A server that announces 3 MiB of installer and closes after 64 KiB.
    with hostile_server(ctx, manifest=b"3145728\n" + "\n".join(NEWS).encode() + b"\n",
                        installer=b"M" * 65536, mode="short", length=3145728):
        run_to_error(ctx, h.TEXT_NETWORK, shot="network-error")


def scenario_hostile_long_replies(ctx):
    # 30000 bytes with the fields at the front: read as its first 22000.
    record = "iFlag=0|sDlurl=%s|pad=" % DIRECTORY
    with hostile_server(ctx, record + "y" * (30000 - len(record))) as server:
        run_to_stored_installer(ctx)
        # 30000 bytes with the fields past the first 22000: no answer.
        pad = "pad=" + "y" * 22100 + "|"
        server.set("/dlm/primary.txt", enciphered(ctx, pad + ANSWER))
        run = run_to_error(ctx, h.TEXT_CONNECT)
        check(not os.path.exists(run.file("pinstall.exe")), "an installer was fetched")


def scenario_hostile_reply_fields(ctx):
    cases = [
        # Line feeds that double an sUrl past the URL buffer: absent.
        ("doubled sUrl", "iFlag=1|sUrl=" + SITE + "\n" * 11000),
        # A download directory URL too long to join with a file name.
        ("3000-character sDlurl", "iFlag=0|sDlurl=" + SITE + "d" * (3000 - len(SITE) - 1) + "/"),
        # Flags outside the 32-bit range are malformed.
        ("iFlag 99999999999", "iFlag=99999999999|sDlurl=" + DIRECTORY),
        ("iFlag -2147483649", "iFlag=-2147483649|sDlurl=" + DIRECTORY),
        # URLs the program takes as absent, though the page they name would
        # answer: a header line smuggled into the request, another scheme.
        ("header line in sUrl", "iFlag=1|sUrl=" + HOP + "\nX-Injected: yes"),
        ("space in sUrl", "iFlag=1|sUrl=" + HOP + " HTTP/1.0"),
        ("ftp sUrl", "iFlag=1|sUrl=ftp" + HOP[4:]),
        ("file sDlurl", "iFlag=0|sDlurl=file:///C:/windows/"),
    ]
    with hostile_server(ctx, "iFlag=1") as server:
        server.set("/dlm/hop.txt", enciphered(ctx, ANSWER))
        for what, reply in cases:
            server.set("/dlm/primary.txt", enciphered(ctx, reply))
            try:
                run = run_to_error(ctx, h.TEXT_CONNECT)
            except Failure as e:
                raise Failure("%s: %s" % (what, e))
            check(not os.path.exists(run.file("pinstall.exe")), what + ": an installer was fetched")
            check_wrote_at_most_installer(run)
        check("/dlm/hop.txt" not in served_paths(), "a URL the program must not use was asked")
        # A scheme in capitals is still http: the chain goes on to the
        # installer, and the run ends.
        server.set("/dlm/primary.txt", enciphered(ctx, "iFlag=1|sUrl=HTTP" + HOP[4:]))
        run_to_stored_installer(ctx)
        asked = served_paths()
        check("/dlm/hop.txt" in asked and "/dl/p_Vandel_sys_ENG.exe" in asked,
              "HTTP:// was not followed: asked %r" % asked)


def scenario_hostile_bodies(ctx):
    # Without a Content-Length only the manifest's size says where the
    # installer ends: short and long bodies fail, and nothing past the size
    # is written. With one, the length rules, whatever the manifest says.
    # The build that checks the signer leaves no file it has not checked.
    program = demo_installer(ctx)
    size = len(program)
    cases = [
        # what, mode, body, bytes written on failure (None: success;
        # DELETED: the signer's build, no file left), the server's options
        ("no length, short", "nolength", program[:size // 2], size // 2, {}),
        ("no length, exact", "nolength", program, None, {}),
        ("no length, long", "nolength", program + b"X" * (4 << 20), size, {}),
        ("length beyond the manifest", "full", program + b"\0" * 5000, None, {}),
        ("signer's build, no length, short", "nolength", program[:size // 2], DELETED, {}),
        ("signer's build, no length, long", "nolength", program + b"X" * 4096, DELETED, {}),
        ("signer's build, length one byte more", "short", program, DELETED,
         {"length": size + 1}),
    ]
    served = os.path.join(ctx.root, "served.exe")
    with hostile_server(ctx, manifest=b"%d\nHostile bodies\n" % size) as server:
        for what, mode, body, written, options in cases:
            server.set("/dl/p_Vandel_sys_ENG.exe", body, mode=mode, **options)
            try:
                if written is None:
                    with open(served, "wb") as f:
                        f.write(body)
                    run = ctx.start()
                    ctx.choose()
                    ctx.expect_success(run, served)
                    continue
                if written is DELETED:
                    run = ctx.start(exe_path=ctx.paths.signer_polvex)
                    ctx.choose()
                    ctx.expect_error(run, h.TEXT_NETWORK)
                    check(not os.path.exists(run.file("pinstall.exe")), "pinstall.exe left")
                    continue
                run = run_to_error(ctx, h.TEXT_NETWORK)
                with open(run.file("pinstall.exe"), "rb") as f:
                    stored = f.read()
                check(stored == body[:written], "pinstall.exe holds %d bytes, not the first %d"
                      % (len(stored), written))
                check_wrote_at_most_installer(run)
            except Failure as e:
                raise Failure("%s: %s" % (what, e))


def scenario_hostile_manifest_size(ctx):
    with hostile_server(ctx, manifest=b"99999999999\nnews\n"):
        run = run_to_error(ctx, h.TEXT_PARSE)
        check(not os.path.exists(run.file("pinstall.exe")), "an installer was fetched")


# How long a download that stalls may take to end with the network error:
# the 30 s after which the download worker gives up on a silent server, with room.
STALL_SECONDS = 90


def scenario_hostile_stalled_body(ctx):
    # 64 KiB of 128 KiB, then nothing, with the connection left open.
    with hostile_server(ctx, installer=b"M" * 131072, mode="slow", chunk=65536,
                        delay_ms=900000):
        started = time.time()
        run = run_to_error(ctx, h.TEXT_NETWORK, seconds=STALL_SECONDS)
        print("the stalled download ended with the network error after %.0f s"
              % (time.time() - started))
        check(os.path.getsize(run.file("pinstall.exe")) == 65536, "not the part received")
        check_wrote_at_most_installer(run)


# A server that takes the connection and never answers: it holds it longer
# than any scenario waits.
SILENT = dict(mode="silent", delay_ms=600000)
# The receive timeout after which a request gives up on a silent server.
RECEIVE_TIMEOUT_SECONDS = 30


def served_paths():
    """The paths the test web server was asked for, oldest first."""
    conn = http.client.HTTPConnection("127.0.0.1", h.SITE_PORT, timeout=10)
    conn.request("GET", "/_control/log")
    lines = conn.getresponse().read().decode("latin-1").splitlines()
    conn.close()
    return [line.split("\t")[1] for line in lines]


def demo_installer(ctx):
    with open(ctx.paths.installer, "rb") as f:
        return f.read()


def scenario_slow_trickle(ctx):
    # The first 8 KiB at 100 bytes a second, far slower than a whole read
    # of 4096 bytes in the receive timeout, then the rest at once.
    program = demo_installer(ctx)
    check(len(program) > 8192, "the demo installer is smaller than the slow part")
    with hostile_server(ctx, manifest=b"%d\nSlow news\n" % len(program), installer=program,
                        mode="slow", chunk=100, delay_ms=1000, slow_bytes=8192):
        started = time.time()
        run = ctx.start()
        ctx.choose()
        ctx.expect_success(run, ctx.paths.installer, seconds=180)
        seconds = time.time() - started
        print("the trickled download succeeded after %.0f s" % seconds)
        check(seconds >= 81, "the body did not trickle (%.0f s)" % seconds)


# The whole bound of a page's request.
REQUEST_BOUND_SECONDS = 60


def scenario_hostile_silent_bootstrap(ctx):
    # The first bootstrap server fails in one way or another: the second
    # resolves, the run ends within the first one's bound and a margin.
    primary = SITE + "dlm/primary.txt"
    cases = [
        # what, body, the server's options, the least wait for the first
        ("never answers", b"", SILENT, RECEIVE_TIMEOUT_SECONDS),
        ("headers that never end", b"", dict(mode="endless", delay_ms=5000),
         REQUEST_BOUND_SECONDS),
        ("redirections each answered after 25 s", b"",
         dict(mode="late", delay_ms=25000, status=302, location=primary),
         REQUEST_BOUND_SECONDS),
        ("a Location of 30000 bytes", b"",
         dict(status=302, location=SITE + "dlm/" + "a" * (30000 - len(SITE) - 4)), 0),
        # "iFlag=0" has arrived when the deadline cuts the page: a whole
        # reply would end the search with no directory.
        ("cut by the deadline after iFlag=0", enciphered(ctx, ANSWER),
         dict(mode="slow", chunk=1, delay_ms=9000), REQUEST_BOUND_SECONDS),
    ]
    program = demo_installer(ctx)
    with hostile_server(ctx, installer=program) as server:
        server.set("/dlm/alt1.txt", enciphered(ctx, ANSWER))
        for what, body, options, at_least in cases:
            server.set("/dlm/primary.txt", body, **options)
            started = time.time()
            run = ctx.start()
            ctx.choose()
            try:
                ctx.expect_success(run, ctx.paths.installer, seconds=STALL_SECONDS)
            except Failure as e:
                raise Failure("%s: %s" % (what, e))
            seconds = time.time() - started
            print("%s: the run ended after %.0f s" % (what, seconds))
            check(seconds >= at_least, "%s: no wait for the first (%.0f s)" % (what, seconds))
            asked = [path for path in served_paths() if not path.startswith("/dlm/primary")]
            check(asked[-3:] == ["/dlm/alt1.txt", "/dl/p_Vandel_sys_ENG.ENG",
                                 "/dl/p_Vandel_sys_ENG.exe"], "%s: asked %r" % (what, asked))
            check(not any(p.startswith("/dlm/a") and p != "/dlm/alt1.txt" for p in asked),
                  "%s: a cut Location was followed: %r" % (what, asked))


def scenario_hostile_silent_manifest(ctx):
    with hostile_server(ctx) as server:
        server.set("/dl/p_Vandel_sys_ENG.ENG", b"", **SILENT)
        started = time.time()
        run = run_to_error(ctx, h.TEXT_PARSE, seconds=STALL_SECONDS)
        seconds = time.time() - started
        check(seconds >= RECEIVE_TIMEOUT_SECONDS, "no wait for the manifest (%.0f s)" % seconds)
        check(not os.path.exists(run.file("pinstall.exe")), "an installer was fetched")
        check("/dl/p_Vandel_sys_ENG.exe" not in served_paths(), "the installer was asked for")


def scenario_hostile_silent_installer(ctx):
    with hostile_server(ctx, **SILENT):
        started = time.time()
        run = run_to_error(ctx, h.TEXT_NETWORK, seconds=STALL_SECONDS)
        seconds = time.time() - started
        check(seconds >= RECEIVE_TIMEOUT_SECONDS, "no wait for the installer (%.0f s)" % seconds)
        check(os.path.getsize(run.file("pinstall.exe")) == 0, "pinstall.exe is not empty")
        check_wrote_at_most_installer(run)


def scenario_hostile_empty_installer(ctx):
    with hostile_server(ctx, installer=b""):
        run = run_to_error(ctx, h.TEXT_LAUNCH)
        check(os.path.getsize(run.file("pinstall.exe")) == 0, "pinstall.exe is not empty")
        check_wrote_at_most_installer(run)


@contextlib.contextmanager
def tmpfs(path, options):
    """A small tmpfs as a scratch folder, for the body of a with statement."""
    os.makedirs(path, exist_ok=True)
    proc = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", path],
                          capture_output=True, text=True)
    if proc.returncode != 0:
        raise Failure("cannot mount a tmpfs here (root needed): " + proc.stderr.strip())
    try:
        yield path
    finally:
        subprocess.run(["umount", "-l", path], capture_output=True)


def scenario_fault_full_disk(ctx):
    big = os.path.join(ctx.root, "big-installer.exe")
    with open(big, "wb") as f:
        f.write(b"M" * (1024 * 1024))
    site = ctx.build_site(installer=big)
    ctx.serve(site)
    with tmpfs(os.path.join(ctx.root, "full"), "size=256k") as scratch:
        run = run_to_error(ctx, h.TEXT_NETWORK, scratch=scratch)
        size = os.path.getsize(run.file("pinstall.exe"))
        check(0 < size < 1024 * 1024, "partial file of %d bytes" % size)
        check_wrote_at_most_installer(run)


def scenario_fault_read_only(ctx):
    site = ctx.build_site()
    ctx.serve(site)
    with tmpfs(os.path.join(ctx.root, "read-only"), "ro,size=64k") as scratch:
        run_to_error(ctx, h.TEXT_NETWORK, scratch=scratch)
        check(os.listdir(scratch) == [], "wrote %r" % os.listdir(scratch))
        check(not any(p.endswith(".exe") for p in ctx.asked()), "the installer was asked for")


# The pace of the program that tries to replace the installer: a watcher's
# realistic one, a few hundred tries in a download of a few seconds.
SWAP_INTERVAL_MS = 20


def swap_attempts(log):
    """The swapper's attempts: (milliseconds, kind, got it, error, size,
    whether the installer had started right after)."""
    with open(log) as f:
        return [(int(ms), kind, result == "ok", int(error), int(size), started == "1")
                for ms, kind, result, error, size, started
                in (line.split() for line in f if line.strip())]


def scenario_no_swap(ctx):
    # Another program in the download folder keeps trying to write, rename
    # or delete pinstall.exe, and puts its own program there when it can,
    # until the installer has started.
    if not ctx.paths.swapper:
        raise Failure("no swapper program given (--swapper)")
    d = ctx.driver
    big = big_installer(ctx)
    site = ctx.build_site(installer=big)
    ctx.serve(site, rate_limited="200k")
    scratch = os.path.join(ctx.root, "run")
    os.makedirs(scratch)
    stop = os.path.join(ctx.root, "stop-swapping")
    log = os.path.join(ctx.root, "swapper.log")
    with open(log, "w") as out:
        swapper = subprocess.Popen(
            [h.wine_loader(ctx.paths.swapper), ctx.paths.swapper, "pinstall.exe",
             "Z:" + stop.replace("/", "\\"), str(SWAP_INTERVAL_MS)],
            cwd=scratch, env=h.wine_env(ctx.paths), stdout=out, stderr=subprocess.DEVNULL)
    try:
        for _ in range(300):
            if os.path.getsize(log) > 0:
                break
            time.sleep(0.1)
        check(os.path.getsize(log) > 0, "the swapper did not start")
        run = ctx.start(scratch=scratch)
        ctx.choose()
        # Until the program ends, or shows an error and waits for OK.
        deadline = time.time() + 120
        while run.running() and time.time() < deadline:
            if d.text(h.WINDOW, h.IDC_STATUS) in (h.TEXT_NETWORK, h.TEXT_LAUNCH):
                break
            time.sleep(0.5)
    finally:
        open(stop, "w").close()
        swapper.wait(timeout=60)
    attempts = swap_attempts(log)
    before = [a for a in attempts if not a[5]]
    held = [a for a in before if a[4] >= 0 and not a[2]]
    got = [a for a in before if a[2]]
    print("the swapper tried %d times before the installer started, %d of them refused on "
          "an existing pinstall.exe, %d got it; %d tries after" % (
              len(before), len(held), len(got), len(attempts) - len(before)))
    check(len(held) >= 50, "too few tries while the file was there: %d" % len(held))
    check(not os.path.exists(run.file("intruder-ran.txt")), "the swapped-in program ran")
    if got:
        # A writer can open the file only between the close of the
        # program's writer and its hold, when the file has its full size;
        # the program then fails the download rather than start it.
        check(all(a[1] == "write" and a[4] == os.path.getsize(big) for a in got),
              "the swapper got the file during the download: %r" % got)
        print("the swapper opened the file in the instant between the writer and the hold")
        ctx.expect_error(run, h.TEXT_NETWORK)
        return
    # Once it runs, the installer's file may be renamed, as on Windows (its
    # image denies writing and deletion only): that is past the hold, and
    # the served installer is then found under the new name.
    print("after the start the swapper got: %r" % sorted({a[1] for a in attempts if a[2]}))
    renamed = os.path.exists(run.file("pinstall.exe.moved"))
    ctx.expect_success(run, big, file_name="pinstall.exe.moved" if renamed else "pinstall.exe")


SCENARIOS = {
    "whole_run": scenario_whole_run,
    "regular_package": scenario_regular_package,
    "german": scenario_german,
    "chooser_dismissed": scenario_chooser_dismissed,
    "chains": scenario_chains,
    "nothing_listens": scenario_nothing_listens,
    "bad_manifest": scenario_bad_manifest,
    "installer_missing": scenario_installer_missing,
    "dropped_connection": scenario_dropped_connection,
    "tags": scenario_tags,
    "signed_tags": scenario_signed_tags,
    "during_download": scenario_during_download,
    "second_copy": scenario_second_copy,
    "proxy": scenario_proxy,
    "hostile_long_replies": scenario_hostile_long_replies,
    "hostile_reply_fields": scenario_hostile_reply_fields,
    "hostile_bodies": scenario_hostile_bodies,
    "hostile_manifest_size": scenario_hostile_manifest_size,
    "hostile_stalled_body": scenario_hostile_stalled_body,
    "hostile_empty_installer": scenario_hostile_empty_installer,
    "fault_full_disk": scenario_fault_full_disk,
    "fault_read_only": scenario_fault_read_only,
    "slow_trickle": scenario_slow_trickle,
    "hostile_silent_bootstrap": scenario_hostile_silent_bootstrap,
    "hostile_silent_manifest": scenario_hostile_silent_manifest,
    "hostile_silent_installer": scenario_hostile_silent_installer,
    "folders_outside_code_page": scenario_folders_outside_code_page,
    "installer_signer": scenario_installer_signer,
    "https": scenario_https,
    "no_swap": scenario_no_swap,
    "planted_libraries": scenario_planted_libraries,
}


# The exit code of a run skipped as a whole (CTest's SKIP_RETURN_CODE).
SKIPPED = 77


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--polvex", required=True)
    parser.add_argument("--wdrive", required=True)
    parser.add_argument("--installer", required=True)
    parser.add_argument("--swapper")
    parser.add_argument("--version-dll")
    parser.add_argument("--trust-root", help="the helper that trusts a test root in the prefix")
    parser.add_argument("--planted-dll")
    parser.add_argument("--dlmtool", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--arch", choices=("win32", "win64"), default="win64",
                        help="the architecture of the prefix, made with it if new")
    parser.add_argument("--work", required=True)
    parser.add_argument("--screenshots")
    parser.add_argument("--scenario", action="append")
    parser.add_argument("--signer-polvex", help="the program built with DLM_INSTALLER_SIGNER")
    parser.add_argument("--signer", help="that build's DLM_INSTALLER_SIGNER")
    parser.add_argument("--issuer", help="that build's DLM_INSTALLER_ISSUER")
    args = parser.parse_args()
    paths = h.Paths(args)
    cmake_dir = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake")
    if h.wine_loader(paths.polvex).endswith("/wine"):
        # The 32-bit program, in either prefix, runs where 32-bit programs run
        # natively. Emulated, each 32-bit process takes a minute or more to
        # start, and 32-bit wine under qemu was seen to die of SIGSEGV in the
        # middle of a whole run (exit code -11): the emulator's limit, which
        # says nothing of the program.
        proc = subprocess.run([os.path.join(cmake_dir, "wine32-native.sh")],
                              capture_output=True, text=True)
        if proc.returncode != 0:
            print("SKIPPED: %s" % proc.stdout.strip())
            return SKIPPED
    subprocess.run([os.path.join(cmake_dir, "wine-prefix.sh"), paths.prefix, args.arch], check=True)
    if h.prefix_arch(paths.prefix) != args.arch:
        print("FAIL: %s is a %s prefix, not %s" % (paths.prefix, h.prefix_arch(paths.prefix), args.arch))
        return 1
    names = args.scenario or list(SCENARIOS)
    passed = failed = 0
    for name in names:
        ctx = Context(paths, name)
        started = time.time()
        try:
            SCENARIOS[name](ctx)
            passed += 1
            print("PASS %s (%.0f s)" % (name, time.time() - started))
        except Exception as e:  # a failed check or a broken run
            failed += 1
            print("FAIL %s: %s" % (name, e))
            if not isinstance(e, Failure):
                traceback.print_exc()
        finally:
            ctx.close()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
