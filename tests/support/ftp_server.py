#!/usr/bin/python3
"""A local FTP server for the upload tests.

Listens on 127.0.0.1 only. With --port 0 the system picks a free port; the port actually bound is
printed as the first line on standard output, so a test can start the server and read where to
connect. Every command and reply is written to the --log file, which lets a test see how many
control connections and logins an upload took. A reply is logged before it is sent, so a client
that has read a reply finds it in the log. SIGTERM ends the server between two rounds of its loop,
never in the middle of a reply or a log line.

The fault options make the server misbehave in the ways an upload has to survive:
  --drop-after N     end the whole session (data and control connection, no reply) once a STOR
                     has received at least N bytes
  --drop-reply TEXT  with --drop-after, send TEXT on the control connection before ending it, as
                     vsftpd does when the session's process dies ("500 OOPS: child died")
  --quit-reply TEXT  answer QUIT with TEXT instead of 221 and close; an empty TEXT closes silently
  --ignore-pass      never answer PASS, so the client waits for a reply that does not come
  --close-data-after N  close only the data connection once a STOR has received N bytes
  --no-size          answer SIZE with 502, as servers without the command do
  --size-offset N    report every file size N bytes off
  --refuse-rename-over  refuse RNTO onto an existing file (550), as some servers do
  --refuse-rnto N    refuse the Nth RNTO the server receives, counting from 1 (repeatable)
  --refuse-every-rnto  refuse every RNTO
  --rnto-reply TEXT  the reply of a refused RNTO (default "550 Rename refused.")
  --rnto-delay S     take S seconds over every RNTO before doing it (the whole server waits)
  --refuse-overwrite refuse a STOR onto an existing file, as proftpd's AllowOverwrite off does
  --mute-after-stor  answer nothing more, on any connection, once a STOR has been answered
  --drop-once        --drop-after cuts only the first transfer
  --serial           leave commands that arrive during a transfer unanswered until it ends, as
                     vsftpd does (ABOR excepted)
  --throttle N       receive at most N bytes a second on data connections

FTPS (explicit, AUTH TLS) with --tls CERT KEY; --tls-required refuses clear-text sessions;
--refuse-prot takes AUTH TLS but refuses PROT P, so the data would go in clear text.

And one convenience for tests that are about something else than the upload:
  --make-folders     create the folder of a stored file when it is missing
"""

import argparse
import logging
import os
import signal
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


# What the fault options have done so far, over every session of the server.
faults = {"rnto": 0, "muted": False, "dropped": False}


class LogBeforeReplying:
    # pyftpdlib sends first and logs after; a test reading the log as soon as it has the reply
    # would race the server.
    def respond(self, resp, logfun=logging.getLogger("pyftpdlib").debug):
        if faults["muted"]:
            self.logline("fault: not answering (%s)" % resp)
            return
        self.logline("-> %s" % resp, logfun=logfun)
        self._last_response = resp
        self.push(resp + "\r\n")


