"""lupex for Python: the Blowfish text cipher, password hash and MD5 digest of lupex.

The functions call the C API of the lupex runtime library, liblupex.so.2, through
ctypes: the same bytes as every other lupex peer, with no compiler and for any
Python 3 version.

    >>> import lupex
    >>> lupex.encrypt("secret", "Hello, world")
    '26FVP/Vur1q.7J5YR0oj5Ks1'
    >>> lupex.decrypt("secret", "26FVP/Vur1q.7J5YR0oj5Ks1")
    b'Hello, world'
    >>> with lupex.Key("secret") as key:
    ...     key.decrypt(key.encrypt(b"many texts, one key schedule"))
    b'many texts, one key schedule'
    >>> lupex.decrypt_cbc("secret", lupex.encrypt_cbc("secret", "Hello, world"))
    b'Hello, world'

Arguments are bytes, bytearray, memoryview or str; a str is taken as its UTF-8
bytes. Only the first 72 bytes of a key or password count; keys may hold any bytes,
blanks and zero bytes included. Input the library refuses (an empty key, an empty
text or password, a zero byte in a text to encrypt, a malformed CBC cipher text, a
closed Key) raises lupex.Error, a ValueError, with the library's own message (the
module's own for a closed Key and an empty password, which the library's would call
a key not set up and a text).

The library loaded is, in this order: the file that the environment variable
LUPEX_LIBRARY names, when it is set before the first import (a build of one's own,
say); the copy inside the package, which pip installs with it; else liblupex.so.2
(on Windows liblupex-2.dll) by name, through the dynamic linker's search (the
system's library folders, LD_LIBRARY_PATH), as the Debian package finds the system's.

Security: the format enciphers each 8-byte block on its own, with no IV and no
integrity check; it is there to talk to peers that already use it. The CBC form
(encrypt_cbc, decrypt_cbc) chains the blocks from a random IV, so equal texts and
blocks no longer show; it carries no integrity check either. Python keeps
copies of the keys and texts given to it in its own objects, which it does not wipe;
a Key wipes its key schedule when it is closed.
"""

from __future__ import annotations

import ctypes
import os
import threading
from typing import Union

__all__ = ["Error", "Key", "decrypt", "decrypt_cbc", "encpass", "encrypt", "encrypt_cbc", "md5",
           "__version__"]

#: What every function takes as a key, text, password or data: str is UTF-8.
BytesLike = Union[bytes, bytearray, memoryview, str]

#: The file name of the lupex 2 library: the one inside the package, and the one
#: looked for by name when the package holds none.
LIBRARY_NAME = "liblupex-2.dll" if os.name == "nt" else "liblupex.so.2"

# The C API's return codes (lupex.h).
_OK = 0
_ERR_KEY = -1
_ERR_TEXT = -2
_ERR_MEMORY = -4
_ERR_RANDOM = -5

# The module's own messages, where the library's would name the wrong thing.
_CLOSED_KEY = "Closed key: the Key was closed, and its key schedule wiped"
_EMPTY_PASSWORD = "Invalid password: empty"


