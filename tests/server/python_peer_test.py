#!/usr/bin/python3
"""A second implementation of the client side of the wire protocol, written from
docs/wire-protocol.md alone, run against vorncom-server over TLS (Python's ssl module), with a
throw-away CA made by the openssl command. Version 1 first, then version 2 (section 9):
pipelined packets, a resumable upload cut off and resumed, and registrations found again.

usage: python_peer_test.py VORNCOM_SERVER MAKE_TEST_PACKAGE
"""
import datetime
import hashlib
import os
import signal
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import time

import msgpack

GUID = "{79F2A787-1D84-11D2-BFA2-00A02482C8F1}"
NAME = "VornCOMServer.fVornComRdmServer"
EXT_NULL, EXT_DATE = 1, 2


class Null:
    def __eq__(self, other):
        return isinstance(other, Null)


class Date:
    def __init__(self, days):
        self.days = days


class Bytes:
    def __init__(self, lower, data):
        self.lower, self.data = lower, data


class Array:
    def __init__(self, lower, items):
        self.lower, self.items = lower, items


def to_wire(v):
    if isinstance(v, Null):
        return msgpack.ExtType(EXT_NULL, b"")
    if isinstance(v, Date):
        return msgpack.ExtType(EXT_DATE, struct.pack(">d", v.days))
    if isinstance(v, Bytes):
        return [v.lower, bytes(v.data)]
    if isinstance(v, Array):
        return [v.lower, [to_wire(i) for i in v.items]]
    return v  # None, bool, int, float (packed as float 64), str


def from_wire(o):
    if isinstance(o, msgpack.ExtType):
        if o.code == EXT_NULL and o.data == b"":
            return Null()
        if o.code == EXT_DATE and len(o.data) == 8:
            return Date(struct.unpack(">d", o.data)[0])
        raise ValueError("unknown ext")
    if isinstance(o, list):
        lower, body = o
        if isinstance(body, bytes):
            return Bytes(lower, body)
        return Array(lower, [from_wire(i) for i in body])
    return o


def openssl(*args):
    subprocess.check_call(["openssl"] + list(args), stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)


def make_certificate(folder, name, ca, alt_names="DNS:localhost,IP:127.0.0.1"):
    """Writes NAME.pem and NAME.key signed by CA (a name made before), or a CA when CA is None."""
    pem, key = os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key")
    new_key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", key]
    if ca is None:
        openssl("req", "-x509", *new_key, "-days", "2", "-subj", "/CN=" + name, "-out", pem)
        return pem, key
    csr, ext = os.path.join(folder, name + ".csr"), os.path.join(folder, name + ".ext")
    openssl("req", *new_key, "-subj", "/CN=" + name, "-out", csr)
    with open(ext, "w") as f:
        f.write("subjectAltName=%s\n" % alt_names)
    openssl("x509", "-req", "-in", csr, "-CA", os.path.join(folder, ca + ".pem"), "-CAkey",
            os.path.join(folder, ca + ".key"), "-CAcreateserial", "-days", "2", "-extfile", ext,
            "-out", pem)
    return pem, key


