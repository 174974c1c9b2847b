"""The other commands through the binary: usage, exit codes and messages,
the cipher, reply, stamp, tag, manifest and info, the conventions of
options and output, and the progress line."""
import os
import pty
import shutil
import subprocess

from served_site.common import check, config_text, pe_image, write


def other_commands(tool, work):
    """What only the binary shows: usage, exit codes, messages."""
    for command in (["reply"], ["manifest"], ["stamp"], ["tag"], ["site", "build"],
                    ["site", "check"], ["encipher"], ["decipher"], ["site"], []):
        proc = tool.run(*(command + ["--help"]))
        check(proc.returncode == 0 and proc.stdout.startswith(b"usage: dlmtool")
              and not proc.stderr, "%s --help" % " ".join(["dlmtool"] + command))
    # A count of arguments a command does not take: exit 2, why, where to
    # find the usage, in two lines.
    for words, rest, why in ((["encipher"], ["a", "b"], "takes at most one input file"),
                             (["manifest"], ["x"], "unexpected argument x"),
                             (["stamp"], [], "give exactly one input file"),
                             (["tag"], ["a", "b"], "give exactly one file"),
                             (["site", "build"], ["c"],
                              "give a configuration file and an output folder"),
                             (["site", "check"], ["a", "b", "c"], "give one or two bootstrap URLs"),
                             (["site", "check"], ["a", "--max-time", "0"],
                              "--max-time takes a whole number from 1 to 86400, not '0'"),
                             (["site", "check"], ["a", "--max-size", "1e6"],
                              "--max-size takes a whole number from 1 to 9223372036854775807, "
                              "not '1e6'")):
        proc = tool.run(*(words + rest))
        err = proc.stderr.decode()
        check(proc.returncode == 2 and not proc.stdout
              and err == "dlmtool %s: %s\nTry 'dlmtool %s --help'\n" % (" ".join(words), why,
                                                                        " ".join(words)),
              "dlmtool %s refuses %s" % (" ".join(words), rest), err)
    # Every byte value through a file and back, against standard input.
    plain = os.path.join(work, "plain.bin")
    write(plain, bytes(range(256)) * 2)
    through_pipe = tool.run("encipher", stdin=bytes(range(256)) * 2).stdout
    to_file = tool.run("encipher", plain, "-o", plain + ".enc")
    back = tool.run("decipher", plain + ".enc")
    with open(plain + ".enc", "rb") as f:
        check(to_file.returncode == 0 and f.read() == through_pipe
              and back.stdout == bytes(range(256)) * 2, "encipher and decipher files")
    proc = tool.run("reply", "s_url=x")
    check(proc.returncode == 1 and not proc.stdout and b"s_url" in proc.stderr,
          "reply refuses a field name", proc.stderr.decode())

    program = os.path.join(work, "polvex.exe")
    write(program, pe_image())
    stamped = os.path.join(work, "dist", "polvexNAME.exe")
    os.makedirs(os.path.dirname(stamped))
    first = tool.run("stamp", program, "--id", "AB12", "--suffix", "eu", "-o", stamped)
    second = tool.run("stamp", stamped, "--id", "CD34", "-o", stamped)
    tag = tool.run("tag", stamped)
    check(first.returncode == 0 and second.returncode == 0 and tag.stdout == b"CD34\n"
          and os.path.getsize(stamped) == 1024 + 35, "stamp twice, then tag",
          (first.stderr + second.stderr + tag.stdout).decode())

    new_conventions(tool, work, program)

    conf = os.path.join(work, "bad.conf")
    write(conf, b"base http://h/\ndirectory dl/\n\nreply a.txt direct\nreply a.txt direct\n")
    proc = tool.run("site", "build", conf, os.path.join(work, "bad"))
    check(proc.returncode == 1 and proc.stderr.decode().startswith(
        "dlmtool site build: %s:5: reply path a.txt given twice (first on line 4)" % conf),
        "site build names the line of a mistake", proc.stderr.decode())


