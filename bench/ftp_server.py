#!/usr/bin/python3
"""A local FTP server for the benchmark's uploads (Debian's python3-pyftpdlib).

Listens on 127.0.0.1 at a free port, which it writes (with a newline) to --port-file once it
accepts connections. One account, whose home is --root.
"""
import argparse
import logging
import os

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer


class BigBufferDTP(DTPHandler):
    # Larger reads than the default 64 KiB, so the server is not what limits a local upload.
    ac_in_buffer_size = 1 << 20
    ac_out_buffer_size = 1 << 20


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    args = parser.parse_args()

    logging.basicConfig(level=logging.WARNING)
    os.makedirs(args.root, exist_ok=True)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")

    handler = FTPHandler
    handler.authorizer = authorizer
    handler.dtp_handler = BigBufferDTP
    handler.banner = "bench ftp ready"
    server = FTPServer(("127.0.0.1", 0), handler)
    port = server.socket.getsockname()[1]
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % port)
    os.replace(tmp, args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
