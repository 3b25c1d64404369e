"""User certificates and an NSS database that holds them, made at test time.

Builds on tlsserver.Authority: a test CA and a server certificate for 127.0.0.1 from it, plus
user certificates with fresh P-256 keys (openssl), and an NSS database such as the engine reads
from $HOME/.pki/nssdb: the CA trusted there, each user's certificate and key imported from
PKCS #12 (certutil, pk12util from Debian's libnss3-tools). Nothing is committed: every key
lives only in a temporary folder for the length of a test run, and making all of it takes
well under a second.
"""

import glob
import os
import subprocess

import tlsserver

_TOOL_TIMEOUT = 30
_P12_PASSWORD = "tavisk-test"


def _run(args, **kwargs):
    result = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=_TOOL_TIMEOUT, **kwargs)
    if result.returncode != 0:
        raise AssertionError("%s failed (%d): %s"
                             % (" ".join(args), result.returncode,
                                result.stdout.decode("utf-8", "replace")))
    return result.stdout.decode("utf-8", "replace")


class User:
    """A user certificate: .name is its subject's common name; .pem, .key, .p12 are paths."""

    def __init__(self, name, pem, key, p12):
        self.name, self.pem, self.key, self.p12 = name, pem, key, p12


class TestPki:
    """A CA, a server certificate for 127.0.0.1 and the given users, under folder; .ca_pem,
    .server_pem and .server_key are paths.

    users is a list of (common name, days valid)."""

    CA_NAME = "Tavisk Test CA"

    def __init__(self, folder, users):
        self.folder = folder
        self.authority = tlsserver.Authority(folder, self.CA_NAME)
        self.ca_pem = self.authority.cert
        self.server_pem, self.server_key = self.authority.issue("server", ["127.0.0.1"])
        self.users = []
        for index, (name, days) in enumerate(users):
            pem, key = self._issue_user("user%d" % index, name, days)
            p12 = self._path("user%d.p12" % index)
            _run(["openssl", "pkcs12", "-export", "-in", pem, "-inkey", key, "-out", p12,
                  "-name", name, "-passout", "pass:" + _P12_PASSWORD])
            self.users.append(User(name, pem, key, p12))

    def _path(self, name):
        return os.path.join(self.folder, name)

    def _issue_user(self, stem, common_name, days):
        """(certificate file, key file) of a client certificate issued by the authority."""
        key, csr, pem = (self._path(stem + suffix) for suffix in (".key", ".csr", ".pem"))
        extfile = self._path(stem + ".ext")
        with open(extfile, "w") as f:
            f.write("basicConstraints=CA:FALSE\nextendedKeyUsage=clientAuth\n"
                    "keyUsage=critical,digitalSignature\n")
        _run(["openssl", "req", "-new", "-newkey", "ec", "-pkeyopt",
              "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", csr,
              "-subj", "/CN=" + common_name])
        _run(["openssl", "x509", "-req", "-in", csr, "-CA", self.authority.cert,
              "-CAkey", self.authority.key, "-set_serial",
              str(int.from_bytes(os.urandom(8), "big")), "-days", str(days),
              "-extfile", extfile, "-out", pem])
        return pem, key

    def make_nss_db(self, home, users=None, password=None):
        """Creates $home/.pki/nssdb: the CA trusted for servers, and the given users'
        certificates with their keys (all users when None). With a password, the keys are
        locked behind it as a smart card's are behind its PIN. Returns the database's path."""
        db = os.path.join(home, ".pki", "nssdb")
        os.makedirs(db, mode=0o700, exist_ok=True)
        spec = "sql:" + db
        # certutil reads the password from a file, as it does with no terminal to ask on.
        password_file = os.path.join(home, ".nss-password")
        with open(password_file, "w") as f:
            f.write((password or "") + "\n")
        try:
            _run(["certutil", "-N", "-d", spec, "-f", password_file])
            _run(["certutil", "-A", "-d", spec, "-f", password_file, "-n", self.CA_NAME,
                  "-t", "CT,C,C", "-i", self.ca_pem])
            for user in self.users if users is None else users:
                _run(["pk12util", "-i", user.p12, "-d", spec, "-W", _P12_PASSWORD,
                      "-k", password_file])
        finally:
            os.remove(password_file)
        return db

    def make_token_db(self, home, folder, user, pin, label="Tavisk Card"):
        """A software PKCS #11 token standing in for a smart card: a SoftHSM token under folder
        with the PIN pin, holding user's certificate and key, and an NSS database under home
        (the CA trusted, no certificate of its own) in which p11-kit's proxy module is
        registered with modutil, as a card's module is. Certificates on the token are marked
        readable before the PIN (modutil's FRIENDLY), which the engine needs in order to list
        them. Returns the environment the helper needs to find the token."""
        config = os.path.join(folder, "softhsm2.conf")
        tokens = os.path.join(folder, "tokens")
        os.makedirs(tokens, exist_ok=True)
        with open(config, "w") as f:
            f.write("directories.tokendir = %s\nobjectstore.backend = file\n"
                    "log.level = ERROR\n" % tokens)
        env = dict(os.environ, SOFTHSM2_CONF=config)
        _run(["softhsm2-util", "--init-token", "--free", "--label", label, "--pin", pin,
              "--so-pin", pin + "-so"], env=env)
        db = self.make_nss_db(home, users=[])
        proxy = _p11_kit_proxy()
        _run(["modutil", "-dbdir", "sql:" + db, "-add", "p11-kit-proxy", "-libfile", proxy,
              "-mechanisms", "FRIENDLY", "-force"], env=env)
        _run(["pk12util", "-i", user.p12, "-d", "sql:" + db, "-h", label, "-W", _P12_PASSWORD,
              "-K", pin], env=env)
        return {"SOFTHSM2_CONF": config}

    @staticmethod
    def nss_nicknames(db):
        """The nicknames certutil lists in the database (a check that the import worked)."""
        lines = _run(["certutil", "-L", "-d", "sql:" + db]).splitlines()
        return [l[:60].rstrip() for l in lines[4:] if l.strip()]


def _p11_kit_proxy():
    """The path of p11-kit's proxy module (Debian's p11-kit-modules), whatever the
    architecture's library folder is called."""
    found = sorted(glob.glob("/usr/lib/*/p11-kit-proxy.so")
                   + glob.glob("/usr/lib/p11-kit-proxy.so"))
    if not found:
        raise AssertionError("p11-kit-proxy.so not found: is p11-kit-modules installed?")
    return found[0]
