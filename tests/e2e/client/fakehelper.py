#!/usr/bin/python3
"""A stand-in for the helper, for the client's tests: speaks the channel protocol on the
descriptors it is given and behaves as FAKE_HELPER_MODE says. It writes what it saw (its
arguments and its open descriptors) as JSON to FAKE_HELPER_REPORT.

Modes:
  "ok"                 answers hello and navigate with success
  "refuse"             answers navigate with the error "access_denied: cancel"
  "quit-after-hello"   answers hello and exits 5 on navigate
  "killed-on-navigate" answers hello and dies of SIGKILL on navigate
  "garbage"            answers hello with a line that is not JSON
  "wrong-version"      answers hello with protocol version 2
  "unsolicited"        answers hello, then writes a second reply nobody asked for
  "oversized"          answers navigate with a reply line of 5 MiB
  "mute"               reads requests and answers none until exit
  "hang"               answers hello, then hangs on navigate without reading
  "hang-ignore-term"   as "hang", and ignores SIGTERM
A silent navigate that its mode answers with success gets "interaction_required" instead; in
every mode forget is answered with a null result, or "session_in_use" for the session "busy"."""

import json
import os
import signal
import sys
import time


def open_descriptors():
    """Our open descriptors, without the one that listing them used for a moment."""
    def is_open(fd):
        try:
            os.fstat(fd)
            return True
        except OSError:
            return False
    return sorted(fd for fd in (int(n) for n in os.listdir("/dev/fd")) if is_open(fd))


def main():
    mode = os.environ.get("FAKE_HELPER_MODE", "ok")
    # "unreachable": the first navigates find the page unreachable, each for another reason.
    load_failures = [("certificate_error", "ERR_CERT_AUTHORITY_INVALID"),
                     ("proxy_error", "ERR_PROXY_CONNECTION_FAILED"),
                     ("network_error", "ERR_NAME_NOT_RESOLVED")]
    args = sys.argv[1:]
    fds = {a.split("=", 1)[0]: int(a.split("=", 1)[1]) for a in args if "=" in a}
    report = {"argv": sys.argv, "open_fds": open_descriptors(), "requests": []}
    cmd_in = os.fdopen(fds["--cmdInFd"], "rb", buffering=0)
    cmd_out = os.fdopen(fds["--cmdOutFd"], "wb", buffering=0)
    # What we print goes wherever the client sends our standard output.
    print("[tavisk] loaded fake:start", flush=True)

    def save():
        path = os.environ.get("FAKE_HELPER_REPORT")
        if path:
            with open(path, "w") as f:
                json.dump(report, f)

    pending = b""
    while True:
        while b"\n" not in pending:
            chunk = cmd_in.read(4096)
            if not chunk:
                save()
                return 0
            pending += chunk
        line, pending = pending.split(b"\n", 1)
        request = json.loads(line)
        report["requests"].append(request)
        method, rid = request.get("method"), request.get("id", 0)

        def reply(body):
            cmd_out.write(json.dumps(dict({"id": rid, "jsonrpc": "2.0"}, **body)).encode() + b"\n")

        if mode == "mute" and method != "exit":
            continue
        if method == "hello":
            if mode == "garbage":
                cmd_out.write(b"this is no reply\n")
                continue
            version = 2 if mode == "wrong-version" else 1
            reply({"result": {"helper": "corvane-tavisk/1.0", "protocol_version": version}})
            if mode == "unsolicited":
                reply({"result": None})
        elif method == "navigate":
            save()
            if mode == "quit-after-hello":
                return 5
            if mode == "killed-on-navigate":
                os.kill(os.getpid(), signal.SIGKILL)
            if mode.startswith("hang"):
                if mode == "hang-ignore-term":
                    signal.signal(signal.SIGTERM, signal.SIG_IGN)
                time.sleep(3600)
            if mode == "refuse":
                reply({"error": {"code": 1, "message": "access_denied: cancel"}})
                continue
            if mode == "unreachable" and load_failures:
                word, error = load_failures.pop(0)
                reply({"error": {"code": 1, "message": word,
                                 "data": {"host": "idp.example", "error": error}}})
                continue
            if request["params"].get("silent") is True:
                reply({"error": {"code": 1, "message": "interaction_required",
                                 "data": {"reason": "idle"}}})
                continue
            url = request["params"]["redirect_uri"] + "?code=fake"
            if mode == "oversized":
                url += "x" * (5 * 1024 * 1024)
            reply({"result": {"redirect_url": url, "status": "ok"}})
        elif method == "forget":
            if request["params"]["session"] == "busy":
                reply({"error": {"code": 1, "message": "session_in_use"}})
            else:
                reply({"result": None})
        elif method == "exit":
            save()
            return 0


if __name__ == "__main__":
    sys.exit(main())
