#!/usr/bin/python3
"""The window as a screen reader sees it, through the AT-SPI bus.

Run by a11y_e2e.sh inside a virtual display and a private session bus, with
the client started with accessibility on. Keys are typed with xdotool, as a
user would; everything is read back through pyatspi: roles, names, states and
the events the program sends. Fails (exit 1) on
  - a focusable control without a name (main window and every dialog),
  - a list exposing more items than the rows it shows,
  - a focus event on a row naming anything but that row's title,
  - the focus not on the list after signing in,
  - a status-bar change without an accessible event,
  - a figure of the transfer window (file n of m, name, size, speed) or the
    updater's status changing without an event from it, one event for each
    change seen (the rule is in a11y_events.py, tried by a11y_events_test.py).
The "Security Check" dialog is met first, by signing in as an account whose
sign-ins failed before; the updater is opened from the Help menu (the service
offers a newer version); the transfer window by downloading the folder "Bulk"
into DOWNLOAD_DIR.
Usage: a11y_check.py TITLES_FILE CAPTCHA_EMAIL DOWNLOAD_DIR
"""

import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

sys.dont_write_bytecode = True  # no cache files in the source tree
from a11y_events import counts, unannounced  # noqa: E402

with open(sys.argv[1], encoding="utf-8") as titles_file:
    TITLES = {line.rstrip("\n") for line in titles_file if line.strip()}
failures = []
events = []


def fail(text):
    failures.append(text)
    print("FAIL: " + text, file=sys.stderr)


def pump(seconds, done=lambda: False):
    """Runs the event loop until done() or the deadline; returns done()."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.pending():
            context.iteration(False)
        if done():
            return True
        time.sleep(0.05)
    return done()


def focus_frame():
    # No window manager gives the focus back when a dialog closes: as one would.
    subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Tallowdesk$",
                    "windowfocus", "%1"], timeout=10, check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    pump(0.5)


def key(*names):
    subprocess.run(["xdotool", "key", "--clearmodifiers", *names], check=True, timeout=10)
    pump(0.4)


def typed(text):
    subprocess.run(["xdotool", "type", "--delay", "40", text], check=True, timeout=30)
    pump(0.4)


def on_event(event):
    try:
        events.append((event.type, event.source.name, event.source.getRole(), event.source,
                       time.monotonic()))
    except Exception:  # a source that went away meanwhile
        pass


def app():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        a = desktop.getChildAtIndex(i)
        if a is not None and a.name and "tallowdesk" in a.name.lower():
            return a
    return None


def window(title, exclude=()):
    a = app()
    if a is None:
        return None
    for i in range(a.childCount):
        w = a.getChildAtIndex(i)
        if w is None or w.name != title or w in exclude:
            continue
        if w.getState().contains(pyatspi.STATE_SHOWING):
            return w
    return None


def wait_window(title, seconds=30, exclude=()):
    found = []

    def look():
        w = window(title, exclude)
        if w is not None:
            found.append(w)
        return bool(found)

    if not pump(seconds, look):
        a = app()
        shown = [(a.getChildAtIndex(i).name, a.getChildAtIndex(i).getRoleName())
                 for i in range(a.childCount)] if a is not None else []
        fail("no window %r on the accessibility bus (windows: %r)" % (title, shown))
        return None
    return found[0]


ITEM_ROLES = {pyatspi.ROLE_TABLE_CELL, pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_TREE_ITEM,
              pyatspi.ROLE_TABLE_COLUMN_HEADER, pyatspi.ROLE_TABLE_ROW_HEADER}
CONTAINER_ROLES = {pyatspi.ROLE_LIST, pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE_TABLE,
                   pyatspi.ROLE_TREE}


def walk(node, where, path=""):
    """Unnamed focusable controls below node; item views are checked as one."""
    role = node.getRole()
    here = "%s/%s" % (path, node.getRoleName())
    states = node.getState()
    if (states.contains(pyatspi.STATE_FOCUSABLE) and role not in ITEM_ROLES
            and not (node.name or "").strip()):
        fail("%s: unnamed focusable %s" % (where, here))
    if role in CONTAINER_ROLES:
        return
    for i in range(min(node.childCount, 500)):
        child = node.getChildAtIndex(i)
        if child is not None:
            walk(child, where, here)


def lists(node, found):
    role = node.getRole()
    if role == pyatspi.ROLE_LIST:
        found.append(node)
        return found
    if role in CONTAINER_ROLES:
        return found
    for i in range(min(node.childCount, 500)):
        child = node.getChildAtIndex(i)
        if child is not None:
            lists(child, found)
    return found


def check_lists(frame, rows, where):
    for lst in lists(frame, []):
        if lst.childCount > rows:
            shown = lst.getState().contains(pyatspi.STATE_SHOWING)
            fail("%s: a %s list %r exposes %d items for %d rows"
                 % (where, "shown" if shown else "hidden", lst.name, lst.childCount, rows))


def focused_names(since):
    return [(name, role) for (kind, name, role, _, _) in events[since:]
            if kind.startswith("object:state-changed:focused")]


def check_row_focus(where):
    """Moves over the rows; every focus event must name a row's title."""
    since = len(events)
    key("Home")
    key("Down")
    key("Down")
    pump(1.0)
    seen = focused_names(since)
    items = [(n, r) for (n, r) in seen if r in ITEM_ROLES]
    if not items:
        fail("%s: moving over the rows sent no focus event on a row (events: %r)" % (where, seen))
    for name, _ in items:
        if name not in TITLES:
            fail("%s: the focus event names %r, not a row's title" % (where, name))


