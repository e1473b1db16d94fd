#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora (fuzz/corpus/<fuzzer>/) from the examples the tests use.
Run it again after changing an example; the files it writes are kept in the repository."""
import hashlib
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def gbk(text):
    return text.encode("gb18030")


def attributes(attrs=0x20, time=132_000_000_000_000_000, size=0):
    # attributes, creation, last access, last write (FILETIME), size as high and low halves
    return struct.pack("<IQQQII", attrs, time, time, time, size >> 32, size & 0xFFFFFFFF)


def folder(name, attrs=0x10):
    return b">" + gbk(name) + b"\r\nFileAttr:" + attributes(attrs)


def header(name, size):
    return b"\\" + gbk(name) + b"\r\nFileSize:" + str(size).encode() + b"\r\nFileAttr:" + \
        attributes(0x20, size=size)


def frame(kind, payload=b""):
    return kind.encode() + struct.pack(">I", len(payload)) + payload


def digest(data):
    return hashlib.sha256(data).digest()


def tag(number, data):
    """A streamed file's check on a connection without secrets (the zero key)."""
    from cryptography.hazmat.primitives.ciphers.aead import ChaCha20Poly1305  # python3-cryptography
    return ChaCha20Poly1305(bytes(32)).encrypt(struct.pack(">I", number) + bytes(8), b"", data)


def fixed(text):
    return text.encode()[:29].ljust(30, b"\0")


ASK_TWO = "TRANSFILE:ASK:Index:2\r\na.txt\t100 bytes\r\nb\t文件夹\t2 KB\r\n\r\n总计 文件个数：2\r\n" \
    "　　 文件大小：2148 Bytes = 2.1 KB\r\n"
ASK_FOLDER = "TRANSFILE:ASK:Index:4\r\nPhotos\t文件夹\t5.0 MB\r\n\r\n总计 文件个数：-1\r\n" \
    "　　 文件大小：5242880 Bytes = 5.0 MB\r\n"


def txt(*records):
    """Records as a DNS TXT record holds them: each a length byte and its bytes."""
    return b"".join(bytes([len(record)]) + record for record in records)


def commit_reveal(fingerprint, nonce):
    commitment = hashlib.sha256(b"brisk first contact commitment v1" + b"\0" + fingerprint +
                                nonce).hexdigest().encode()
    return b"BRISK-COMMIT " + commitment + b"\r\nBRISK-REVEAL " + nonce.hex().encode() + b"\r\n"


