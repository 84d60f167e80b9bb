# The Python module against the library it loads: known answers (the README's
# examples, the request table and the published Blowfish vectors), hashlib as an
# MD5 oracle, round trips, prepared keys against the one-shot calls, the argument
# types, and every refusal.
import base64
import copy
import ctypes
import hashlib
import shutil
import os
import pickle
import random
import re
import subprocess
import sys
import threading

import pytest

import lupex

DATA = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "data")
ROOT = os.path.dirname(os.path.dirname(DATA))
ALPHABET = b"./0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"


def message(code):
    """The library's own message for an error code, straight from the C API."""
    library = ctypes.CDLL(lupex._lib._name)
    library.lupex_error_string.restype = ctypes.c_char_p
    return library.lupex_error_string(code).decode()


def text_format(block):
    """The 12 characters of one enciphered 8-byte block: the right half, then the
    left (each big-endian), six characters each from the low six bits up."""
    left, right = int.from_bytes(block[:4], "big"), int.from_bytes(block[4:], "big")
    return bytes(ALPHABET[(half >> (6 * i)) & 63] for half in (right, left) for i in range(6)).decode()


def text_of(n, seed):
    """n bytes, none of them zero, different for every seed."""
    generator = random.Random(seed)
    return bytes(generator.randrange(1, 256) for _ in range(n))


# --- known answers -------------------------------------------------------------

README = [
    (lupex.encrypt, ("secret", "Hello, world"), "26FVP/Vur1q.7J5YR0oj5Ks1"),
    (lupex.decrypt, ("secret", "26FVP/Vur1q.7J5YR0oj5Ks1"), b"Hello, world"),
    (lupex.encrypt, ("a key with blanks", "Hello, world"), "3J242.VxCQP/JZRU/0Jt5sG1"),
    (lupex.encrypt, ("secret", "café"), ".vklI.dfaDH0"),
    (lupex.encpass, ("my password",), "+dOPeI/Zzs7N0"),
    (lupex.md5, ("abc",), "900150983cd24fb0d6963f7d28e17f72"),
    (lupex.md5, ("",), "d41d8cd98f00b204e9800998ecf8427e"),
]


@pytest.mark.parametrize("function,arguments,expected", README)
def test_readme_examples(function, arguments, expected):
    assert function(*arguments) == expected


def unescape(field):
    return re.sub(rb"\\x([0-9a-f]{2})", lambda m: bytes([int(m.group(1), 16)]), field.encode())


def table_rows():
    """The request table's successful encrypt, decrypt, decrypt-cbc, encpass and md5 rows, split
    as the procedures split a request: blanks (0x20) separate the words, the text or
    password is the rest of the line after the blanks in front of it."""
    rows = []
    with open(os.path.join(DATA, "replies.tsv"), encoding="utf-8") as table:
        for line in table:
            if line.startswith("#") or not line.strip():
                continue
            procedure, request, reply = line.rstrip("\n").split("\t")
            request, reply = unescape(request), unescape(reply)
            if not reply.startswith(b"+OK "):
                continue
            result = reply[4:]
            if procedure == "md5":
                rows.append(("md5", (request,), result.decode()))
            elif procedure == "blowfish":
                command, _, rest = request.lstrip(b" ").partition(b" ")
                if command == b"encpass":
                    rows.append(("encpass", (rest.lstrip(b" "),), result.decode()))
                else:
                    key, _, text = rest.lstrip(b" ").partition(b" ")
                    text = text.lstrip(b" ")
                    decrypting = command.startswith(b"decrypt")
                    rows.append((command.decode().replace("-", "_"), (key, text),
                                 result if decrypting else result.decode()))
    return rows


@pytest.mark.parametrize("name,arguments,expected", table_rows())
def test_request_table(name, arguments, expected):
    assert getattr(lupex, name)(*arguments) == expected


def test_request_table_is_read():
    names = [row[0] for row in table_rows()]
    assert {"md5", "encrypt", "decrypt", "encpass"} <= set(names) and len(names) > 25


