#!/usr/bin/python3
"""A local FTP server for the upload tests.

Listens on 127.0.0.1 only. With --port 0 the system picks a free port; the port actually bound is
printed as the first line on standard output, so a test can start the server and read where to
connect. Every command and reply is written to the --log file, which lets a test see how many
control connections and logins an upload took.

The fault options make the server misbehave in the ways an upload has to survive:
  --drop-after N     end the whole session (data and control connection, no reply) once a STOR
                     has received at least N bytes
  --quit-reply TEXT  answer QUIT with TEXT instead of 221 and close; an empty TEXT closes silently
  --ignore-pass      never answer PASS, so the client waits for a reply that does not come
  --close-data-after N  close only the data connection once a STOR has received N bytes
  --no-size          answer SIZE with 502, as servers without the command do
  --size-offset N    report every file size N bytes off
  --throttle N       receive at most N bytes a second on data connections

And one convenience for tests that are about something else than the upload:
  --make-folders     create the folder of a stored file when it is missing
"""

import argparse
import logging
import os
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def make_handlers(args):
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
            if args.drop_after is not None and self.tot_bytes_received >= args.drop_after:
                control = self.cmd_channel
                control.logline("fault: dropping the session after %d bytes" % self.tot_bytes_received)
                self._resp = ()
                self.close()
                control.close()

        # The base class binds this name to its own handle_read.
        handle_read_event = handle_read

    class FaultyFTPHandler(FTPHandler):
        dtp_handler = FaultyDTPHandler

        def ftp_PASS(self, line):
            if args.ignore_pass:
                self.logline("fault: leaving PASS unanswered")
                return
            super().ftp_PASS(line)

        def ftp_STOR(self, file, mode="w"):
            if args.make_folders:
                os.makedirs(os.path.dirname(file), exist_ok=True)
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
    parser.add_argument("--quit-reply")
    parser.add_argument("--ignore-pass", action="store_true")
    parser.add_argument("--make-folders", action="store_true")
    parser.add_argument("--close-data-after", type=int)
    parser.add_argument("--no-size", action="store_true")
    parser.add_argument("--size-offset", type=int)
    parser.add_argument("--throttle", type=int)
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

    def stop(signum, frame):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