def check_dialog(keys, title, frame):
    focus_frame()
    key(*keys)
    d = wait_window(title, 15, exclude=(frame,))
    if d is None:
        return
    walk(d, "dialog %r" % title)
    key("Escape")
    pump(10, lambda: window(title, exclude=(frame,)) is None)


FIGURE_ROLES = {pyatspi.ROLE_LABEL, pyatspi.ROLE_PROGRESS_BAR}


def figures(node, path=(), found=None):
    """The texts (and bar values) below node, by their place in the tree."""
    found = {} if found is None else found
    role = node.getRole()
    if role in FIGURE_ROLES:
        found[path] = (node, node.name or "")
        if role == pyatspi.ROLE_PROGRESS_BAR:
            try:
                found[path + ("value",)] = (node, node.queryValue().currentValue)
            except NotImplementedError:
                pass
    for i in range(min(node.childCount, 200)):
        child = node.getChildAtIndex(i)
        if child is not None:
            figures(child, path + (i,), found)
    return found


class Watch:
    """Reads a window's figures each time poll() runs while it is shown;
    check() then requires that every text seen to change was told by an event
    carrying that text, and that a bar seen to move sent a value event."""

    def __init__(self, title, where):
        self.title, self.where = title, where
        self.since = len(events)
        self.history = {}
        self.last = {}
        self.changes = []

    def poll(self):
        """False once the window is gone."""
        before = getattr(self, "polled", time.monotonic())
        w = window(self.title, exclude=(FRAME,))
        if w is None:
            return False
        try:
            snap = figures(w)
        except Exception:  # the window went away while it was read
            return False
        self.polled = time.monotonic()
        self.last = snap
        for place, (node, text) in snap.items():
            seen = self.history.setdefault(place, [text])
            if seen[-1] != text:
                seen.append(text)
                self.changes.append((place, node, text, before))
        return True

    def run(self, seconds, until=lambda snap: False):
        """Polls until the window closes, until(last reading) or the deadline."""
        pump(seconds, lambda: not self.poll() or until(self.last))

    def check(self):
        """Each change seen between two readings must come with its own event
        from that very object, received after the earlier reading."""
        pump(1.0)  # the events of the last change
        seen = [(node, "accessible-value" if place[-1] == "value" else "accessible-name",
                 text, after) for (place, node, text, after) in self.changes]
        told = [(kind, source, when) for (kind, _, _, source, when) in events[self.since:]]
        for _, kind, text, _ in unannounced(seen, told):
            fail("%s: %s changed to %r without an event"
                 % (self.where, "the bar" if kind.endswith("value") else "a figure", text))
        for node, kind, changed, sent in counts(seen, told):
            last = [text for (n, k, text, _) in seen if n == node and k == kind][-1]
            print("%s: the %s %r seen changing %d times, %d events"
                  % (self.where, "bar" if kind.endswith("value") else "figure", last,
                     changed, sent))
        return [text for (_, _, text, _) in self.changes]


