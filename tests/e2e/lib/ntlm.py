"""The server's side of NTLM (version 2 responses) for the credentials prompt's tests: the
challenge message and the check of an authenticate message against a user name and password.
Python's hashlib has no MD4 where OpenSSL 3 leaves it out, so it is written here."""

import base64
import hmac
import os
import struct

SIGNATURE = b"NTLMSSP\0"
NEGOTIATE, CHALLENGE, AUTHENTICATE = 1, 2, 3
_FLAGS = (0x00000001    # Unicode
          | 0x00000004  # the target's name is asked for
          | 0x00000200  # NTLM
          | 0x00008000  # always sign
          | 0x00010000  # the target is a domain
          | 0x00080000  # extended session security
          | 0x00800000)  # target information follows


def md4(data):
    def rotate(x, n):
        return ((x << n) | (x >> (32 - n))) & 0xFFFFFFFF

    length = len(data) * 8
    data += b"\x80" + b"\0" * ((55 - len(data)) % 64) + struct.pack("<Q", length)
    a, b, c, d = 0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476
    for at in range(0, len(data), 64):
        x = struct.unpack("<16I", data[at:at + 64])
        aa, bb, cc, dd = a, b, c, d
        for i in range(16):
            k, s = i, (3, 7, 11, 19)[i % 4]
            f = (b & c) | (~b & d)
            a, b, c, d = d, rotate((a + f + x[k]) & 0xFFFFFFFF, s), b, c
        for i in range(16):
            k, s = (i % 4) * 4 + i // 4, (3, 5, 9, 13)[i % 4]
            g = (b & c) | (b & d) | (c & d)
            a, b, c, d = d, rotate((a + g + x[k] + 0x5A827999) & 0xFFFFFFFF, s), b, c
        for i in range(16):
            k = (0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15)[i]
            s = (3, 9, 11, 15)[i % 4]
            h = b ^ c ^ d
            a, b, c, d = d, rotate((a + h + x[k] + 0x6ED9EBA1) & 0xFFFFFFFF, s), b, c
        a, b, c, d = [(v + w) & 0xFFFFFFFF for v, w in ((a, aa), (b, bb), (c, cc), (d, dd))]
    return struct.pack("<4I", a, b, c, d)


def message_type(token):
    """The type of an NTLM message, or None when it is none."""
    if len(token) < 12 or not token.startswith(SIGNATURE):
        return None
    return struct.unpack("<I", token[8:12])[0]


def read_header(value):
    """The NTLM message an "NTLM <base64>" authorization header carries, or None."""
    kind, _, rest = (value or "").partition(" ")
    if kind.upper() != "NTLM":
        return None
    try:
        token = base64.b64decode(rest)
    except ValueError:
        return None
    return token if message_type(token) is not None else None


def challenge_message(server_challenge, domain="CORP", computer="PORTAL"):
    """The server's challenge (type 2): its 8-byte challenge and the target's names."""
    name = domain.encode("utf-16-le")
    info = b""
    for kind, value in ((2, domain), (1, computer)):
        encoded = value.encode("utf-16-le")
        info += struct.pack("<HH", kind, len(encoded)) + encoded
    info += struct.pack("<HH", 0, 0)
    header_size = 48
    return (SIGNATURE + struct.pack("<I", CHALLENGE)
            + struct.pack("<HHI", len(name), len(name), header_size)
            + struct.pack("<I", _FLAGS) + server_challenge + b"\0" * 8
            + struct.pack("<HHI", len(info), len(info), header_size + len(name))
            + name + info)


def _field(token, at):
    length, _, offset = struct.unpack("<HHI", token[at:at + 8])
    return token[offset:offset + length]


def check_authenticate(token, server_challenge, user, password):
    """(user name the message names, whether its NTLMv2 response proves password for user)."""
    response, domain, named = _field(token, 20), _field(token, 28), _field(token, 36)
    named_user = named.decode("utf-16-le", "replace")
    if named_user != user or len(response) <= 24:
        return named_user, False
    key = md4(password.encode("utf-16-le"))
    owf = hmac.new(key, named_user.upper().encode("utf-16-le") + domain, "md5").digest()
    proof = hmac.new(owf, server_challenge + response[16:], "md5").digest()
    return named_user, hmac.compare_digest(proof, response[:16])


def new_challenge():
    return os.urandom(8)