def _load() -> ctypes.CDLL:
    path = os.environ.get("LUPEX_LIBRARY")
    if not path:
        # A copy inside the package that fails to load is reported, not passed over
        # for another library that may be of another version.
        inside = os.path.join(os.path.dirname(os.path.abspath(__file__)), LIBRARY_NAME)
        path = inside if os.path.exists(inside) else LIBRARY_NAME
    try:
        library = ctypes.CDLL(path)
    except OSError as error:
        raise ImportError(
            f"lupex: cannot load the lupex library {path!r} ({error}); install the lupex "
            "runtime package, or set LUPEX_LIBRARY to the file of a build"
        ) from error
    c_size_p = ctypes.POINTER(ctypes.c_size_t)
    # The cipher calls, ECB and CBC alike: key or prepared key, input, output room.
    one_shot = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t,
                ctypes.c_char_p, ctypes.c_size_t, c_size_p]
    with_key = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p,
                ctypes.c_size_t, c_size_p]
    signatures = {
        # name: (return type, argument types)
        "lupex_encrypt": (ctypes.c_int, one_shot),
        "lupex_decrypt": (ctypes.c_int, one_shot),
        "lupex_encpass": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p]),
        "lupex_md5": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p]),
        "lupex_key_size": (ctypes.c_size_t, []),
        "lupex_key_setup": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t]),
        "lupex_encrypt_with": (ctypes.c_int, with_key),
        "lupex_decrypt_with": (ctypes.c_int, with_key),
        "lupex_key_wipe": (None, [ctypes.c_char_p]),
        "lupex_encrypt_cbc_capacity": (ctypes.c_size_t, [ctypes.c_size_t]),
        "lupex_decrypt_cbc_capacity": (ctypes.c_size_t, [ctypes.c_size_t]),
        "lupex_encrypt_cbc": (ctypes.c_int, one_shot),
        "lupex_decrypt_cbc": (ctypes.c_int, one_shot),
        "lupex_encrypt_cbc_with": (ctypes.c_int, with_key),
        "lupex_decrypt_cbc_with": (ctypes.c_int, with_key),
        "lupex_error_string": (ctypes.c_char_p, [ctypes.c_int]),
        "lupex_version": (ctypes.c_char_p, []),
    }
    for name, (restype, argtypes) in signatures.items():
        try:
            function = getattr(library, name)
        except AttributeError as error:
            raise ImportError(f"lupex: {path!r} has no {name}: not a lupex 2 library") from error
        function.restype = restype
        function.argtypes = argtypes
    return library


_lib = _load()

__version__: str = _lib.lupex_version().decode("ascii")
_key_size: int = _lib.lupex_key_size()


class Error(ValueError):
    """Input the library refuses. .code is the C API's code (-1 the key, -2 the text
    or password, -3 the output space), or None; str(error) is the message.

    Error(message, code=None) takes a message, as any exception does; Error(code),
    with an int, takes the library's own message for the code.
    """

    def __init__(self, message: Union[str, int], code: Union[int, None] = None) -> None:
        if isinstance(message, int) and code is None:
            message, code = _lib.lupex_error_string(message).decode("utf-8", "replace"), message
        super().__init__(message)
        self.code = code

    def __reduce__(self):  # pickled (to another process, say) with its message and code
        return Error, (str(self), self.code)


def _check(code: int) -> None:
    if code == _OK:
        return
    if code == _ERR_MEMORY:
        raise MemoryError(_lib.lupex_error_string(code).decode("utf-8", "replace"))
    if code == _ERR_RANDOM:
        # Not the input's fault: the operating system's random source failed.
        raise OSError(_lib.lupex_error_string(code).decode("utf-8", "replace"))
    raise Error(code)


def _bytes(value: BytesLike, what: str) -> bytes:
    """The bytes of an argument: str as UTF-8, any bytes-like object as its bytes."""
    if isinstance(value, bytes):
        return value
    if isinstance(value, str):
        return value.encode("utf-8")
    if isinstance(value, (bytearray, memoryview)):
        return bytes(value)
    raise TypeError(f"lupex: {what} must be bytes, bytearray, memoryview or str, "
                    f"not {type(value).__name__}")