FRAME = None


def check_captcha(email):
    """Signs in as an account whose sign-ins failed: the "Security Check"
    dialog comes; walked, closed, and the remembered account signs in."""
    key("alt+e", "ctrl+a")
    typed(email)
    key("Return")
    captcha = wait_window("Security Check", 30)
    if captcha is not None:
        walk(captcha, "Security Check dialog")
        key("Escape")
        pump(10, lambda: window("Security Check") is None)
    focus_frame()
    key("alt+e", "ctrl+a")
    typed("demo@tallowdesk.test")


def check_updater():
    focus_frame()
    watching = Watch("Tallowdesk Updater", "updater")
    key("alt+h", "u")
    d = wait_window("Tallowdesk Updater", 15, exclude=(FRAME,))
    if d is None:
        return
    walk(d, "updater (checking)")
    offered = lambda snap: any("99.0" in str(text) for (_, text) in snap.values())
    watching.run(20, offered)
    watching.check()
    last = watching.last
    if not offered(last):
        fail("the updater did not offer the published version (it shows %r)"
             % sorted(str(t) for (_, t) in last.values()))
    elif not watching.changes:
        # Offered before the first reading: the text must still have been told.
        status = [node for (node, text) in last.values() if "99.0" in str(text)][0]
        if not any(e[0].endswith("accessible-name") and e[3] == status
                   for e in events[watching.since:]):
            fail("updater: the offer was shown without an event")
    d = window("Tallowdesk Updater", exclude=(FRAME,))
    if d is not None:
        walk(d, "updater (offer)")
    key("Escape")
    pump(10, lambda: window("Tallowdesk Updater", exclude=(FRAME,)) is None)


def focus_window(title):
    subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title,
                    "windowfocus", "%1"], timeout=10, check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    pump(0.3)


def check_transfer(download_dir):
    """Downloads the folder "Bulk" by keys into a folder that already holds
    it with one of its files: the transfer window is walked while the
    question about the folder holds it (answered Merge), and its figures are
    read again while the question about the file holds it (answered Skip);
    then it closes by itself."""
    focus_frame()
    key("Home")
    typed("Bulk")
    key("ctrl+shift+s")
    if wait_window("Select the folder:", 15, exclude=(FRAME,)) is None:
        return
    focus_window("Select the folder:")
    typed(download_dir)
    key("Return")
    title = "Transferring Progress "
    d = wait_window(title, 20, exclude=(FRAME,))
    if d is None:
        return
    watching = Watch(title, "transfer window")
    watching.poll()
    walk(d, "transfer window")
    question = None
    for answer in ("alt+m", "alt+s"):  # Merge the folder, Skip the file
        asked = (FRAME,) if question is None else (FRAME, question)
        question = wait_window("Name Already Taken", 20, exclude=asked)
        if question is None:
            return
        watching.poll()
        walk(question, "name question")
        focus_window("Name Already Taken")
        key(answer)
        watching.poll()
    # It closes by itself, or stays with a warning box when a line was added.
    watching.run(60, lambda snap: window("Warning", exclude=(FRAME,)) is not None)
    if not watching.check():
        fail("transfer window: no figure was seen changing (the check read nothing)")
    warning = window("Warning", exclude=(FRAME,))
    if warning is not None:
        walk(warning, "transfer warning box")
        focus_window("Warning")
        key("Return")
        focus_window(title)
        key("Escape")


