#!/usr/bin/python3
"""A test RTSP camera on 127.0.0.1: a moving test picture as H.264 or H.265.

Built on GStreamer's RTSP server, so the recorder meets a real RTSP
implementation (DESCRIBE/SETUP/PLAY, RTP over TCP or UDP, Basic and Digest
authentication) rather than one written for the tests.

    /usr/bin/python3 tools/rtspcam/rtspcam.py --port 0 --codec h264 \
        --size 640x480 --fps 10 [--user U --password P] [--auth digest]

It prints "rtspcam listening on rtsp://127.0.0.1:PORT/stream" once the server
accepts connections and serves until SIGTERM or SIGINT. Stopping the process
and starting it again on the same port makes an outage.
"""
import argparse
import os
import signal
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402

ENCODERS = {
    # key-int-max keeps the key-frame interval what the caller asked for;
    # zerolatency stops x264/x265 holding frames back.
    # scenecut=0: a key frame every {gop} frames and no others, as cameras send.
    "h264": ("x264enc tune=zerolatency speed-preset={preset} key-int-max={gop} bitrate={kbps}"
             " option-string=scenecut=0"
             " ! video/x-h264,profile={profile} ! rtph264pay name=pay0 pt=96 config-interval=-1"),
    "h265": ("x265enc tune=zerolatency speed-preset=ultrafast key-int-max={gop} bitrate={kbps}"
             " ! rtph265pay name=pay0 pt=96 config-interval=-1"),
    "mjpeg": "jpegenc quality=80 ! rtpjpegpay name=pay0 pt=26",
}


def parse_size(text):
    try:
        width, height = (int(v) for v in text.lower().split("x"))
    except ValueError:
        raise argparse.ArgumentTypeError("size must look like 640x480")
    if not (16 <= width <= 7680 and 16 <= height <= 4320):
        raise argparse.ArgumentTypeError("size out of range")
    return width, height


def launch_line(args):
    width, height = args.size
    source = (f"videotestsrc is-live=true pattern={args.pattern} ! "
              f"video/x-raw,width={width},height={height},framerate={args.fps}/1,format=I420 ! "
              "clockoverlay time-format=%H:%M:%S font-desc=\"Sans 24\" ! ")
    gop = args.key_interval or args.fps
    kbps = args.kbps or max(200, width * height * args.fps // 20000)
    # Baseline is the cheapest to make; high (CABAC, deblocking) is what most cameras send.
    preset = "ultrafast" if args.profile == "baseline" else "superfast"
    return "( " + source + ENCODERS[args.codec].format(gop=gop, kbps=kbps, profile=args.profile,
                                                       preset=preset) + " )"


def count_pictures(server, factory, path):
    """Writes, after each picture the payloader takes once a client asked to play,
    how many it has taken: the pictures served, for a benchmark that compares them
    with the pictures decoded. (The picture the server makes before the first PLAY
    is never sent: playing starts at a new key frame.) SIGUSR1 ends the picture
    stream (what is on its way is still sent) and the count."""
    count = [0]
    medias = []
    ended = [False]
    playing = [False]

    def on_client(server, client):
        # Before the PLAY is handled: the pictures it releases are counted.
        def on_play(client, ctx):
            playing[0] = True
            return GstRtsp.RTSPStatusCode.OK
        client.connect("pre-play-request", on_play)

    def on_buffer(pad, info):
        if ended[0]:
            return Gst.PadProbeReturn.DROP
        if not playing[0]:
            return Gst.PadProbeReturn.OK
        count[0] += 1
        with open(path + ".tmp", "w") as f:
            f.write(str(count[0]))
        os.replace(path + ".tmp", path)
        return Gst.PadProbeReturn.OK

    def on_configure(factory, media):
        medias.append(media)
        pay = media.get_element().get_by_name("pay0")
        pay.get_static_pad("sink").add_probe(Gst.PadProbeType.BUFFER, on_buffer)

    def on_end():
        ended[0] = True
        return GLib.SOURCE_CONTINUE

    server.connect("client-connected", on_client)
    factory.connect("media-configure", on_configure)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, on_end)


def log_requests(server, path):
    """Appends PLAY and TEARDOWN to the file as clients ask for them."""
    def append(method):
        with open(path, "a") as f:
            f.write(method + "\n")

    def on_client(server, client):
        client.connect("play-request", lambda client, ctx: append("PLAY"))
        client.connect("teardown-request", lambda client, ctx: append("TEARDOWN"))

    server.connect("client-connected", on_client)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=8554, help="0 picks a free port")
    parser.add_argument("--path", default="/stream")
    parser.add_argument("--codec", choices=sorted(ENCODERS), default="h264")
    parser.add_argument("--size", type=parse_size, default=(640, 480))
    parser.add_argument("--fps", type=int, default=10)
    parser.add_argument("--key-interval", type=int, default=0, help="frames between key frames (default: fps)")
    parser.add_argument("--pattern", default="ball", help="videotestsrc pattern (ball moves; snow is noise)")
    parser.add_argument("--profile", choices=["baseline", "main", "high"], default="baseline",
                        help="H.264 profile")
    parser.add_argument("--kbps", type=int, default=0, help="H.264/H.265 bit rate (default: from size and rate)")
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--auth", choices=["basic", "digest"], default="basic")
    parser.add_argument("--count-file", default="",
                        help="keeps the number of pictures handed to the payloader in this file")
    parser.add_argument("--request-log", default="",
                        help="appends the method of each PLAY and TEARDOWN request to this file")
    args = parser.parse_args()
    if bool(args.user) != bool(args.password):
        parser.error("--user and --password go together")

    Gst.init(None)
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(str(args.port))

    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(launch_line(args))
    factory.set_shared(True)
    factory.set_protocols(GstRtsp.RTSPLowerTrans.TCP | GstRtsp.RTSPLowerTrans.UDP)

    if args.user:
        auth = GstRtspServer.RTSPAuth()
        token = GstRtspServer.RTSPToken()
        token.set_string(GstRtspServer.RTSP_TOKEN_MEDIA_FACTORY_ROLE, "viewer")
        if args.auth == "digest":
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
            auth.add_digest(args.user, args.password, token)
        else:
            auth.add_basic(GstRtspServer.RTSPAuth.make_basic(args.user, args.password), token)
        server.set_auth(auth)
        permissions = GstRtspServer.RTSPPermissions()
        permissions.add_permission_for_role("viewer", GstRtspServer.RTSP_PERM_MEDIA_FACTORY_ACCESS, True)
        permissions.add_permission_for_role("viewer", GstRtspServer.RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, True)
        factory.set_permissions(permissions)

    if args.count_file:
        count_pictures(server, factory, args.count_file)
    if args.request_log:
        log_requests(server, args.request_log)

    server.get_mount_points().add_factory(args.path, factory)
    if server.attach(None) == 0:
        print(f"rtspcam: cannot listen on 127.0.0.1:{args.port}", file=sys.stderr)
        return 1

    loop = GLib.MainLoop()
    for sig in (signal.SIGINT, signal.SIGTERM):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, sig, loop.quit)
    print(f"rtspcam listening on rtsp://127.0.0.1:{server.get_bound_port()}{args.path}", flush=True)
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
