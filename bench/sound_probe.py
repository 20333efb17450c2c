#!/usr/bin/env python3
"""What the real server sends to its output while it plays through the list by itself, captured through its
AudioOutput setting into a raw file: the gaps and phase jumps at gapless boundaries, and whether ReplayGain changes
with the track at each boundary.

usage: sound_probe.py BUILD_DIR [BOUNDARIES]   (lame and sox make the tracks; BOUNDARIES defaults to 100)

Each run makes its tracks, starts the server on them, opens the list's last track over the protocol and leaves: with
no client the server goes on with row 0, 1, ... gaplessly. The tracks' contents are written after the list's order is
known, so that the pieces of one tone follow each other in the order the server plays them."""
import array, math, os, shutil, subprocess, sys, tempfile, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../tests/support"))
from real_server import Client, Server, wait  # noqa: E402

RATE, TONE_HZ = 44100, 437.3  # no whole number of periods in a piece, so a dropped or doubled sample shows
CAPTURE = 'audioconvert ! audio/x-raw,format=S16LE,rate=44100,channels=1 ! filesink location={} sync=true'


def run(*command): subprocess.run(command, check=True, capture_output=True)


def id3_replaygain(gain_db):  # an ID3v2.4 tag with one TXXX frame, as taggers write ReplayGain
    syncsafe = lambda n: bytes((n >> shift) & 0x7F for shift in (21, 14, 7, 0))
    body = b"\x03REPLAYGAIN_TRACK_GAIN\x00" + f"{gain_db:.2f} dB".encode()
    frame = b"TXXX" + syncsafe(len(body)) + b"\x00\x00" + body
    return b"ID3\x04\x00\x00" + syncsafe(len(frame)) + frame


def tone_pieces(work, seconds, pieces):  # one continuous tone cut into MP3s that LAME encodes on its own
    run("sox", "-n", "-r", str(RATE), "-c", "1", "-b", "16", f"{work}/tone.wav", "synth", str(seconds * pieces),
        "sine", str(TONE_HZ), "vol", "0.5")
    for i in range(pieces):
        run("sox", f"{work}/tone.wav", f"{work}/{i}.wav", "trim", f"{i * seconds:.6f}", f"{seconds:.6f}")
        run("lame", "--quiet", "-b", "192", f"{work}/{i}.wav", f"{work}/{i}.mp3")
    return [open(f"{work}/{i}.mp3", "rb").read() for i in range(pieces)]


