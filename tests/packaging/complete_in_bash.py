# Types each line given into an interactive bash (on a pseudo-terminal, with
# bash-completion and the completion file loaded), presses Tab and Enter, and
# prints the arguments krm-cli was run with, "(no line)" when it was not run.
# krm-cli is a shell function there that prints its arguments: nothing runs.
#   complete_in_bash.py COMPLETION_FILE LINE...
import os
import pty
import re
import select
import sys
import time

completion, typed = sys.argv[1], sys.argv[2:]
pid, fd = pty.fork()
if pid == 0:
    os.execvpe("bash", ["bash", "--norc", "--noprofile", "-i"],
               {"PATH": os.environ["PATH"], "TERM": "dumb", "INPUTRC": "/dev/null", "PS1": "$ "})


def read_until(pattern, timeout=10):
    out, end = b"", time.time() + timeout
    while time.time() < end:
        match = re.search(pattern, out)
        if match:
            return match
        if select.select([fd], [], [], 0.1)[0]:
            out += os.read(fd, 4096)
    return None


# The quotes keep the echo of the typed line from reading as the marker.
os.write(fd, b"source /usr/share/bash-completion/bash_completion; source '" + completion.encode()
         + b"'; krm-cli() { printf 'LINE<%s>\\n' \"$*\"; }; echo RE''ADY\n")
read_until(rb"READY\r?\n")
for text in typed:
    os.write(fd, text.encode() + b"\t\n")
    match = read_until(rb"LINE<(.*?)>\r?\n")
    print(match.group(1).decode() if match else "(no line)")
os.write(fd, b"exit\n")
os.waitpid(pid, 0)
