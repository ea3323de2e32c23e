#!/usr/bin/python3
"""Reads the program the way a screen reader does, through the real AT-SPI bus.

On its own X server, D-Bus session and accessibility bus, with private settings:
finds the reply box by its role and reads the start-up report, finds the host and
user boxes by their labels, moves the caret and presses "Short Finger" over the
bus, and hears the caret move and the box cleared (and refilled when the program's
own finger server answers). Stops all it started by process id; exits 77 (skip)
when a tool is missing. Usage: atspi_reader.py PROGRAM
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
LAUNCHERS = ("/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher")


def skip(message):
    print("SKIP: " + message)
    sys.exit(SKIP)


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def wait_for(what, probe, timeout=30.0, pump=None):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if pump:
            pump()
        found = probe()
        if found:
            return found
        time.sleep(0.05)
    fail("timed out waiting for " + what)


def start_xvfb(started):
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    started.append(xvfb)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number:
        fail("Xvfb gave no display number")
    return ":" + number


def start_session_bus(started, env):
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, start_new_session=True)
    started.append(bus)
    address = bus.stdout.readline().strip()
    if not address:
        fail("dbus-daemon gave no address")
    return address


def walk(node, depth=0):
    yield node
    if depth > 30:
        return
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1)


def labelled_by(node):
    import pyatspi
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY and relation.getNTargets() > 0:
            return relation.getTarget(0).name
    return None


def main():
    if len(sys.argv) != 2 or not os.access(sys.argv[1], os.X_OK):
        fail("usage: atspi_reader.py PROGRAM (an executable)")
    program = sys.argv[1]
    for tool in ("Xvfb", "dbus-daemon", "dbus-send"):
        if not shutil.which(tool):
            skip(tool + " is missing (install xvfb and dbus)")
    launcher = next((path for path in LAUNCHERS if os.access(path, os.X_OK)), None)
    if not launcher:
        skip("at-spi-bus-launcher is missing (install at-spi2-core)")
    import importlib.util
    if importlib.util.find_spec("pyatspi") is None or importlib.util.find_spec("gi") is None:
        skip("python3-pyatspi is missing")

    started = []
    folder = tempfile.TemporaryDirectory(prefix="quobix-atspi-")
    try:
        root = folder.name
        for sub in ("home", "config", "runtime"):
            os.makedirs(os.path.join(root, sub), mode=0o700)
        # The host box starts with the loopback address, so the button queries this machine.
        with open(os.path.join(root, "config", "Finger Quobix.conf"), "w") as settings:
            settings.write("[Setup]\nHost%20List0=127.0.0.1\n")

        env = {key: value for key, value in os.environ.items()
               if key not in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY")}
        env.update(HOME=os.path.join(root, "home"), XDG_CONFIG_HOME=os.path.join(root, "config"),
                   XDG_RUNTIME_DIR=os.path.join(root, "runtime"), GSETTINGS_BACKEND="memory",
                   NO_AT_BRIDGE="0", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1",
                   QT_QPA_PLATFORM="xcb")
        env["DISPLAY"] = start_xvfb(started)
        env["DBUS_SESSION_BUS_ADDRESS"] = start_session_bus(started, env)
        started.append(subprocess.Popen([launcher, "--launch-immediately"], env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, start_new_session=True))
        wait_for("the accessibility bus", lambda: subprocess.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
             "org.a11y.Bus.GetAddress"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0)

        log = open(os.path.join(root, "program.log"), "w")
        app = subprocess.Popen([program], env=env, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        started.append(app)

        # The reader joins the same buses.
        os.environ.update(env)
        import pyatspi
        from gi.repository import GLib
        context = GLib.MainContext.default()

        def pump():
            while context.pending():
                context.iteration(False)

        def program_node():
            desktop = pyatspi.Registry.getDesktop(0)
            for i in range(desktop.childCount):
                node = desktop.getChildAtIndex(i)
                if node is not None and node.get_process_id() == app.pid:
                    return node
            if app.poll() is not None:
                fail("the program ended early; its output:\n" + open(log.name).read())
            return None

        def reply_box():
            node = program_node()
            if node is None:
                return None
            for item in walk(node):
                if item.getRole() == pyatspi.ROLE_TEXT and "Finger Client Ready!" in item.queryText().getText(0, -1):
                    return item
            return None

        reply = wait_for("a text holding the start-up report", reply_box, timeout=60)
        text = reply.queryText()
        report = text.getText(0, -1)
        print("reply box %r holds %d characters:\n%s" % (reply.name, text.characterCount, report))
        states = reply.getState()
        if states.contains(pyatspi.STATE_EDITABLE) or not states.contains(pyatspi.STATE_MULTI_LINE):
            fail("the reply box should read as read-only and multi-line")
        if text.characterCount != len(report):
            fail("character count %d for %d characters read" % (text.characterCount, len(report)))
        line = text.getTextAtOffset(0, pyatspi.TEXT_BOUNDARY_LINE_START)
        if not report.startswith(line[0]) or line[1] != 0 or line[2] <= 0:
            fail("the first line reads as %r" % (line,))

        nodes = list(walk(program_node()))
        host = [n for n in nodes if n.getRole() == pyatspi.ROLE_COMBO_BOX and labelled_by(n) == "Hostname:"]
        user = [n for n in nodes if n.name == "Username (optional):"]
        button = [n for n in nodes if n.getRole() == pyatspi.ROLE_PUSH_BUTTON and n.name == "Short Finger"]
        if not host or not user or not button:
            fail("host box %d, user box %d, button %d found; names seen: %s"
                 % (len(host), len(user), len(button), sorted({n.name for n in nodes if n.name})))
        print("host box labelled %r, user box named %r" % (labelled_by(host[0]), user[0].name))

        heard = []

        def hear(event):
            if event.source == reply:
                heard.append((event.type, event.detail1, event.detail2))

        pyatspi.Registry.registerEventListener(hear, "object:text-caret-moved", "object:text-changed")
        # The program learns of the new listener over the bus before it sends anything.
        deadline = time.monotonic() + 1.0
        while time.monotonic() < deadline:
            pump()
            time.sleep(0.05)

        text.setCaretOffset(5)
        wait_for("the caret to move to 5", lambda: ("object:text-caret-moved", 5, 0) in heard, timeout=10, pump=pump)
        if text.caretOffset != 5:
            fail("the caret reads as %d after moving it to 5" % text.caretOffset)

        button[0].queryAction().doAction(0)
        wait_for("the reply box to be cleared",
                 lambda: any(kind.startswith("object:text-changed:delete") and detail == 0 and length == len(report)
                             for kind, detail, length in heard), timeout=10, pump=pump)
        if "Finger Server Ready!" in report:
            # The program's own server answers the query: the reply arrives as inserted text.
            wait_for("the reply to arrive", lambda: any(kind.startswith("object:text-changed:insert")
                                                        for kind, _, _ in heard), timeout=20, pump=pump)
            print("the reply arrived:\n" + text.getText(0, -1))
        else:
            print("the program's own finger server is not listening here; no reply to hear")
        print("heard: %s" % heard)
        print("PASS")
    finally:
        for process in reversed(started):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait()
        folder.cleanup()


if __name__ == "__main__":
    main()
