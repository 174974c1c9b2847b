"""Throwaway signing keys for the tests that sign programs, made with openssl
at test time."""
import os
import subprocess


def make_signing_keys(work, root, leaves, root_name=None):
    """In work: a root certificate and key (root.pem, root.der, root.key),
    named root_name (root when not given), and for each file name and
    common name (UTF-8) in leaves a certificate it issued (leaf.pem,
    leaf.key). Raises RuntimeError when openssl fails."""
    steps = [["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", root + ".key",
              "-out", root + ".pem", "-days", "2", "-utf8", "-subj", "/CN=" + (root_name or root),
              "-addext", "basicConstraints=critical,CA:TRUE"],
             ["x509", "-in", root + ".pem", "-outform", "DER", "-out", root + ".der"]]
    for leaf, name in leaves:
        steps += [["req", "-newkey", "rsa:2048", "-nodes", "-keyout", leaf + ".key", "-out",
                   leaf + ".csr", "-utf8", "-subj", "/CN=" + name],
                  ["x509", "-req", "-in", leaf + ".csr", "-CA", root + ".pem", "-CAkey",
                   root + ".key", "-CAcreateserial", "-out", leaf + ".pem", "-days", "2"]]
    for step in steps:
        proc = subprocess.run(["openssl"] + step, cwd=work, capture_output=True, text=True)
        if proc.returncode != 0:
            raise RuntimeError("openssl %s: %s" % (step[0], proc.stderr))
