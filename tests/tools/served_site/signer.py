"""site check --signer against installers signed at test time."""
import os
import shutil
import subprocess
import sys
import time

from cryptography import x509
from signing_keys import SERVER_AUTH, TIME_STAMPING, TimestampAuthority, make_signing_keys
from folder_server import Server
from served_site.common import build, check, config_text, pe_image, program_asking, write


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
