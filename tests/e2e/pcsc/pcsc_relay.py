#!/usr/bin/python3
"""The host side of the test-only winscard.dll (winscard_relay.cpp): makes each call it
receives on pcsc-lite and answers with pcsc-lite's result code, which uses the same SCARD_*
values as Windows. The structures differ (DWORD is 64-bit here, the ATR buffer shorter), so
fields are copied one by one, never bytes.

  pcsc_relay.py serve PORTFILE LOG   listen on 127.0.0.1 (a free port, written to PORTFILE),
                                     one line per call and its result in LOG; with
                                     QTK_PCSC_RELAY_HOLD_RELEASE=FILE, SCardReleaseContext is
                                     answered only once FILE exists
  pcsc_relay.py readers              what pcsc-lite sees now, one reader a line:
                                     name<TAB>state (hex)<TAB>ATR (hex), or the error code
"""
import ctypes
import os
import socketserver
import sys
import time

MAX_ATR_SIZE = 33
SCARD_STATE_UNAWARE = 0


class ReaderState(ctypes.Structure):
    _fields_ = [
        ("szReader", ctypes.c_char_p),
        ("pvUserData", ctypes.c_void_p),
        ("dwCurrentState", ctypes.c_ulong),
        ("dwEventState", ctypes.c_ulong),
        ("cbAtr", ctypes.c_ulong),
        ("rgbAtr", ctypes.c_ubyte * MAX_ATR_SIZE),
    ]


pcsc = ctypes.CDLL("libpcsclite.so.1")
pcsc.SCardEstablishContext.argtypes = [ctypes.c_ulong, ctypes.c_void_p, ctypes.c_void_p,
                                       ctypes.POINTER(ctypes.c_long)]
pcsc.SCardReleaseContext.argtypes = [ctypes.c_long]
pcsc.SCardListReaders.argtypes = [ctypes.c_long, ctypes.c_char_p, ctypes.c_char_p,
                                  ctypes.POINTER(ctypes.c_ulong)]
pcsc.SCardGetStatusChange.argtypes = [ctypes.c_long, ctypes.c_ulong,
                                      ctypes.POINTER(ReaderState), ctypes.c_ulong]
for function in (pcsc.SCardEstablishContext, pcsc.SCardReleaseContext, pcsc.SCardListReaders,
                 pcsc.SCardGetStatusChange):
    function.restype = ctypes.c_long


def code(result):
    return result & 0xFFFFFFFF


def establish(scope):
    context = ctypes.c_long(0)
    result = code(pcsc.SCardEstablishContext(scope, None, None, ctypes.byref(context)))
    return result, context.value


def list_readers(context):
    length = ctypes.c_ulong(0)
    result = code(pcsc.SCardListReaders(context, None, None, ctypes.byref(length)))
    if result != 0:
        return result, []
    buffer = ctypes.create_string_buffer(length.value)
    result = code(pcsc.SCardListReaders(context, None, buffer, ctypes.byref(length)))
    if result != 0:
        return result, []
    names = bytes(buffer.raw[:length.value]).split(b"\0")
    return 0, [name for name in names if name]


def status(context, timeout, wanted):
    """wanted: (current state, UTF-8 name) pairs; gives the result and (event state, ATR)."""
    states = (ReaderState * len(wanted))()
    for state, (current, name) in zip(states, wanted):
        state.szReader = name
        state.dwCurrentState = current
    result = code(pcsc.SCardGetStatusChange(context, timeout, states, len(wanted)))
    return result, [(s.dwEventState & 0xFFFFFFFF, bytes(s.rgbAtr[:min(s.cbAtr, MAX_ATR_SIZE)]))
                    for s in states]


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        lines = self.rfile.read().decode("ascii").splitlines()
        words = lines[0].split()
        answer = []
        if words[0] == "establish":
            result, context = establish(int(words[1]))
            answer.append(f"{result} {context}")
            note = f"SCardEstablishContext scope={words[1]} -> 0x{result:08X}"
        elif words[0] == "release":
            hold = os.environ.get("QTK_PCSC_RELAY_HOLD_RELEASE")
            if hold:
                # Keeps the caller inside its examination until the case has done what it
                # wanted done meanwhile (insert a card) and made the file.
                with open(self.server.log, "a", encoding="utf-8") as log:
                    log.write("SCardReleaseContext held\n")
                deadline = time.monotonic() + 120
                while not os.path.exists(hold) and time.monotonic() < deadline:
                    time.sleep(0.05)
            result = code(pcsc.SCardReleaseContext(int(words[1])))
            answer.append(str(result))
            note = f"SCardReleaseContext -> 0x{result:08X}"
        elif words[0] == "list":
            result, names = list_readers(int(words[1]))
            answer.append(str(result))
            answer += [name.hex() for name in names]
            note = f"SCardListReaders -> 0x{result:08X} {[n.decode() for n in names]}"
        elif words[0] == "status":
            timeout, count = int(words[2]), int(words[3])
            wanted = []
            for line in lines[1:1 + count]:
                current, _, name = line.partition(" ")
                wanted.append((int(current), bytes.fromhex(name)))
            result, states = status(int(words[1]), timeout, wanted)
            answer.append(str(result))
            if result == 0:
                answer += [f"{event} {atr.hex()}" for event, atr in states]
            seen = ", ".join(f"{n.decode()}: 0x{e:08X} {a.hex(' ').upper()}".rstrip()
                             for (_, n), (e, a) in zip(wanted, states))
            note = f"SCardGetStatusChange timeout={timeout} -> 0x{result:08X} [{seen}]"
        else:
            answer.append(str(0x80100001))
            note = f"unknown request {words[0]}"
        self.wfile.write(("\n".join(answer) + "\n").encode("ascii"))
        with open(self.server.log, "a", encoding="utf-8") as log:
            log.write(note + "\n")


def serve(port_file, log):
    server = socketserver.TCPServer(("127.0.0.1", 0), Handler)
    server.log = log
    with open(port_file + ".tmp", "w", encoding="ascii") as out:
        out.write(f"{server.server_address[1]}\n")
    # Whoever waits for the port sees the whole file or none.
    os.replace(port_file + ".tmp", port_file)
    server.serve_forever()


def readers():
    result, context = establish(2)
    if result == 0:
        result, names = list_readers(context)
    if result != 0:
        print(f"0x{result:08X}")
        return 1
    result, states = status(context, 0, [(SCARD_STATE_UNAWARE, n) for n in names])
    pcsc.SCardReleaseContext(context)
    if result != 0:
        print(f"0x{result:08X}")
        return 1
    for name, (event, atr) in zip(names, states):
        print(f"{name.decode()}\t0x{event:08X}\t{atr.hex(' ').upper()}")
    return 0


if __name__ == "__main__":
    if sys.argv[1] == "serve":
        serve(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "readers":
        sys.exit(readers())
