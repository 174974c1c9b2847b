"""Sites over https: site check trusts a test root given with --ca-file
only, and refuses what the program refuses."""
import os
import shutil

from certificates import TestCertificates
from folder_server import Server
from served_site.common import build, check, lines_of, write


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
