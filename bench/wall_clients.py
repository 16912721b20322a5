#!/usr/bin/python3
"""Viewers of the recorder's camera wall for the serving benchmark: each client
behaves like the wall page in a browser (six keep-alive connections to the
server, every tile fetching its camera's latest picture again 100 ms after the
last arrived) for a number of seconds, then prints how many pictures arrived."""
import argparse
import http.client
import threading
import time


def connection_loop(port, tiles, until, counts, index):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    while time.monotonic() < until:
        for tile in tiles:
            try:
                conn.request("GET", "/cameras/%d/snapshot.jpg" % tile)
                answer = conn.getresponse()
                body = answer.read()
                if answer.status == 200 and body[:2] == b"\xff\xd8":
                    counts[index] += 1
            except (OSError, http.client.HTTPException):
                conn.close()
                conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        time.sleep(0.1)
    conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--clients", type=int, default=4)
    parser.add_argument("--cameras", type=int, default=16)
    parser.add_argument("--seconds", type=float, required=True)
    args = parser.parse_args()
    until = time.monotonic() + args.seconds
    threads, counts = [], []
    for _ in range(args.clients):
        for k in range(6):  # a browser's connections to one server
            counts.append(0)
            tiles = list(range(k, args.cameras, 6))
            t = threading.Thread(target=connection_loop, args=(args.port, tiles, until, counts, len(counts) - 1))
            t.start()
            threads.append(t)
    for t in threads:
        t.join()
    print("pictures received: %d (%.1f per second)" % (sum(counts), sum(counts) / args.seconds))


if __name__ == "__main__":
    main()