def make_handlers(args):
    if args.tls:
        # Imported only here: it needs PyOpenSSL, which the clear-text tests do without.
        from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

        from OpenSSL import SSL

        # curl resumes the control connection's TLS session on each data connection; a context
        # without a session id context makes OpenSSL reset those.
        context = SSL.Context(SSL.TLS_SERVER_METHOD)
        context.use_certificate_chain_file(args.tls[0])
        context.use_privatekey_file(args.tls[1])
        context.set_session_id(b"ftp_server.py")

        class TlsDTPHandler(TLS_DTPHandler):
            # curl starts TLS on a data connection before it sends STOR; pyftpdlib takes a data
            # connection that is readable before its command for one that went away, and closes it.
            def readable(self):
                if not self.receive and not self._initialized:
                    return self._ssl_accepting or self._ssl_want_read
                return super().readable()

        class TlsFTPHandler(LogBeforeReplying, TLS_FTPHandler):
            ssl_context = context
            tls_control_required = args.tls_required
            tls_data_required = args.tls_required
            dtp_handler = TlsDTPHandler

            def ftp_PROT(self, line):
                if args.refuse_prot:
                    self.respond("536 PROT P not accepted.")
                    return
                return super().ftp_PROT(line)

        return TlsFTPHandler

    class ThrottledDTP(ThrottledDTPHandler):
        read_limit = args.throttle or 0

    class FaultyDTPHandler(ThrottledDTP if args.throttle else DTPHandler):
        def handle_read(self):
            super().handle_read()
            if args.close_data_after is not None and self.tot_bytes_received >= args.close_data_after:
                self.cmd_channel.logline("fault: closing the data connection after %d bytes" % self.tot_bytes_received)
                # The control connection stays and says why, as a server whose disk or quota gave
                # out would.
                self._resp = ("426 Connection closed; transfer aborted.", logging.getLogger("pyftpdlib").info)
                self.close()
                return
            if args.drop_after is not None and self.tot_bytes_received >= args.drop_after and not faults["dropped"]:
                faults["dropped"] = args.drop_once
                control = self.cmd_channel
                control.logline("fault: dropping the session after %d bytes" % self.tot_bytes_received)
                self._resp = ()
                self.close()
                if args.drop_reply:
                    control.push(args.drop_reply + "\r\n")
                    control.close_when_done()
                else:
                    control.close()

        # The base class binds this name to its own handle_read.
        handle_read_event = handle_read

    class FaultyFTPHandler(LogBeforeReplying, FTPHandler):
        dtp_handler = FaultyDTPHandler
        held = ()

        def pre_process_command(self, line, cmd, arg):
            transferring = self.data_channel is not None and self.data_channel.transfer_in_progress()
            if args.serial and transferring and cmd != "ABOR":
                self.logline("fault: holding %s until the transfer ends" % cmd)
                self.held = self.held + ((line, cmd, arg),)
                return
            super().pre_process_command(line, cmd, arg)

        def _on_dtp_close(self):
            super()._on_dtp_close()
            held, self.held = self.held, ()
            for command in held:
                super().pre_process_command(*command)

        def ftp_RNTO(self, path):
            faults["rnto"] += 1
            if args.rnto_delay:
                time.sleep(args.rnto_delay)
            if args.refuse_rename_over and os.path.exists(path):
                self.respond("550 File exists.")
                return
            if args.refuse_every_rnto or faults["rnto"] in (args.refuse_rnto or []):
                self._rnfr = None
                self.respond(args.rnto_reply)
                return
            return super().ftp_RNTO(path)

        def on_file_received(self, file):
            faults["muted"] = args.mute_after_stor

        def ftp_PASS(self, line):
            if args.ignore_pass:
                self.logline("fault: leaving PASS unanswered")
                return
            super().ftp_PASS(line)

        def ftp_STOR(self, file, mode="w"):
            if args.make_folders:
                os.makedirs(os.path.dirname(file), exist_ok=True)
            if args.refuse_overwrite and os.path.exists(file):
                self.respond("550 %s: Overwrite permission denied" % self.fs.fs2ftp(file))
                return
            return super().ftp_STOR(file, mode)

        def ftp_SIZE(self, path):
            if args.no_size:
                self.respond("502 Command not implemented.")
                return
            if args.size_offset:
                self.respond("213 %d" % (os.path.getsize(path) + args.size_offset))
                return
            return super().ftp_SIZE(path)

        def ftp_QUIT(self, line):
            if args.quit_reply is None:
                return super().ftp_QUIT(line)
            if args.quit_reply:
                self.respond(args.quit_reply)
                self.close_when_done()
            else:
                self.logline("fault: closing without answering QUIT")
                self.close()

    return FaultyFTPHandler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--home", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--log", help="file that receives every command and reply")
    parser.add_argument("--drop-after", type=int)
    parser.add_argument("--drop-reply")
    parser.add_argument("--quit-reply")
    parser.add_argument("--ignore-pass", action="store_true")
    parser.add_argument("--make-folders", action="store_true")
    parser.add_argument("--close-data-after", type=int)
    parser.add_argument("--no-size", action="store_true")
    parser.add_argument("--size-offset", type=int)
    parser.add_argument("--refuse-rename-over", action="store_true")
    parser.add_argument("--refuse-rnto", type=int, action="append")
    parser.add_argument("--refuse-every-rnto", action="store_true")
    parser.add_argument("--rnto-reply", default="550 Rename refused.")
    parser.add_argument("--rnto-delay", type=float)
    parser.add_argument("--refuse-prot", action="store_true")
    parser.add_argument("--refuse-overwrite", action="store_true")
    parser.add_argument("--mute-after-stor", action="store_true")
    parser.add_argument("--drop-once", action="store_true")
    parser.add_argument("--serial", action="store_true")
    parser.add_argument("--throttle", type=int)
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--tls-required", action="store_true")
    args = parser.parse_args()

    logger = logging.getLogger("pyftpdlib")
    logger.setLevel(logging.DEBUG)
    logger.propagate = False
    handler = logging.FileHandler(args.log) if args.log else logging.StreamHandler(sys.stderr)
    handler.setFormatter(logging.Formatter("%(message)s"))
    logger.addHandler(handler)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.home, perm="elradfmwMT")
    ftp_handler = make_handlers(args)
    ftp_handler.authorizer = authorizer
    # The tests try wrong passwords; the anti-guessing delay would only slow them down.
    ftp_handler.auth_failed_timeout = 0

    server = FTPServer(("127.0.0.1", args.port), ftp_handler)
    print(server.address[1], flush=True)

    # Raising from the handler could land inside a reply or a log line, or in code that swallows
    # the exception and serves on; a flag checked between short rounds of the loop cannot.
    stopping = []
    signal.signal(signal.SIGTERM, lambda signum, frame: stopping.append(signum))
    while not stopping:
        server.ioloop.loop(0.05, blocking=False)
    server.close_all()


if __name__ == "__main__":
    main()
