#!/usr/bin/env python3
"""The Linux end of the serial lines for the Windows serial tests, and the
hands on the X display for the shared keyboard's.

Makes a pty, links LINK (a $WINEPREFIX/dosdevices/comN entry) to its slave so
Wine opens it as that COM port (and, when asked, takes it away and makes a new
one, as a USB adapter pulled out and plugged in again), and serves the test program over TCP on the
loopback (protocol in support/peer_link.h). With LINK2, a second line the
same way (the mouse's), which a connection addresses after LINE 1. Types and
moves on the X display (DISPLAY) with xdotool, and times keys from the X
server to the line with the XTEST extension. Writes the TCP port to PORT_FILE
once it is ready. Runs until killed.

    serial_peer.py LINK PORT_FILE [LINK2]
"""
import ctypes
import os
import pty
import select
import socket
import subprocess
import sys
import termios
import threading
import time


def settings(fd):
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(fd)
    speeds = {getattr(termios, n): n[1:] for n in dir(termios)
              if n.startswith('B') and n[1:].isdigit()}
    sizes = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}
    flags = [
        ('parenb', cflag & termios.PARENB), ('cstopb', cflag & termios.CSTOPB),
        ('crtscts', cflag & termios.CRTSCTS), ('ixon', iflag & termios.IXON),
        ('ixoff', iflag & termios.IXOFF), ('istrip', iflag & termios.ISTRIP),
        ('icrnl', iflag & termios.ICRNL), ('opost', oflag & termios.OPOST),
        ('icanon', lflag & termios.ICANON), ('echo', lflag & termios.ECHO),
        ('isig', lflag & termios.ISIG),
    ]
    words = ['ispeed=%s' % speeds.get(ispeed, ispeed), 'ospeed=%s' % speeds.get(ospeed, ospeed),
             'csize=%d' % sizes[cflag & termios.CSIZE]]
    words += ['%s=%d' % (name, 1 if value else 0) for name, value in flags]
    return ' '.join(words)


def read_bytes(fd, count, timeout_ms):
    data = b''
    deadline = time.monotonic() + timeout_ms / 1000.0
    while len(data) < count:
        left = deadline - time.monotonic()
        if left <= 0:
            break
        ready, _, _ = select.select([fd], [], [], left)
        if ready:
            data += os.read(fd, count - len(data))
    return data


def drain(fd):
    while select.select([fd], [], [], 0)[0]:
        os.read(fd, 4096)


def openers(slave_path):
    """How many descriptors other processes hold on the slave (Wine's included)."""
    count = 0
    for pid in os.listdir('/proc'):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        fd_dir = '/proc/%s/fd' % pid
        try:
            for fd in os.listdir(fd_dir):
                try:
                    if os.readlink(os.path.join(fd_dir, fd)) == slave_path:
                        count += 1
                except OSError:
                    pass
        except OSError:
            pass
    return count


class Line:
    """The pty and the COM port's link to its slave; it can go away and come
    back as a new pty under the same link, as a USB adapter does."""

    def __init__(self, link):
        self.link = link
        self.master = self.slave = None
        self.come_back()

    def come_back(self):
        if self.master is not None:
            return
        self.master, self.slave = pty.openpty()
        # The slave stays open here too, so the line never hangs up between
        # the test program's opens and closes.
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(os.ttyname(self.slave), self.link)

    def vanish(self):
        # The far end of the COM port's handle hangs up, and the name is gone.
        if self.master is None:
            return
        os.unlink(self.link)
        os.close(self.master)
        os.close(self.slave)
        self.master = self.slave = None


class Keys:
    """Key events straight into the X server (XTEST), for timing: no process
    started between the clock's read and the event."""

    def __init__(self):
        self.x11 = ctypes.CDLL('libX11.so.6')
        self.xtst = ctypes.CDLL('libXtst.so.6')
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XStringToKeysym.restype = ctypes.c_ulong
        self.x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        self.display = self.x11.XOpenDisplay(None)
        if not self.display:
            raise OSError('no X display')

    def code(self, keysym):
        return self.x11.XKeysymToKeycode(self.display,
                                         self.x11.XStringToKeysym(keysym.encode()))

    def send(self, code, down):
        self.xtst.XTestFakeKeyEvent(self.display, code, 1 if down else 0, 0)
        self.x11.XFlush(self.display)


