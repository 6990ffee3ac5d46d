"""A small Chrome DevTools Protocol client over --remote-debugging-pipe.

Chromium reads commands from fd 3 and writes answers and events to fd 4,
each a JSON text ended by a NUL byte. Only the standard library is used, so
the test needs nothing from the network beyond the Debian packages.
"""
import json
import os
import select
import subprocess
import time


class CdpError(Exception):
    pass


class Browser:
    def __init__(self, executable, args, env):
        cmd_read, self._cmd_write = os.pipe()
        self._answer_read, answer_write = os.pipe()
        # The shell puts our pipe ends on the descriptors Chromium expects.
        self._proc = subprocess.Popen(
            ["sh", "-c", 'exec "$0" "$@" 3<&%d 4>&%d' % (cmd_read, answer_write),
             executable, "--remote-debugging-pipe"] + args,
            pass_fds=(cmd_read, answer_write), env=env,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(cmd_read)
        os.close(answer_write)
        self._buffer = b""
        self._next_id = 1
        self._events = []

    def close(self):
        try:
            self.send("Browser.close", timeout=5)
        except Exception:
            pass
        try:
            self._proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self._proc.kill()
            self._proc.wait(timeout=10)
        os.close(self._cmd_write)
        os.close(self._answer_read)

    def _read_message(self, deadline):
        while b"\0" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise CdpError("no answer from Chromium in time")
            ready, _, _ = select.select([self._answer_read], [], [], left)
            if not ready:
                continue
            chunk = os.read(self._answer_read, 1 << 20)
            if not chunk:
                raise CdpError("Chromium closed the pipe (exit %s)" % self._proc.poll())
            self._buffer += chunk
        text, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(text)

    def send(self, method, params=None, session=None, timeout=30):
        message = {"id": self._next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        self._next_id += 1
        os.write(self._cmd_write, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            answer = self._read_message(deadline)
            if answer.get("id") == message["id"]:
                if "error" in answer:
                    raise CdpError("%s: %s" % (method, answer["error"]))
                return answer.get("result", {})
            if "method" in answer:
                self._events.append(answer)

    def mark(self):
        """Events before the mark are not waited for again."""
        self._events.clear()

    def wait_event(self, method, session=None, timeout=30, match=None):
        deadline = time.monotonic() + timeout
        while True:
            for i, event in enumerate(self._events):
                if event["method"] != method or (session and event.get("sessionId") != session):
                    continue
                if match and not match(event.get("params", {})):
                    continue
                del self._events[: i + 1]
                return event.get("params", {})
            self._events.append(self._read_message(deadline))
