"""site check --signer against installers signed at test time."""
import os
import shutil
import subprocess
import sys
import time

from signing_keys import SERVER_AUTH, make_signing_keys
from folder_server import Server
from served_site.common import build, check, pe_image, write


def signer_sites(tool, work):
    """site check --signer against installers signed at test time: only the
    one signed by the name under the root given passes."""
    work = os.path.join(work, "signer")
    os.makedirs(work)
    name = "Polvex Test Signé"
    make_signing_keys(work, "root", [("right", name), ("other", name + " Ltd"),
                                     ("nul", name + "\0x"),
                                     ("twice", name, {"names": [name, name]}),
                                     ("server", name, {"usage": SERVER_AUTH})])
    make_signing_keys(work, "stranger-root", [("stranger", name)])
    make_signing_keys(work, "another-root", [("elsewhere", name)])
    roots = os.path.join(work, "roots.pem")
    with open(roots, "w") as out:
        for root in ("root", "another-root"):
            with open(os.path.join(work, root + ".pem")) as f:
                out.write(f.read())
    unsigned = os.path.join(work, "unsigned.exe")
    write(unsigned, pe_image(4096))

    def signed(leaf, source=unsigned, out=None):
        out = out or os.path.join(work, leaf + ".exe")
        proc = subprocess.run(["osslsigncode", "sign", "-certs", leaf + ".pem", "-key",
                               leaf + ".key", "-h", "sha256", "-in", source, "-out", out],
                              cwd=work, capture_output=True)
        if proc.returncode != 0:
            sys.exit("osslsigncode: " + proc.stdout.decode() + proc.stderr.decode())
        return out
    right = signed("right")
    with open(right, "rb") as f:
        changed = bytearray(f.read())
    changed[0x300] ^= 1  # inside the signed image
    write(os.path.join(work, "changed.exe"), bytes(changed))
    for leaf in ("other", "stranger", "elsewhere", "nul", "twice", "server"):
        signed(leaf)
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
                                 "its signature is not valid or does not chain to a trusted "
                                 "root" % name),
                ("changed.exe", "FAIL p_Vandel_sys_ENG.exe: installer not signed by '%s': the "
                                "image digest differs from the one its signature signs" % name)]
        for installer, expected in rows:
            proc, built = build(tool, work, "site-" + installer, server.base, installer,
                                "reply dlm/primary.txt direct\n")
            shutil.rmtree(site_root)
            shutil.copytree(built, site_root)
            proc = tool.run("site", "check", server.base + "dlm/primary.txt", "--signer", name,
                            "--issuer", "root", "--signer-ca-file", roots)
            out = proc.stdout.decode("utf-8", "replace")
            shown = [line for line in out.splitlines() if "p_Vandel_sys_ENG.exe" in line]
            expected = expected.replace("é", "\\xc3\\xa9")
            check(shown == [expected] and proc.returncode == (0 if installer == "right.exe" else 1),
                  "site check --signer, " + installer, "exit %d: %r" % (proc.returncode, shown))
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