def capture(build, work, pieces, piece_samples, replaygain="off"):
    """Plays the pieces through the server, the first one opened by a client; returns the captured samples."""
    media, raw = f"{work}/media", f"{work}/out.raw"
    os.makedirs(media)
    for i in range(len(pieces)):
        open(f"{media}/t{i:03}.mp3", "wb").close()
    server = Server(build, media=media, web=0)
    with open(f"{server.env['XDG_CONFIG_HOME']}/TallowcrestServer/TallowcrestServer.conf", "a") as settings:
        settings.write(f'AudioOutput="{CAPTURE.format(raw)}"\nReplayGain={replaygain}\n')
    server.start()
    client = Client(server.port)
    client.send(b"00")
    order = client.hear(b"END")[len(b"START"):].split(b"\r\n")[:-1]
    assert len(order) == len(pieces), f"the server lists {len(order)} of {len(pieces)} tracks"
    # Played first: the last row, opened by the client; then rows 0, 1, ... by themselves.
    for piece, path in zip(pieces, [order[-1]] + order[:-1]):
        open(path, "wb").write(piece)
    client.send(b"01" + order[-1])
    client.hear(b"CODE_11")
    client.socket.close()
    size = lambda: os.path.exists(raw) and os.path.getsize(raw)
    wait("the capture", lambda: size() >= 2 * (len(pieces) * piece_samples + RATE // 5), 600)
    server.stop()
    samples = array.array("h")
    samples.frombytes(open(raw, "rb").read())
    return samples


def lag_at(samples, start, length):  # the tone's lag, in samples, against one that began at sample 0
    s = c = 0.0
    for i in range(start, start + length):
        angle = 2 * math.pi * TONE_HZ * i / RATE
        s, c = s + samples[i] * math.sin(angle), c + samples[i] * math.cos(angle)
    return -math.atan2(c, s) / (2 * math.pi * TONE_HZ) * RATE


def longest_quiet(samples, start, end):
    longest = run_length = 0
    for value in samples[start:end]:
        run_length = run_length + 1 if abs(value) < 300 else 0
        longest = max(longest, run_length)
    return longest


def level_db(samples, start, length):
    return 10 * math.log10(sum(v * v for v in samples[start:start + length]) / length + 1e-9)


def gapless(build, work):
    pieces = tone_pieces(work, 2.0, 4)
    pieces[2] = id3_replaygain(-6.0) + pieces[2]  # with ReplayGain off, a gain tag changes nothing
    out = capture(build, f"{work}/run", pieces, 2 * RATE)
    boundaries = [k * 2 * RATE for k in (1, 2, 3)]
    quiet = max(longest_quiet(out, b - RATE // 10, b + RATE // 10) for b in boundaries)
    jump = max(abs(lag_at(out, b, 2205) - lag_at(out, b - 2205, 2205)) for b in boundaries)
    print(f"gapless: 4 pieces of one 8 s tone, {len(boundaries)} boundaries played through by the server itself")
    print(f"longest silence at a boundary: {quiet} samples ({quiet / RATE * 1000:.2f} ms; target <= 1 ms)")
    print(f"largest jump of the tone's phase: {jump:.2f} samples ({jump / RATE * 1000:.3f} ms; target <= 1 ms)")
    tagged = level_db(out, 4 * RATE + RATE // 2, RATE) - level_db(out, RATE // 2, RATE)  # the third played
    print(f"with ReplayGain off, a piece tagged -6 dB against an untagged one: {tagged:.2f} dB (target 0 +- 0.5)")
    return quiet <= RATE // 1000 and jump <= RATE / 1000 and abs(tagged) <= 0.5


def replaygain(build, work, boundaries):
    seconds = 0.2
    plain = tone_pieces(work, seconds, boundaries + 1)
    gains = [-3.0 * (i % 4) for i in range(boundaries + 1)]  # 0, -3, -6, -9 dB, each next to others
    pieces = [id3_replaygain(g) + piece for g, piece in zip(gains, plain)]
    length = round(seconds * RATE)
    out = capture(build, f"{work}/run", pieces, length, "track")
    # The level of each track's middle against its gain: the untagged-equal reference is track 0 (0 dB).
    reference = level_db(out, length // 4, length // 2)
    kept, worst = 0, 0.0
    for k in range(1, boundaries + 1):
        after = level_db(out, k * length + 44, 441) - reference  # the 10 ms from 1 ms after the boundary
        worst = max(worst, abs(after - gains[k]))
        kept += abs(after - gains[k - 1]) < abs(after - gains[k])
    half = level_db(out, 2 * length + length // 4, length // 2) - reference
    print(f"replaygain: {boundaries} gapless boundaries between tracks tagged 0, -3, -6, -9 dB in turn (ReplayGain=track)")
    print(f"boundaries that kept the previous track's gain: {kept} (target 0)")
    print(f"largest level error in the 10 ms after a boundary: {worst:.2f} dB")
    print(f"a track tagged -6.00 dB against one tagged 0 dB: {half:.2f} dB (target -6 +- 0.5)")
    return kept == 0 and abs(half + 6) <= 0.5


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    boundaries = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    for tool in ("lame", "sox"):
        shutil.which(tool) or sys.exit(f"sound_probe: needs {tool}")
    ok = True
    for name, measure in (("gapless", lambda w: gapless(build, w)), ("rg", lambda w: replaygain(build, w, boundaries))):
        with tempfile.TemporaryDirectory() as work:
            started = time.monotonic()
            ok &= measure(work)
            print(f"({name}: {time.monotonic() - started:.0f} s)")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
