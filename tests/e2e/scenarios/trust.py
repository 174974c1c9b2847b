"""Trust: fetches over https with the server's certificate checked, and the
installer's signer checked by the build that names one."""
import os
import shutil
import socket
import subprocess
import threading
import time

import harness as h
from signing_keys import (SERVER_AUTH, TIME_STAMPING, TimestampAuthority, make_crl,
                          make_signing_keys)
from scenarios.common import big_installer, check, Failure, installer_path


def signed_installer(ctx, leaf, name, carried=None, stamp=()):
    """The demo installer signed with leaf's key, as name.exe; the
    signature carries the certificate of carried (an issuer) too when
    given, and the timestamp that osslsigncode's options stamp ask."""
    out = os.path.join(ctx.root, name + ".exe")
    certs = leaf + ".pem"
    if carried:
        certs = leaf + "-chain.pem"
        with open(os.path.join(ctx.root, certs), "w") as chain:
            for part in (leaf, carried):
                with open(os.path.join(ctx.root, part + ".pem")) as f:
                    chain.write(f.read())
    proc = subprocess.run(["osslsigncode", "sign", "-certs", certs, "-key", leaf + ".key",
                           "-h", "sha256", *stamp, "-in", ctx.paths.installer, "-out", out],
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
            "http://127.0.0.1:%d/x.crl" % server.getsockname()[1] for server in stalling])),
        ("expired", signer, dict(by_issuer, days=-1))],
        "Polvex Trusted Root %d" % run_id)
    # A time-stamping authority nobody trusts, whose timestamp claims a time
    # when the expired certificate was valid: a check that takes the time
    # without the timestamp's own signature would start the installer.
    make_signing_keys(ctx.root, "made-up-root", [
        ("made-up-tsa", "Polvex Made-up Time", {"usage": TIME_STAMPING})])
    made_up_time = TimestampAuthority(ctx.root, "made-up-tsa", at="36 hours ago", carried=False)
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
             ("expired, with a timestamp of a made-up authority",
              signed_installer(ctx, "expired", "expired-stamped", "issuer",
                               ["-t", made_up_time.url]), refused),
             ("right signer, not revoked", right, starts)]
    made_up_time.stop()
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
