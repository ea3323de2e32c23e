"""A scripted SMTP server that misbehaves, for the feedback mail tests.

    python3 smtp_script.py SCENARIO

Listens on 127.0.0.1 on a free port, prints "PORT <n>", then serves
connections one after another. Every command line a client sends is printed
as "C: <line>". Scenarios:

    huge-reply      MAIL FROM is refused with a 550 line of 20000 characters
    endless-reply   the greeting is a multi-line reply that never ends, sent fast
    drip            the greeting comes one byte every 0.2 s and never ends
    no-line-end     the greeting has no line end, then nothing more comes
    greeting-554    the greeting is 554; the server waits for QUIT
    hello-refused   EHLO and HELO are both refused
    early-data-reply  DATA gets "354" and an unsolicited "250" at once; the
                    end of data then gets "554"
    early-rcpt-reply  RCPT TO gets "250" twice, the second before DATA is sent
"""

import socket
import sys
import time


def serve(conn, scenario):
    reader = conn.makefile("rb")

    def send(data):
        conn.sendall(data)

    def command():
        line = reader.readline()
        if not line:
            return None
        text = line.rstrip(b"\r\n").decode("latin-1")
        print("C: " + text, flush=True)
        return text.upper()

    if scenario == "endless-reply":
        while True:
            send(b"220-" + b"x" * 60 + b"\r\n" * 1)
    if scenario == "drip":
        for byte in (b"220-" + b"y" * 1000):
            send(bytes([byte]))
            time.sleep(0.2)
        return
    if scenario == "no-line-end":
        send(b"220 hello")
        time.sleep(60)
        return
    if scenario == "greeting-554":
        send(b"554 No SMTP service here\r\n")
    else:
        send(b"220 scripted ready\r\n")
    while True:
        cmd = command()
        if cmd is None:
            return
        if cmd == "QUIT":
            send(b"221 bye\r\n")
            return
        if scenario == "greeting-554":
            send(b"503 Bad sequence of commands\r\n")
        elif scenario == "hello-refused" and (cmd.startswith("EHLO") or cmd.startswith("HELO")):
            send(b"550 Go away\r\n")
        elif scenario == "early-data-reply" and cmd == "DATA":
            send(b"354 go ahead\r\n250 2.0.0 Ok: queued\r\n")
            while True:
                line = reader.readline()
                if not line:
                    return
                if line == b".\r\n":
                    break
            print("C: .", flush=True)
            send(b"554 5.7.1 Message rejected\r\n")
        elif scenario == "early-rcpt-reply" and cmd.startswith("RCPT"):
            send(b"250 OK\r\n250 OK\r\n")
        elif scenario == "huge-reply" and cmd.startswith("MAIL"):
            send(b"550 " + b"z" * 20000 + b"\r\n")
        else:
            send(b"250 OK\r\n")


def main():
    scenario = sys.argv[1]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(5)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        try:
            serve(conn, scenario)
        except OSError:
            pass
        finally:
            conn.close()


if __name__ == "__main__":
    main()