def latency(keys, fd, keysym, count):
    """Times each press and release of keysym from the X server to its byte
    on the line: microseconds, one a sample, or an error."""
    code = keys.code(keysym)
    samples = []
    drain(fd)
    for i in range(count * 2):
        down = i % 2 == 0
        start = time.monotonic()
        keys.send(code, down)
        ready, _, _ = select.select([fd], [], [], 2.0)
        if not ready:
            keys.send(code, False)
            return 'ERROR no byte for sample %d' % i
        samples.append(int((time.monotonic() - start) * 1e6))
        os.read(fd, 64)
        # Apart, as a typist's keys are: each sample times one key alone.
        time.sleep(0.01)
    return ' '.join(str(s) for s in samples)


def serve(conn, lines, keys):
    # Each test starts with lines that are there and carry bytes again, and a
    # connection speaks to the first until it asks for another.
    for line in lines:
        line.come_back()
        termios.tcflow(line.slave, termios.TCOON)
    line = lines[0]
    reader = conn.makefile('r')
    for request in reader:
        words = request.split()
        if not words:
            continue
        master, slave = line.master, line.slave
        if words[0] == 'LINE':
            index = int(words[1]) if len(words) > 1 else -1
            if 0 <= index < len(lines):
                line = lines[index]
                reply = 'OK'
            else:
                reply = 'ERROR no such line'
        elif words[0] == 'XDO':
            # xdotool with the words after XDO; its output on one line.
            done = subprocess.run(['xdotool'] + words[1:], capture_output=True, text=True)
            out = ' '.join(done.stdout.split())
            reply = 'OK ' + out if done.returncode == 0 else 'ERROR ' + ' '.join(
                done.stderr.split())
        elif words[0] == 'LATENCY':
            if not keys:
                keys.append(Keys())  # kept for the next connections
            reply = latency(keys[0], master, words[1], int(words[2]))
        elif words[0] == 'VANISH':
            line.vanish()
            reply = 'OK'
        elif words[0] == 'RETURN':
            line.come_back()
            reply = 'OK'
        elif master is None:
            reply = 'ERROR the line has vanished'
        elif words[0] == 'SETTINGS':
            reply = settings(master)
        elif words[0] == 'WRITE':
            os.write(master, bytes.fromhex(words[1] if len(words) > 1 else ''))
            reply = 'OK'
        elif words[0] == 'READ':
            reply = read_bytes(master, int(words[1]), int(words[2])).hex()
        elif words[0] == 'OPENERS':
            reply = str(openers(os.ttyname(slave)))
        elif words[0] == 'DRAIN':
            drain(master)
            reply = 'OK'
        elif words[0] == 'HOLD':
            # Output suspended on the slave: the COM port's writes find no room,
            # as with a host that has stopped taking bytes.
            termios.tcflow(slave, termios.TCOOFF)
            reply = 'OK'
        else:
            reply = 'ERROR unknown request'
        conn.sendall((reply + '\n').encode())


def main():
    link, port_file = sys.argv[1], sys.argv[2]
    lines = [Line(link)] + [Line(extra) for extra in sys.argv[3:4]]
    keys = []  # the XTEST connection, once one is asked for

    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(('127.0.0.1', 0))
    server.listen(4)
    with open(port_file + '.tmp', 'w') as f:
        f.write(str(server.getsockname()[1]))
    os.rename(port_file + '.tmp', port_file)
    def session(conn):
        with conn:
            try:
                serve(conn, lines, keys)
            except (ConnectionError, OSError):
                pass

    # A test may speak to both lines at once, over two connections.
    while True:
        conn, _ = server.accept()
        threading.Thread(target=session, args=(conn,), daemon=True).start()


if __name__ == '__main__':
    main()
