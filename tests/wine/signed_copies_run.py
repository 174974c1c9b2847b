#!/usr/bin/env python3
"""Stamps really signed copies of polvex.exe and checks that they stay
signed. A throwaway root and code-signing certificate are made with
openssl, osslsigncode signs the program with descriptions of several
lengths so that the signature's length takes every remainder modulo 8, and
each such program is stamped with the trailer in the certificate table and
in the signature, then stamped again. Every copy must verify with
osslsigncode, pass WinVerifyTrust under wine, end with the trailer the
program reads, carry a correct PE checksum and read back with dlmtool tag.
A copy with the trailer simply appended must fail all of that. The last
line reads "N passed, M failed"."""
import argparse
import os
import shutil
import struct
import subprocess
import sys

PASSED = []
FAILED = []
FORMS = {"table": "trailer in the certificate table, after the signature",
         "signature": "trailer in the signature's tag attribute"}


def check(condition, what, detail=""):
    (PASSED if condition else FAILED).append(what)
    if not condition:
        print("FAIL %s %s" % (what, detail))


def run(*command, env=None):
    return subprocess.run(command, capture_output=True, env=env)


def make_keys(work):
    """A root and a code-signing leaf it issued; returns the root's paths."""
    subject = os.path.join(work, "leaf.ext")
    with open(subject, "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\n")
    steps = [["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "root.key",
              "-out", "root.pem", "-days", "2", "-subj", "/CN=Polvex Test Root",
              "-addext", "basicConstraints=critical,CA:TRUE",
              "-addext", "keyUsage=critical,keyCertSign"],
             ["req", "-newkey", "rsa:2048", "-nodes", "-keyout", "leaf.key", "-out", "leaf.csr",
              "-subj", "/CN=Polvex Test Signer"],
             ["x509", "-req", "-in", "leaf.csr", "-CA", "root.pem", "-CAkey", "root.key",
              "-CAcreateserial", "-out", "leaf.pem", "-days", "2", "-extfile", subject],
             ["x509", "-in", "root.pem", "-outform", "DER", "-out", "root.der"]]
    for step in steps:
        proc = subprocess.run(["openssl"] + step, cwd=work, capture_output=True)
        if proc.returncode != 0:
            sys.exit("openssl %s: %s" % (step[0], proc.stderr.decode()))
    with open(os.path.join(work, "chain.pem"), "wb") as chain:
        for name in ("leaf.pem", "root.pem"):
            with open(os.path.join(work, name), "rb") as f:
                chain.write(f.read())


