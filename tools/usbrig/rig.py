#!/usr/bin/env python3
"""The USB rig's host side: simulated modems, the QEMU guest, plugs and pulls, checks.

Every adapter is QEMU's emulated FTDI chip (usb-serial) bound by the guest kernel's
ftdi_sio; its other end is a simulated modem's pseudo-terminal on this machine. The
guest runs the flasher (also as the production line's watch) and the drivers of the
window and the bench window from this machine's build through a read-only share of the
root; commands and results cross a writable share. Every wait polls a condition with a
bound; every child process is ended on exit.
"""

import argparse
import collections
import hashlib
import json
import lzma
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import tty

MODULES = [
    "usb-common", "usbcore", "xhci-pci-renesas", "xhci-hcd", "xhci-pci", "usbserial", "ftdi_sio",
    "netfs", "fscache", "9pnet", "virtio", "virtio_ring", "virtio_pci_legacy_dev",
    "virtio_pci_modern_dev", "virtio_pci", "9pnet_virtio", "9p",
]
ADAPTER_VIDPID = "0403:6001"
BRAILLE_VIDPID = "0403:fe72"
# The targets are those of hardware; the guest runs under plain emulation on a shared
# machine, many times slower (the run prints the factor), so a check fails only past the
# limit, which marks a hang or a missed failure, and prints the figure against the target.
PULL_LATENCY_TARGET_S = 1.0
PULL_LATENCY_LIMIT_S = 3.0
CPU_AFTER_PULL_FLOOR_MS = 100
CPU_AFTER_PULL_SHARE = 0.5
STALL_TARGET_MS = 100
# The production line's checks: four adapters plugged one after another (the second pulled
# in main.pyo and plugged back), for the watch at root ports of the xhci controller, for the
# bench window at the ports of an emulated hub (8 ports, on root port 10, there from boot);
# one adapter plugged before the watch starts; a second braille display plugged while the
# watch or the bench runs.
LINE_HUB_PORT = 10
WATCH_PORTS = ["11", "12", "13", "14"]
BENCH_PORTS = ["10.2", "10.3", "10.4", "10.5"]
LINE_PRESENT_PORT = "10.1"
LINE_BRAILLE_PORT = "15"
LINE_PULLED = 1  # the index in the ports of the adapter pulled mid-file
LINE_MODEMS = len(WATCH_PORTS)
LINE_WAIT_S = 420
LINE_SETTINGS = "APN::modem.apn::Точка входа GPRS\r\n".encode()
# A bench whose adapter is wired into the fixture (k): one adapter at a port of the hub,
# plugged before the watch starts and never pulled, three modems put in behind it one
# after another; a port silent this long has lost its modem.
FIXED_PORT = "10.6"
FIXED_MODEMS = 3
FIXED_GONE_AFTER_S = 5
FIXED_JOB_WAIT_S = 240
# A provisioning table (l): three adapters at the root ports the watch's check used, a table
# of three rows by IMEI (one for a modem never plugged) and two in order; the modem of the
# third adapter is pulled mid-file and a power-cycled one with the same IMEI plugged back.
PROVISION_PORTS = ["11", "12", "13"]
PROVISION_PULLED = 2
# The settings file's template: each key's description, in the order every file keeps.
SETTINGS_TEMPLATE = [
    ("CRYPT_DATA", "Шифровать данные (1 - вкл., 0 - выкл.)"),
    ("DEBUG_SER", "Вывод отладочной информации в последовательный порт (1 - вкл., 0 - выкл.)"),
    ("PIN", "PIN-код"), ("APN", "Точка входа GPRS"), ("GPRS_USER", "Имя пользователя GPRS"),
    ("GPRS_PASSWD", "Пароль GPRS"), ("DEST_IP", "Адрес назначения исходящего соединения"),
    ("DEST_PORT", "Порт назначения исходящего соединения"),
    ("SER_SP", "Скорость последовательного порта (бит/сек)"),
]


class RigError(Exception):
    pass


def wait_for(condition, timeout, what, interval=0.02):
    """Polls condition until it returns a true value; RigError after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise RigError("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def imei(number):
    """A 15-digit IMEI with a valid Luhn digit, one for each simulated modem."""
    body = "35209900%06d" % number
    total = 0
    for i, c in enumerate(body):
        d = int(c) * (2 if i % 2 else 1)
        total += d - 9 if d > 9 else d
    return body + str((10 - total % 10) % 10)


def read_journal(path):
    """The production journal's lines as fields by their column's name (a missing field is
    empty), and what is wrong with its form."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as error:
        return [], ["no journal: %s" % error]
    problems = []
    if not data.startswith(b"\xef\xbb\xbf"):
        problems.append("the journal has no BOM")
    if data.count(b"\xef\xbb\xbf") != 1:
        problems.append("the journal has %d BOMs" % data.count(b"\xef\xbb\xbf"))
    text = data.decode("utf-8-sig", errors="replace")
    if not text.endswith("\r\n") or text.count("\n") != text.count("\r\n"):
        problems.append("the journal's lines do not end in CR LF")
    rows = [l.split(";") for l in text.split("\r\n") if l]
    header = rows[0] if rows else []
    if header[:1] != ["Дата и время"] or "Гнездо" not in header or "IMEI" not in header:
        problems.append("the journal has no header")
    lines = [collections.defaultdict(str, zip(header, row)) for row in rows[1:]]
    return lines, problems


def seconds_of_day(stamp):
    """"hh:mm:ss.zzz" as seconds."""
    hours, minutes, seconds = stamp.split(":")
    return int(hours) * 3600 + int(minutes) * 60 + float(seconds)


# --- the guest's initramfs -------------------------------------------------------------

def module_paths(kernel_dir):
    release = os.listdir(os.path.join(kernel_dir, "lib/modules"))[0]
    paths = {}
    for top, _, names in os.walk(os.path.join(kernel_dir, "lib/modules", release, "kernel")):
        for name in names:
            base = name.split(".ko")[0]
            paths[base.replace("_", "-")] = os.path.join(top, name)
    return release, paths


def module_bytes(path):
    with open(path, "rb") as f:
        data = f.read()
    return lzma.decompress(data) if path.endswith(".xz") else data


def module_depends(data):
    marker = data.find(b"\0depends=")
    if marker < 0:
        return []
    end = data.index(b"\0", marker + 1)
    names = data[marker + len(b"\0depends="):end].decode()
    return [n for n in names.split(",") if n]


def build_initramfs(kernel_dir, repo, out_path, work):
    """A busybox initramfs with the wanted modules (decompressed) in dependency order."""
    release, paths = module_paths(kernel_dir)
    tree = os.path.join(work, "initramfs")
    os.makedirs(os.path.join(tree, "bin"))
    os.makedirs(os.path.join(tree, "modules"))
    for d in ("proc", "sys", "dev", "host"):
        os.makedirs(os.path.join(tree, d))
    shutil.copy("/bin/busybox", os.path.join(tree, "bin/busybox"))
    shutil.copy(os.path.join(repo, "tools/usbrig/guest-init"), os.path.join(tree, "init"))
    os.chmod(os.path.join(tree, "init"), 0o755)
    with open(os.path.join(tree, "repo"), "w") as f:
        f.write(repo + "\n")
    order = []

    def add(name):
        key = name.replace("_", "-")
        if key in order or key not in paths:
            return  # built into the kernel, or already there
        data = module_bytes(paths[key])
        for dep in module_depends(data):
            add(dep)
        with open(os.path.join(tree, "modules", key + ".ko"), "wb") as f:
            f.write(data)
        order.append(key)

    for name in MODULES:
        add(name)
    with open(os.path.join(tree, "modules/order"), "w") as f:
        f.write("\n".join(order) + "\n")
    listing = subprocess.run(["find", "."], cwd=tree, check=True, capture_output=True).stdout
    with open(out_path, "wb") as out:
        cpio = subprocess.run(["cpio", "-o", "-H", "newc", "--quiet"], cwd=tree, input=listing,
                              check=True, capture_output=True).stdout
        out.write(cpio)
    vmlinuz = os.path.join(kernel_dir, "boot", "vmlinuz-" + release)
    return vmlinuz, order


# --- simulated modems ------------------------------------------------------------------

