"""Integrity strings: "sha512-" and the padded standard Base64 text of the SHA-512 digest."""

import base64
import hashlib

import morvane_core
import pytest
from hypothesis import given, settings, strategies as st

# FIPS 180-4 test vectors.
EMPTY_DIGEST = ("cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
                "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e")
ABC_DIGEST = ("ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
              "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f")


def integrity(digest_hex):
    return "sha512-" + base64.b64encode(bytes.fromhex(digest_hex)).decode()


def mismatch(data, expected):
    with pytest.raises(ValueError) as e:
        morvane_core.verify_integrity(data, expected)
    assert type(e.value) is ValueError and len(e.value.args) == 1
    return e.value.args[0]


@pytest.mark.parametrize("data, digest", [(b"", EMPTY_DIGEST), (b"abc", ABC_DIGEST)])
def test_published_vectors(data, digest):
    expected = integrity(digest)
    assert morvane_core.verify_integrity(data, expected) == expected


@settings(max_examples=200, deadline=None)
@given(st.binary(max_size=600))
def test_computed_string_round_trips(data):
    computed = "sha512-" + base64.b64encode(hashlib.sha512(data).digest()).decode()
    result = morvane_core.verify_integrity(data, computed)
    assert result == computed
    assert len(result) == 95 and result.startswith("sha512-") and result.endswith("==")


@pytest.mark.parametrize("size", [127, 128, 129, 1 << 20, (1 << 24) + 3])
def test_block_boundaries_and_larger_inputs(size):
    data = bytes((i * 7) & 0xFF for i in range(256)) * (size // 256) + b"z" * (size % 256)
    computed = "sha512-" + base64.b64encode(hashlib.sha512(data).digest()).decode()
    assert morvane_core.verify_integrity(data, computed) == computed


GOOD = integrity(ABC_DIGEST)
# The standard text of this digest holds both "+" and "/".
DIGEST_WITH_PLUS_AND_SLASH = b"package-0"


def url_safe_variant():
    data = DIGEST_WITH_PLUS_AND_SLASH
    text = base64.b64encode(hashlib.sha512(data).digest()).decode()
    assert "+" in text and "/" in text
    return data, "sha512-" + text.replace("+", "-").replace("/", "_")


@pytest.mark.parametrize("expected", [
    GOOD + "\n",
    " " + GOOD,
    GOOD[:-2],
    GOOD.rstrip("="),
    "SHA512-" + GOOD[7:],
    "sha-512-" + GOOD[7:],
    "sha512:" + GOOD[7:],
    GOOD[7:],
    "sha384-" + GOOD[7:],
    "sha256-" + base64.b64encode(hashlib.sha256(b"abc").digest()).decode(),
    "sha1-" + base64.b64encode(hashlib.sha1(b"abc").digest()).decode(),
    "sha512-" + hashlib.sha512(b"abc").hexdigest(),
    GOOD + " " + GOOD,
    GOOD.replace("=", "\u003d\u200b"),
    "line one\nline two\n" + "x" * 10_000,
    "",
])
def test_any_difference_is_a_mismatch(expected):
    assert mismatch(b"abc", expected) == f"SHA-512 mismatch: expected {expected}, got {GOOD}"


def test_url_safe_alphabet_is_a_mismatch():
    data, expected = url_safe_variant()
    computed = "sha512-" + base64.b64encode(hashlib.sha512(data).digest()).decode()
    assert mismatch(data, expected) == f"SHA-512 mismatch: expected {expected}, got {computed}"


def test_empty_expected_text():
    assert mismatch(b"", "") == "SHA-512 mismatch: expected , got " + integrity(EMPTY_DIGEST)


def test_digest_of_other_data_is_a_mismatch():
    assert mismatch(b"abd", GOOD) == f"SHA-512 mismatch: expected {GOOD}, got " + (
        "sha512-" + base64.b64encode(hashlib.sha512(b"abd").digest()).decode())


class TestArguments:
    def test_data_must_be_bytes(self):
        for value, name in [(bytearray(b"abc"), "bytearray"), (memoryview(b"abc"), "memoryview"), ("abc", "str")]:
            with pytest.raises(TypeError) as e:
                morvane_core.verify_integrity(value, GOOD)
            assert e.value.args == (f"argument 'data': '{name}' object is not an instance of 'bytes'",)

    def test_expected_must_be_str(self):
        with pytest.raises(TypeError) as e:
            morvane_core.verify_integrity(b"abc", GOOD.encode())
        assert e.value.args == ("argument 'expected_integrity': 'bytes' object is not an instance of 'str'",)

    def test_bytes_subclass_and_keywords(self):
        class Payload(bytes):
            pass
        assert morvane_core.verify_integrity(expected_integrity=GOOD, data=Payload(b"abc")) == GOOD