def signature_length(image):
    """The DER length of the PKCS#7 blob in the certificate table."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directory = optional + (96 if magic == 0x10B else 112) + 4 * 8
    table = struct.unpack_from("<I", image, directory)[0]
    first = image[table + 9]
    if first < 0x80:
        return 2 + first
    count = first & 0x7F
    return 2 + count + int.from_bytes(image[table + 10:table + 10 + count], "big")


def checksum_field(image):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    return pe + 24 + 64


def pe_checksum(image):
    """The format's checksum: 16-bit words with carries folded, the field
    itself as zero, plus the length."""
    at = checksum_field(image)
    data = image[:at] + b"\0\0\0\0" + image[at + 4:]
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("<%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(image)


def trailer_tag(image):
    """The tag as the program reads the last 35 bytes."""
    if image[-4:] != b"DLID":
        return None
    suffix = image[-35:-15].split(b"\0")[0].decode()
    ident = image[-15:-4].split(b"\0")[0].decode()
    return ident + ("_" + suffix if suffix else "")


def signed_programs(args, work):
    """Signed programs whose signatures cover every remainder modulo 8."""
    found = {}
    for url_length in range(0, 12):
        for name_length in range(1, 12):
            out = os.path.join(work, "signed-%d.exe" % len(found))
            extra = ["-i", "https://p.example/" + "u" * url_length] if url_length else []
            proc = run("osslsigncode", "sign", "-certs", os.path.join(work, "chain.pem"),
                       "-key", os.path.join(work, "leaf.key"), "-h", "sha256",
                       "-n", "P" * name_length, *extra, "-in", args.polvex, "-out", out)
            if proc.returncode != 0:
                sys.exit("osslsigncode sign: " + proc.stderr.decode())
            with open(out, "rb") as f:
                remainder = signature_length(f.read()) % 8
            if remainder not in found:
                found[remainder] = out
            if len(found) == 8:
                return found
    sys.exit("signatures of only %d remainders" % len(found))


def stamp(args, source, out, ident, place):
    extra = ["--in-signature"] if place == "signature" else []
    proc = run(args.dlmtool, "stamp", source, "--id", ident, "--suffix", place, *extra, "-o", out)
    check(proc.returncode == 0, "stamp %s %s" % (os.path.basename(out), place), proc.stderr)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def check_copy(args, work, path, ident, place):
    """What every stamped copy must show without wine."""
    name = os.path.basename(path)
    image = read(path)
    tag = ident + "_" + place
    check(trailer_tag(image) == tag and len(image) % 8 == 0,
          "%s ends with its trailer on 8 bytes" % name)
    at = checksum_field(image)
    check(struct.unpack_from("<I", image, at)[0] == pe_checksum(image), "%s checksum" % name)
    proc = run("osslsigncode", "verify", "-CAfile", os.path.join(work, "root.pem"), "-in", path)
    check(proc.returncode == 0, "%s osslsigncode verify" % name, proc.stdout[-300:])
    proc = run(args.dlmtool, "tag", path)
    check(proc.stdout == (tag + "\n").encode()
          and proc.stderr.decode() == "%s: %s; signed, the image digest matches the signature\n"
          % (path, FORMS[place]), "%s dlmtool tag" % name, proc.stdout + proc.stderr)


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def verify_trust(args, paths):
    """WinVerifyTrust's result for each file, under wine."""
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": os.environ.get("HOME", "/root"),
           "LANG": "C.UTF-8", "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}
    proc = run(args.wine_run, args.verify_trust, *[wine_path(p) for p in paths], env=env)
    return [line.split(" ")[0] for line in proc.stdout.decode().splitlines()]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for option in ("--dlmtool", "--polvex", "--verify-trust", "--trust-root", "--wine-run",
                   "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    work = args.work
    make_keys(work)
    copies = []
    for remainder, program in sorted(signed_programs(args, work).items()):
        for place, other in (("table", "signature"), ("signature", "table")):
            once = os.path.join(work, "r%d-%s.exe" % (remainder, place))
            stamp(args, program, once, "R%d" % remainder, place)
            check_copy(args, work, once, "R%d" % remainder, place)
            # Stamped again from the other place and back: the bytes of a
            # single stamp, no second trailer.
            again = os.path.join(work, "r%d-%s-again.exe" % (remainder, place))
            stamp(args, once, again, "X%d" % remainder, other)
            stamp(args, again, again, "R%d" % remainder, place)
            check(read(again) == read(once), "r%d %s stamped again" % (remainder, place))
            copies.append(once)
    # The trailer appended after the table, as an unsigned file takes it.
    appended = os.path.join(work, "appended.exe")
    with open(appended, "wb") as f:
        f.write(read(copies[0])[:-35] + read(copies[0])[-35:] + read(copies[0])[-35:])
    proc = run("osslsigncode", "verify", "-CAfile", os.path.join(work, "root.pem"), "-in", appended)
    tag = run(args.dlmtool, "tag", appended)
    check(proc.returncode != 0 and b"signature broken" in tag.stderr, "an appended trailer breaks it")

    proc = run(args.wine_run, args.trust_root, wine_path(os.path.join(work, "root.der")))
    check(proc.returncode == 0, "the test root added to the prefix", proc.stderr)
    results = verify_trust(args, copies + [appended])
    check(results == ["0x00000000"] * len(copies) + ["0x800b0100"],
          "WinVerifyTrust trusts the %d copies, not the appended one" % len(copies), results)
    print("%d passed, %d failed" % (len(PASSED), len(FAILED)))
    return 1 if FAILED else 0


if __name__ == "__main__":
    sys.exit(main())
