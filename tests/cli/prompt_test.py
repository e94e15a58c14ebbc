#!/usr/bin/env python3
"""The orva command's interactive prompt, driven through a pseudo-terminal as a person
would drive it: continuation lines, a variable and a function kept between entries, an
expression's value, an error that leaves the prompt running, Ctrl-C of an endless loop,
history written at the end, and Ctrl-D to leave.

    prompt_test.py ORVA
"""
import os
import pty
import select
import subprocess
import sys
import tempfile
import time

ORVA = sys.argv[1]
TIMEOUT = 20


def main():
    state = tempfile.mkdtemp()
    pid, fd = pty.fork()
    if pid == 0:
        os.environ["XDG_STATE_HOME"] = state
        os.environ["TERM"] = "dumb"
        os.execv(ORVA, [ORVA])
    seen = b""

    def expect(text):
        nonlocal seen
        deadline = time.time() + TIMEOUT
        while text.encode() not in seen:
            if time.time() > deadline:
                raise AssertionError("waited for %r; the prompt showed:\n%s" % (text, seen.decode(errors="replace")))
            ready, _, _ = select.select([fd], [], [], 0.2)
            if ready:
                try:
                    seen += os.read(fd, 4096)
                except OSError:
                    break
        seen = seen[seen.index(text.encode()) + len(text):]

    def send(text):
        os.write(fd, text.encode())

    expect("orva> ")
    send("sub twice(n) {\r")            # a statement cut short goes on
    expect("....> ")
    send("   return n * 2;\r")
    expect("....> ")
    send("}\r")
    expect("orva> ")
    send("x = twice(21);\r")            # an assignment prints nothing
    expect("orva> ")
    send("x + 1\r")                     # an expression prints its value
    expect("43")
    expect("orva> ")
    send("array a; a[7] = \"seven\"; a[-1] = 2.5;\r")
    expect("orva> ")
    send("a\r")                         # an array shows its elements
    expect("{-1: 2.500000, 7: seven}")
    expect("orva> ")
    send("println x . \" and \" . twice(x);\r")
    expect("42 and 84")
    expect("orva> ")
    send("y = 1 % 0;\r")                # an error: reported, the prompt goes on
    expect("Error 9 in line 1: Divide by zero")
    expect("orva> ")
    send("while (1) {}\r")
    time.sleep(0.5)
    send("\x03")                        # Ctrl-C stops the running entry
    expect("Error 31 in line 1: Run interrupted")
    expect("orva> ")
    send("println \"half a line")         # Ctrl-C at the prompt drops the line
    time.sleep(0.2)
    send("\x03")
    expect("^C")
    expect("orva> ")
    send("x\r")                         # and the session is still there
    expect("42")
    expect("orva> ")
    send("\x04")                        # Ctrl-D leaves
    _, status = os.waitpid(pid, 0)
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0, "exit status %r" % status
    history = open(os.path.join(state, "orva", "history"), encoding="utf-8").read()
    assert "x\\040=\\040twice(21);" in history or "x = twice(21);" in history, history
    # Standard input that is no terminal: no prompt, the usage and exit status 2 as before.
    piped = subprocess.run([ORVA], input=b"println 1;", capture_output=True, timeout=TIMEOUT)
    assert piped.returncode == 2 and piped.stderr.startswith(b"usage: orva") and piped.stdout == b"", piped
    print("prompt: all steps passed")


main()
