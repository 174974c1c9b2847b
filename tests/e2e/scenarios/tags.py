"""Tags and signed copies: the distribution tag from the program's name or
its stamped trailer, and a signed program's partner copies."""
import os
import subprocess

import site_config
from signing_keys import make_signing_keys
from scenarios.common import check, installer_path, stamp


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
