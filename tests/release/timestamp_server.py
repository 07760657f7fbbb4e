"""An RFC 3161 time-stamp authority on the loopback address for the signing test.

Answers each POSTed time-stamp query with `openssl ts -reply`. Writes the port it listens on to
PORT_FILE, then serves until it is killed or LIFETIME seconds have passed.
    python3 timestamp_server.py OPENSSL TS_CONFIG PORT_FILE LIFETIME
"""
import http.server
import subprocess
import sys
import threading

openssl, config, port_file, lifetime = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])


class TimeStampHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(
            [openssl, "ts", "-reply", "-config", config, "-queryfile", "/dev/stdin",
             "-out", "/dev/stdout"],
            input=query, capture_output=True, check=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampHandler)
with open(port_file, "w") as out:
    out.write(str(server.server_address[1]))
threading.Timer(lifetime, server.shutdown).start()
server.serve_forever()