def new_conventions(tool, work, program):
    """--version, --option=value, --output, -o -, tag and stamp refusals,
    info, suggestions and the progress line."""
    proc = tool.run("--version")
    check(proc.returncode == 0 and proc.stdout.startswith(b"dlmtool ") and not proc.stderr,
          "dlmtool --version", proc.stdout.decode())
    reply = tool.run("reply", "iFlag=0").stdout
    out = os.path.join(work, "r.txt")
    for args in (["--output=" + out], ["--output", out], ["-o", out]):
        os.path.exists(out) and os.remove(out)
        proc = tool.run("reply", "iFlag=0", *args)
        check(proc.returncode == 0 and open(out, "rb").read() == reply, "reply %s" % " ".join(args))
    proc = tool.run("reply", "iFlag=0", "-o", "-")
    check(proc.returncode == 0 and proc.stdout == reply and not os.path.exists("-"), "-o - writes standard output")
    proc = tool.run("stamp", program, "--id=AB-1", "--suffix=eu", "-o", "-")
    check(proc.returncode == 0 and proc.stdout[-35:].startswith(b"eu\0") and proc.stdout.endswith(b"AB-1" + b"\0" * 7 + b"DLID"),
          "stamp --id=ID --suffix=S -o -", proc.stderr.decode())
    for args, message in ((["stamp", program, "--id", ""], "identifier '' must be 1 to 11 letters, digits or '-'"),
                          (["stamp", program, "--id", "A_B"], "identifier 'A_B' must be"),
                          (["stamp", program, "--id", "AB", "--suffix", "e u"], "suffix 'e u' must be"),
                          (["stamp", os.path.join(work, "plain.bin"), "--id", "AB"], "is not a Windows program"),
                          (["tag", work], "is not a regular file"),
                          (["info", os.path.join(work, "plain.bin")], "is not a Windows program"),
                          (["stamp", program, "--id=AB", "--in-signature=yes"], "--in-signature takes no value"),
                          (["stamp", program, "--ib", "AB"], "unknown option --ib (did you mean '--id'?)"),
                          (["stmap"], "unknown command 'stmap' (did you mean 'stamp'?)"),
                          (["site", "check", "http://127.0.0.1:9/", "--signer="],
                           "--signer needs the signer's common name"),
                          (["site", "check", "127.0.0.1:9/boot/primary.txt"],
                           "bootstrap URL '127.0.0.1:9/boot/primary.txt' has no scheme"),
                          (["site", "check", "http://127.0.0.1:9/", "--signer-ca-file", program],
                           "--signer-ca-file goes with --signer")):
        proc = tool.run(*args)
        err = proc.stderr.decode()
        check(proc.returncode in (1, 2) and not proc.stdout and message in err.splitlines()[0],
              "%s refused: %s" % (" ".join(args[:1] + args[2:]), message), err)
    proc = tool.run("stmap")
    check(proc.stderr.decode().splitlines()[1:] == ["Try 'dlmtool --help'"],
          "an unknown command: one line, then where help is", proc.stderr.decode())
    # Binary output reaches a terminal only when -o - asks for it.
    for args, written in ((["reply", "iFlag=0"], False), (["stamp", program, "--id", "AB"], False),
                          (["encipher", program], False), (["reply", "iFlag=0", "-o", "-"], True)):
        leader, follower = pty.openpty()
        proc = subprocess.run([tool.path] + args, stdout=follower, stderr=subprocess.PIPE,
                              timeout=60)
        os.close(follower)
        shown = b""
        try:
            shown = os.read(leader, 1 << 16)
        except OSError:
            pass
        os.close(leader)
        check(proc.returncode == (0 if written else 2) and bool(shown) == written
              and (written or b"-o -" in proc.stderr),
              "%s on a terminal: %s" % (" ".join(args[:1] + args[2:]),
                                         "written" if written else "refused"), proc.stderr.decode())
    # News in the code page of the language told, or refused with its line.
    news = os.path.join(work, "news.txt")
    write(news, "first\nf\u00fcr alle\n".encode())
    proc = tool.run("manifest", "--installer", program, "--news", news, "--language", "DEU")
    check(proc.returncode == 0 and proc.stdout == b"1024\nfirst\nf\xfcr alle\n",
          "manifest --language DEU writes code page 1252", proc.stderr.decode())
    proc = tool.run("manifest", "--installer", program, "--news", news, "--language", "JAP")
    check(proc.returncode == 1 and not proc.stdout and proc.stderr.decode().startswith(
          "dlmtool manifest: %s:2: '\\xc3\\xbc' (U+00FC) cannot be written in code page 932" % news),
          "manifest --language JAP refuses what code page 932 cannot hold", proc.stderr.decode())
    write(news, b"n" * 22000)
    proc = tool.run("manifest", "--installer", program, "--news", news, "--language", "ENG")
    check(proc.returncode == 1 and b"the manifest would have 22006 bytes; the program reads 22000"
          in proc.stderr, "manifest --language refuses what the program would cut", proc.stderr.decode())
    proc = tool.run("manifest", "--installer", program, "--news", news)
    check(proc.returncode == 1 and not proc.stdout and b"the manifest would have 22006 bytes; the program "
          b"reads 22000" in proc.stderr, "manifest without --language refuses what the program would cut",
          proc.stderr.decode())
    # No trailer and a name without a tag: exit 1, nothing on standard output.
    proc = tool.run("tag", program)
    check(proc.returncode == 1 and not proc.stdout and b"would read no tag (from the file name)" in proc.stderr,
          "tag of a file that carries none", proc.stderr.decode())
    proc = tool.run("info", program)
    check(proc.returncode == 1 and b"stored texts: not found" in proc.stdout
          and b"size: 1024 bytes\n" in proc.stdout, "info of a program without stored texts",
          proc.stdout.decode())
    progress_line(tool, work)


def progress_line(tool, work):
    """A large installer copied into a site shows its progress on a terminal."""
    big = os.path.join(work, "big.exe")
    write(big, b"MZ" + b"b" * (40 << 20))
    conf = os.path.join(work, "big.conf")
    write(conf, config_text("http://h/", big, "reply r.txt direct\n").encode())
    leader, follower = pty.openpty()
    proc = subprocess.run([tool.path, "site", "build", conf, os.path.join(work, "big")],
                          stdout=subprocess.PIPE, stderr=follower, timeout=120)
    # Read while the terminal is still open: closing it drops what it holds.
    os.set_blocking(leader, False)
    shown = b""
    try:
        while True:
            shown += os.read(leader, 1 << 16)
    except OSError:
        pass
    os.close(follower)
    os.close(leader)
    check(proc.returncode == 0 and b"copying %s: 40 of 40 MiB" % big.encode() in shown
          and not tool.run("site", "build", conf, os.path.join(work, "big")).stderr,
          "a progress line on a terminal, none otherwise", shown.decode(errors="replace")[-300:])
    shutil.rmtree(os.path.join(work, "big"))
    os.remove(big)