def blowfish_vectors():
    with open(os.path.join(DATA, "blowfish_vectors.txt")) as vectors:
        return [tuple(bytes.fromhex(field) for field in line.split())
                for line in vectors if line.strip() and not line.startswith("#")]


@pytest.mark.parametrize("key,plain,cipher", blowfish_vectors())
def test_published_blowfish_vectors(key, plain, cipher):
    # Keys with zero bytes in them (all-zero keys among them) must reach the library
    # whole; a plain text ends at its first zero byte.
    cipher_text = text_format(cipher)
    assert lupex.decrypt(key, cipher_text) == plain.split(b"\0")[0]
    if 0 not in plain:
        assert lupex.encrypt(key, plain) == cipher_text


@pytest.mark.parametrize("n", [1, 55, 56, 63, 64, 65, 1000, 100000])
def test_md5_against_hashlib(n):
    data = bytes(random.Random(n).randrange(256) for _ in range(n))  # zero bytes too
    assert lupex.md5(data) == hashlib.md5(data).hexdigest()


def test_version_is_the_build_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as cmake:
        version = re.search(r"project\(lupex VERSION ([0-9.]+)", cmake.read()).group(1)
    assert lupex.__version__ == version


# --- round trips and prepared keys ---------------------------------------------

LENGTHS = [1, 2, 7, 8, 9, 15, 16, 17, 31, 32, 33, 671, 672, 673, 680, 1000, 4096, 100003]
KEYS = [b"k", b"a key with blanks", b"ze\0ro", b"\0", b"\xff\x80 \x01", b"x" * 80]


