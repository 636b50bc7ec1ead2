#!/usr/bin/python3
"""Stand-in for pppd, for a kernel without PPP.

It reads its options the way pppd 2.4.9 does (`call NAME` from the folder
"peers" beside it, `file PATH`, pppd's quoting) and refuses what pppd refuses
a caller who is not root, with pppd's exit status 2: a privileged option
from the command line or a `file`, and a connect command (or init,
disconnect, welcome, pty) over the one a peers file set. The caller's uid is
the file "uid" beside it when the test writes one.

It logs to pppd.log beside it: "ARGS ...", "SOURCE path pipe|file", the
user, password and connect values, and "CHAT arg|arg|..." for the connect
command, which it runs through /bin/sh -c as pppd does, with the program
replaced by a recorder. Then: a file "delay" makes it hang that many seconds
(SIGTERM ends it with status 5); a file "exit" gives its status; on 0 it
leaves a daemon of its own name behind, as updetach does, that ends on
SIGTERM.
"""
import os
import signal
import stat
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(sys.argv[0]))

PRIVILEGED = {'linkname', 'ifname', 'domain', 'name', 'noauth', 'nolock',
              'plugin', 'privgroup', 'replacedefaultroute',
              'defaultroute-metric'}
FIXED = {'connect', 'disconnect', 'init', 'welcome', 'pty'}
WITH_ARGUMENT = FIXED | {
    'call', 'file', 'user', 'password', 'remotename', 'name', 'ipparam',
    'linkname', 'ifname', 'domain', 'plugin', 'privgroup', 'logfile', 'logfd',
    'mru', 'mtu', 'holdoff', 'maxfail', 'idle', 'unit', 'connect-delay', 'set',
    'unset', 'defaultroute-metric'}
ESCAPES = {'a': '\a', 'b': '\b', 'f': '\f', 'n': '\n', 'r': '\r', 's': ' ',
           't': '\t'}


def here(name):
    return os.path.join(HERE, name)


def log(line):
    with open(here('pppd.log'), 'ab') as f:
        f.write(line.encode('latin-1') + b'\n')


def refuse(message):
    sys.stderr.write('pppd: %s\n' % message)
    log('REFUSED ' + message)
    sys.exit(2)


def words(text):
    """pppd's getword: blanks, quotes, backslash escapes, comments."""
    out, i, n = [], 0, len(text)
    while i < n:
        if text[i] == '#':
            while i < n and text[i] != '\n':
                i += 1
        elif text[i].isspace():
            i += 1
        else:
            word, quote = '', None
            while i < n:
                c = text[i]
                i += 1
                if c == '\\' and i < n:
                    c = text[i]
                    i += 1
                    if c in ESCAPES:
                        word += ESCAPES[c]
                    elif c in '01234567':
                        j = i - 1
                        while i < n and i - j < 3 and text[i] in '01234567':
                            i += 1
                        word += chr(int(text[j:i], 8))
                    elif c == 'x':
                        j = i
                        while (i < n and i - j < 2
                               and text[i] in '0123456789abcdefABCDEF'):
                            i += 1
                        word += chr(int(text[j:i] or '0', 16))
                    elif c != '\n':
                        word += c
                elif quote:
                    if c == quote:
                        quote = None
                    else:
                        word += c
                elif c in '"\'':
                    quote = c
                elif c.isspace() or c == '#':
                    i -= 1
                    break
                else:
                    word += c
            out.append(word)
    return out


class Options:
    def __init__(self, root):
        self.root = root
        self.values = {}
        self.fixed_by = {}

    def parse(self, ws, source, privileged):
        i = 0
        while i < len(ws):
            option, argument = ws[i], None
            if option in WITH_ARGUMENT:
                if i + 1 == len(ws):
                    refuse('too few parameters for option %s' % option)
                argument = ws[i + 1]
            if option in PRIVILEGED and not privileged:
                refuse('using the %s option requires root privilege' % option)
            if option in FIXED and option in self.fixed_by and not privileged:
                refuse('%s option set in %s cannot be overridden'
                       % (option, self.fixed_by[option]))
            if option in FIXED and privileged:
                self.fixed_by[option] = source
            if option == 'call':
                if argument.startswith('/') or '..' in argument.split('/'):
                    refuse('call option value may not contain .. or start with /')
                self.read(os.path.join(here('peers'), argument), True)
            elif option == 'file':
                self.read(argument, privileged)
            elif argument is not None:
                self.values[option] = argument
            i += 1 if argument is None else 2

    def read(self, name, privileged):
        try:
            with open(name, 'rb') as f:
                kind = 'pipe' if stat.S_ISFIFO(os.fstat(f.fileno()).st_mode) else 'file'
                text = f.read().decode('latin-1')
        except OSError as e:
            refuse("Can't open options file %s: %s" % (name, e.strerror))
        log('SOURCE %s %s' % (name, kind))
        self.parse(words(text), name, privileged)


def main():
    log('ARGS ' + ' '.join(sys.argv[1:]))
    uid = os.getuid()
    if os.path.exists(here('uid')):
        uid = int(open(here('uid')).read())
    options = Options(uid == 0)
    options.parse(sys.argv[1:], 'command line', uid == 0)
    for key in ('user', 'password', 'connect'):
        if key in options.values:
            log('%s=%s' % (key, options.values[key]))
    if 'connect' in options.values:
        recorder = 'record() { printf "%s|" "$@" > "$0"; }; record '
        subprocess.run(['/bin/sh', '-c', recorder + options.values['connect'],
                        here('chat.args')], check=False)
        if os.path.exists(here('chat.args')):
            log('CHAT ' + open(here('chat.args'), 'rb').read().decode('latin-1'))
            os.remove(here('chat.args'))

    if os.path.exists(here('delay')):
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(5))
        time.sleep(float(open(here('delay')).read()))
    status = int(open(here('exit')).read()) if os.path.exists(here('exit')) else 0
    if status == 0 and os.fork() == 0:
        os.setsid()
        null = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(null, fd)
        signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
        time.sleep(300)
        os._exit(0)
    sys.exit(status)


main()
