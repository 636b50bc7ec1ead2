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
replaced by a recorder.

Then it detaches and links as pppd(8) says. Without updetach (pon) it forks
into the background at once and the daemon makes the link; with updetach it
makes the link in the foreground, printing its log on stdout ("Using
interface pppN", "Connect: pppN <--> DEVICE", the addresses), and detaches
once the link is up: the parent rewrites the pid file with the daemon's pid
and exits 0, the daemon goes on with its stdio on /dev/null. The link's
interface is the lowest pppN whose pid file in "run" beside it (the stand-in
for /var/run) names no live process; the pid file holds the pid of the
pppd of that link and goes when it ends. SIGINT, SIGTERM and SIGHUP end it,
while dialling or as a daemon, with status 5.

Knobs: a file "delay" (or PW_PPPD_DELAY in its environment, for one run)
makes the dial take that many seconds; a file "exit" makes it fail with that
status: 2 to 4 (options, privileges, no PPP in the kernel) before it
detaches, as pppd checks those first, any other while dialling.
"""
import fcntl
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
        self.words = set()
        self.device = '/dev/tty'  # pppd's own terminal when none is named

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
            else:
                self.words.add(option)
                if option.startswith('/dev/'):
                    self.device = option
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


def ended(*_):
    remove_pidfile()
    os._exit(5)


PIDFILE = [None]


def remove_pidfile():
    """The pid file goes with the pppd that wrote it, not with another's."""
    name = PIDFILE[0]
    if name:
        try:
            if int(open(name).read().split()[0]) == os.getpid():
                os.remove(name)
        except (OSError, ValueError, IndexError):
            pass


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        pass
    status = open('/proc/%d/stat' % pid).read().rsplit(')', 1)[1].split()
    return status[0] not in ('Z', 'X')


def set_ifunit():
    """The lowest free unit, and its pid file with this process's pid."""
    run = here('run')
    os.makedirs(run, exist_ok=True)
    with open(os.path.join(run, '.lock'), 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        unit = 0
        while True:
            name = os.path.join(run, 'ppp%d.pid' % unit)
            try:
                pid = int(open(name).read().split()[0])
                if pid != os.getpid() and alive(pid):
                    unit += 1
                    continue
            except (OSError, ValueError, IndexError):
                pass
            with open(name, 'w') as f:
                f.write('%d\n' % os.getpid())
            PIDFILE[0] = name
            return 'ppp%d' % unit


def say(line):
    """pppd's log before it detaches: stdout, unless logfd or logfile."""
    os.write(1, (line + '\n').encode('latin-1'))


def failure():
    return int(open(here('exit')).read()) if os.path.exists(here('exit')) else 0


def dial(options):
    delay = os.environ.get('PW_PPPD_DELAY')
    if delay is None and os.path.exists(here('delay')):
        delay = open(here('delay')).read()
    if delay:
        time.sleep(float(delay))
    if failure() != 0:
        sys.exit(failure())
    ifname = set_ifunit()
    say('Using interface %s' % ifname)
    say('Connect: %s <--> %s' % (ifname, options.device))
    say('local  IP address 10.64.64.64')
    say('remote IP address 10.112.112.112')


def detach():
    """pppd's detach(): the parent records the daemon's pid and dies; the
    daemon waits for that before it goes on."""
    ready, done = os.pipe()
    pid = os.fork()
    if pid != 0:
        if PIDFILE[0]:
            with open(PIDFILE[0], 'w') as f:
                f.write('%d\n' % pid)
        os._exit(0)
    os.setsid()
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    os.close(done)
    os.read(ready, 1)
    os.close(ready)


def main():
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, ended)
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

    if failure() in (2, 3, 4):
        sys.exit(failure())
    updetach = 'updetach' in options.words and 'nodetach' not in options.words
    if not updetach and 'nodetach' not in options.words:
        detach()
    dial(options)
    if updetach:
        detach()
    time.sleep(300)  # a link of a test never outlives it by much
    remove_pidfile()


main()
