"""The credentials prompt as a screen reader reads it: who asks, the labelled fields with the
focus on the user name, and the note that the last answer was refused. Openbox on Xvfb with a
private accessibility bus (tests/e2e/lib/screenreader.py); the person types with
xdotool's keys."""

import unittest

import authservers
import helperproc
import screenreader
from signinfixture import REPLY_TIMEOUT, error_raw

TITLE = "Company sign-in"
REDIRECT = "ms-appx-web://tavisk.example/cb"
REFUSED = "The last user name and password were refused. Try again."

reader = screenreader.Desktop()
setUpModule = reader.start
tearDownModule = reader.stop


def showing(node):
    return node.accessible.getState().contains(screenreader.pyatspi.STATE_SHOWING)


class PromptAsRead(unittest.TestCase):
    def test_prompt_says_who_asks_and_that_the_last_answer_was_refused(self):
        cases = [
            # name, proxy, title, what it says of who asks
            ("server", False, "Authentication required",
             "127.0.0.1:{port} asks for your user name and password."),
            ("proxy", True, "Proxy authentication required",
             "The proxy 127.0.0.1:{port} asks for your user name and password."),
        ]
        for request_id, (name, proxy, title, who) in enumerate(cases, 1):
            with self.subTest(name):
                server = self.enterContext(authservers.AuthServer(
                    "Basic", "corp", "alice", "right", REDIRECT, proxy=proxy))
                env = reader.helper_env()
                for variable in ("http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"):
                    env.pop(variable, None)
                url = server.url()
                if proxy:
                    env["http_proxy"] = "http://127.0.0.1:%d/" % server.port
                    url = "http://portal.test/start"
                helper = self.enterContext(helperproc.Helper(env=env))
                app = screenreader.application(helper.pid)
                helper.send({"jsonrpc": "2.0", "id": request_id, "method": "navigate",
                             "params": dict(url=url, title=TITLE, redirect_uri=REDIRECT)})

                def prompt_read(nodes, refused):
                    atspi = screenreader.pyatspi
                    dialog = screenreader.find(nodes, atspi.ROLE_DIALOG, title)
                    user = screenreader.find(nodes, atspi.ROLE_TEXT, "User name")
                    password = screenreader.find(nodes, atspi.ROLE_PASSWORD_TEXT, "Password")
                    labels = [n.name for n in nodes if n.role == atspi.ROLE_LABEL and showing(n)]
                    return (dialog and user and password and user.focused
                            and (who.format(port=server.port) + '\nIt names itself "corp".')
                            in labels
                            and (REFUSED in labels) == refused and nodes)

                screenreader.wait_for_tree(app, lambda nodes: prompt_read(nodes, False),
                                           what="the prompt")
                reader.wait_for_keyboard(title)
                reader.xdotool("type", "--delay", "20", "alice")
                reader.xdotool("key", "Tab")
                reader.xdotool("type", "--delay", "20", "wrong")
                reader.xdotool("key", "Return")
                screenreader.wait_for_tree(app, lambda nodes: prompt_read(nodes, True),
                                           what="the prompt after a refusal")
                self.assertEqual([s.user for s in server.seen()], [None, "alice"])
                reader.xdotool("key", "Escape")
                reader.wait_for_keyboard(TITLE)
                reader.xdotool("key", "alt+F4")
                self.assertEqual(helper.reply_raw(REPLY_TIMEOUT),
                                 error_raw(request_id, "user_cancelled"))
                helper.send({"jsonrpc": "2.0", "id": 99, "method": "exit"})
                self.assertEqual(helper.wait(), 0)


if __name__ == "__main__":
    unittest.main()
