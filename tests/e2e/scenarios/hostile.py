"""Hostile servers: dropped connections, overlong replies, malformed reply
fields, bodies that lie about their length, absurd manifests and an empty
installer."""
import os

import harness as h
from scenarios.common import (ANSWER, check, check_wrote_at_most_installer, demo_installer,
                              DIRECTORY, enciphered, Failure, hostile_server, NEWS, run_to_error,
                              served_paths, SITE)


HOP = SITE + "dlm/hop.txt"


DELETED = "deleted"


def run_to_stored_installer(ctx):
    """A run that stores the hostile server's default installer and ends
    with 0."""
    run = ctx.start()
    ctx.choose()
    code = run.exit_code(timeout=60)
    check(code == 0, "exit code %r" % code)
    with open(run.file("pinstall.exe"), "rb") as f:
        check(f.read() == demo_installer(ctx), "pinstall.exe is not the installer")


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


def scenario_hostile_empty_installer(ctx):
    with hostile_server(ctx, installer=b""):
        run = run_to_error(ctx, h.TEXT_LAUNCH)
        check(os.path.getsize(run.file("pinstall.exe")) == 0, "pinstall.exe is not empty")
        check_wrote_at_most_installer(run)