class Sim:
    """One lorta-modem-sim process: its pty, its traffic log, its files on exit."""

    def __init__(self, binary, work, name, extra=()):
        self.name = name
        self.dump = os.path.join(work, "sim-" + name)
        self.log_path = os.path.join(work, "sim-" + name + ".log")
        self.log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([binary, "--demo", "--log", "--dump", self.dump, *extra],
                                     stdout=subprocess.PIPE, stderr=self.log,
                                     stdin=subprocess.DEVNULL)
        line = self.proc.stdout.readline().decode().strip()
        if not line.startswith("/dev/"):
            raise RigError("simulated modem %s did not start" % name)
        self.pty = line

    def log_lines(self):
        return read_text(self.log_path).splitlines()

    def stop(self):
        """Ends the modem and returns (commands, files) as it held them."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()
        commands = read_text(os.path.join(self.dump, "commands.txt")).splitlines()
        files = {}
        folder = os.path.join(self.dump, "files")
        for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
            with open(os.path.join(folder, name), "rb") as f:
                files[name] = f.read()
        return commands, files


class ByteSink:
    """A pseudo-terminal whose far side is a USB device that must stay silent: counts bytes."""

    def __init__(self):
        self.master, slave = os.openpty()
        self.pty = os.ttyname(slave)
        self.slave = slave
        self.count = 0
        self.stopped = False
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        import select
        while not self.stopped:
            ready, _, _ = select.select([self.master], [], [], 0.2)
            if ready:
                try:
                    self.count += len(os.read(self.master, 4096))
                except OSError:
                    return


def write_all(fd, data):
    while data:
        data = data[os.write(fd, data):]


class Fixture:
    """The line of an adapter wired into a bench's fixture: it stays while modems are put in
    behind it and taken out. QEMU does not change the chardev of a plugged usb-serial
    ("Chardev user does not support chardev hotswap"), so the adapter's chardev is a
    pseudo-terminal of this process, joined to the modem in the fixture, if any. The other
    modems' lines are read and dropped, as their bytes reach no one."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.pty = os.ttyname(self.slave)
        self.lines = {}  # modem name: its pseudo-terminal, opened here
        self.leaving = set()
        self.current = None
        self.lock = threading.Lock()
        self.stopped = False
        for target in (self._to_modem, self._from_modems):
            threading.Thread(target=target, daemon=True).start()

    def add(self, name, pty):
        fd = os.open(pty, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(fd)
        with self.lock:
            self.lines[name] = fd

    def put_in(self, name):
        self.current = name

    def take_out(self):
        self.current = None

    def remove(self, name):
        """Lets go of a modem's line (before its process ends)."""
        with self.lock:
            self.leaving.add(name)

    def stop(self):
        self.stopped = True

    def _to_modem(self):
        while not self.stopped:
            if not select.select([self.master], [], [], 0.1)[0]:
                continue
            try:
                data = os.read(self.master, 4096)
            except OSError:
                return
            with self.lock:
                fd = self.lines.get(self.current)
                if fd is not None and self.current not in self.leaving:
                    try:
                        write_all(fd, data)
                    except OSError:
                        pass

    def _from_modems(self):
        while not self.stopped:
            with self.lock:
                for name in self.leaving:
                    os.close(self.lines.pop(name))
                self.leaving.clear()
                names = {fd: name for name, fd in self.lines.items()}
            if not names:
                time.sleep(0.1)
                continue
            for fd in select.select(list(names), [], [], 0.1)[0]:
                try:
                    data = os.read(fd, 4096)
                except OSError:
                    data = b""
                if not data:  # the modem's process ended
                    self.remove(names[fd])
                elif names[fd] == self.current:
                    write_all(self.master, data)


# --- QEMU and its monitor --------------------------------------------------------------

class Qmp:
    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.sock.settimeout(30)
        self.buffer = b""
        self._reply()  # greeting
        self.execute("qmp_capabilities")

    def _message(self):
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise RigError("QEMU's monitor closed")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def _reply(self):
        while True:
            message = self._message()
            if "event" not in message:
                return message

    def execute(self, command, **arguments):
        request = {"execute": command}
        if arguments:
            request["arguments"] = arguments
        self.sock.sendall(json.dumps(request).encode() + b"\n")
        reply = self._reply()
        if "error" in reply:
            raise RigError("%s: %s" % (command, reply["error"].get("desc")))
        return reply.get("return")


class Guest:
    """The QEMU guest: boot, adapters by id on fixed xhci ports, commands through the share."""

    def __init__(self, args, vmlinuz, initramfs, work):
        self.work = work
        self.share = os.path.join(work, "share")
        os.makedirs(os.path.join(self.share, "cmd"))
        self.console = os.path.join(work, "console.log")
        self.qmp_path = os.path.join(work, "qmp.sock")
        self.command_count = 0
        accel = ["-accel", "kvm", "-cpu", "host"] if args.kvm else ["-cpu", "max"]
        self.argv = [
            "qemu-system-x86_64", *accel, "-m", "1536", "-smp", "2",
            "-nographic", "-no-reboot", "-monitor", "none", "-serial", "file:" + self.console,
            "-kernel", vmlinuz, "-initrd", initramfs,
            "-append", "console=ttyS0 panic=-1 quiet loglevel=4",
            "-qmp", "unix:%s,server=on,wait=off" % self.qmp_path,
            "-virtfs", "local,path=/,mount_tag=hostroot,security_model=none,readonly=on",
            "-virtfs", "local,path=%s,mount_tag=results,security_model=none" % self.share,
            "-device", "qemu-xhci,id=xhci,p2=15,p3=15",
        ]
        self.proc = None
        self.qmp = None

    def add_chardev(self, chardev, pty):
        self.argv += ["-chardev", "serial,id=%s,path=%s" % (chardev, pty)]

    def add_device_at_boot(self, driver, dev_id, chardev, port, serial=None):
        device = "%s,id=%s,chardev=%s,bus=xhci.0,port=%d" % (driver, dev_id, chardev, port)
        if serial:
            device += ",serial=" + serial
        self.argv += ["-device", device]

    def boot(self, timeout):
        self.proc = subprocess.Popen(self.argv, stdin=subprocess.DEVNULL,
                                     stdout=open(os.path.join(self.work, "qemu.out"), "wb"),
                                     stderr=subprocess.STDOUT)
        wait_for(lambda: os.path.exists(self.qmp_path) or self.proc.poll() is not None, 30,
                 "QEMU's monitor socket")
        if self.proc.poll() is not None:
            raise RigError("QEMU ended at once: " + read_text(os.path.join(self.work, "qemu.out")))
        def connected():
            try:
                self.qmp = Qmp(self.qmp_path)
                return True
            except OSError:
                return False
        wait_for(connected, 30, "QEMU's monitor to listen", interval=0.1)
        ready = os.path.join(self.share, "ready")
        wait_for(lambda: os.path.exists(ready) or self.proc.poll() is not None, timeout,
                 "the guest to boot")
        if self.proc.poll() is not None:
            raise RigError("the guest stopped while booting")
        return read_text(ready)

    def plug(self, dev_id, chardev, port, serial, driver="usb-serial"):
        self.qmp.execute("device_add", driver=driver, id=dev_id, chardev=chardev, bus="xhci.0",
                         port=str(port), serial=serial)

    def pull(self, dev_id):
        self.qmp.execute("device_del", id=dev_id)
        return time.monotonic()

    def chardev_add(self, chardev, pty):
        self.qmp.execute("chardev-add", id=chardev,
                         backend={"type": "serial", "data": {"device": pty}})

    def chardev_remove(self, chardev):
        # device_del completes asynchronously; the chardev is free once the device is gone.
        def removed():
            try:
                self.qmp.execute("chardev-remove", id=chardev)
                return True
            except RigError:
                return False
        wait_for(removed, 20, "chardev %s to be released" % chardev, interval=0.1)

    def start(self, script):
        """Starts a shell script in the guest; returns its handle (a path prefix)."""
        self.command_count += 1
        base = os.path.join(self.share, "cmd", "%03d" % self.command_count)
        with open(base + ".tmp", "w") as f:
            f.write("set -u\nexport RIG=/tmp/rig\n" + script + "\n")
        os.rename(base + ".tmp", base + ".sh")
        return base

    @staticmethod
    def finished(handle):
        return os.path.exists(handle + ".rc")

    def result(self, handle, timeout):
        wait_for(lambda: self.finished(handle) or self.proc.poll() is not None, timeout,
                 "guest command %s" % os.path.basename(handle))
        if not self.finished(handle):
            raise RigError("the guest stopped during a command")
        return int(read_text(handle + ".rc").strip() or 1), read_text(handle + ".out")

    def run(self, script, timeout=120):
        return self.result(self.start(script), timeout)

    def halt(self, timeout=60):
        if self.proc is None:
            return
        if self.proc.poll() is None:
            open(os.path.join(self.share, "cmd", "halt"), "w").close()
            try:
                self.proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                pass
        self.kill()

    def kill(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


# --- the run ---------------------------------------------------------------------------

class Rig:
    def __init__(self, args):
        self.args = args
        self.repo = args.root
        self.build = os.path.join(self.repo, "build")
        self.cli = os.path.join(self.build, "src/lorta-flash-cli")
        self.sim_binary = os.path.join(self.build, "tools/modemsim/lorta-modem-sim")
        self.window = os.path.join(self.build, "tools/usbrig/lorta-usbrig-window")
        self.bench = os.path.join(self.build, "tools/usbrig/lorta-usbrig-bench")
        self.work = args.keep or tempfile.mkdtemp(prefix="lorta-usb-rig-")
        os.makedirs(self.work, exist_ok=True)
        self.sims = {}
        self.guest = None
        self.sink = None
        self.sink2 = None
        self.imeis = {}
        self.ref_proc = None
        self.passed = 0
        self.failed = 0
        self.figures = {}
        self.guest_lib = os.path.join(self.repo, "tools/usbrig/guest-lib.sh")

    def report(self, letter, ok, text):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        print("%s %s: %s" % ("PASS" if ok else "FAIL", letter, text), flush=True)

    def sim(self, name, *extra):
        self.sims[name] = Sim(self.sim_binary, self.work, name, extra)
        return self.sims[name]

    def cleanup(self):
        if self.guest is not None:
            self.guest.kill()
        if self.ref_proc is not None and self.ref_proc.poll() is None:
            self.ref_proc.kill()
            self.ref_proc.wait()
        for sim in self.sims.values():
            if sim.proc.poll() is None:
                sim.proc.kill()
                sim.proc.wait()
        for sink in (self.sink, self.sink2):
            if sink is not None:
                sink.stopped = True

    # -- set-up -------------------------------------------------------------------------

    def boot(self):
        initramfs = os.path.join(self.work, "initramfs.cpio")
        vmlinuz, order = build_initramfs(self.args.kernel_dir, self.repo, initramfs, self.work)
        self.guest = Guest(self.args, vmlinuz, initramfs, self.work)
        layout = [("a0", "b", 1, "LORTA-B"), ("a1", "c", 2, "LORTA-C"), ("a2", "w", 3, "LORTA-W"),
                  ("a3", "f1", 4, "LORTA-F1"), ("a4", "f2", 5, "LORTA-F2"),
                  ("a5", "f3", 6, "LORTA-F3"), ("a6", "f4", 7, "LORTA-F4")]
        for dev_id, name, port, serial in layout:
            sim = self.sim(name)
            self.guest.add_chardev("m_" + name, sim.pty)
            self.guest.add_device_at_boot("usb-serial", dev_id, "m_" + name, port, serial)
        # The bystander: QEMU's braille display, another FTDI chip; its line must stay silent.
        self.sink = ByteSink()
        self.guest.add_chardev("m_braille", self.sink.pty)
        self.guest.add_device_at_boot("usb-braille", "braille", "m_braille", 8)
        # The bench window's adapters go behind a hub, as on a bench.
        self.guest.argv += ["-device", "usb-hub,id=hub,bus=xhci.0,port=%d" % LINE_HUB_PORT]
        started = time.monotonic()
        ready = self.guest.boot(self.args.boot_timeout)
        self.figures["boot_s"] = time.monotonic() - started
        print("guest up in %.1f s (kernel %s, modules: %s); ports: %s" % (
            self.figures["boot_s"], ready.splitlines()[0], " ".join(order),
            " ".join(os.path.basename(p) for p in ready.split()[1:])), flush=True)

    def emulation_factor(self):
        """How much slower the guest computes than this machine, for reading the figures."""
        work = "head -c 33554432 /dev/zero | sha256sum > /dev/null"
        probe = 's=$(date +%%s%%N); %s; echo $(( ($(date +%%s%%N) - s) / 1000000 ))' % work
        host = subprocess.run(["bash", "-c", probe], capture_output=True, text=True).stdout
        rc, guest = self.run(probe, timeout=120)
        if rc == 0 and host.strip() and int(host) > 0:
            self.figures["emulation_factor"] = int(guest.split()[-1]) / int(host)
            print("guest computes %.1f times slower than this machine" %
                  self.figures["emulation_factor"], flush=True)

    def guest_script(self, body):
        return "source %s\ncli=%s\nwin=%s\nbench=%s\n%s" % (self.guest_lib, self.cli, self.window,
                                                          self.bench, body)

    def run(self, body, timeout=120):
        return self.guest.run(self.guest_script(body), timeout)

    def start(self, body):
        return self.guest.start(self.guest_script(body))

    def reference_run(self):
        """The same flash and read-settings over a plain pseudo-terminal, on this machine."""
        sim = self.sim("ref")
        folder = os.path.join(self.work, "ref")
        os.makedirs(folder)
        # Read first: after a flash the modem runs its script and takes no commands.
        for argv in (["read-settings", "--out", os.path.join(folder, "read.ini")], ["flash"]):
            self.ref_proc = subprocess.Popen([self.cli, *argv, "--port", sim.pty], cwd=folder,
                                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                             stderr=subprocess.DEVNULL)
            try:
                self.ref_proc.wait(timeout=180)
            except subprocess.TimeoutExpired:
                self.ref_proc.kill()
                self.ref_proc.wait()
        self.reference = sim.stop()

    # -- helpers for checks -------------------------------------------------------------

    def payload(self, name):
        with open(os.path.join(self.repo, "files", name), "rb") as f:
            return f.read()

    def flashed(self, files):
        """Empty when the modem holds both scripts byte for byte, else what is wrong."""
        wrong = [n for n in ("main.pyo", "config.pyo") if files.get(n) != self.payload(n)]
        return "" if not wrong else "not byte for byte: " + ", ".join(wrong)

    def wait_mid_file(self, sim, name="main.pyo", seconds_in=2.5, timeout=150):
        """Waits until the modem has been taking NAME's bytes for a while."""
        marker = 'at#wscript="%s"' % name
        wait_for(lambda: any(marker in l for l in sim.log_lines()), timeout,
                 "%s's write to %s" % (name, sim.name), interval=0.05)
        time.sleep(seconds_in)  # into the file's bytes: its write takes over 13 s at 9600 bit/s

    def pull_and_replug_fresh(self, dev_id, name, port, serial):
        """After a pull mid-file the modem waits for the rest of it: a fresh (power-cycled)
        modem is wired to the same USB position."""
        self.guest.chardev_remove("m_" + name)
        self.sims[name].stop()
        sim = self.sim(name + "2")
        self.guest.chardev_add("m_" + name + "2", sim.pty)
        self.guest.plug(dev_id, "m_" + name + "2", port, serial)
        return sim

    @staticmethod
    def collapse(commands):
        """Commands with runs of one repeated line (the presence and wake-up polls, whose
        count follows timing) folded into one."""
        folded = []
        for line in commands:
            if not folded or folded[-1] != line:
                folded.append(line)
        return folded

    @staticmethod
    def unescaped_length(text):
        n, i = 0, 0
        while i < len(text):
            i += 4 if text.startswith("\\x", i) else 2 if text[i] == "\\" else 1
            n += 1
        return n

    # -- the checks ---------------------------------------------------------------------

    def check_a(self):
        rc, out = self.run("p=$(port_of LORTA-B) || exit 3\necho \"PORT $p\"\n$cli ports")
        port = out.split("PORT ", 1)[1].split()[0] if "PORT " in out else "?"
        line = next((l for l in out.splitlines() if l.split()[:1] == [port]), "")
        ok = rc == 0 and ADAPTER_VIDPID in line and "QEMU" in line
        self.ports_listing = out
        self.report("a", ok, "ports lists %s" % (line.strip() or "nothing for " + port))

    def check_b(self):
        rc, out = self.run(
            "p=$(port_of LORTA-B) || exit 3\nmkdir -p $RIG/b && cd $RIG/b\n"
            "$cli read-settings --port $p --out $RIG/b/read.ini > read.out 2>&1; r=$?\n"
            "$cli flash --port $p > flash.out 2>&1; f=$?\n"
            "echo \"flash $f read $r\"; [ $f = 0 ] && [ $r = 0 ]", timeout=300)
        self.guest.pull("a0")
        self.guest.chardev_remove("m_b")
        commands, files = self.sims["b"].stop()
        problems = []
        if rc != 0:
            problems.append("exit statuses: " + out.strip())
        if self.flashed(files):
            problems.append(self.flashed(files))
        read_back = open(os.path.join(self.guest.share, "b/read.ini"), "rb").read() \
            if os.path.exists(os.path.join(self.guest.share, "b/read.ini")) else b""
        if read_back != files.get("settings.ini"):
            problems.append("read-settings did not store the modem's settings.ini byte for byte")
        self.ref_thread.join(timeout=300)
        reference = getattr(self, "reference", None)
        if reference is None:
            problems.append("no reference run over a pseudo-terminal")
        elif self.collapse(commands) != self.collapse(reference[0]):
            problems.append("commands differ from the pseudo-terminal run")
            with open(os.path.join(self.work, "b-commands.diff"), "w") as f:
                f.write("\n".join(self.collapse(commands)) + "\n----\n" +
                        "\n".join(self.collapse(reference[0])) + "\n")
        self.report("b", not problems, "; ".join(problems) or
                    "flash and read-settings through ttyUSB succeeded, scripts byte for byte, "
                    "%d commands as over a pseudo-terminal" % len(commands))

    def check_c(self):
        handle = self.start(
            "p=$(port_of LORTA-C) || exit 3\necho \"PORT $p\"\n"
            "$cli flash --port $p > $RIG/c-cli.out 2>&1 & pid=$!\n"
            "before=0; last=0\n"
            "while t=$(cpu_ticks $pid); do\n"
            "  [ -e /dev/$p ] && before=$t\n  last=$t\n  sleep 0.02\ndone\n"
            "wait $pid; st=$?; echo $st > $RIG/c-exit\n"
            "wait_gone $p 10; gone=$(last_disconnect)\n"
            "echo \"STATUS $st CPU_BEFORE $before CPU_LAST $last GONE ${gone:-none}\"\n"
            "if pgrep -x lorta-flash-cli; then echo 'LEFT yes'; else echo 'LEFT none'; fi")
        sim = self.sims["c"]
        self.wait_mid_file(sim)
        lines_at_pull = len(sim.log_lines())
        pulled = self.guest.pull("a1")
        exit_file = os.path.join(self.guest.share, "c-exit")
        wait_for(lambda: os.path.exists(exit_file), 30, "the flasher to end after the pull")
        host_latency = time.monotonic() - pulled
        rc, out = self.guest.result(handle, 30)
        # The modem's log settles once it has taken what was already on its line.
        wait_for(lambda: self._quiet(sim, 1.0), 30, "the modem to fall quiet")
        after = [l for l in sim.log_lines()[lines_at_pull:] if l.startswith("<< ")]
        commands_after = [l for l in after if l[3:].lower().startswith("at")]
        backlog = sum(self.unescaped_length(l[3:]) for l in after)
        fields = dict(zip(out.split()[::2], out.split()[1::2])) if "STATUS" in out else {}
        status = read_text(exit_file).strip()
        cpu_ms = (int(fields.get("CPU_LAST", 0)) - int(fields.get("CPU_BEFORE", 0))) * 10
        cli_out = read_text(os.path.join(self.guest.share, "c-cli.out"))
        # From the moment the guest's kernel dropped the adapter to the flasher's failure
        # line, both on the guest's clock (the host's view adds the guest's exit and the share).
        failed_at = next((l.split(" | ")[1].split(" : ")[0] for l in cli_out.splitlines()
                          if " | " in l and "Ошибка при прошивке модема" in l), None)
        gone_at = fields.get("GONE")
        latency = seconds_of_day(failed_at) - seconds_of_day(gone_at) \
            if failed_at and gone_at and gone_at != "none" else 99.0
        self.figures.update(c_latency_s=latency, c_exit_seen_by_host_s=host_latency,
                            c_cpu_ms=cpu_ms, c_backlog=backlog)
        problems = []
        # Judged on the host's one clock: device_del to the exit, an upper bound of the report.
        if host_latency > PULL_LATENCY_LIMIT_S:
            problems.append("flasher ended %.2f s after the pull" % host_latency)
        if status != "1":
            problems.append("exit status %s" % status)
        # A flasher that spun while ending would burn about all of that time on a core.
        if cpu_ms > max(CPU_AFTER_PULL_FLOOR_MS, CPU_AFTER_PULL_SHARE * host_latency * 1000):
            problems.append("%d ms CPU in the %.2f s after the pull" % (cpu_ms, host_latency))
        if "LEFT none" not in out:
            problems.append("a flasher process was left")
        if commands_after:
            problems.append("the modem received %s after the pull" % commands_after[0][3:])
        self.c_failure_text = cli_out.strip().splitlines()[-3:]
        self.report("c", not problems, "; ".join(problems) or
                    "flasher ended %.2f s after the pull (target 1 s; guest's dmesg clock: "
                    "failure line %.2f s after \"USB disconnect\"), "
                    "exit status 1, %d ms CPU after the pull, no process left, no command after "
                    "the pull (%d bytes already on the line drained)"
                    % (host_latency, latency, cpu_ms, backlog))

    def _quiet(self, sim, seconds):
        size = os.path.getsize(sim.log_path)
        changed = getattr(sim, "_size", None) != size
        if changed:
            sim._size, sim._since = size, time.monotonic()
            return False
        return time.monotonic() - sim._since >= seconds

    def check_e_cli(self):
        sim = self.pull_and_replug_fresh("a1", "c", 2, "LORTA-C")
        rc, out = self.run("p=$(port_of LORTA-C 60) || exit 3\necho \"PORT $p\"\n"
                           "cd $RIG && $cli flash --port $p > e-cli.out 2>&1", timeout=300)
        self.guest.pull("a1")
        self.guest.chardev_remove("m_c2")
        _, files = sim.stop()
        port = out.split("PORT ", 1)[1].split()[0] if "PORT " in out else "?"
        problems = []
        if rc != 0:
            problems.append("flash after re-plug: exit status %d" % rc)
        if self.flashed(files):
            problems.append(self.flashed(files))
        self.report("e (flasher)", not problems, "; ".join(problems) or
                    "re-plugged adapter came back as %s, flash succeeded byte for byte" % port)

    def check_f(self):
        handle = self.start(
            "ps=''\nfor s in LORTA-F1 LORTA-F2 LORTA-F3 LORTA-F4; do\n"
            "  p=$(port_of $s) || exit 3; ps=\"$ps --port $p\"; echo \"PORT $s $p\"\ndone\n"
            "cd $RIG && $cli flash $ps > f-cli.out 2>&1; st=$?; echo \"STATUS $st\"; exit $st")
        self.wait_mid_file(self.sims["f2"], timeout=200)
        self.guest.pull("a4")
        rc, out = self.guest.result(handle, 300)
        cli_out = read_text(os.path.join(self.guest.share, "f-cli.out"))
        ports = dict(l.split()[1:3] for l in out.splitlines() if l.startswith("PORT "))
        pulled_port = ports.get("LORTA-F2", "?")
        problems = []
        if rc != 1:
            problems.append("exit status %d" % rc)
        for name in ("f1", "f3", "f4"):
            _, files = self.sims[name].stop()
            if self.flashed(files):
                problems.append("%s %s" % (ports.get("LORTA-" + name.upper()), self.flashed(files)))
        self.sims["f2"].stop()
        named = [l for l in cli_out.splitlines() if pulled_port in l and "main.pyo" in l]
        if not named:
            problems.append("the pulled %s is not named with main.pyo as its step" % pulled_port)
        self.f_output = cli_out
        self.report("f", not problems, "; ".join(problems) or
                    "three modems flashed byte for byte, exit status 1, pulled %s reported: %s"
                    % (pulled_port, named[0].strip()))

    def probe_driver(self):
        """Not a check: what a pull looks like to QSerialPort and to the descriptor."""
        sim = self.sim("p")
        self.guest.chardev_add("m_p", sim.pty)
        self.guest.plug("a9", "m_p", 9, "LORTA-P")
        probe = os.path.join(self.build, "tools/usbrig/lorta-usbrig-probe")
        handle = self.start("p=$(port_of LORTA-P 60) || exit 3\n"
                            "exec %s $p $RIG/probe-ready" % probe)
        wait_for(lambda: os.path.exists(os.path.join(self.guest.share, "probe-ready")) or
                 self.guest.finished(handle), 90, "the probe to open its port")
        self.guest.pull("a9")
        _, out = self.guest.result(handle, 90)
        sim.stop()
        self.driver_notes = out.strip()
        for line in out.strip().splitlines():
            print("driver: " + line, flush=True)

    def check_h(self):
        line = next((l for l in self.ports_listing.splitlines() if BRAILLE_VIDPID in l), "")
        ok = bool(line) and self.sink.count == 0
        self.report("h", ok, "bystander %s; %d bytes reached it" % (
            line.strip() or "not listed with " + BRAILLE_VIDPID, self.sink.count))

    def plug_when_free(self, dev_id, chardev, port, serial, driver="usb-serial"):
        """device_del finishes in the background: the id is free again once the guest let go."""
        def plugged():
            try:
                self.guest.plug(dev_id, chardev, port, serial, driver)
                return True
            except RigError:
                return False
        wait_for(plugged, 30, "%s to be free for a new plug" % dev_id, interval=0.1)

    def window_checks(self):
        folder = os.path.join(self.guest.share, "win")
        os.makedirs(folder)
        # The moment the guest's kernel drops the adapter, on the guest's clock.
        handle = self.start("p=$(port_of LORTA-W) || exit 3\n"
                            "( wait_gone $p 600 && last_disconnect > $RIG/win/gone.tmp && mv $RIG/win/gone.tmp $RIG/win/gone ) &\n"
                            "cd $RIG/win && $win $RIG/win LORTA-W > $RIG/win/out.txt "
                            "2> $RIG/win/err.txt")
        self.wait_mid_file(self.sims["w"], timeout=200)
        pulled = self.guest.pull("a2")
        box = os.path.join(folder, "box")
        wait_for(lambda: os.path.exists(box) or self.guest.finished(handle), 60,
                 "the window's box after the pull")
        host_latency = time.monotonic() - pulled if os.path.exists(box) else -1
        gone = os.path.join(folder, "gone")
        wait_for(lambda: os.path.exists(gone), 30, "the guest to drop the adapter")
        box_at, gone_at = read_text(box).strip(), read_text(gone).strip()
        latency = seconds_of_day(box_at) - seconds_of_day(gone_at) if box_at and gone_at else None
        self.figures["d_box_latency_s"] = latency if latency is not None else -1
        self.figures["d_box_seen_by_host_s"] = host_latency
        chardev = "m_w"
        deadline = time.monotonic() + 600
        while not self.guest.finished(handle):
            if time.monotonic() > deadline:
                raise RigError("the window checks did not end")
            if self._request(folder, "plug-fresh"):
                self.pull_and_replug_fresh("a2", "w", 3, "LORTA-W")
                chardev = "m_w2"
                self._answer(folder, "plug-fresh")
            if self._request(folder, "pull"):
                self.guest.pull("a2")
                self._answer(folder, "pull")
            if self._request(folder, "plug"):
                self.plug_when_free("a2", chardev, 3, "LORTA-W")
                self._answer(folder, "plug")
            time.sleep(0.05)
        rc, _ = self.guest.result(handle, 10)
        out = read_text(os.path.join(folder, "out.txt"))
        results = {}
        for line in out.splitlines():
            parts = line.split(" ", 3)
            if parts[0] == "RESULT" and len(parts) == 4:
                results[parts[1]] = (parts[2] == "PASS", parts[3])
            elif parts[0] == "FIGURE" and len(parts) == 3:
                self.figures[parts[1]] = int(parts[2])
        ok, text = results.get("d", (False, "no result (exit status %d): %s" % (
            rc, read_text(os.path.join(folder, "err.txt"))[-400:])))
        # Judged on the host's one clock: device_del to the box's file on the share.
        if host_latency < 0 or host_latency > PULL_LATENCY_LIMIT_S:
            ok = False
        self.report("d", ok, "box %s after the pull (target 1 s; guest's dmesg clock: %s); %s" % (
            "%.2f s" % host_latency if host_latency >= 0 else "never",
            "%.2f s" % latency if latency is not None else "?", text))
        for letter, label in (("e", "e (window)"), ("g1", "g (presence check)"),
                              ("g2", "g (between jobs)")):
            ok, text = results.get(letter, (False, "not reached"))
            self.report(label, ok, text)

    # -- the production line: the flasher's watch and the bench window --------------------

    def line_modem(self, name, port, device=None):
        """A simulated modem with its own IMEI, wired to an adapter plugged at PORT: a new one,
        or DEVICE plugged back (its USB serial number is the device's)."""
        device = device or name
        self.imeis[name] = imei(len(self.imeis) + 1)
        sim = self.sim(name, "--imei", self.imeis[name])
        self.guest.chardev_add("m_" + name, sim.pty)
        self.guest.plug(device, "m_" + name, port, "LORTA-" + device.upper())
        return sim

    def plug_braille(self):
        """A second braille display (0403:fe72), plugged while the watch runs: it is new to the
        watch, so only the adapter filter keeps it silent."""
        if self.sink2 is None:
            self.sink2 = ByteSink()
            self.guest.chardev_add("m_braille2", self.sink2.pty)
        self.plug_when_free("braille2", "m_braille2", LINE_BRAILLE_PORT, "LORTA-BR2",
                            driver="usb-braille")

    def line_sequence(self, prefix, ports, pulled_seen):
        """Plugs four adapters one after another, each once the modem before it has been asked
        for its IMEI, pulls the second one in main.pyo, waits for PULLED_SEEN (which returns the
        front end's report of the pull, or nothing yet) and plugs a fresh modem in at the same
        hub port. Returns the seconds from the pull to the report, and the report."""
        for index, port in enumerate(ports, 1):
            sim = self.line_modem("%s%d" % (prefix, index), port)
            wait_for(lambda: any("at+cgsn" in l for l in sim.log_lines()), 180,
                     "%s's modem to be asked for its IMEI" % sim.name, interval=0.1)
        name = "%s%d" % (prefix, LINE_PULLED + 1)
        self.wait_mid_file(self.sims[name], timeout=200)
        pulled = self.guest.pull(name)
        try:
            report = wait_for(pulled_seen, 30, "the pull of %s to be reported" % name)
            latency = time.monotonic() - pulled
        except RigError:
            report, latency = "", -1.0
        # The pulled modem waits for the rest of its file: a fresh one goes in, as after a
        # power cycle, with an IMEI of its own.
        self.guest.chardev_remove("m_" + name)
        self.sims[name].stop()
        self.line_modem(name + "b", ports[LINE_PULLED], device=name)
        return latency, report

    def line_stop(self, names):
        """Ends the modems: {name: (commands, files, the lines it received)}."""
        ended = {}
        for name in names:
            sim = self.sims[name]
            received = [l for l in sim.log_lines() if l.startswith("<< ")]
            ended[name] = sim.stop() + (received,)
        return ended

    def line_unplug(self, names):
        """Pulls the adapters and frees their modems' lines."""
        for name in names:
            self.guest.pull(name.rstrip("b"))  # a modem plugged back is on the first's adapter
        for name in names:
            self.guest.chardev_remove("m_" + name)

    def line_journal(self, path, prefix, ended):
        """What is wrong with a production journal after the sequence, and the sockets' numbers."""
        rows, problems = read_journal(path)
        names = ["%s%d" % (prefix, i) for i in range(1, LINE_MODEMS + 1)]
        # Only the sequence's adapters ever got a socket: no other port was taken.
        numbered = read_text(path[:-len(".csv")] + ".sockets").split()
        if len(numbered) != LINE_MODEMS:
            problems.append("sockets numbered: %s" % " ".join(numbered))
        pulled = names[LINE_PULLED]
        hashes = " ".join("%s:%s" % (n, hashlib.sha256(self.payload(n)).hexdigest())
                          for n in ("main.pyo", "config.pyo"))
        sockets = {}
        expected = [(n, "успех") for n in names if n != pulled] + \
            [(pulled, "модем отключён"), (pulled + "b", "успех")]
        for name, result in expected:
            serial = "LORTA-" + name.rstrip("b").upper()
            line = next((r for r in rows if r["Серийный номер адаптера"] == serial and
                         r["IMEI"] == self.imeis[name]), None)
            if line is None:
                problems.append("no journal line for %s with IMEI %s" % (serial, self.imeis[name]))
                continue
            sockets[name] = line["Гнездо"]
            if line["Задание"] != "flash" or line["Результат"] != result:
                problems.append("%s: %s %s, not %s" % (name, line["Задание"], line["Результат"],
                                                       result))
            if result == "успех" and line["SHA-256"] != hashes:
                problems.append("%s: journaled hashes %s" % (name, line["SHA-256"]))
            if result != "успех" and "main.pyo" not in line["Шаг"]:
                problems.append("%s: failed step %s" % (name, line["Шаг"]))
        if len(rows) != len(expected):
            problems.append("%d journal lines, %d expected" % (len(rows), len(expected)))
        if len(set(sockets.get(n) for n in names)) != len(names):
            problems.append("sockets %s" % sockets)
        if sockets.get(pulled) != sockets.get(pulled + "b"):
            problems.append("plugged back as socket %s, was %s" % (sockets.get(pulled + "b"),
                                                                     sockets.get(pulled)))
        for name, (_, files, _) in ended.items():
            if name != pulled and self.flashed(files):
                problems.append("%s %s" % (name, self.flashed(files)))
        return problems, sockets

    def line_checks(self):
        """i: the flasher's watch; j: the bench window. The bench starts once the watch has been
        interrupted (it takes no new modem then) while the watch's last jobs still run, so the
        two share the guest's time; each has its own adapters, modems and journal."""
        watch = self.start_watch()
        names = ["i%d" % i for i in range(1, LINE_MODEMS + 1)]
        pulled = names[LINE_PULLED]

        def unplugged_line():
            lines = read_text(self.watch_out).splitlines()
            label = next((l.split(" | ")[0] for l in lines
                          if l.endswith("| IMEI " + self.imeis[pulled])), None)
            return next((l for l in lines if label and l.startswith(label + " | ") and
                         "Итог: модем отключён" in l), None)
        latency, report = self.line_sequence("i", WATCH_PORTS, unplugged_line)
        # The first interruption while the modem plugged back is being flashed: no new modem
        # is taken, the running jobs finish, then the summary.
        wait_for(lambda: any("at#lscript" in l for l in self.sims[pulled + "b"].log_lines()) or
                 self.guest.finished(watch), 180, "the job of the modem plugged back to start")
        self.run("kill -INT $(cat $RIG/i/pid)")
        self.guest.pull("braille2")
        try:
            bench_result = self.bench_sequence()
        finally:
            rc, out = self.guest.result(watch, LINE_WAIT_S)
        self.report_watch(names, latency, report, out)
        self.report_bench(*bench_result)
        modems = [n + "b" if i == LINE_PULLED else n for i, n in enumerate(names)]
        self.line_unplug(["i0"] + modems + [m.replace("i", "j") for m in modems])

    def start_watch(self):
        """The watch started in the guest with one adapter plugged in before it."""
        folder = os.path.join(self.guest.share, "i")
        os.makedirs(folder)
        with open(os.path.join(folder, "settings.ini"), "wb") as f:
            f.write(LINE_SETTINGS)
        self.line_modem("i0", LINE_PRESENT_PORT)
        handle = self.start(
            "p=$(port_of LORTA-I0 60) || exit 3\necho \"PRESENT $p\"\ncd $RIG/i\n"
            "$cli watch flash --match %s --journal $RIG/i/journal.csv --settings "
            "$RIG/i/settings.ini > $RIG/i/watch.out 2> $RIG/i/watch.err & pid=$!\n"
            "echo $pid > $RIG/i/pid\nwait $pid; echo \"STATUS $?\"\n"
            "if pgrep -x lorta-flash-cli; then echo 'LEFT yes'; else echo 'LEFT none'; fi"
            % ADAPTER_VIDPID)
        self.watch_out = os.path.join(folder, "watch.out")
        wait_for(lambda: "Ждём модемы" in read_text(self.watch_out) or self.guest.finished(handle),
                 120, "the watch to start")
        if self.guest.finished(handle):
            raise RigError("the watch ended at once: " + read_text(os.path.join(folder, "watch.err")))
        self.plug_braille()
        return handle

    def report_watch(self, names, latency, report, out):
        folder = os.path.join(self.guest.share, "i")
        pulled = names[LINE_PULLED]
        modems = names[:LINE_PULLED] + [pulled + "b"] + names[LINE_PULLED + 1:]
        ended = self.line_stop(modems)
        present = self.line_stop(["i0"])["i0"]
        problems, sockets = self.line_journal(os.path.join(folder, "journal.csv"), "i", ended)
        status = out.split("STATUS ", 1)[1].split()[0] if "STATUS " in out else "?"
        summary = next((l for l in read_text(os.path.join(folder, "watch.err")).splitlines()
                        if l.startswith("Итого:")), "")
        if status != "1":
            problems.append("exit status %s (1: one job failed)" % status)
        if not summary.startswith("Итого: успешно %d, ошибок 1," % LINE_MODEMS):
            problems.append("summary \"%s\"" % summary)
        if "LEFT none" not in out:
            problems.append("a flasher process was left")
        if latency < 0 or latency > PULL_LATENCY_LIMIT_S:
            problems.append("the pull reported %s" % ("%.2f s after it" % latency
                                                      if latency >= 0 else "never"))
        if present[2] or present[0]:
            problems.append("the adapter plugged before the watch received %s"
                            % (present[2] or present[0])[0])
        if self.sink2.count:
            problems.append("%d bytes reached the braille display" % self.sink2.count)
        self.figures["i_pull_s"] = latency
        self.report("i", not problems, "; ".join(problems) or
                    "sockets %s flashed byte for byte and journaled with their IMEIs; socket %s "
                    "pulled in main.pyo: \"%s\" %.2f s after the pull (target 1 s), the others "
                    "unaffected; plugged back: socket %s again, a fresh job, success; the "
                    "adapter plugged before the watch and the braille display got 0 bytes; "
                    "SIGINT during that job: it finished, exit status 1, \"%s\""
                    % (",".join(sockets[n] for n in names), sockets[pulled],
                       report.split(" | ", 1)[-1], latency, sockets[pulled + "b"], summary))

    def bench_sequence(self):
        """The bench window started in the guest, then the same plugs and pull as the watch's."""
        folder = os.path.join(self.guest.share, "j")
        os.makedirs(folder)
        with open(os.path.join(folder, "settings.ini"), "wb") as f:
            f.write(LINE_SETTINGS)
        handle = self.start("cd $RIG/j && $bench $RIG/j $RIG/j/settings.ini %d > $RIG/j/out.txt "
                            "2> $RIG/j/err.txt" % LINE_MODEMS)
        wait_for(lambda: os.path.exists(os.path.join(folder, "started")) or
                 self.guest.finished(handle), 120, "the bench to start")
        if self.guest.finished(handle):
            raise RigError("the bench ended at once: " + read_text(os.path.join(folder, "out.txt")))
        self.plug_braille()
        red = os.path.join(folder, "red")
        latency, report = self.line_sequence("j", BENCH_PORTS,
                                             lambda: os.path.exists(red) and read_text(red))
        # The pull is the guest's latest "USB disconnect" (the modem plugged back only connects).
        _, gone = self.run("last_disconnect")
        try:
            self.figures["j_red_after_disconnect_s"] = \
                seconds_of_day(report.split(" | ")[0]) - seconds_of_day(gone.strip())
        except ValueError:
            pass
        open(os.path.join(folder, "plugs-done"), "w").close()
        rc, _ = self.guest.result(handle, LINE_WAIT_S)
        self.guest.pull("braille2")
        return rc, latency, report

    def report_bench(self, rc, latency, report):
        folder = os.path.join(self.guest.share, "j")
        names = ["j%d" % i for i in range(1, LINE_MODEMS + 1)]
        pulled = names[LINE_PULLED]
        ended = self.line_stop(names[:LINE_PULLED] + [pulled + "b"] + names[LINE_PULLED + 1:])
        problems, sockets = self.line_journal(os.path.join(folder, "journal.csv"), "j", ended)
        out = read_text(os.path.join(folder, "out.txt"))
        result = next((l.split(" ", 3)[2:] for l in out.splitlines() if l.startswith("RESULT j ")),
                      ["FAIL", "no result (exit status %d): %s" % (
                          rc, read_text(os.path.join(folder, "err.txt"))[-400:])])
        for line in out.splitlines():
            if line.startswith("FIGURE "):
                self.figures[line.split()[1]] = int(line.split()[2])
        if result[0] != "PASS":
            problems.insert(0, result[1])
        if "LORTA-" + pulled.upper() not in report.split(" | others:")[0]:
            problems.append("the red tile is not %s's: %s" % (pulled, report))
        if latency < 0 or latency > PULL_LATENCY_LIMIT_S:
            problems.append("the tile turned red %s" % ("%.2f s after the pull" % latency
                                                        if latency >= 0 else "never"))
        if self.sink2.count:
            problems.append("%d bytes reached the braille display" % self.sink2.count)
        self.figures["j_red_s"] = latency
        self.report("j", not problems, "; ".join(problems) or
                    "%s; socket %s's tile red %.2f s after the pull (target 1 s; guest's dmesg "
                    "clock: %.2f s after \"USB disconnect\"); journal: sockets %s with four "
                    "IMEIs, byte for byte; braille display 0 bytes; largest event-loop stall "
                    "%d ms (not judged)"
                    % (result[1], sockets[pulled], latency,
                       self.figures.get("j_red_after_disconnect_s", -1),
                       ",".join(sockets[n] for n in names), self.figures.get("j_stall_ms", -1)))

    # -- a fixed adapter: modems swapped behind a port that stays -----------------------

    def check_k(self):
        """k: the adapter is wired into the fixture, plugged before the watch and never pulled;
        three modems go in behind it one after another. The first is taken out until the watch
        counts the silent port as empty; the third replaces the second at once, so only its
        IMEI tells it is another one; then the third comes back after a power cycle, answering
        with its IMEI again (its script not started): prepared here already, not again."""
        started = time.monotonic()
        names = ["k%d" % i for i in range(1, FIXED_MODEMS + 1)]
        fixture = self.fixed_adapter(names)
        try:
            watch = self.start_fixed_watch()
            ended = self.fixed_sequence(fixture, names)
            self.run("kill -INT $(cat $RIG/k/pid)")
            _, out = self.guest.result(watch, 120)
            ended.update((n, self.sims[n].stop()) for n in names[:-1] + ["k3b"])
        finally:
            fixture.stop()
        self.figures["k_s"] = time.monotonic() - started
        self.report_fixed(names, out, ended)
        self.guest.pull("k")
        self.guest.chardev_remove("m_k")

    def fixed_adapter(self, names):
        """The modems, each with its own IMEI, and the adapter wired to the first. The rig's
        other adapters still in are pulled first: the watch takes every one present."""
        fixture = Fixture()
        for name in names:
            self.imeis[name] = imei(len(self.imeis) + 1)
            fixture.add(name, self.sim(name, "--imei", self.imeis[name]).pty)
        fixture.put_in(names[0])
        for child in self.guest.qmp.execute("qom-list", path="/machine/peripheral"):
            if child["type"] == "child<usb-serial>":
                try:
                    self.guest.pull(child["name"])
                except RigError:
                    pass  # already on its way out; the guest waits for its port to go
        self.guest.chardev_add("m_k", fixture.pty)
        self.guest.plug("k", "m_k", FIXED_PORT, "LORTA-K")
        return fixture

    def start_fixed_watch(self):
        folder = os.path.join(self.guest.share, "k")
        os.makedirs(folder)
        with open(os.path.join(folder, "settings.ini"), "wb") as f:
            f.write(LINE_SETTINGS)
        self.fixed_out = os.path.join(folder, "watch.out")
        self.fixed_journal = os.path.join(folder, "journal.csv")
        self.fixed_watch = self.start(
            "p=$(port_of LORTA-K 60) && only_adapter LORTA-K 60 || exit 3\necho \"PORT $p\"\n"
            "cd $RIG/k\n$cli watch flash --match %s --include-present --gone-after %d "
            "--journal $RIG/k/journal.csv --settings $RIG/k/settings.ini > $RIG/k/watch.out "
            "2> $RIG/k/watch.err & pid=$!\necho $pid > $RIG/k/pid\nwait $pid; echo \"STATUS $?\"\n"
            "if pgrep -x lorta-flash-cli; then echo 'LEFT yes'; else echo 'LEFT none'; fi"
            % (ADAPTER_VIDPID, FIXED_GONE_AFTER_S))
        wait_for(lambda: "Ждём модемы" in read_text(self.fixed_out) or
                 self.guest.finished(self.fixed_watch), 120, "the watch to start")
        if self.guest.finished(self.fixed_watch):
            raise RigError("the watch ended at once: %s %s" % (
                read_text(self.fixed_watch + ".out").strip(),
                read_text(os.path.join(folder, "watch.err")).strip()))
        return self.fixed_watch

    def fixed_events(self):
        """The texts of the watch's event lines for its sockets (here only the fixed one)."""
        return [l.split(" | ", 1)[1] for l in read_text(self.fixed_out).splitlines()
                if l.startswith("гнездо ") and " | " in l]

    def fixed_mark(self):
        return len(self.fixed_events()), time.monotonic()

    def fixed_seen(self, mark, text, what, timeout=60):
        """Waits for an event line holding TEXT after MARK; the seconds since MARK."""
        seen, since = mark
        wait_for(lambda: any(text in l for l in self.fixed_events()[seen:]) or
                 self.guest.finished(self.fixed_watch), timeout, what)
        self._watch_running(what)
        return time.monotonic() - since

    def _watch_running(self, what):
        if self.guest.finished(self.fixed_watch):
            raise RigError("the watch ended before %s: %s" % (what, read_text(
                os.path.join(self.guest.share, "k/watch.err")).strip()[-300:]))

    def fixed_job(self, name):
        """Waits for the journal line with the modem's IMEI."""
        def journaled():
            rows, _ = read_journal(self.fixed_journal)
            return any(r["IMEI"] == self.imeis[name] for r in rows) or \
                self.guest.finished(self.fixed_watch)
        wait_for(journaled, FIXED_JOB_WAIT_S, "%s's job to be journaled" % name, interval=0.1)
        self._watch_running("%s's job was journaled" % name)

    def fixed_sequence(self, fixture, names):
        """Puts the modems in and takes them out; returns what the third one ended with."""
        first, second, third = names
        self.fixed_job(first)
        mark = self.fixed_mark()
        fixture.take_out()
        self.figures["k_gone_s"] = self.fixed_seen(mark, "Модем молчит", "the silent port to "
                                                   "count as empty", FIXED_GONE_AFTER_S + 60)
        fixture.put_in(second)
        self.fixed_job(second)
        mark = self.fixed_mark()
        fixture.put_in(third)
        self.figures["k_swap_s"] = self.fixed_seen(mark, "IMEI " + self.imeis[third],
                                                   "%s to be asked for its IMEI" % third)
        self.fixed_job(third)
        # A power cycle: the same modem with its files, answering again.
        fixture.take_out()
        fixture.remove(third)
        ended = {third: self.sims[third].stop()}
        files = os.path.join(self.sims[third].dump, "files")
        self.imeis["k3b"] = self.imeis[third]
        preload = [a for n in sorted(ended[third][1]) for a in
                   ("--file", "%s=%s" % (n, os.path.join(files, n)))]
        fixture.add("k3b", self.sim("k3b", "--imei", self.imeis[third], *preload).pty)
        mark = self.fixed_mark()
        fixture.put_in("k3b")
        self.figures["k_back_s"] = self.fixed_seen(mark, "Уже прошит здесь в", "%s back in to "
                                                   "be told from a new one" % third)
        return ended

    def report_fixed(self, names, out, ended):
        rows, problems = read_journal(self.fixed_journal)
        numbered = read_text(self.fixed_journal[:-len(".csv")] + ".sockets").split()
        if len(numbered) != 1:
            problems.append("sockets numbered: %s" % " ".join(numbered))
        hashes = " ".join("%s:%s" % (n, hashlib.sha256(self.payload(n)).hexdigest())
                          for n in ("main.pyo", "config.pyo"))
        for name in names:
            lines = [r for r in rows if r["IMEI"] == self.imeis[name]]
            if len(lines) != 1:
                problems.append("%d journal lines with %s's IMEI %s" % (len(lines), name,
                                                                          self.imeis[name]))
            elif lines[0]["Серийный номер адаптера"] != "LORTA-K" or \
                    [lines[0]["Задание"], lines[0]["Результат"]] != ["flash", "успех"] or \
                    lines[0]["SHA-256"] != hashes:
                problems.append("%s journaled as %s" % (name, ";".join(lines[0].values())))
            commands, files = ended[name]
            if self.flashed(files):
                problems.append("%s %s" % (name, self.flashed(files)))
            writes = sum(1 for c in commands if c.startswith('at#wscript="main.pyo"'))
            if writes != 1:
                problems.append("%s took main.pyo %d times" % (name, writes))
        if len(rows) != len(names):
            problems.append("%d journal lines, %d expected" % (len(rows), len(names)))
        if len(set(r["Гнездо"] for r in rows)) > 1:
            problems.append("sockets %s" % " ".join(r["Гнездо"] for r in rows))
        # The silence is counted from the modem's last byte (its script prints every 2 s).
        if self.figures["k_gone_s"] > FIXED_GONE_AFTER_S + PULL_LATENCY_LIMIT_S:
            problems.append("the silent port counted as empty %.1f s after the take-out"
                            % self.figures["k_gone_s"])
        back = [c for c in ended["k3b"][0] if c not in ("ate0", "at+cgsn")]
        if back:
            problems.append("the modem back after its power cycle received %s" % back[0])
        problems += self.fixed_exit(out)
        self.report("k", not problems, "; ".join(problems) or
                    "one adapter left plugged as socket %s, three modems put in behind it: each "
                    "flashed once byte for byte and journaled with its IMEI; the port silent "
                    "for %d s counted as empty %.1f s after the first was taken out; the third, "
                    "swapped in for the second at once, asked for its IMEI after %.1f s; back "
                    "after a power cycle it got \"Уже прошит здесь\" after %.1f s and no job; "
                    "SIGINT: exit status 0, \"%s\""
                    % (rows[0]["Гнездо"], FIXED_GONE_AFTER_S, self.figures["k_gone_s"],
                       self.figures["k_swap_s"], self.figures["k_back_s"], self.fixed_summary))

    def fixed_exit(self, out):
        status = out.split("STATUS ", 1)[1].split()[0] if "STATUS " in out else "?"
        self.fixed_summary = next((l for l in read_text(os.path.join(
            self.guest.share, "k/watch.err")).splitlines() if l.startswith("Итого:")), "")
        problems = []
        if status != "0":
            problems.append("exit status %s" % status)
        if not self.fixed_summary.startswith("Итого: успешно %d, ошибок 0," % FIXED_MODEMS):
            problems.append("summary \"%s\"" % self.fixed_summary)
        if "LEFT none" not in out:
            problems.append("a flasher process was left")
        return problems

    # -- a provisioning table: each modem its own row ------------------------------------

    @staticmethod
    def row_settings(values):
        """The settings a row gives over the rig's base file (its APN alone), as the settings
        dialog composes them: the keys the base lacks are empty, the speed its first item."""
        shown = {"CRYPT_DATA": "0", "DEBUG_SER": "0", "APN": "modem.apn", "SER_SP": "4800"}
        shown.update(values)
        return "\r\n".join("%s::%s::%s" % (key, shown.get(key, ""), text)
                            for key, text in SETTINGS_TEMPLATE).encode()

    def provision_table(self, folder, names):
        """The table: rows 2 to 4 by IMEI (the second modem's, one never plugged, the first's),
        rows 5 and 6 in order. Returns {row: values}."""
        absent = imei(900)
        keyed = {2: self.imeis[names[1]], 3: absent, 4: self.imeis[names[0]], 5: "", 6: ""}
        rows = {}
        lines = ["IMEI;APN;GPRS_USER;GPRS_PASSWD;DEST_PORT"]
        for row, key in keyed.items():
            rows[row] = {"APN": "apn-%d.rig.example" % row, "GPRS_USER": "rig-user-%d7" % row,
                         "GPRS_PASSWD": "rig;pass\"%d" % row, "DEST_PORT": "4%d11" % row}
            quoted = '"%s"' % rows[row]["GPRS_PASSWD"].replace('"', '""')
            lines.append(";".join([key, rows[row]["APN"], rows[row]["GPRS_USER"], quoted,
                                   rows[row]["DEST_PORT"]]))
        with open(os.path.join(folder, "table.csv"), "wb") as f:
            f.write(b"\xef\xbb\xbf" + "\r\n".join(lines).encode() + b"\r\n")
        return rows

    def check_l(self):
        """l: the watch with a provisioning table over three adapters: two modems by their
        IMEIs, the third given the first free row; that one is pulled mid-file and a
        power-cycled modem with the same IMEI plugged back gets the same row again."""
        folder = os.path.join(self.guest.share, "l")
        os.makedirs(folder)
        with open(os.path.join(folder, "settings.ini"), "wb") as f:
            f.write(LINE_SETTINGS)
        names = ["l%d" % i for i in range(1, len(PROVISION_PORTS) + 1)]
        for name in names:
            self.imeis[name] = imei(len(self.imeis) + 1)
        rows = self.provision_table(folder, names)
        out = os.path.join(folder, "watch.out")
        handle = self.start(
            "cd $RIG/l\n$cli watch flash --match %s --count %d --journal $RIG/l/journal.csv "
            "--settings $RIG/l/settings.ini --provision $RIG/l/table.csv > $RIG/l/watch.out "
            "2> $RIG/l/watch.err\necho \"STATUS $?\"" % (ADAPTER_VIDPID, len(names)))
        wait_for(lambda: "Ждём модемы" in read_text(out) or self.guest.finished(handle), 120,
                 "the watch to start")
        if self.guest.finished(handle):
            raise RigError("the watch ended at once: " + read_text(os.path.join(folder,
                                                                                "watch.err")))
        for name, port in zip(names, PROVISION_PORTS):
            sim = self.sim(name, "--imei", self.imeis[name])
            self.guest.chardev_add("m_" + name, sim.pty)
            self.guest.plug(name, "m_" + name, port, "LORTA-" + name.upper())
            wait_for(lambda: any("at+cgsn" in l for l in sim.log_lines()), 180,
                     "%s's modem to be asked for its IMEI" % name, interval=0.1)
        pulled = names[PROVISION_PULLED]
        self.wait_mid_file(self.sims[pulled], timeout=200)
        self.guest.pull(pulled)
        wait_for(lambda: "Итог: модем отключён" in read_text(out), 60, "the pull to be reported")
        self.guest.chardev_remove("m_" + pulled)
        self.sims[pulled].stop()
        back = pulled + "b"
        self.imeis[back] = self.imeis[pulled]
        sim = self.sim(back, "--imei", self.imeis[back])
        self.guest.chardev_add("m_" + back, sim.pty)
        self.guest.plug(pulled, "m_" + back, PROVISION_PORTS[PROVISION_PULLED],
                        "LORTA-" + pulled.upper())
        _, result = self.guest.result(handle, LINE_WAIT_S)
        ended = self.line_stop(names[:PROVISION_PULLED] + [back])
        self.report_provision(folder, names, rows, ended, result)
        for name in names:
            self.guest.pull(name)
        for name in names[:PROVISION_PULLED] + [back]:
            self.guest.chardev_remove("m_" + name)

    def report_provision(self, folder, names, rows, ended, result):
        problems = []
        pulled = names[PROVISION_PULLED]
        expected = {names[0]: 4, names[1]: 2, pulled + "b": 5}
        for name, row in expected.items():
            _, files, _ = ended[name]
            if files.get("settings.ini") != self.row_settings(rows[row]):
                problems.append("%s's settings.ini is not row %d's: %r" % (
                    name, row, files.get("settings.ini", b"")[:120]))
            if self.flashed(files):
                problems.append("%s %s" % (name, self.flashed(files)))
        used = [l.split(";") for l in read_text(os.path.join(folder, "table.csv.used"))
                .lstrip("\ufeff").splitlines()[1:]]
        given = [(int(f[0]), f[1]) for f in used if f[3] == "выдана"]
        wanted = [(4, self.imeis[names[0]]), (2, self.imeis[names[1]]),
                  (5, self.imeis[pulled]), (5, self.imeis[pulled])]
        if sorted(given) != sorted(wanted):
            problems.append("rows given: %s" % given)
        if not any(f[0] == "5" and f[3] == "модем отключён" for f in used):
            problems.append("the pulled modem's end is not in the used rows")
        journal, form = read_journal(os.path.join(folder, "journal.csv"))
        problems += form
        journaled = sorted((r["IMEI"], r["Строка таблицы"], r["Результат"]) for r in journal)
        if journaled != sorted([(self.imeis[names[0]], "4", "успех"),
                                (self.imeis[names[1]], "2", "успех"),
                                (self.imeis[pulled], "5", "модем отключён"),
                                (self.imeis[pulled], "5", "успех")]):
            problems.append("journaled: %s" % journaled)
        outputs = "".join(read_text(os.path.join(folder, n)) for n in
                          ("watch.out", "watch.err", "journal.csv", "table.csv.used"))
        leaked = [v for r in rows.values() for k, v in r.items() if k != "DEST_PORT" and v in outputs]
        if leaked:
            problems.append("table values in the outputs: %s" % leaked)
        if "STATUS 1" not in result:
            problems.append("exit status %s (1: the pulled job failed)" % result.strip())
        self.report("l", not problems, "; ".join(problems) or
                    "three adapters with a table of five rows: the two modems by IMEI got rows 4 "
                    "and 2, the third the first free row 5; pulled in main.pyo and plugged back "
                    "power-cycled it got row 5 again, never row 6; each modem's settings.ini byte "
                    "for byte its row's over the base file; the used rows and the journal name "
                    "the rows, no value of the table in any output")

    @staticmethod
    def _request(folder, name):
        return os.path.exists(os.path.join(folder, name + ".want")) and \
            not os.path.exists(os.path.join(folder, name + ".done"))

    @staticmethod
    def _answer(folder, name):
        open(os.path.join(folder, name + ".done"), "w").close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--kernel-dir", required=True)
    parser.add_argument("--keep", help="keep the rig's files in this folder")
    parser.add_argument("--only", default="a,b,c,d,e,f,g,h,i,j,k,l,probe",
                        help="checks to run (d also runs the window's e and g, i and j "
                        "run together)")
    parser.add_argument("--boot-timeout", type=float, default=240)
    parser.add_argument("--timeout", type=float, default=1500, help="for the whole rig, seconds")
    args = parser.parse_args()
    args.kvm = False
    if os.access("/dev/kvm", os.R_OK | os.W_OK) and os.environ.get("LORTA_USB_RIG_KVM") == "1":
        args.kvm = True
    rig = Rig(args)

    def overall_timeout(*_):
        raise RigError("the whole rig took longer than %.0f s" % args.timeout)

    signal.signal(signal.SIGALRM, overall_timeout)
    # Ended from outside (CI's time-out, a closed terminal): the finally below still
    # ends QEMU and every simulated modem.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(129))
    signal.alarm(int(args.timeout))
    wanted = args.only.split(",")
    try:
        rig.ref_thread = threading.Thread(target=rig.reference_run, daemon=True)
        rig.ref_thread.start()
        rig.boot()
        rig.emulation_factor()
        steps = [("a", rig.check_a), ("b", rig.check_b), ("c", rig.check_c),
                 ("e", rig.check_e_cli), ("d", rig.window_checks), ("f", rig.check_f),
                 ("probe", rig.probe_driver), ("i", rig.line_checks), ("k", rig.check_k),
                 ("l", rig.check_l), ("h", rig.check_h)]
        for letter, step in steps:
            if letter not in wanted and not (letter == "h" and "a" in wanted) and \
                    not (letter == "i" and "j" in wanted):
                continue
            if letter == "probe":
                try:
                    step()
                except (RigError, OSError, subprocess.SubprocessError) as error:
                    print("driver probe failed: %s" % error, flush=True)
                continue
            try:
                step()
            except (RigError, OSError, subprocess.SubprocessError) as error:
                rig.report(letter, False, "%s: %s" % (type(error).__name__, error))
                if rig.guest.proc.poll() is not None:
                    break
    except (RigError, OSError, subprocess.SubprocessError) as error:
        rig.report("rig", False, "%s: %s" % (type(error).__name__, error))
    finally:
        signal.alarm(0)
        try:
            if rig.guest is not None:
                rig.guest.halt(timeout=30)
        finally:
            rig.cleanup()
    if rig.figures:
        print("figures: " + ", ".join("%s=%.3g" % kv for kv in sorted(rig.figures.items())))
    print("work folder: %s (guest console: console.log)" % rig.work)
    print("%d passed, %d failed" % (rig.passed, rig.failed))
    return 0 if rig.failed == 0 and rig.passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
