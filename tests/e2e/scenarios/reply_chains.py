"""Reply chains: the bootstrap URLs and the redirections that lead to a
download directory, nothing listening at all, and the chain carried by the
system's proxy."""
import subprocess
import urllib.parse

import harness as h
from scenarios.common import check, installer_path, SITE


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
