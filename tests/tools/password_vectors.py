#!/usr/bin/env python3
"""Known cipher texts for the remembered-password encryption, computed apart
from the C++ code: hashlib's MD5 and an RC4 written here. The key is the first
5 digest bytes followed by 11 zero bytes (a 40-bit RC4 key with its zero salt).
Prints C++ initialiser lines for PasswordEncryptionTest.cpp."""
import hashlib

PASSPHRASE = b"Pelko-Vurn48%&;] TiskRB"


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) % 256
        s[i], s[j] = s[j], s[i]
    out = bytearray()
    i = j = 0
    for b in data:
        i = (i + 1) % 256
        j = (j + s[i]) % 256
        s[i], s[j] = s[j], s[i]
        out.append(b ^ s[(s[i] + s[j]) % 256])
    return bytes(out)


key = hashlib.md5(PASSPHRASE).digest()[:5] + bytes(11)
for plain in [b"", b"a", b"secret", b"p&ss=word;]", "pässwörd".encode("utf-8"),
              b"correct horse battery staple 0123456789"]:
    print('    {"%s", "%s"},' % ("".join("\\x%02X" % c if c > 127 else chr(c) for c in plain),
                                rc4(key, plain).hex().upper()))
