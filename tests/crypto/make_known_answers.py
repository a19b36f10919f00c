# Computes the known-answer vectors of KnownAnswerTest.cpp with an independent
# implementation (Python's "cryptography" package and hashlib), so that the C++ code is
# checked against the written formats rather than against itself.
#   python3 tests/crypto/make_known_answers.py
import hashlib, hmac, unicodedata, base64, json
from cryptography.hazmat.primitives.kdf.hkdf import HKDF
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.ciphers.aead import ChaCha20Poly1305
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey
from cryptography.hazmat.primitives import serialization

def hkdf(ikm, salt, info, n=32):
    return HKDF(algorithm=hashes.SHA256(), length=n, salt=salt, info=info).derive(ikm)

master = bytes(range(32))
repo = bytes(range(0xa0, 0xc0))
keys = {p: hkdf(master, repo, b"wendlemarsh/" + p.encode()) for p in ["blob-id", "blob", "metadata", "signing"]}
for p, k in keys.items(): print(p, k.hex())
sk = Ed25519PrivateKey.from_private_bytes(keys["signing"])
pub = sk.public_key().public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw)
print("signing-public", pub.hex())
print("signature(wendlemarsh)", sk.sign(b"wendlemarsh").hex())

pt = b"The quick brown fox jumps over the lazy dog"
bid = hmac.new(keys["blob-id"], pt, hashlib.sha256).digest()
print("identity", bid.hex())
frame = bytes([0]) + len(pt).to_bytes(8, "little") + pt
# format 1: per-blob key, zero nonce, type tree (2)
k1 = hkdf(keys["blob"], bid, b"wendlemarsh/blob-v1")
print("v1key", k1.hex())
sealed1 = bytes(12) + ChaCha20Poly1305(k1).encrypt(bytes(12), frame, bid + bytes([2]))
print("sealed-v1-tree", sealed1.hex())
# format 2: fixed nonce for the vector, type data (1)
nonce = bytes(range(0x40, 0x4c))
sealed2 = nonce + ChaCha20Poly1305(keys["blob"]).encrypt(nonce, frame, bid + bytes([1]))
print("sealed-v2-data", sealed2.hex())
# metadata
mnonce = bytes(range(0x50, 0x5c))
meta = b'{"v":2}'
sealedm = mnonce + ChaCha20Poly1305(keys["metadata"]).encrypt(mnonce, meta, None)
print("sealed-metadata", sealedm.hex())
print("packid(abc)", hashlib.sha256(b"abc").hexdigest())

# recovery key text
alphabet = "0123456789ABCDEFGHJKMNPQRSTVWXYZ"
rk = bytes(range(1, 26))
n = int.from_bytes(rk, "big")
chars = [alphabet[(n >> (195 - 5*i)) & 31] for i in range(40)]
d = hashlib.sha256(rk).digest()
c = int.from_bytes(d[:4], "big") >> 7  # first 25 bits
chars += [alphabet[(c >> (20 - 5*i)) & 31] for i in range(5)]
s = "".join(chars)
print("recovery-text", "-".join(s[i:i+5] for i in range(0, 45, 5)))

# recovery key file
rwk = hkdf(rk, repo, b"wendlemarsh/recovery-key")
print("recovery-wrapping", rwk.hex())
keyID = "00112233445566778899aabbccddeeff"
knonce = bytes(range(0x60, 0x6c))
wrapped = ChaCha20Poly1305(rwk).encrypt(knonce, master, keyID.encode() + b"recoveryKey")
print("recovery-keyfile", json.dumps({"createdAt": "2026-01-02T03:04:05.678Z", "hint": "drawer", "keyID": keyID, "method": "recoveryKey", "nonce": base64.b64encode(knonce).decode(), "wrapped": base64.b64encode(wrapped).decode()}, sort_keys=True))

# passphrase key file
pp = "Cafe\u0301 au lait"
salt = bytes(range(0x70, 0x80))
pwk = hashlib.pbkdf2_hmac("sha256", unicodedata.normalize("NFC", pp).encode(), salt, 1000, 32)
print("passphrase-wrapping", pwk.hex())
keyID2 = "ffeeddccbbaa99887766554433221100"
wrapped2 = ChaCha20Poly1305(pwk).encrypt(knonce, master, keyID2.encode() + b"passphrase")
print("passphrase-keyfile", json.dumps({"createdAt": "2026-01-02T03:04:05.678Z", "keyID": keyID2, "method": "passphrase", "nonce": base64.b64encode(knonce).decode(), "wrapped": base64.b64encode(wrapped2).decode()}, sort_keys=True))

# The compressed vector of KnownAnswerTest (CompressedFormatOneBlobOpens) was sealed by
# this code; here only its frame header is checked: method 1, length 520.
pt = b"wendle marsh " * 40
bid = hmac.new(keys["blob-id"], pt, hashlib.sha256).digest()
sealed = bytes.fromhex("000000000000000000000000d7278784e91d47061f9907499c8d47bd54d511fb60b8177834e8a1ea5c7ed16791a7365a2e2ed8dfb5b4058e24945dacdff005023ad495e19a9edcbea2907dd42c36711f12")
frame = ChaCha20Poly1305(hkdf(keys["blob"], bid, b"wendlemarsh/blob-v1")).decrypt(bytes(12), sealed[12:], bid + bytes([1]))
assert frame[0] == 1 and int.from_bytes(frame[1:9], "little") == 520
print("compressed-v1-frame", frame.hex())
