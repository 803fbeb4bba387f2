#!/usr/bin/env python3
"""The Linux end of the serial line for the Windows serial tests.

Makes a pty, links LINK (a $WINEPREFIX/dosdevices/comN entry) to its slave so
Wine opens it as that COM port (and, when asked, takes it away and makes a new
one, as a USB adapter pulled out and plugged in again), and serves the test program over TCP on the
loopback (protocol in support/peer_link.h). Writes the TCP port to PORT_FILE
once it is ready. Runs until killed.

    serial_peer.py LINK PORT_FILE
"""
import os
import pty
import select
import socket
import sys
import termios
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


def serve(conn, line):
    # Each test starts with a line that is there and carries bytes again.
    line.come_back()
    termios.tcflow(line.slave, termios.TCOON)
    reader = conn.makefile('r')
    for request in reader:
        words = request.split()
        if not words:
            continue
        master, slave = line.master, line.slave
        if words[0] == 'VANISH':
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
    line = Line(link)

    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(('127.0.0.1', 0))
    server.listen(4)
    with open(port_file + '.tmp', 'w') as f:
        f.write(str(server.getsockname()[1]))
    os.rename(port_file + '.tmp', port_file)
    while True:
        conn, _ = server.accept()
        with conn:
            try:
                serve(conn, line)
            except (ConnectionError, OSError):
                pass


if __name__ == '__main__':
    main()