class Peer:
    def __init__(self, port, context, host="localhost", version=1):
        raw = socket.create_connection(("127.0.0.1", port), timeout=10)
        raw.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.sock = context.wrap_socket(raw, server_hostname=host)
        self.seq = 0
        self.waiting = []  # seqs sent and not answered, oldest first
        self.send([0, version, GUID, NAME])
        answer = self.receive()
        assert answer[0] == 0 and answer[1] == version and answer[3] == NAME, answer

    def send(self, value):
        body = msgpack.packb(value, use_bin_type=True)
        self.sock.sendall(struct.pack(">I", len(body)) + body)

    def read_exactly(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise EOFError("server closed the connection")
            data += chunk
        return data

    def receive(self):
        (n,) = struct.unpack(">I", self.read_exactly(4))
        return msgpack.unpackb(self.read_exactly(n), raw=False, strict_map_key=False)

    def post(self, method, *args):
        """Sends a request without waiting for its answer (version 2)."""
        self.seq += 1
        self.send([1, self.seq, method, [to_wire(a) for a in args]])
        self.waiting.append(self.seq)

    def collect(self):
        """The answer of the oldest request posted: (kind, result or message)."""
        frame = self.receive()
        assert frame[1] == self.waiting.pop(0), frame
        return frame[0], frame[2]

    def call(self, method, *args):
        """Returns (result, args after write-back); raises RuntimeError on an error frame."""
        self.seq += 1
        self.send([1, self.seq, method, [to_wire(a) for a in args]])
        frame = self.receive()
        assert frame[1] == self.seq, frame
        if frame[0] == 3:
            raise RuntimeError(frame[2])
        assert frame[0] == 2, frame
        args = list(args)
        for index, value in frame[3].items():
            args[index] = from_wire(value)
        return from_wire(frame[2]), args


def ole_now():
    delta = datetime.datetime.now() - datetime.datetime(1899, 12, 30)
    return delta.days + delta.seconds / 86400.0


def version_two(port, trusting, make_package, tmp, check):
    """Section 9: StartUpload, packets pipelined, the connection cut, ResumeUpload from the
    server's count, ValidFile, Protocolate; then the registration found again."""
    package = os.path.join(tmp, "PY2.ZIP")
    subprocess.check_call([make_package, package, "40000", "10"])
    content = open(package, "rb").read()
    sha = hashlib.sha256(content).hexdigest()
    control = Array(1, ["IRPF", "2.0", "PY2.ZIP", float(len(content)), 1, "127.0.0.1"])

    def session():
        p = Peer(port, trusting, version=2)
        p.call("SendControlPacket", control)
        _, args = p.call("CheckServerStatus", 0)
        return p, args[0]

    def send_packets(p, size, start, end):
        for offset in range(start, end, size):
            chunk = content[offset:offset + size]
            p.post("SendDataPacket", Bytes(1, chunk + bytes(size - len(chunk))), len(chunk))
        answers = [p.collect() for _ in range((end - start + size - 1) // size)]
        return all(kind == 2 for kind, _ in answers)

    def upload(cut_at):
        p, size = session()
        upload_id, _ = p.call("StartUpload", "PY2.ZIP", float(len(content)), sha)
        check(isinstance(upload_id, str) and 0 < len(upload_id) <= 64, "upload id")
        if cut_at:
            check(send_packets(p, size, 0, cut_at), "pipelined packets before the cut")
            p.sock.close()
            p, size = session()
            for _ in range(100):
                try:
                    held, _ = p.call("ResumeUpload", upload_id)
                    break
                except RuntimeError:  # the old session is still letting go of the upload
                    time.sleep(0.02)
            check(held == float(cut_at), "ResumeUpload gives the bytes sent (%s)" % held)
            start = int(held)
        else:
            start = 0
        check(send_packets(p, size, start, len(content)), "pipelined packets")
        valid, _ = p.call("ValidFile", 0)
        check(valid is True, "ValidFile of the resumed upload")
        _, args = p.call("Protocolate", Array(1, [None] * 14))
        return p, upload_id, args[0]

    p, upload_id, first = upload(cut_at=10 * 700)
    check(first.items[2] == "0000000002" and first.items[8] == len(content),
          "protocol data of the resumed upload")
    wired = to_wire(first)
    found, _ = p.call("FindRegistration", upload_id, "", 0.0, "")
    check(to_wire(found) == wired, "FindRegistration by upload id")
    found, _ = p.call("FindRegistration", "", sha, float(len(content)), "PY2.ZIP")
    check(to_wire(found) == wired, "FindRegistration by content")
    found, _ = p.call("FindRegistration", "", sha, float(len(content)), "OUTRO.ZIP")
    check(found is None, "FindRegistration of another name is nil")
    _, _, second = upload(cut_at=0)
    check(to_wire(second) == wired, "an identical upload gets the same registration")
    check(sorted(os.listdir(os.path.join(tmp, "data", "store"))) ==
          ["0000000001.pkg", "0000000002.pkg"], "the identical upload is not stored twice")


def main():
    server_exe, make_package = sys.argv[1], sys.argv[2]
    failures = []

    def check(condition, what):
        if not condition:
            failures.append(what)
            print("FAIL:", what)

    with tempfile.TemporaryDirectory() as tmp:
        data = os.path.join(tmp, "data")
        os.makedirs(os.path.join(data, "downloads"))
        ca, _ = make_certificate(tmp, "ca", None)
        cert, key = make_certificate(tmp, "server", "ca")
        trusting = ssl.create_default_context(cafile=ca)
        trusting.minimum_version = ssl.TLSVersion.TLSv1_2
        cfg = os.path.join(tmp, "server.cfg")
        with open(cfg, "w") as f:
            f.write("listen_port = 0\npacket_size = 700\ndata_folder = %s\n" % data)
            f.write("tls_certificate = %s\ntls_private_key = %s\n" % (cert, key))
            f.write("server = srv1\nserver = srv2 | 4000 | disabled\n")
            f.write("message = IRPF | 2.0 | Linha 1\\nLinha 2\n")
        port_file = os.path.join(tmp, "port")
        server = subprocess.Popen([server_exe, "--config", cfg, "--port-file", port_file],
                                  stderr=subprocess.DEVNULL)
        try:
            for _ in range(500):
                if os.path.exists(port_file):
                    break
                time.sleep(0.01)
            port = int(open(port_file).read())

            package = os.path.join(tmp, "PY.ZIP")
            subprocess.check_call([make_package, package, "3000", "9"])
            content = open(package, "rb").read()

            p = Peer(port, trusting)
            check(p.sock.version() == "TLSv1.3", "TLS 1.3 negotiated")
            result, args = p.call("AcceptingConnections", False)
            check(result is True and args[0] is False, "AcceptingConnections")
            control = Array(1, ["IRPF", "2.0", "PY.ZIP", float(len(content)), 1, "127.0.0.1"])
            result, _ = p.call("SendControlPacket", control)
            check(result is None, "SendControlPacket result is nil")
            status, args = p.call("CheckServerStatus", 0)
            check(status == 5 and args[0] == 700, "CheckServerStatus")
            ok, args = p.call("ReplicateClientCfgFile", None)
            expected = (b"\x0e\x01\x0cComputerName\x06\x04srv1\x00"
                        b"\x01\x0cComputerName\x06\x04srv2\x04Port\x03\xa0\x0f"
                        b"\x07Enabled\x08\x00\x00")
            check(ok is True and isinstance(args[0], Bytes) and args[0].lower == 1
                  and args[0].data == expected, "ReplicateClientCfgFile bytes")
            p.call("SendFile", "PY.ZIP")
            for start in range(0, len(content), 700):
                chunk = content[start:start + 700]
                packet = Bytes(1, chunk + bytes(700 - len(chunk)))
                _, args = p.call("SendDataPacket", packet, len(chunk))
                check(len(args[0].data) == 700, "packet not echoed changed")
            valid, _ = p.call("ValidFile", 0)
            check(valid is True, "ValidFile")
            before = ole_now()
            _, args = p.call("Protocolate", Array(1, [None] * 14))
            pd = args[0]
            check(isinstance(pd, Array) and pd.lower == 1 and len(pd.items) == 14, "14 elements")
            items = pd.items
            check(items[0] == "PY.ZIP", "element 1")
            check(items[2] == "0000000001", "element 3 protocol number")
            check(isinstance(items[3], Date) and abs(items[3].days - before) < 0.01, "element 4")
            check(items[5] == "2.0" and items[8] == len(content), "elements 6 and 9")
            check(isinstance(items[9], Date), "element 10 is a date")
            check(items[13] == "Linha 1\r\nLinha 2", "element 14 message")
            stored = os.listdir(os.path.join(data, "store"))
            check(stored == ["0000000001.pkg"], "stored file name")
            check(open(os.path.join(data, "store", stored[0]), "rb").read() == content,
                  "stored bytes")

            # A failed call is an error frame and leaves the session usable.
            try:
                p.call("SendFile", "../fora")
                check(False, "path escape refused")
            except RuntimeError:
                pass
            result, _ = p.call("checkformstatus")
            check(result == 1, "case-insensitive method name")

            # Download.
            with open(os.path.join(data, "downloads", "T.DAT"), "wb") as f:
                f.write(bytes(range(256)) * 5)
            q = Peer(port, trusting)
            q.call("SendControlPacket", Array(1, ["IRPF", "2.0", "T.DAT", 0.0, 0, ""]))
            size, args = q.call("GetFile", "T.DAT", Array(1, [None] * 13 + [True]))
            check(size == 1280, "GetFile size")
            got = b""
            while True:
                n, args = q.call("GetDataPacket", Bytes(1, bytes(700)))
                got += args[0].data[:max(n, 0)]
                if n < 700:
                    break
            check(got == bytes(range(256)) * 5, "downloaded bytes")
            q.call("EraseFile", "T.DAT")
            check(not os.path.exists(os.path.join(data, "downloads", "T.DAT")), "EraseFile")

            # A null file name is refused by the call, not by the protocol.
            try:
                q.call("EraseFile", Null())
                check(False, "EraseFile of null refused")
            except RuntimeError:
                pass
            result, _ = q.call("CheckFormStatus")
            check(result == 1, "session usable after a refused call")

            # A frame above the server's limit is refused with an error frame and a close.
            s = trusting.wrap_socket(socket.create_connection(("127.0.0.1", port), timeout=10),
                                     server_hostname="localhost")
            s.sendall(struct.pack(">I", 0x7FFFFFFF))
            reply = s.recv(4096)
            (n,) = struct.unpack(">I", reply[:4])
            frame = msgpack.unpackb(reply[4:4 + n], raw=False)
            check(frame[0] == 3, "oversized frame answered with an error frame")
            check(s.recv(4096) == b"", "connection closed after oversized frame")

            # Plain TCP on the TLS port gets a TLS alert and a close, never an answer.
            s = socket.create_connection(("127.0.0.1", port), timeout=10)
            s.sendall(struct.pack(">I", 70) + bytes(70))
            reply = s.recv(4096)
            check(reply[:2] == b"\x15\x03", "plain client gets a TLS alert")
            check(s.recv(4096) == b"", "plain client's connection closed")

            # The certificate is checked against the CA and the dialled name.
            for context, host, what in ((ssl.create_default_context(), "localhost", "unknown CA"),
                                        (trusting, "recepcao.vorn.example", "wrong name")):
                try:
                    Peer(port, context, host)
                    check(False, what + " refused")
                except ssl.SSLCertVerificationError:
                    pass

            # SIGHUP: new handshakes get the new certificate, the open session goes on.
            renewed, renewed_key = make_certificate(tmp, "renewed", "ca")
            old = ssl.DER_cert_to_PEM_cert(q.sock.getpeercert(True))
            shutil.copyfile(renewed, cert)
            shutil.copyfile(renewed_key, key)
            server.send_signal(signal.SIGHUP)
            seen = old
            for _ in range(200):
                r = Peer(port, trusting)
                seen = ssl.DER_cert_to_PEM_cert(r.sock.getpeercert(True))
                r.sock.close()
                if seen != old:
                    break
                time.sleep(0.01)
            check(seen == open(renewed).read(), "new session sees the reloaded certificate")
            result, _ = q.call("CheckFormStatus")
            check(result == 1, "session opened before the reload goes on")
            version_two(port, trusting, make_package, tmp, check)
        finally:
            server.send_signal(signal.SIGTERM)
            code = server.wait(timeout=20)
            check(code == 0, "server exits 0 on SIGTERM (got %s)" % code)

    if failures:
        print("%d failed" % len(failures))
        return 1
    print("python peer: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