@pytest.mark.parametrize("n", LENGTHS)
def test_round_trip(n):
    key, text = b"a key with blanks", text_of(n, n)
    cipher = lupex.encrypt(key, text)
    assert len(cipher) == 12 * ((n + 7) // 8)
    assert set(cipher.encode()) <= set(ALPHABET)
    assert lupex.decrypt(key, cipher) == text


@pytest.mark.parametrize("key", KEYS)
def test_key_gives_what_the_one_shot_calls_give(key):
    with lupex.Key(key) as prepared:
        for n in LENGTHS:
            text = text_of(n, n)
            cipher = lupex.encrypt(key, text)
            assert prepared.encrypt(text) == cipher
            assert prepared.decrypt(cipher) == text
        garbage = bytes(range(256)) * 3  # any bytes decrypt, zero bytes included
        assert prepared.decrypt(garbage) == lupex.decrypt(key, garbage)


def test_keys_are_bytes():
    text = b"Keys are bytes, blanks and zero bytes too."
    ciphers = {key: lupex.encrypt(key, text) for key in KEYS}
    assert len(set(ciphers.values())) == len(KEYS)
    assert ciphers[b"ze\0ro"] not in (lupex.encrypt("ze", text), lupex.encrypt("zero", text))
    # Only the first 72 bytes count.
    assert lupex.encrypt(b"x" * 72 + b"other", text) == ciphers[b"x" * 80]


def test_a_key_shared_between_threads():
    texts = [text_of(1 + i * 37 % 700, i) for i in range(64)]
    expected = [lupex.encrypt("shared", text) for text in texts]
    results = [None] * 8
    with lupex.Key("shared") as key:
        def work(i):
            results[i] = [key.encrypt(text) for text in texts for _ in range(5)][::5]
        threads = [threading.Thread(target=work, args=(i,)) for i in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    assert results == [expected] * 8


# --- argument types ------------------------------------------------------------

FORMS = [
    ("str", lambda b: b.decode("utf-8")),
    ("bytearray", bytearray),
    ("memoryview", memoryview),
    ("memoryview slice", lambda b: memoryview(b"<" + b + b">")[1:-1]),
]


@pytest.mark.parametrize("form", [form for _, form in FORMS], ids=[name for name, _ in FORMS])
def test_argument_forms_give_the_bytes_results(form):
    key, text = "schlüssel ключ".encode(), "Grüße, 世界! ✓".encode()
    cipher = lupex.encrypt(key, text)
    assert lupex.encrypt(form(key), form(text)) == cipher
    assert lupex.decrypt(form(key), form(cipher.encode())) == text
    assert lupex.encpass(form(text)) == lupex.encpass(text)
    assert lupex.md5(form(text)) == hashlib.md5(text).hexdigest()
    with lupex.Key(form(key)) as prepared:
        assert prepared.encrypt(form(text)) == cipher
        assert prepared.decrypt(form(cipher.encode())) == text


@pytest.mark.parametrize("value", [None, 5, 3.0, ["abc"]])
def test_other_types_raise_type_error(value):
    # bytes(5) would be five zero bytes: an int must not pass as a text.
    for call in (lambda: lupex.encrypt(value, "text"), lambda: lupex.encrypt("key", value),
                 lambda: lupex.decrypt("key", value), lambda: lupex.encpass(value),
                 lambda: lupex.md5(value), lambda: lupex.Key(value)):
        with pytest.raises(TypeError):
            call()


# --- refusals ------------------------------------------------------------------

KEY, TEXT = -1, -2
# The call, the C API's code, and the message when it is the module's own (the
# library's for the code otherwise).
REFUSALS = [
    ("encrypt, empty key", lambda: lupex.encrypt("", "text"), KEY),
    ("encrypt, empty text", lambda: lupex.encrypt("key", b""), TEXT),
    ("encrypt, zero byte in the text", lambda: lupex.encrypt("key", "a\0b"), TEXT),
    ("encrypt, zero byte last", lambda: lupex.encrypt("key", b"ab\0"), TEXT),
    ("encrypt, both empty: the key first", lambda: lupex.encrypt("", ""), KEY),
    ("decrypt, empty key", lambda: lupex.decrypt(b"", "26FVP/Vur1q."), KEY),
    ("decrypt, empty cipher text", lambda: lupex.decrypt("key", ""), TEXT),
    ("encpass, empty password", lambda: lupex.encpass(bytearray()), TEXT, "Invalid password: empty"),
    ("Key, empty key", lambda: lupex.Key(memoryview(b"")), KEY),
    ("Key.encrypt, empty text", lambda: lupex.Key("key").encrypt(""), TEXT),
    ("Key.encrypt, zero byte", lambda: lupex.Key("key").encrypt("a\0"), TEXT),
    ("Key.decrypt, empty cipher text", lambda: lupex.Key("key").decrypt(b""), TEXT),
]


@pytest.mark.parametrize("call,code,text", [(r[1], r[2], r[3] if len(r) > 3 else None) for r in REFUSALS],
                         ids=[r[0] for r in REFUSALS])
def test_refusals_raise_value_error_with_the_library_message(call, code, text):
    text = text or message(code)
    with pytest.raises(ValueError) as raised:
        call()
    assert isinstance(raised.value, lupex.Error) and raised.value.code == code
    assert str(raised.value) == text
    passed = pickle.loads(pickle.dumps(raised.value))  # as a process pool passes it on
    assert (type(passed), passed.code, str(passed)) == (lupex.Error, code, text)


ERRORS = [
    # arguments, code, message
    (("boom",), None, "boom"),
    (("boom", KEY), KEY, "boom"),
    ((TEXT,), TEXT, None),  # a code alone: the library's message
]


@pytest.mark.parametrize("arguments,code,text", ERRORS)
def test_error_is_made_as_exceptions_are(arguments, code, text):
    text = text or message(code)
    with pytest.raises(ValueError, match=f"^{re.escape(text)}$") as raised:
        raise lupex.Error(*arguments)
    assert (raised.value.args, raised.value.code) == ((text,), code)
    passed = pickle.loads(pickle.dumps(raised.value))
    assert (type(passed), passed.args, passed.code) == (lupex.Error, (text,), code)


def test_a_key_refuses_use_after_its_with_block():
    with lupex.Key("secret") as key:
        cipher = key.encrypt("Hello, world")
    assert key.closed
    def use_in_a_with_block():
        with key:
            pass
    for call in (lambda: key.encrypt("Hello, world"), lambda: key.decrypt(cipher),
                 use_in_a_with_block):
        with pytest.raises(lupex.Error, match="^Closed key: the Key was closed") as raised:
            call()
        assert raised.value.code == KEY


def test_close_wipes_the_key_and_may_be_repeated():
    key = lupex.Key("secret")
    schedule = key._key
    assert any(schedule.raw)
    key.close()
    assert not any(schedule.raw)  # lupex_key_wipe zeroed the schedule in place
    key.close()
    with pytest.raises(ValueError):
        key.encrypt("text")


@pytest.mark.parametrize("copier", [copy.copy, copy.deepcopy], ids=["copy", "deepcopy"])
def test_a_copied_key_has_a_schedule_of_its_own(copier):
    key = lupex.Key("secret")
    twin = copier(key)
    assert twin._key is not key._key and twin._key.raw == key._key.raw
    key.close()
    assert (key.closed, twin.closed) == (True, False)
    assert twin.encrypt("Hello, world") == "26FVP/Vur1q.7J5YR0oj5Ks1"
    schedule = twin._key
    twin.close()
    assert not any(schedule.raw)
    assert copier(key).closed


def test_a_refused_call_leaves_the_key_usable():
    with lupex.Key("secret") as key:
        with pytest.raises(ValueError):
            key.encrypt("a\0b")
        assert key.encrypt("Hello, world") == "26FVP/Vur1q.7J5YR0oj5Ks1"


# --- loading -------------------------------------------------------------------

def test_the_module_under_test(request):
    # The source tree's, or with --installed the one this Python has installed.
    source = os.path.join(ROOT, "python", "lupex", "__init__.py")
    if request.config.getoption("installed"):
        assert lupex.__file__.startswith(sys.prefix + os.sep) and lupex.__file__ != source
    else:
        assert lupex.__file__ == source


def import_lupex(module_folder=None, **environment):
    """Imports lupex from module_folder (this lupex's by default) in a fresh python3
    with LUPEX_LIBRARY and LD_LIBRARY_PATH as given (unset when not given); returns
    the process, which prints a cipher text and the file of the lupex library that
    it has mapped."""
    env = {k: v for k, v in os.environ.items() if k not in ("LUPEX_LIBRARY", "LD_LIBRARY_PATH")}
    module_folder = module_folder or os.path.dirname(os.path.dirname(lupex.__file__))
    env.update(environment, PYTHONPATH=module_folder)
    program = ("import lupex; print(lupex.encrypt('secret', 'Hello, world')); "
               "print(*{line.split(None, 5)[5].strip() for line in open('/proc/self/maps') "
               "if 'liblupex' in line})")
    return subprocess.run([sys.executable, "-c", program], env=env, capture_output=True, text=True)


# Where each library is found, and which one is loaded: the module's order.
LOAD_ORDER = [
    # id, a copy inside the package, LUPEX_LIBRARY set, the one loaded
    ("LUPEX_LIBRARY before the package's copy", True, True, "named"),
    ("the package's copy before the linker's search", True, False, "package"),
    ("the linker's search for liblupex.so.2 last", False, False, "system"),
]


@pytest.mark.skipif(not os.path.exists("/proc/self/maps"), reason="no /proc/self/maps")
@pytest.mark.parametrize("inside,named,loaded", [r[1:] for r in LOAD_ORDER], ids=[r[0] for r in LOAD_ORDER])
def test_the_library_loaded(tmp_path, inside, named, loaded):
    library = os.path.realpath(lupex._lib._name)
    files = {"named": tmp_path / "named" / "liblupex-own.so",
             "system": tmp_path / "system" / lupex.LIBRARY_NAME,
             "package": tmp_path / "modules" / "lupex" / lupex.LIBRARY_NAME}
    (tmp_path / "modules" / "lupex").mkdir(parents=True)
    shutil.copy(lupex.__file__, tmp_path / "modules" / "lupex")
    for name, path in files.items():
        if name != "package" or inside:
            path.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(library, path)
    environment = {"LD_LIBRARY_PATH": str(files["system"].parent)}
    if named:
        environment["LUPEX_LIBRARY"] = str(files["named"])
    run = import_lupex(str(tmp_path / "modules"), **environment)
    assert (run.returncode, run.stdout) == (0, f"26FVP/Vur1q.7J5YR0oj5Ks1\n{files[loaded]}\n"), run.stderr


def test_a_missing_library_is_an_import_error_that_says_what_to_do():
    run = import_lupex(LUPEX_LIBRARY="/nonexistent/liblupex.so.2")
    assert run.returncode != 0
    assert "ImportError: lupex: cannot load the lupex library '/nonexistent/liblupex.so.2'" in run.stderr
    assert "LUPEX_LIBRARY" in run.stderr


def test_the_manual_examples():
    # help(lupex) is the manual: its examples must give what they show.
    import doctest
    failures, tried = doctest.testmod(lupex)
    assert (failures, tried > 0) == (0, True)


# The CBC form, with Python's base64 as the oracle of its outer layer.
def cbc_parts(cipher):
    """The IV and the cipher blocks of a CBC cipher text, by Python's base64."""
    assert cipher.startswith("*")
    raw = base64.b64decode(cipher[1:], validate=True)
    assert base64.b64encode(raw).decode() == cipher[1:]
    return raw[:8], raw[8:]


@pytest.mark.parametrize("n", [1, 7, 8, 9, 16, 17, 100, 752, 3000])
def test_cbc_round_trips_in_every_spelling(n):
    text = bytes(random.Random(n).randrange(1, 256) for _ in range(n))
    with lupex.Key(b"cbc key") as key:
        for cipher in (lupex.encrypt_cbc(b"cbc key", text), key.encrypt_cbc(text)):
            iv, blocks = cbc_parts(cipher)
            assert len(iv) == 8 and len(blocks) == 8 * ((n + 7) // 8)
            bare = cipher[1:].rstrip("=")
            for spelling in (cipher, cipher[1:], bare, "*" + bare, cipher + "  ", bare.encode()):
                assert lupex.decrypt_cbc(b"cbc key", spelling) == text
                assert key.decrypt_cbc(spelling) == text


def test_cbc_draws_a_new_iv_every_time():
    with lupex.Key("k") as key:
        ivs = {cbc_parts(key.encrypt_cbc("same text"))[0] for _ in range(2000)}
    ivs |= {cbc_parts(lupex.encrypt_cbc("k", "same text"))[0] for _ in range(500)}
    assert len(ivs) == 2500


@pytest.mark.parametrize("cipher", [
    "*AAECAwQFBgfLSrHr InMFRg==",  # a blank inside
    "*AAECAwQFBgfLSrHrInMFRg=",  # padding that does not fill the group
    "*AAECAwQFBgfLSrHrInMFR",  # one character over a group
    "*AAECAwQFBgc=",  # the IV alone
    "*AAECAwQFBgcan9pvc6b5PvVtJSf1tXw",  # a cut block
    "26FVP/Vur1q.7J5YR0oj5Ks1",  # the ECB form
    "**AAECAwQFBgfLSrHrInMFRg==",
    "*",
])
def test_a_malformed_cbc_cipher_text_raises_value_error(cipher):
    for call in (lambda: lupex.decrypt_cbc("sixteen-byte-key", cipher),
                 lambda: lupex.Key("sixteen-byte-key").decrypt_cbc(cipher)):
        with pytest.raises(ValueError) as raised:
            call()
        assert isinstance(raised.value, lupex.Error) and raised.value.code == TEXT


def test_cbc_refusals_and_a_wrong_key():
    with pytest.raises(lupex.Error):
        lupex.encrypt_cbc("", "text")
    with pytest.raises(lupex.Error):
        lupex.encrypt_cbc("key", "a\0b")
    key = lupex.Key("key")
    key.close()
    with pytest.raises(lupex.Error):
        key.encrypt_cbc("text")
    assert lupex.decrypt_cbc("other", lupex.encrypt_cbc("key", "attack at dawn")) != b"attack at dawn"