# The output sizes of lupex_encrypt_capacity and lupex_decrypt_capacity, terminator
# included: 12 characters for each started 8 bytes, 8 bytes for each started 12
# characters. Computed here, as the format fixes them: a call less per text.
def _encrypt_capacity(text_length: int) -> int:
    return 12 * ((text_length + 7) // 8) + 1


def _decrypt_capacity(cipher_length: int) -> int:
    return 8 * ((cipher_length + 11) // 12) + 1


def encrypt(key: BytesLike, text: BytesLike) -> str:
    """The cipher text of `text` under `key`: 12 characters of
    ./0123456789a-zA-Z for each started 8 bytes of text.

    Raises Error (a ValueError) for an empty key, an empty text, or a text that holds
    a zero byte (decryption would end the text there).
    """
    k, t = _bytes(key, "key"), _bytes(text, "text")
    out = ctypes.create_string_buffer(_encrypt_capacity(len(t)))
    _check(_lib.lupex_encrypt(k, len(k), t, len(t), out, len(out), None))
    return out.value.decode("ascii")


def decrypt(key: BytesLike, cipher: BytesLike) -> bytes:
    """The plain text of `cipher` under `key`, up to its first zero byte.

    Each 12 characters give 8 bytes; characters outside the alphabet count as '.', a
    short last group is completed with '.'. A wrong key gives other bytes, not an
    error. Raises Error (a ValueError) for an empty key or an empty cipher text.
    """
    k, c = _bytes(key, "key"), _bytes(cipher, "cipher")
    out = ctypes.create_string_buffer(_decrypt_capacity(len(c)))
    try:
        # The plain text ends at its first zero byte, where the terminator is.
        _check(_lib.lupex_decrypt(k, len(k), c, len(c), out, len(out), None))
        return out.value
    finally:
        ctypes.memset(out, 0, len(out))


def encpass(password: BytesLike) -> str:
    """The password hash of `password`: '+' and 12 characters.

    Raises Error (a ValueError) for an empty password.
    """
    p = _bytes(password, "password")
    out = ctypes.create_string_buffer(14)
    try:
        code = _lib.lupex_encpass(p, len(p), out)
        if code == _ERR_TEXT:  # the C API's text code covers the password
            raise Error(_EMPTY_PASSWORD, code)
        _check(code)
        return out.value.decode("ascii")
    finally:
        ctypes.memset(out, 0, len(out))


def md5(data: BytesLike) -> str:
    """The MD5 digest of `data` (any length, empty included) as 32 lowercase hex
    digits."""
    d = _bytes(data, "data")
    out = ctypes.create_string_buffer(33)
    _check(_lib.lupex_md5(d, len(d), out))
    return out.value.decode("ascii")


def encrypt_cbc(key: BytesLike, text: BytesLike) -> str:
    """The CBC form's cipher text of `text` under `key`: '*' and the standard base64
    of a new random IV and the blocks, each chained to the one before.

    Raises Error (a ValueError) as encrypt does, and OSError when the operating
    system's random source fails.
    """
    k, t = _bytes(key, "key"), _bytes(text, "text")
    out = ctypes.create_string_buffer(_lib.lupex_encrypt_cbc_capacity(len(t)) or 1)
    _check(_lib.lupex_encrypt_cbc(k, len(k), t, len(t), out, len(out), None))
    return out.value.decode("ascii")


def decrypt_cbc(key: BytesLike, cipher: BytesLike) -> bytes:
    """The plain text of CBC cipher text `cipher` under `key`, up to its first zero
    byte. The leading '*', the '=' padding and blanks at the end may be left out.

    A wrong key gives other bytes, not an error. Raises Error (a ValueError) for an
    empty key, and for a cipher text that is not of the form (a character outside
    base64, a blank inside, a cut block, an ECB cipher text).
    """
    k, c = _bytes(key, "key"), _bytes(cipher, "cipher")
    out = ctypes.create_string_buffer(_lib.lupex_decrypt_cbc_capacity(len(c)))
    try:
        _check(_lib.lupex_decrypt_cbc(k, len(k), c, len(c), out, len(out), None))
        return out.value
    finally:
        ctypes.memset(out, 0, len(out))


class Key:
    """A prepared key: the key schedule run once, for many texts under one key.

    encrypt and decrypt give what the one-shot functions give under the same key,
    without the schedule's cost on every call (see lupex.h). A Key may be shared
    between threads. It holds key material: close() wipes it, and so does leaving a
    `with` block; after that its methods raise Error. Raises Error for an empty key.

        with lupex.Key(b"secret") as key:
            lines = [key.encrypt(line) for line in texts]
    """

    def __init__(self, key: BytesLike) -> None:
        k = _bytes(key, "key")
        self._lock = threading.Lock()
        self._key: ctypes.Array | None = None
        self._wipe = _lib.lupex_key_wipe  # kept for __del__ at interpreter exit
        schedule = ctypes.create_string_buffer(_key_size)
        _check(_lib.lupex_key_setup(schedule, k, len(k)))
        self._key = schedule

    def _schedule(self) -> ctypes.Array:
        if self._key is None:
            raise Error(_CLOSED_KEY, _ERR_KEY)
        return self._key

    def encrypt(self, text: BytesLike) -> str:
        """The cipher text of `text`, as lupex.encrypt gives it under this key."""
        t = _bytes(text, "text")
        out = ctypes.create_string_buffer(_encrypt_capacity(len(t)))
        # The lock keeps close() from wiping the schedule while a call reads it.
        with self._lock:
            _check(_lib.lupex_encrypt_with(self._schedule(), t, len(t), out, len(out), None))
        return out.value.decode("ascii")

    def decrypt(self, cipher: BytesLike) -> bytes:
        """The plain text of `cipher`, as lupex.decrypt gives it under this key."""
        c = _bytes(cipher, "cipher")
        out = ctypes.create_string_buffer(_decrypt_capacity(len(c)))
        try:
            with self._lock:
                _check(_lib.lupex_decrypt_with(self._schedule(), c, len(c), out, len(out), None))
            return out.value
        finally:
            ctypes.memset(out, 0, len(out))

    def encrypt_cbc(self, text: BytesLike) -> str:
        """The CBC cipher text of `text`, as lupex.encrypt_cbc gives it under this key."""
        t = _bytes(text, "text")
        out = ctypes.create_string_buffer(_lib.lupex_encrypt_cbc_capacity(len(t)) or 1)
        with self._lock:
            _check(_lib.lupex_encrypt_cbc_with(self._schedule(), t, len(t), out, len(out), None))
        return out.value.decode("ascii")

    def decrypt_cbc(self, cipher: BytesLike) -> bytes:
        """The plain text of CBC cipher text `cipher`, as lupex.decrypt_cbc gives it."""
        c = _bytes(cipher, "cipher")
        out = ctypes.create_string_buffer(_lib.lupex_decrypt_cbc_capacity(len(c)))
        try:
            with self._lock:
                _check(_lib.lupex_decrypt_cbc_with(self._schedule(), c, len(c), out, len(out),
                                                   None))
            return out.value
        finally:
            ctypes.memset(out, 0, len(out))

    @property
    def closed(self) -> bool:
        """True once the key has been wiped."""
        return self._key is None

    def close(self) -> None:
        """Wipes the key schedule (lupex_key_wipe). Closing again does nothing."""
        with self._lock:
            if self._key is not None:
                self._wipe(self._key)
                self._key = None

    def __copy__(self) -> Key:
        """A Key of its own: the schedule copied whole (lupex.h allows it), which its
        own close() wipes. A copy of a closed Key is closed."""
        twin = type(self).__new__(type(self))
        twin._lock = threading.Lock()
        twin._key = None
        twin._wipe = self._wipe
        with self._lock:
            if self._key is not None:
                schedule = ctypes.create_string_buffer(_key_size)
                ctypes.memmove(schedule, self._key, _key_size)
                twin._key = schedule
        return twin

    def __deepcopy__(self, memo: dict) -> Key:
        return self.__copy__()

    def __enter__(self) -> Key:
        if self._key is None:
            raise Error(_CLOSED_KEY, _ERR_KEY)
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_key", None) is not None:
            self.close()

    def __repr__(self) -> str:
        return f"<lupex.Key{' (closed)' if self._key is None else ''}>"