def main():
    global FRAME
    for kind in ("object:state-changed:focused", "object:property-change:accessible-name",
                 "object:property-change:accessible-description",
                 "object:property-change:accessible-value"):
        pyatspi.Registry.registerEventListener(on_event, kind)

    signin = wait_window("Tallowdesk", 30)
    if signin is None:
        return
    walk(signin, "sign-in dialog")
    check_captcha(sys.argv[2])
    key("Return")

    frame = None

    def main_frame():
        nonlocal frame
        a = app()
        if a is None:
            return False
        for i in range(a.childCount):
            w = a.getChildAtIndex(i)
            if (w is not None and w.name == "Tallowdesk" and w.getRole() == pyatspi.ROLE_FRAME
                    and w.getState().contains(pyatspi.STATE_SHOWING)):
                frame = w
                return True
        return False

    if not pump(30, main_frame):
        fail("the main window did not appear after signing in")
        return
    FRAME = frame
    # The listing ends when the status bar counts the rows.
    status = []

    def counted():
        status.clear()
        for (kind, name, role, _, _) in events:
            if kind.endswith("accessible-name") and name and name.endswith(" items"):
                status.append(name)
        return bool(status)

    pump(20, counted)
    focus_frame()
    rows = len(TITLES)

    # The focus is on the list (the list or one of its rows), not on the toolbar.
    focused = None
    stack = [frame]
    while stack and focused is None:
        n = stack.pop()
        if n is None:
            continue
        if n.getState().contains(pyatspi.STATE_FOCUSED):
            focused = n
            break
        if n.getRole() in ITEM_ROLES:
            continue
        stack.extend(n.getChildAtIndex(i) for i in range(min(n.childCount, 2000)))
    on_list = focused is not None and (
        focused.getRole() in CONTAINER_ROLES or
        (focused.parent is not None and focused.parent.getRole() in CONTAINER_ROLES))
    holder = focused if focused is None or focused.getRole() in CONTAINER_ROLES else focused.parent
    if not on_list or holder.name == "Folders":
        fail("after signing in the focus is on %r (%s), not on the list"
             % (focused.name if focused else None, focused.getRoleName() if focused else "-"))

    walk(frame, "main window")
    check_lists(frame, rows, "details")

    # Status changes are announced: selecting every row says so.
    since = len(events)
    key("ctrl+a")
    announced = pump(5, lambda: any(k.endswith("accessible-name") and n and "selected" in n
                                    for (k, n, r, _, _) in events[since:]))
    if not announced:
        fail("selecting the rows changed the status text without an accessible event")

    check_row_focus("details")
    for style_keys, style in ((("alt+v", "l"), "large icons"), (("alt+v", "m"), "small icons"),
                              (("alt+v", "i"), "list")):
        key(*style_keys)
        pump(1.0)
        check_lists(frame, rows, style)
        check_row_focus(style)
    key("alt+v", "d")
    pump(1.0)
    check_lists(frame, rows, "details again")

    check_dialog(("ctrl+f",), "Search", frame)
    check_dialog(("ctrl+shift+n",), "Please input the name of the folder", frame)
    check_dialog(("ctrl+comma",), "Settings", frame)
    check_dialog(("alt+h", "a"), "About Tallowdesk", frame)
    key("Home")
    check_dialog(("ctrl+shift+h",), "Sharing settings", frame)  # one row
    focus_frame()
    key("ctrl+a")
    check_dialog(("ctrl+shift+h",), "Sharing settings", frame)  # every row
    check_updater()
    check_transfer(sys.argv[3])


if __name__ == "__main__":
    try:
        main()
    except Exception as error:  # a broken bus or a vanished window is a failure too
        fail("the check stopped: %r" % (error,))
    if failures:
        print("%d accessibility faults" % len(failures), file=sys.stderr)
        sys.exit(1)
    print("accessibility checks passed")