CORPORA = {
    "control_stream_fuzzer": {
        "chat": gbk("你好，文件在这里\r\n"),
        "ask_one": gbk("TRANSFILE:ASK:Index:1\r\na.txt\t100 bytes\r\n"),
        "ask_two": gbk(ASK_TWO),
        "ask_folder": gbk(ASK_FOLDER),
        "replies": gbk("TRANSFILE:REPLY:YES:PORT:6002:Index:1\r\nTRANSFILE:REPLY:NO:Index:2\r\n"
                       "TRANSFILE:REPLY:Slot in use. Index:3\r\n"),
        "port_cancel_stop": gbk("TRANSFILE:PORT:6004:Index:3\r\nchat between\r\n"
                                "TRANSFILE:CANCEL:Index:1\r\nTRANSFILE:STOP:Index:2\r\n"),
        "bad_index": gbk("TRANSFILE:ASK:Index:99999999999999999999999\r\na\t1 bytes\r\n"
                         "TRANSFILE:STOP:\r\nTRANSFILE:REPLY:YES:Index\r\n"),
        "cut_marker": gbk("hello\r\nTRANSFI"),
    },
    "data_records_fuzzer": {
        "photos": folder("Photos") + header("a.jpg", 4) + b"data" + b"< upward" +
        fixed("| Transfer file(s) finished."),
        "two_files": header("分开.txt", 5) + b"12345" + header("ten.bin", 10) + b"0123456789#x",
        "answers": b"+0" + b"0" + fixed("- Ingnore and continue.") + b"+400",
        "error": gbk("| CreateFile failed:\r\n/x\r\nError code: 13\r\n") + b"\0",
        "stop": fixed("| Stopped transfer file."),
    },
    "transfer_protocol_fuzzer": {
        # First byte even: the receiving side reads the records; odd: the sending side
        # reads the answers.
        "receive_photos": b"\0" + folder("Photos") + header("a.jpg", 4) + b"data" +
        b"< upward" + fixed("| Transfer file(s) finished."),
        "receive_links": b"\0" + header("link", 4) + b"data" + folder("linkdir") +
        header("part.bin", 8) + b"5678",
        "receive_hostile": b"\0" + folder("..") + header("../outside/victim", 1) + b"x",
        "send_answers": b"\1" + b"+0" + b"0" + b"0" + b"+2" + b"0" + b"0" + b"0",
        "send_skip": b"\1" + fixed("- Ingnore and continue.") + b"0" + b"+0",
        "send_refused": b"\1" + gbk("| 磁盘满了") + b"\0",
        # Bit 2 of the first byte: a streamed transfer (manifest and data frames; plan,
        # checks and confirmations).
        "stream_receive": b"\2" + frame("M", folder("Photos") + header("a.jpg", 4) +
                                         header("part.bin", 8) + b"< upward") + frame("m") +
        frame("F", struct.pack(">IQ", 0, 0)) + b"data" + frame("H", struct.pack(">IB", 0, 0) +
                                                               tag(0, b"data")) +
        frame("F", struct.pack(">IQ", 1, 5)) + b"567" + frame("H", struct.pack(">IB", 1, 0) +
                                                              tag(1, b"567")) + frame("E"),
        "stream_receive_hostile": b"\2" + frame("M", folder("..") + b"< upward") + frame("m"),
        "stream_send": b"\3" + frame("P", b"S" + struct.pack(">Q", 0) + b"S" +
                                      struct.pack(">Q", 2) + b"-" + struct.pack(">Q", 0)) +
        frame("p") + frame("V", struct.pack(">I", 1) + digest(b"ab")) +
        frame("C", struct.pack(">IB", 2, 0)) + frame("D"),
        "stream_send_refused": b"\3" + frame("X", gbk("| 磁盘满了")),
    },
    "received_name_fuzzer": {
        "plain": b"report.pdf",
        "chinese": gbk("分开.txt"),
        "four_byte": gbk("\U0001F600.txt"),
        "dotdot": b"..",
        "controls": b"esc\x1b[31m\x85",
        "invalid": b"bad\x81\x30\xff",
    },
    "settings_fuzzer": {
        "all": gbk("[General]\nipa=192.168.1.20\nport=6000\nautoclose=1\nzoomed=0\n"
                   "width=400\nheight=460\nStayOnTop=1\n"),
        "odd": b"[General]\nipa=\"a, b\", c\nport= -5 \nwidth=99999999999\nheight=@Invalid()\n",
        "chinese": "[General]\nipa=对方IP地址\n".encode(),
    },
    "peer_command_line_fuzzer": {
        "listen": b"listen\0--port\0006000\0--save-to\0/tmp\0--exists\0resume",
        "connect": b"connect\000192.168.1.20\0--send\0report.pdf\0photos/\0--once\0--say\0hi",
        "refuse": b"listen\0--refuse\0--resume",
        "help": b"--help",
    },
    "session_line_fuzzer": {
        # A first contact as the fuzzer's accepting side reads it: the peer's commitment (over
        # the connecting role, the fuzzer's peer fingerprint, 2 and 31 zero bytes, and the
        # nonce), then its nonce, its confirmation and its capabilities.
        "first_contact": commit_reveal(bytes([2]) + bytes(31), bytes([0x11]) * 32) +
        b"BRISK-CONFIRM\r\nBRISK-CAPS 1 streamed,verified-resume\r\n",
        "deny": b"BRISK-DENY\r\n",
        "hello": "BRISK-HELLO new 书房的电脑\r\nBRISK-HELLO known x\r\n".encode(),
        "caps_bare": b"BRISK-CAPS 1\r\n",
        "reveal_first": b"BRISK-REVEAL " + b"ab" * 32 + b"\r\n",
        "malformed": b"BRISK-CAPS 01 a,,b\r\nBRISK-COMMIT 12\r\nTRANSFILE:ASK:Index:1\r\n",
    },
    "text_records_fuzzer": {
        "ours": txt(b"v=1", b"sport=6101", b"fp=3F7A91C2"),
        "plain": txt(b"v=1"),
        "duplicates": txt(b"fp=3f7a91c2", b"FP=00000000", b"sport=6101", b"Sport=1"),
        "malformed": txt(b"sport=65536", b"fp=3F7A91C", b"flag", b"=", b"sport=+1"),
        "cut": b"\x0bfp=3F7A91C2\x40sport",
    },
}

for fuzzer, seeds in CORPORA.items():
    folder_path = os.path.join(HERE, "corpus", fuzzer)
    os.makedirs(folder_path, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder_path, name), "wb") as out:
            out.write(data)
