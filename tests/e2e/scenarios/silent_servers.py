"""Silent and slow servers: a body that stalls, one that trickles, and a
bootstrap page, manifest or installer that never comes, each within its
bound."""
import os
import time

import harness as h
from scenarios.common import (ANSWER, check, check_wrote_at_most_installer, demo_installer,
                              enciphered, Failure, hostile_server, run_to_error, served_paths,
                              SITE)


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
