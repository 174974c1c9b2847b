#!/usr/bin/env python3
"""The demo: a download site built with `dlmtool site build` from
demo/site.conf, served by nginx on 127.0.0.1:47800 (the program's default
bootstrap URLs), and polvex.exe run against it under wine.

With a display the person uses the real windows. Without one the demo runs
under Xvfb, drives the language chooser itself, saves screenshots and prints
what happened.

With --https the same demo runs over HTTPS: the program is a build whose
bootstrap URLs are https, the site is built for an https base and served
over TLS on the same port, with a server certificate from a test root made
with openssl and trusted only in the demo's wine prefix."""
import argparse
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness as h  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--polvex", required=True)
    parser.add_argument("--wdrive", required=True)
    parser.add_argument("--installer", required=True)
    parser.add_argument("--dlmtool", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--headless", action="store_true")
    parser.add_argument("--https", action="store_true", help="the demo over HTTPS")
    parser.add_argument("--trust-root", help="the helper that trusts a test root in the prefix")
    args = parser.parse_args()
    if args.https and not args.trust_root:
        parser.error("--https needs --trust-root")
    args.screenshots = os.path.join(args.work, "screenshots") if args.headless else None
    paths = h.Paths(args)
    shutil.rmtree(paths.work, ignore_errors=True)
    os.makedirs(paths.work)
    subprocess.run([os.path.join(ROOT, "cmake", "wine-prefix.sh"), paths.prefix], check=True)

    # The demo installer, padded so that the download takes a few seconds.
    installer = os.path.join(paths.work, "demo-installer.exe")
    with open(paths.installer, "rb") as f:
        program = f.read()
    with open(installer, "wb") as f:
        f.write(program + b"\0" * max(0, 2 * 1024 * 1024 - len(program)))
    conf = os.path.join(paths.work, "site.conf")
    with open(os.path.join(ROOT, "demo", "site.conf")) as f:
        text = f.read().replace("@INSTALLER@", installer)
    tls = []
    if args.https:
        # The site's own address, over TLS; the program's bootstrap URLs
        # (this build's settings) name the same host and port.
        # Beside the demo's folder, which each run clears: one root, made
        # once, is all the prefix ever trusts.
        certs = h.TestCertificates(paths.work + "-tls")
        h.trust_root(paths, certs.root("demo-root")[1])
        tls = [h.TlsServer(h.SITE_PORT, *certs.server("demo-site", "demo-root",
                                                       ["127.0.0.1", "localhost"]))]
        text = text.replace("base http://", "base https://")
        print("test root %s trusted in %s only" % (certs.root("demo-root")[0], paths.prefix))
    with open(conf, "w") as f:
        f.write(text)
    site = os.path.join(paths.work, "site")
    subprocess.run([paths.dlmtool, "site", "build", conf, site], check=True)
    print("demo site built in %s" % site)

    h.unmanaged_windows(paths, args.headless)
    nginx = h.Nginx(paths.work)
    nginx.start(site, rate_limited="400k", tls=tls, plain=not tls)
    driver = h.Driver(paths)
    driver.reg_delete(h.TAG_KEY)
    driver.reg_delete(h.TAG_KEY.replace("SOFTWARE\\", "SOFTWARE\\WOW6432Node\\", 1))
    scratch = os.path.join(paths.work, "run")
    try:
        run = h.ProgramRun(paths, scratch)
        print("polvex.exe started under wine in %s" % scratch)
        if args.headless:
            drive(paths, driver, run)
        code = run.exit_code(timeout=None if not args.headless else 600)
        time.sleep(1)
    finally:
        nginx.stop()
    problems = report(paths, driver, nginx, run, code)
    if code != 0:
        problems.append("polvex.exe ended with %s" % code)
    if args.headless:
        for name in SCREENSHOTS:
            shot = os.path.join(paths.shots, name + ".png")
            if not os.path.exists(shot):
                problems.append("no screenshot " + shot)
            elif h.blank_screenshot(shot):
                problems.append("the screenshot %s is blank" % shot)
    for problem in problems:
        print("DEMO FAILED: " + problem)
    return 1 if problems else 0


# What the headless demo shows, in order.
SCREENSHOTS = ("1-chooser", "2-downloading", "3-installer-started")


def drive(paths, driver, run):
    if not driver.wait(h.CHOOSER, h.START_SECONDS):
        print("the language chooser did not open")
        return
    time.sleep(1)
    h.screenshot(paths, SCREENSHOTS[0])
    driver.click(h.CHOOSER, h.IDOK)
    print("chose English and pressed OK")
    for _ in range(300):
        text = driver.text(h.WINDOW, h.IDC_STATUS)
        if text and text.startswith("Polvex demo"):
            break
        time.sleep(0.2)
    time.sleep(1.5)
    h.screenshot(paths, SCREENSHOTS[1])
    # The download ends with the installer's window (it stays four seconds).
    if not driver.wait("Polvex demo installer", 180):
        print("the demo installer's window did not show")
        return
    time.sleep(1)
    h.screenshot(paths, SCREENSHOTS[2])
    driver.gone("Polvex demo installer", 30)


def report(paths, driver, nginx, run, code):
    """Prints what happened; returns what went wrong of what a user waits
    for: the installer started and the tag recorded."""
    print("pages fetched over %s:" % ("HTTPS" if paths.trust_root else "HTTP"))
    for path, status, sent, _seconds in nginx.requests():
        print("  %s -> %s, %d bytes" % (path, status, sent))
    exes = [r[0] for r in nginx.requests() if r[0].endswith(".exe")]
    print("package chosen: %s" % (os.path.basename(exes[-1]) if exes else "none"))
    pinstall = run.file("pinstall.exe")
    size = os.path.getsize(pinstall) if os.path.exists(pinstall) else 0
    print("bytes written to pinstall.exe: %d" % size)
    marker = run.file("installer-ran.txt")
    started = os.path.exists(marker)
    print("installer started: %s" % ("yes" if started else "no"))
    # A 32-bit program's HKLM\SOFTWARE is the 32-bit view of a 64-bit
    # system, as on 64-bit Windows.
    key = h.TAG_KEY
    if h.wine_loader(paths.polvex).endswith("/wine"):
        key = key.replace("SOFTWARE\\", "SOFTWARE\\WOW6432Node\\", 1)
    tag = driver.reg_get(key)
    print("tag recorded under HKLM\\%s: %s" % (key, "(none)" if tag is None else repr(tag)))
    print("exit code: %s" % code)
    if paths.shots:
        print("screenshots in %s" % paths.shots)
    return ([] if started else ["the installer did not start"]) + (
        [] if tag is not None else ["no tag recorded"])


if __name__ == "__main__":
    sys.exit(main())
