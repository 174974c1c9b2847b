"""Whole runs and packages: a run from the chooser to the installer, the
regular package, the user's language, the chooser dismissed, a bad
manifest or a missing installer, the window during a download, and a
second copy of the program."""
import filecmp
import os
import shutil
import time

import harness as h
from scenarios.common import check, Failure, installer_path, NEWS


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
