#!/usr/bin/env python3
"""Benchmark of eqalign's whole-file check on real codecs and real faults.

Makes a set of originals (rendered MIDI songs, speech, applause, a quiet piano
master, a wide-stereo mix, a song with a minute of silence, 5 s to 10 min),
encodes and decodes each with the usual codecs at usual, 64 kbit/s and very
low rates, breaks copies of some decodes in the ways decodes really break,
runs eqalign on them and sorts its notes: false alarms on intact decodes, and
faults noted rightly, wrongly or not at all.

Run through bench/check_bench.sh, which checks the tools first:
    bash bench/check_bench.sh build/eqalign /tmp/checkbench [--quick]

Everything made is kept in the work folder and reused, so a second run on
another binary only runs eqalign and sorts the reports again. Only the
standard library: the signal work is left to sox where it is heavy, and done
here only where it is cutting, joining or zeroing bytes.
"""

import argparse
import array
import concurrent.futures
import hashlib
import math
import os
import random
import re
import shutil
import subprocess
import sys
import threading
import time

RATE = 44100
SOUNDFONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"
MIDI_DIR = "/usr/share/games/openttd/baseset/openmsx"

# Where the whole-file check looks, in reference frames: a place every H
# frames, each comparing 0.15 to 0.83 s after it. Faults are put inside or
# between these windows on purpose.
PLACE_SECONDS = 5
MAX_PLACES = 30
WINDOW_FROM = 6600
WINDOW_TO = 36600  # one past the last frame compared
PLACE_NEEDS = 44100
MP3_FRAME = 1152

# --------------------------------------------------------------------------
# Small helpers


def say(text):
    print(text, file=sys.stderr, flush=True)


def run(cmd, cwd=None):
    """Runs a tool; a failure stops the benchmark with the tool's own words."""
    p = subprocess.run(cmd, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)
    if p.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(cmd), p.returncode,
                                                   p.stderr.decode(errors="replace")[-2000:]))


def made(path, make):
    """Makes path once: make(tmp) writes a temporary beside it, which is moved
    into place only when complete, so an interrupted run never leaves a half
    file that a later run would take as made."""
    if os.path.exists(path):
        return
    folder, name = os.path.split(path)
    os.makedirs(folder, exist_ok=True)
    tmp = os.path.join(folder, ".tmp-%d-%s" % (threading.get_ident(), name))
    make(tmp)
    os.replace(tmp, path)


def sox_float(*args):
    """sox writing 32-bit float: effects never round the material to 16 bits.
    (-R, here and in every sox call: its dither and noise are seeded alike in
    every run, so that the material is the same wherever it is made.)"""
    return ["sox", "-R", "-D"] + list(args[:-1]) + ["-e", "floating-point", "-b", "32", args[-1]]


# --------------------------------------------------------------------------
# WAV files: read whole into memory, and written back in the same sample format


class Wav:
    def __init__(self, tag, channels, rate, bits, data, size=None):
        self.tag, self.channels, self.rate, self.bits, self.data = tag, channels, rate, bits, data
        self.size = len(data) if size is None else size

    @property
    def frame_bytes(self):
        return self.channels * self.bits // 8

    @property
    def frames(self):
        return self.size // self.frame_bytes

    def typecode(self):
        return "f" if self.tag == 3 else "h"

    def samples(self, start=0, end=None):
        """The interleaved samples of frames start..end as an array (16-bit or float)."""
        end = self.frames if end is None else end
        a = array.array(self.typecode())
        a.frombytes(self.data[start * self.frame_bytes:end * self.frame_bytes])
        if sys.byteorder != "little":
            a.byteswap()
        return a


def read_wav(path, header_only=False):
    with open(path, "rb") as f:
        blob = f.read(1 << 16) if header_only else f.read()
    if blob[:4] != b"RIFF" or blob[8:12] != b"WAVE":
        raise RuntimeError("%s is not a WAV file" % path)
    pos, fmt = 12, None
    while pos + 8 <= len(blob):
        cid, size = blob[pos:pos + 4], int.from_bytes(blob[pos + 4:pos + 8], "little")
        body = pos + 8
        if cid == b"fmt ":
            tag = int.from_bytes(blob[body:body + 2], "little")
            if tag == 0xFFFE:  # extensible: the real tag opens the sub-format
                tag = int.from_bytes(blob[body + 24:body + 26], "little")
            fmt = (tag, int.from_bytes(blob[body + 2:body + 4], "little"),
                   int.from_bytes(blob[body + 4:body + 8], "little"),
                   int.from_bytes(blob[body + 14:body + 16], "little"))
        elif cid == b"data":
            if fmt is None or (fmt[0], fmt[3]) not in ((1, 16), (3, 32)):
                raise RuntimeError("%s: only 16-bit or float WAV is handled here" % path)
            if header_only:  # the size alone, bounded by the file as a reader would
                return Wav(fmt[0], fmt[1], fmt[2], fmt[3], b"", min(size, os.path.getsize(path) - body))
            return Wav(fmt[0], fmt[1], fmt[2], fmt[3], blob[body:body + size])
        pos = body + size + (size & 1)
    raise RuntimeError("%s has no data chunk" % path)


def frames_of(path):
    w = read_wav(path, header_only=True)
    return w.frames


def write_wav(path, w, data):
    """A plain fmt chunk (tag 1 or 3) and the data: nothing else that a reader could trip on."""
    fmt = (w.tag.to_bytes(2, "little") + w.channels.to_bytes(2, "little") + w.rate.to_bytes(4, "little")
           + (w.rate * w.frame_bytes).to_bytes(4, "little") + w.frame_bytes.to_bytes(2, "little")
           + w.bits.to_bytes(2, "little"))
    with open(path, "wb") as f:
        f.write(b"RIFF" + (4 + 8 + len(fmt) + 8 + len(data) + (len(data) & 1)).to_bytes(4, "little") + b"WAVE")
        f.write(b"fmt " + len(fmt).to_bytes(4, "little") + fmt)
        f.write(b"data" + len(data).to_bytes(4, "little"))
        f.write(data)
        if len(data) & 1:
            f.write(b"\0")


def write_samples(path, like, samples):
    if sys.byteorder != "little":
        samples = array.array(samples.typecode, samples)
        samples.byteswap()
    write_wav(path, like, samples.tobytes())


# --------------------------------------------------------------------------
# Where the check looks


def place_spacing(ref_frames):
    return max(PLACE_SECONDS * RATE, -(-ref_frames // MAX_PLACES))


def places(ref_frames):
    h = place_spacing(ref_frames)
    return list(range(h, ref_frames - PLACE_NEEDS + 1, h))


def place_near(ref_frames, fraction):
    p = places(ref_frames)
    return p[min(len(p) - 1, int(fraction * len(p)))]


def between_places(ref_frames, fraction):
    """A frame halfway between the window of a place and that of the next:
    a fault put here leaves every window whole."""
    j = place_near(ref_frames, fraction)
    return j + (WINDOW_TO + place_spacing(ref_frames) + WINDOW_FROM) // 2


def loud_place(ref, fraction):
    """The loudest of the five places nearest the fraction, so that a dropout
    there falls on sound, not on a pause of the speech or the piano."""
    p = places(ref.frames)
    target = fraction * len(p)
    near = sorted(p, key=lambda j: abs(p.index(j) - target))[:5]

    def energy(j):
        return sum(x * x for x in ref.samples(j + WINDOW_FROM, j + WINDOW_TO))
    return max(near, key=energy)


def window_centre(j):
    return j + (WINDOW_FROM + WINDOW_TO) // 2


# --------------------------------------------------------------------------
# Originals


def midi_file(song):
    return os.path.join(MIDI_DIR, song + ".mid")


def render(midis, out):
    """fluidsynth with the GM soundfont, float, 44.1 kHz; several files play one after another."""
    run(["fluidsynth", "-ni", "-q", "-F", out, "-r", str(RATE), "-O", "float", "-T", "wav", SOUNDFONT] + midis)


def vlq(data, pos):
    value = 0
    while True:
        b = data[pos]
        pos += 1
        value = (value << 7) | (b & 0x7F)
        if not b & 0x80:
            return value, pos


def remap_midi(src, dst, program_of, mute_drums):
    """Rewrites the program changes of a MIDI file in place (and silences the
    drum channel's notes): the same song on other instruments, note for note."""
    data = bytearray(open(src, "rb").read())
    pos = 14
    while pos + 8 <= len(data):
        end = pos + 8 + int.from_bytes(data[pos + 4:pos + 8], "big")
        if data[pos:pos + 4] == b"MTrk":
            p, status = pos + 8, 0
            while p < end:
                _, p = vlq(data, p)
                if data[p] & 0x80:
                    status = data[p]
                    p += 1
                if status == 0xFF:  # meta: type, length, body
                    length, q = vlq(data, p + 1)
                    p = q + length
                    status = 0
                elif status in (0xF0, 0xF7):
                    length, q = vlq(data, p)
                    p = q + length
                    status = 0
                else:
                    kind, channel = status & 0xF0, status & 0x0F
                    if kind == 0xC0:
                        if channel != 9:
                            data[p] = program_of(data[p])
                        p += 1
                    elif kind == 0xD0:
                        p += 1
                    else:
                        if kind == 0x90 and channel == 9 and mute_drums:
                            data[p + 1] = 0  # a note-on at velocity 0 is a note-off
                        p += 2
        pos = end
    open(dst, "wb").write(bytes(data))


def make_song(tmp, work, midis, trim=None, float_=True, peak_db=-1.0):
    """A rendered song, trimmed, its peak set like a mastered track's."""
    rendered = tmp + ".render.wav"
    render([midi_file(m) for m in midis], rendered)
    effects = (["trim"] + [str(x) for x in trim] if trim else []) + ["gain", "-n", str(peak_db)]
    if float_:
        run(sox_float(rendered, tmp) + effects)
    else:
        run(["sox", "-R", rendered, "-b", "16", tmp] + effects)
    os.remove(rendered)


def make_other_mix(tmp, work):
    """song_a on other instruments (each program moved 16 on: piano to organ,
    guitar to strings...): another mix of the same song, note for note."""
    midi = os.path.join(work, "material", "song_a_other_mix.mid")
    made(midi, lambda t: remap_midi(midi_file("the_fast_route"), t, lambda p: (p + 16) % 128, False))
    rendered = tmp + ".render.wav"
    render([midi], rendered)
    run(sox_float(rendered, tmp) + ["gain", "-n", "-1"])
    os.remove(rendered)


def make_piano(tmp, work):
    """A quiet solo-piano master, as classical recordings are: the song on
    program 0 with no drums, peak -18 dBFS, cut into four pieces that each
    die away over 6 s (100 dB, even in dB like a piano's decay) into 2 to 3 s
    of silence, with a dither-level noise (-100 dBFS) under all. The pieces'
    lengths put places 0.5 to 4 s into the decays, so that the check meets
    every level from the music down to the floor."""
    midi = os.path.join(work, "material", "piano.mid")
    made(midi, lambda t: remap_midi(midi_file("slow_neasy_redfarn"), t, lambda p: 0, True))
    rendered = tmp + ".render.wav"
    render([midi], rendered)
    pieces = [(0, 24.8, 2.0), (24.8, 46.0, 2.5), (46.0, 66.0, 3.0), (66.0, None, 2.0)]  # from, to, silence after
    parts = []
    for n, (start, end, gap) in enumerate(pieces):
        piece = "%s.piece%d.wav" % (tmp, n)
        length = ["%.1f" % (end - start)] if end else []
        decay = ["fade", "l", "0.05"] + (["%.1f" % (end - start), "6"] if end else [])
        run(sox_float(rendered, piece) + ["trim", "%.1f" % start] + length + decay + ["pad", "0", "%.1f" % gap])
        parts.append(piece)
    music = tmp + ".music.wav"
    run(sox_float(*parts, music) + ["gain", "-n", "-18"])
    floor = tmp + ".floor.wav"
    run(sox_float("-r", str(RATE), "-c", "2", "-n", floor)
        + ["synth", "%.6f" % (frames_of(music) / RATE), "whitenoise", "vol", "-95dB"])
    run(sox_float("-m", "-v", "1", music, "-v", "1", floor, tmp))
    for f in parts + [rendered, music, floor]:
        os.remove(f)


def chord_midi(path, program, notes, seconds):
    """A MIDI file of one chord held for the given time (120 beats a minute,
    480 ticks a beat: 960 ticks a second)."""
    def vlq_bytes(value):
        out = [value & 0x7F]
        while value > 0x7F:
            value >>= 7
            out.insert(0, 0x80 | (value & 0x7F))
        return bytes(out)
    events = bytearray(b"\x00\xC0" + bytes([program]))
    for note in notes:
        events += b"\x00\x90" + bytes([note, 90])
    events += vlq_bytes(int(seconds * 960)) + b"\x80" + bytes([notes[0], 0])
    for note in notes[1:]:
        events += b"\x00\x80" + bytes([note, 0])
    events += b"\x00\xFF\x2F\x00"
    with open(path, "wb") as f:
        f.write(b"MThd" + (6).to_bytes(4, "big") + (0).to_bytes(2, "big") + (1).to_bytes(2, "big")
                + (480).to_bytes(2, "big") + b"MTrk" + len(events).to_bytes(4, "big") + events)


def make_held_start(tmp, work):
    """A song that opens on a held string chord (3.6 s): where the delay is
    measured the music barely changes, so a decode's start can be mismeasured."""
    midi = os.path.join(work, "material", "held_chord.mid")
    made(midi, lambda t: chord_midi(t, 48, [48, 55, 60, 64, 67], 4.0))
    chord, song = tmp + ".chord.wav", tmp + ".song.wav"
    render([midi], chord + ".wav")
    # The held part alone, without the strings' attack: where the delay is
    # measured, only the chord's own period tells one delay from another.
    run(sox_float(chord + ".wav", chord) + ["trim", "1", "3.6", "fade", "t", "0.05"])
    render([midi_file("harp_harmony")], song)
    run(["sox", "-R", chord, song, "-b", "16", tmp, "gain", "-n", "-1"])
    for f in (chord + ".wav", chord, song):
        os.remove(f)


SENTENCES = [
    "Good evening, and welcome to the programme.",
    "Tonight we listen to eight short pieces, each played twice.",
    "Please take your time.",
    "Is the second one louder, or does it only seem so?",
    "The first sample is a recording of a small choir.",
    "It was made in a church, with two microphones.",
    "Listen for the breath between the phrases.",
    "Now the same passage again.",
    "Did anything change? Write down what you heard.",
    "The next sample is a solo violin, close to the microphone.",
    "Notice the bow noise, and the room behind it.",
    "We will take a short break after the fourth piece.",
    "Thank you. Let us go on.",
    "The last sample is a brass band in the open air.",
]


def make_speech(tmp, work):
    """Two voices taking turns, one to each side, with pauses of 0.4 to 2 s
    and a faint room noise under everything, as a recorded talk has."""
    rng = random.Random(24)
    parts = []
    for n, text in enumerate(SENTENCES):
        voice, pan = (("en-gb", "1v0.85 1v0.35") if n % 2 == 0 else ("en-us+f3", "1v0.3 1v0.9"))
        spoken = "%s.said%d.wav" % (tmp, n)
        run(["espeak-ng", "-v", voice, "-s", "150", "-w", spoken, text])
        placed = "%s.placed%d.wav" % (tmp, n)
        run(["sox", "-R", spoken, "-r", str(RATE), "-b", "16", placed, "rate", "-v", str(RATE), "remix"] + pan.split()
            + ["pad", "0", "%.2f" % rng.uniform(0.4, 2.0)])
        os.remove(spoken)
        parts.append(placed)
    voices = tmp + ".voices.wav"
    run(["sox", "-R"] + parts + [voices])
    seconds = frames_of(voices) / RATE
    room = tmp + ".room.wav"
    run(["sox", "-R", "-r", str(RATE), "-c", "2", "-n", "-b", "16", room, "synth", "%.3f" % seconds, "pinknoise",
         "vol", "-72dB"])
    run(["sox", "-R", "-m", "-v", "1", voices, "-v", "1", room, "-b", "16", tmp])  # -m alone would halve each
    for f in parts + [voices, room]:
        os.remove(f)


def make_applause(tmp, work, seconds=60):
    """Applause: many short decaying noise bursts (claps, 150 a second, as a
    small hall's), each panned at random, thickening over the first two
    seconds and thinning at the end; then band-limited and given a room by sox."""
    rng = random.Random(7)
    noise = [rng.random() * 2 - 1 for _ in range(1 << 16)]  # read at random offsets: cheaper than a draw a sample
    frames = seconds * RATE
    out = array.array("f", bytes(8 * frames))
    t = 0.0
    while t < seconds - 0.1:
        rate = 150 * min(1.0, (t + 0.2) / 2.0, (seconds - t) / 4.0)
        t += rng.expovariate(max(rate, 5.0))
        start = int(t * RATE)
        length = int(RATE * rng.uniform(0.008, 0.03))
        if start + length >= frames:
            break
        amp = rng.uniform(0.1, 0.5)
        pan = rng.random() * math.pi / 2
        gl, gr = amp * math.cos(pan), amp * math.sin(pan)
        decay = math.exp(-5.0 / length)
        env = 1.0
        at = rng.randrange(len(noise) - length)
        for k in range(2 * start, 2 * (start + length), 2):
            v = noise[at] * env
            out[k] += gl * v
            out[k + 1] += gr * v
            at += 1
            env *= decay
    raw = tmp + ".raw.wav"
    write_samples(raw, Wav(3, 2, RATE, 32, b""), out)
    run(sox_float(raw, tmp) + ["sinc", "400-9000", "reverb", "30", "gain", "-n", "-3"])
    os.remove(raw)


def make_wide(tmp, work):
    """A wide-stereo mix whose first seconds are mostly out of phase: the
    right channel is turned over for 4 s, then turned back within 0.5 s, so
    that L-R stands about 10 dB over L+R where the delay and gain are measured."""
    song = tmp + ".song.wav"
    make_song(song, work, ["city_blues_redfarn"])
    w = read_wav(song)
    s = w.samples()
    flip, back = 4 * RATE, int(4.5 * RATE)
    for n in range(back):
        g = -1.0 if n < flip else -1.0 + 2.0 * (n - flip) / (back - flip)
        s[2 * n + 1] *= g
    write_samples(tmp, w, s)
    os.remove(song)


def make_silence_mid(tmp, work):
    """A song with a minute of digital silence in the middle, faded out and in around it."""
    rendered = tmp + ".render.wav"
    render([midi_file("moo_redfarn")], rendered)
    a, b, gap = tmp + ".a.wav", tmp + ".b.wav", tmp + ".gap.wav"
    run(sox_float(rendered, a) + ["trim", "0", "45", "fade", "t", "0", "45", "1"])
    run(sox_float(rendered, b) + ["trim", "60", "45", "fade", "t", "0.5"])
    run(sox_float("-r", str(RATE), "-c", "2", "-n", gap) + ["trim", "0", "60"])
    run(["sox", "-R", a, gap, b, "-b", "16", tmp, "gain", "-n", "-1"])
    for f in (rendered, a, b, gap):
        os.remove(f)


class Original:
    def __init__(self, name, what, make, quick=False):
        self.name, self.what, self.make, self.quick = name, what, make, quick


ORIGINALS = [
    Original("short", "an excerpt of a song (16-bit)",
             lambda t, w: make_song(t, w, ["chuggachugga"], trim=(20, 5), float_=False), quick=True),
    Original("song_a", "a song (float); most faults are made from it",
             lambda t, w: make_song(t, w, ["the_fast_route"])),
    Original("song_b", "a song (16-bit); the quick faults are made from it",
             lambda t, w: make_song(t, w, ["busy_schedule"], float_=False), quick=True),
    Original("long", "three songs in a row (16-bit)",
             lambda t, w: make_song(t, w, ["relax_song", "keep_on_rolling", "linns_basket"], trim=(0, 600),
                                    float_=False)),
    Original("speech", "two voices, panned, with pauses (16-bit)", make_speech, quick=True),
    Original("applause", "a minute of applause (float)", make_applause),
    Original("piano_quiet", "solo piano, peak -18 dBFS, dying away into three pauses near -100 dBFS (float)",
             make_piano),
    Original("drums", "a song led by percussion (float)", lambda t, w: make_song(t, w, ["careless_perc_redfarn"])),
    Original("held_start", "a song opening on a held chord (16-bit)", make_held_start),
    Original("wide", "a song whose first 4 s are mostly out of phase (float)", make_wide),
    Original("silence_mid", "a song with a minute of silence in the middle (16-bit)", make_silence_mid),
]
OTHER_MIX = Original("song_a_other_mix", "song_a on other instruments", make_other_mix)


def original_path(work, name):
    return os.path.join(work, "material", name + ".wav")


# --------------------------------------------------------------------------
# Codecs: how each encodes and decodes, as a user would. Some decoders write
# 16 bits and some float, so both kinds of decode are checked.


def lame(opts):
    def encode(src, dst):
        run(["lame", "--quiet"] + opts + [src, dst])
    return encode


def ffmpeg_aac(rate):
    def encode(src, dst):
        run(["ffmpeg", "-v", "error", "-y", "-i", src, "-c:a", "aac", "-b:a", rate, "-f", "mp4", dst])
    return encode


def oggenc(quality):
    def encode(src, dst):
        run(["oggenc", "-Q", "-q", quality, "-o", dst, src])
    return encode


def opusenc(rate):
    def encode(src, dst):
        run(["opusenc", "--quiet", "--bitrate", rate, src, dst])
    return encode


def lame_decode(src, dst):
    run(["lame", "--quiet", "--decode", src, dst])


def mpg123(float_):
    def decode(src, dst):
        run(["mpg123", "-q", "-r", str(RATE)] + (["-e", "f32"] if float_ else []) + ["-w", dst, src])
    return decode


def ffmpeg_dec(float_):
    def decode(src, dst):
        run(["ffmpeg", "-v", "error", "-y", "-i", src, "-ar", str(RATE), "-c:a",
             "pcm_f32le" if float_ else "pcm_s16le", "-f", "wav", dst])
    return decode


def oggdec(src, dst):
    run(["oggdec", "-Q", "-o", dst, src])


def opusdec(float_):
    def decode(src, dst):
        run(["opusdec", "--quiet", "--rate", str(RATE)] + (["--float"] if float_ else []) + [src, dst])
    return decode


def flac_encode(src, dst):
    run(["flac", "--silent", "-f", "-o", dst, src])


def flac_decode(src, dst):
    run(["flac", "--silent", "-f", "-d", "-o", dst, src])


class Codec:
    def __init__(self, name, klass, ext, encode, decode, needs_int=False, quick=False):
        self.name, self.klass, self.ext, self.encode, self.decode = name, klass, ext, encode, decode
        self.needs_int, self.quick = needs_int, quick


USUAL, MIDDLE, LOW, LOSSLESS = "usual rate", "64 kbit/s", "very low", "lossless (control)"
CLASSES = [USUAL, MIDDLE, LOW, LOSSLESS]
CLASS_ID = {USUAL: "usual", MIDDLE: "64k", LOW: "low", LOSSLESS: "lossless"}
# lame reads a float WAV at the wrong level (4 times too loud here), and flac
# takes integers only, so both are given a 24-bit copy of a float original.
CODECS = [
    Codec("mp3_128", USUAL, "mp3", lame(["-b", "128"]), lame_decode, True, quick=True),
    Codec("mp3_v2", USUAL, "mp3", lame(["-V", "2"]), mpg123(True), True),
    Codec("mp3_v5", USUAL, "mp3", lame(["-V", "5"]), mpg123(False), True),
    Codec("aac_128", USUAL, "m4a", ffmpeg_aac("128k"), ffmpeg_dec(True), quick=True),
    Codec("vorbis_q3", USUAL, "ogg", oggenc("3"), oggdec),
    Codec("opus_96", USUAL, "opus", opusenc("96"), opusdec(False), quick=True),
    Codec("aac_64", MIDDLE, "m4a", ffmpeg_aac("64k"), ffmpeg_dec(False)),
    Codec("opus_64", MIDDLE, "opus", opusenc("64"), opusdec(True), quick=True),
    Codec("vorbis_q1", MIDDLE, "ogg", oggenc("1"), oggdec, quick=True),
    Codec("mp3_64", MIDDLE, "mp3", lame(["-b", "64"]), mpg123(True), True),
    Codec("mp3_32", LOW, "mp3", lame(["-b", "32"]), ffmpeg_dec(False), True),
    Codec("mp3_v9", LOW, "mp3", lame(["-V", "9"]), mpg123(False), True, quick=True),
    Codec("opus_24", LOW, "opus", opusenc("24"), opusdec(False)),
    Codec("opus_12", LOW, "opus", opusenc("12"), opusdec(True), quick=True),
    Codec("aac_32", LOW, "m4a", ffmpeg_aac("32k"), ffmpeg_dec(True)),
    Codec("vorbis_qm1", LOW, "ogg", oggenc("-1"), oggdec),
    # FLAC gives back the original's samples (a float original's to 24 bits,
    # 144 dB down): a note on it is a fault of the check, whatever the rules.
    Codec("flac", LOSSLESS, "flac", flac_encode, flac_decode, True, quick=True),
]
CODEC = {c.name: c for c in CODECS}


def decode_path(work, original, codec):
    return os.path.join(work, "decodes", "%s.%s.wav" % (original, codec))


def make_decode(work, original, codec):
    c = CODEC[codec]
    src = original_path(work, original)
    if c.needs_int and read_wav(src, header_only=True).tag == 3:
        s24 = os.path.join(work, "encodes", original + ".s24.wav")
        made(s24, lambda t: run(["sox", "-R", "-D", src, "-b", "24", t]))
        src = s24
    encoded = os.path.join(work, "encodes", "%s.%s.%s" % (original, codec, c.ext))
    made(encoded, lambda t: c.encode(src, t))
    made(decode_path(work, original, codec), lambda t: c.decode(encoded, t))


# --------------------------------------------------------------------------
# Faults: copies of intact decodes broken on purpose, each with the note it should get


class Fault:
    def __init__(self, original, codec, name, group, expect, make, quick=False):
        self.original, self.codec, self.name, self.group = original, codec, name, group
        self.expect, self.make, self.quick = expect, make, quick

    def path(self, work):
        return os.path.join(work, "broken", "%s.%s.%s.wav" % (self.original, self.codec, self.name))


class Source:
    """What a fault is made from: the intact decode and its original."""

    def __init__(self, work, fault):
        self.work = work
        self.decode = decode_path(work, fault.original, fault.codec)
        self.ref = original_path(work, fault.original)
        self.codec = fault.codec


def edit_bytes(change):
    """A fault made by cutting, repeating or zeroing frames of the decode:
    change(decode, source) gives the new data bytes."""
    def make(tmp, src):
        w = read_wav(src.decode)
        write_wav(tmp, w, change(w, src))
    return make


def cut(count, fraction=0.45):
    def change(w, src):
        k, fb = between_places(frames_of(src.ref), fraction), w.frame_bytes
        return w.data[:k * fb] + w.data[(k + count) * fb:]
    return edit_bytes(change)


def doubled(count, fraction=0.45):
    def change(w, src):
        k, fb = between_places(frames_of(src.ref), fraction), w.frame_bytes
        return w.data[:(k + count) * fb] + w.data[k * fb:]
    return edit_bytes(change)


def dropout(ms, inside, fraction=0.5):
    """Frames set to zero, the length kept: centred on a place's window (the
    decoders here keep their delay within a few thousand frames, well inside
    the slack), or halfway between two windows."""
    def change(w, src):
        length = ms * RATE // 1000
        if inside:
            centre = window_centre(loud_place(read_wav(src.ref), fraction))
        else:
            centre = between_places(frames_of(src.ref), fraction)
        k, fb = centre - length // 2, w.frame_bytes
        return w.data[:k * fb] + bytes(length * fb) + w.data[(k + length) * fb:]
    return edit_bytes(change)


def truncated(seconds):
    def change(w, src):
        return w.data[:(w.frames - seconds * RATE) * w.frame_bytes]
    return edit_bytes(change)


def joined_with(other_original, fraction=0.5):
    """The first half of this decode, then the rest of another song's decode
    (same codec) from the same frame on: two files joined by mistake."""
    def make(tmp, src):
        w = read_wav(src.decode)
        other = read_wav(decode_path(src.work, other_original, src.codec))
        k = between_places(frames_of(src.ref), fraction)
        write_wav(tmp, w, w.data[:k * w.frame_bytes] + other.data[k * other.frame_bytes:])
    return make


def channels(how, fraction=None):
    """Swaps the channels (from a point on, or all through), or silences the right one."""
    def make(tmp, src):
        w = read_wav(src.decode)
        k = between_places(frames_of(src.ref), fraction) if fraction is not None else 0
        s = w.samples(k)
        if how == "swap":
            s[0::2], s[1::2] = s[1::2], s[0::2]
        else:
            s[1::2] = array.array(s.typecode, bytes(s.itemsize * (len(s) // 2)))
        if sys.byteorder != "little":
            s.byteswap()
        write_wav(tmp, w, w.data[:k * w.frame_bytes] + s.tobytes())
    return make


def with_sox(*effects):
    def make(tmp, src):
        run(sox_float(src.decode, tmp) + list(effects))
    return make


def drift(ppm):
    """A clock off by ppm: positive plays slower, so the decode falls later and later."""
    return with_sox("speed", "%.9f" % (1.0 / (1.0 + ppm * 1e-6)))


def gain_step(db, fraction=0.45):
    def make(tmp, src):
        k = between_places(frames_of(src.ref), fraction)
        a, b = tmp + ".a.wav", tmp + ".b.wav"
        run(sox_float(src.decode, a) + ["trim", "0", "%ds" % k])
        run(sox_float(src.decode, b) + ["trim", "%ds" % k, "vol", "%gdB" % db])
        run(["sox", "-R", a, b, tmp])
        os.remove(a)
        os.remove(b)
    return make


def fade_out(fraction=0.6):
    """A linear fade from 60 % of the file to silence at its end, as an editor's ramp."""
    def make(tmp, src):
        seconds = frames_of(src.decode) / RATE
        run(sox_float(src.decode, tmp) + ["fade", "t", "0", "%.3f" % seconds, "%.3f" % (seconds * (1 - fraction))])
    return make


def other_mix():
    """The decode of the other mix, made like this decode."""
    def make(tmp, src):
        shutil.copyfile(decode_path(src.work, OTHER_MIX.name, src.codec), tmp)
    return make


# What each fault should be told by: ("step", figure) all out-of-step
# figures within 2 frames of it; ("drift", ppm) figures that grow with the
# time at that rate and sign; ("level", dB) every change figure within 0.5
# dB; ("fade",) change figures below zero; ("ends", seconds); ("mismatch",)
# a poor match or places that do not match; a search-pass note by name;
# ("drops",) for the dropouts, which may also go unseen.
def slip_faults(original, codec, quick_names=()):
    out = []
    for n in (1, 2, 10):
        out.append(Fault(original, codec, "cut%d" % n, "MP3 frames cut or doubled", ("step", -MP3_FRAME * n),
                         cut(MP3_FRAME * n), quick="cut%d" % n in quick_names))
        out.append(Fault(original, codec, "doubled%d" % n, "MP3 frames cut or doubled", ("step", MP3_FRAME * n),
                         doubled(MP3_FRAME * n), quick="doubled%d" % n in quick_names))
    return out


def dropout_faults(original, codec, lengths=(50, 200, 500, 1000), quick_names=()):
    out = []
    for ms in lengths:
        group = "dropout in a place, %s" % ("50 ms" if ms < 200 else "200 ms to 1 s")
        out.append(Fault(original, codec, "dropout%d_in" % ms, group, ("drops", ms >= 200), dropout(ms, True),
                         quick="dropout%d_in" % ms in quick_names))
        out.append(Fault(original, codec, "dropout%d_between" % ms, "dropout between places", ("drops", False),
                         dropout(ms, False), quick="dropout%d_between" % ms in quick_names))
    return out


def fault_plan():
    f = []
    # The full list on one song's MP3 128k decode.
    a = ("song_a", "mp3_128")
    f += slip_faults(*a)
    f += [
        Fault(*a, "joined_song_b", "joined halves", ("mismatch",), joined_with("song_b")),
        Fault(*a, "cut_3s", "joined halves", ("cut_join", -3 * RATE), cut(3 * RATE)),
        Fault(*a, "drift_p1", "clock drift", ("drift", 1), drift(1)),
        Fault(*a, "drift_m10", "clock drift", ("drift", -10), drift(-10)),
        Fault(*a, "drift_p30", "clock drift", ("drift", 30), drift(30)),
        Fault(*a, "drift_m100", "clock drift", ("drift", -100), drift(-100)),
        Fault(*a, "gain_m3", "-3 dB gain step", ("level", -3.0), gain_step(-3)),
        Fault(*a, "fade", "fade", ("fade",), fade_out()),
        Fault(*a, "edit50", "50-ms edit", ("step", -2205), cut(2205)),
        Fault(*a, "swapped", "channels swapped", ("swapped",), channels("swap")),
        Fault(*a, "silent_right", "silent channel", ("silent_channel",), channels("silent")),
        Fault(*a, "inverted", "inverted polarity", ("inverted",), with_sox("vol", "-1")),
        Fault(*a, "other_mix", "another mix", ("mismatch",), other_mix()),
        Fault(*a, "truncated40", "truncation", ("ends", 40), truncated(40)),
        Fault(*a, "swap_mid", "mid-file channel swap", ("swapped_at",), channels("swap", 0.5)),
    ]
    f += dropout_faults(*a)
    # The same kinds on another song's AAC decode (float): the quick set.
    b = ("song_b", "aac_128")
    f += slip_faults(*b, quick_names=("cut1", "doubled2"))
    f += [
        Fault(*b, "edit50", "50-ms edit", ("step", -2205), cut(2205, 0.3), quick=True),
        Fault(*b, "drift_p30", "clock drift", ("drift", 30), drift(30), quick=True),
        Fault(*b, "gain_m3", "-3 dB gain step", ("level", -3.0), gain_step(-3, 0.6), quick=True),
        Fault(*b, "truncated40", "truncation", ("ends", 40), truncated(40), quick=True),
        Fault(*b, "swap_mid", "mid-file channel swap", ("swapped_at",), channels("swap", 0.4), quick=True),
        Fault(*b, "inverted", "inverted polarity", ("inverted",), with_sox("vol", "-1"), quick=True),
    ]
    f += dropout_faults(*b, lengths=(200, 500), quick_names=("dropout500_in", "dropout200_between"))
    # Ten minutes of Opus: slow drift has time to grow, places are 20 s apart.
    c = ("long", "opus_96")
    f += [
        Fault(*c, "drift_p1", "clock drift", ("drift", 1), drift(1)),
        Fault(*c, "cut2", "MP3 frames cut or doubled", ("step", -2 * MP3_FRAME), cut(2 * MP3_FRAME, 0.7)),
        Fault(*c, "gain_m3", "-3 dB gain step", ("level", -3.0), gain_step(-3, 0.2)),
        Fault(*c, "truncated40", "truncation", ("ends", 40), truncated(40)),
        Fault(*c, "dropout1000_in", "dropout in a place, 200 ms to 1 s", ("drops", True), dropout(1000, True, 0.8)),
    ]
    # Speech and the quiet piano, where pauses make places hard to judge.
    d = ("speech", "vorbis_q3")
    f += [
        Fault(*d, "cut1", "MP3 frames cut or doubled", ("step", -MP3_FRAME), cut(MP3_FRAME, 0.5)),
        Fault(*d, "gain_m3", "-3 dB gain step", ("level", -3.0), gain_step(-3, 0.4)),
        Fault(*d, "dropout500_in", "dropout in a place, 200 ms to 1 s", ("drops", True), dropout(500, True, 0.6)),
    ]
    e = ("piano_quiet", "mp3_v2")
    f += [
        Fault(*e, "doubled1", "MP3 frames cut or doubled", ("step", MP3_FRAME), doubled(MP3_FRAME, 0.5)),
        Fault(*e, "gain_m3", "-3 dB gain step", ("level", -3.0), gain_step(-3, 0.3)),
        Fault(*e, "dropout500_in", "dropout in a place, 200 ms to 1 s", ("drops", True), dropout(500, True, 0.7)),
    ]
    return f


FAULT_GROUPS = [
    "MP3 frames cut or doubled", "joined halves", "clock drift", "-3 dB gain step", "fade", "50-ms edit",
    "channels swapped", "silent channel", "inverted polarity", "another mix",
    "dropout in a place, 200 ms to 1 s", "truncation", "mid-file channel swap",
    "dropout in a place, 50 ms", "dropout between places",
]


# --------------------------------------------------------------------------
# Reading a report

TRACK_LINE = re.compile(r"^(INT|FLO) (\d+):Offset:\s*(-?\d+)\s+Gain:(\S+)\s+Gain:(\S+)\[dB\]\s+Score:(\S+)")
TIME = r"(\d+):(\d\d)"
# The search pass's notes, under a decode's line.
SEARCH_NOTES = [
    ("poor_match", re.compile(r"Note: track (\d+) matches the reference poorly")),
    ("range_end", re.compile(r"Note: the delay of track (\d+) is at the end of the searched range")),
    ("inverted", re.compile(r"Note: track (\d+) has inverted polarity")),
    ("repeats", re.compile(r"Note: track (\d+) matches almost as well at delay (-?\d+)")),
    ("swapped", re.compile(r"Note: track (\d+) has its left and right channels swapped;")),
    ("silent_channel", re.compile(r"Note: track (\d+) has a silent channel")),
    ("leans", re.compile(r"Note: track (\d+) leans ([\d.]+) dB to the (left|right)")),
    ("unmeasured", re.compile(r"Note: track (\d+) could not be measured")),
]
# The whole-file check's, after the summary.
WHOLE_NOTES = [
    ("ends", re.compile(r"Note: track (\d+) ends ([\d.]+) s before the reference")),
    ("step", re.compile(r"Note: track (\d+) falls out of step later in the file: ([+-]\d+) frames at " + TIME
                        + r"(?:, ([+-]\d+) frames at " + TIME + r"|, back in step at " + TIME + r")?\.")),
    ("fits", re.compile(r"Note: track (\d+) fits the rest of the file at delay (-?\d+)")),
    ("mismatch", re.compile(r"Note: track (\d+) does not match the reference at (\d+) of (\d+) places")),
    ("drops", re.compile(r"Note: track (\d+) drops out at (\d+) of (\d+) places")),
    ("swapped_at", re.compile(r"Note: track (\d+) has its left and right channels swapped at (\d+) of (\d+)")),
    ("plays", re.compile(r"Note: track (\d+) plays ([+-]?[\d.]+) dB against the reference over most")),
    ("level", re.compile(r"Note: track (\d+) changes level later in the file: ([+-]?[\d.]+) dB at " + TIME
                         + r"(?:, ([+-]?[\d.]+) dB at " + TIME + r")?\.")),
]
# Not faults of the decode: told apart, never counted as false alarms.
INFORMATION = {"plays", "fits"}
ANY_TRACK_NOTE = re.compile(r"^Note: .*\btrack (\d+)\b")


class Note:
    def __init__(self, kind, match, line):
        self.kind, self.match, self.line = kind, match, line
        self.search = kind in dict(SEARCH_NOTES) or kind == "other_search"


def read_report(text):
    """Per track: its report line and its notes. A note that no pattern knows
    is kept as 'unknown', so that a new text is seen rather than lost."""
    tracks = {}
    summary_seen = False
    for line in text.splitlines():
        line = line.rstrip("\r")
        m = TRACK_LINE.match(line)
        if m:
            tracks.setdefault(int(m.group(2)), {"line": line, "notes": []})["line"] = line
            continue
        if line.startswith("biggest_delay"):
            summary_seen = True
        m = ANY_TRACK_NOTE.match(line)
        if not m:
            continue
        track = tracks.setdefault(int(m.group(1)), {"line": "", "notes": []})
        for kind, pattern in (SEARCH_NOTES + WHOLE_NOTES):
            found = pattern.match(line)
            if found:
                track["notes"].append(Note(kind, found, line))
                break
        else:
            track["notes"].append(Note("other_search" if not summary_seen else "unknown", None, line))
    return tracks


def seconds_of(minutes, secs):
    return int(minutes) * 60 + int(secs)


def judge_fault(expect, notes):
    """'right', 'wrong', 'none' or 'not seen' for one broken decode."""
    told = [n for n in notes if n.kind not in INFORMATION]
    what = expect[0]

    def right(n):
        g = n.match
        if what == "step" or what == "cut_join":
            if n.kind == "step" and g.group(8) is None:
                figures = [int(g.group(2))] + ([int(g.group(5))] if g.group(5) else [])
                return all(abs(x - expect[1]) <= 2 for x in figures)
            return what == "cut_join" and n.kind == "mismatch"
        if what == "drift":
            if n.kind != "step" or g.group(8) is not None:
                return False
            # Figures as far off as the drift makes them at their place's time
            # (printed in whole seconds, so up to a second more), within 2
            # frames or 15 %, each of the drift's sign.
            pairs = [(int(g.group(2)), seconds_of(g.group(3), g.group(4)))]
            if g.group(5):
                pairs.append((int(g.group(5)), seconds_of(g.group(6), g.group(7))))
            ok = True
            for figure, at in pairs:
                low = expect[1] * 1e-6 * RATE * at
                high = expect[1] * 1e-6 * RATE * (at + 1)
                lo, hi = min(low, high), max(low, high)
                slack = max(2, 0.15 * abs(hi))
                ok = ok and (figure > 0) == (expect[1] > 0) and lo - slack <= figure <= hi + slack
            return ok
        if what == "level":
            if n.kind != "level":
                return False
            figures = [float(g.group(2))] + ([float(g.group(5))] if g.group(5) else [])
            return all(abs(x - expect[1]) <= 0.5 for x in figures)
        if what == "fade":
            if n.kind != "level":
                return False
            figures = [float(g.group(2))] + ([float(g.group(5))] if g.group(5) else [])
            return all(x < 0 for x in figures)
        if what == "ends":
            return n.kind == "ends" and abs(float(g.group(2)) - expect[1]) <= 0.5
        if what == "mismatch":
            return n.kind in ("mismatch", "poor_match")
        if what == "drops":
            return n.kind == "drops"
        return n.kind == what

    if any(right(n) for n in told):
        return "right"
    if what == "drops" and not expect[1]:
        # A 50-ms dropout, or one between places, may pass unseen: it is
        # told apart from a miss, but a wrong note about it still counts.
        return "wrong" if told else "not seen"
    return "wrong" if told else "none"


# --------------------------------------------------------------------------
# Runs of eqalign


class Check:
    """One decode checked in one run, and what eqalign said of it."""

    def __init__(self, original, codec, fault=None):
        self.original, self.codec, self.fault = original, codec, fault
        self.verdict, self.notes, self.line, self.run_id = None, [], "", ""

    @property
    def klass(self):
        return CODEC[self.codec].klass

    def name(self):
        return "%s.%s%s" % (self.original, self.codec, "." + self.fault.name if self.fault else "")


def eqalign_run(eqalign, work, report_dir, run_id, original, checks):
    """Runs eqalign in a folder of its own holding links to the files, so
    that its outputs land there and not beside the material; the outputs are
    removed afterwards (only the report is wanted) and the report kept."""
    folder = os.path.join(work, "runs", run_id)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    names = ["ref.wav"]
    os.symlink(original_path(work, original), os.path.join(folder, "ref.wav"))
    for c in checks:
        src = c.fault.path(work) if c.fault else decode_path(work, c.original, c.codec)
        name = os.path.basename(src)
        os.symlink(src, os.path.join(folder, name))
        names.append(name)
    p = subprocess.run([eqalign] + names, cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, timeout=900)
    text = p.stdout.decode(errors="replace")
    with open(os.path.join(report_dir, run_id + ".txt"), "w") as f:
        f.write("$ eqalign %s\n" % " ".join(names))
        f.write(text)
        f.write("(exit status %d)\n" % p.returncode)
    shutil.rmtree(folder)
    tracks = read_report(text)
    for n, c in enumerate(checks, start=1):
        c.run_id = run_id
        t = tracks.get(n, {"line": "", "notes": []})
        c.line, c.notes = t["line"], t["notes"]
        if p.returncode != 0:
            c.verdict = "error"
            c.line = "eqalign stopped with status %d: %s" % (p.returncode, (text.strip().splitlines() or [""])[-1])
        elif c.fault:
            c.verdict = judge_fault(c.fault.expect, c.notes)
        else:
            whole = [x for x in c.notes if not x.search and x.kind not in INFORMATION]
            c.verdict = "false alarm" if whole else "quiet"


def intact_runs(originals, codecs):
    """Intact decodes of one original share a run, one run per class of rate
    (at most nine decodes a run, as eqalign takes)."""
    out = []
    for o in originals:
        for k in CLASSES:
            checks = [Check(o.name, c.name) for c in codecs if c.klass == k]
            for start in range(0, len(checks), 9):
                part = checks[start:start + 9]
                out.append(("%s.intact.%s%d" % (o.name, CLASS_ID[k], start // 9), o.name, part))
    return out


# --------------------------------------------------------------------------
# The table


def percent(n, d):
    return "%5.1f %%" % (100.0 * n / d) if d else "    - "


def report_lines(c):
    lines = ["    %s" % c.line] if c.line else []
    return lines + ["    %s" % n.line for n in c.notes]


def table(checks, header):
    out = header[:]
    intact = [c for c in checks if not c.fault]
    faults = [c for c in checks if c.fault]
    out.append("")
    out.append("Intact decodes              decodes   whole-file note    level over the file  mismeasured start"
               "  search-pass note")
    out.append("                                      (false alarm)      (information)        (information)")
    for k in CLASSES + ["all"]:
        these = [c for c in intact if k == "all" or c.klass == k]
        alarms = sum(c.verdict in ("false alarm", "error") for c in these)
        plays = sum(any(n.kind == "plays" for n in c.notes) for c in these)
        fits = sum(any(n.kind == "fits" for n in c.notes) for c in these)
        search = sum(any(n.search for n in c.notes) for c in these)
        out.append("  %-26s %6d   %4d  %s       %4d                 %4d               %4d"
                   % (k, len(these), alarms, percent(alarms, len(these)), plays, fits, search))
    by_original = {}
    for c in intact:
        if c.verdict in ("false alarm", "error"):
            by_original.setdefault(c.original, []).append(c.codec)
    if by_original:
        out.append("  false alarms by original: " + "; ".join(
            "%s %d (%s)" % (o, len(v), " ".join(v)) for o, v in sorted(by_original.items())))
    out.append("")
    out.append("Faults                                cases   right   wrong    none   not seen")
    for g in FAULT_GROUPS:
        these = [c for c in faults if c.fault.group == g]
        if not these:
            continue
        count = {v: sum(c.verdict == v for c in these) for v in ("right", "wrong", "none", "not seen", "error")}
        out.append("  %-36s %5d   %5d   %5d   %5d   %5d%s" % (
            g, len(these), count["right"], count["wrong"], count["none"], count["not seen"],
            "   (%d stopped with an error)" % count["error"] if count["error"] else ""))
    total = {v: sum(c.verdict == v for c in faults) for v in ("right", "wrong", "none", "not seen")}
    out.append("  %-36s %5d   %5d   %5d   %5d   %5d" % ("all", len(faults), total["right"], total["wrong"],
                                                       total["none"], total["not seen"]))

    def listing(title, which):
        if not which:
            return
        out.append("")
        out.append(title)
        for c in which:
            expect = "  (expected: %s)" % describe(c.fault.expect) if c.fault else ""
            out.append("  %s [%s, report %s.txt]%s" % (c.name(), c.verdict, c.run_id, expect))
            out.extend(report_lines(c))
    listing("False alarms (intact decodes with a whole-file note):",
            [c for c in intact if c.verdict in ("false alarm", "error")])
    listing("Misses (faults with a wrong note or none):", [c for c in faults if c.verdict in ("wrong", "none", "error")])
    listing("Not seen (a 50-ms dropout, or one between places: no note is allowed):",
            [c for c in faults if c.verdict == "not seen"])
    listing("Information on intact decodes (level over the file, mismeasured start):",
            [c for c in intact if c.verdict == "quiet" and any(n.kind in INFORMATION for n in c.notes)])
    listing("Search-pass notes on intact decodes:", [c for c in intact if any(n.search for n in c.notes)])
    listing("Faults noted rightly, with other notes beside:",
            [c for c in faults if c.verdict == "right"
             and len([n for n in c.notes if n.kind not in INFORMATION]) > 1])
    return out


def describe(expect):
    what = expect[0]
    return {
        "step": lambda: "falls out of step, %+d frames (+-2)" % expect[1],
        "cut_join": lambda: "does not match, or falls out of step by %+d frames" % expect[1],
        "drift": lambda: "falls out of step, figures growing as %+d ppm" % expect[1],
        "level": lambda: "changes level, %+.1f dB (+-0.5)" % expect[1],
        "fade": lambda: "changes level, figures below zero",
        "ends": lambda: "ends %.1f s before the reference (+-0.5)" % expect[1],
        "mismatch": lambda: "matches poorly, or does not match",
        "drops": lambda: "drops out" + ("" if expect[1] else ", or no note"),
        "swapped_at": lambda: "channels swapped at places",
        "swapped": lambda: "the search pass's channels swapped",
        "silent_channel": lambda: "the search pass's silent channel",
        "inverted": lambda: "the search pass's inverted polarity",
    }[what]()


# --------------------------------------------------------------------------


def in_parallel(jobs, workers):
    """Runs the jobs (functions without arguments) on a few threads; each
    starts tools, which do the work, so threads are enough."""
    with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
        for f in concurrent.futures.as_completed([pool.submit(j) for j in jobs]):
            f.result()


def material_facts(work, names):
    """A few measurements that show the material is what it claims to be."""
    facts = []

    def stat(path, effects=()):
        p = subprocess.run(["sox", "-R", path, "-n"] + list(effects) + ["stats"], stderr=subprocess.PIPE,
                           stdout=subprocess.DEVNULL)
        text = p.stderr.decode()
        peak = re.search(r"Pk lev dB\s+(\S+)", text)
        rms = re.search(r"RMS lev dB\s+(\S+)", text)
        return (float(peak.group(1)) if peak else None, float(rms.group(1)) if rms else None)
    if "wide" in names:
        # L-R against L+R over the first second, where the delay and gain are measured.
        path = original_path(work, "wide")
        side = stat(path, ["trim", "0.15", "0.68", "remix", "1v0.5,2v-0.5"])[1]
        mid = stat(path, ["trim", "0.15", "0.68", "remix", "1v0.5,2v0.5"])[1]
        facts.append("wide: L-R %.1f dB over L+R at 0.15-0.83 s" % (side - mid))
    if "piano_quiet" in names:
        path = original_path(work, "piano_quiet")
        facts.append("piano_quiet: peak %.1f dBFS; its pauses %.1f dBFS RMS" % (
            stat(path)[0], stat(path, ["trim", "25", "1.5"])[1]))
    return facts


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("eqalign")
    ap.add_argument("work")
    ap.add_argument("--quick", action="store_true", help="a small subset, in a couple of minutes")
    ap.add_argument("--jobs", type=int, default=2, help="tools run at once (default 2)")
    args = ap.parse_args()
    started = time.time()
    eqalign = os.path.realpath(args.eqalign)
    work = os.path.realpath(args.work)

    originals = [o for o in ORIGINALS if o.quick or not args.quick]
    codecs = [c for c in CODECS if c.quick or not args.quick]
    names = {o.name for o in originals}
    faults = [f for f in fault_plan() if (f.quick or not args.quick) and f.original in names]

    # The material, made once.
    to_make = originals + ([OTHER_MIX] if any(f.name == "other_mix" for f in faults) else [])
    say("making %d originals in %s/material (kept and reused)" % (len(to_make), work))
    in_parallel([lambda o=o: made(original_path(work, o.name), lambda t: o.make(t, work)) for o in to_make],
                args.jobs)
    decodes = [(o.name, c.name) for o in originals for c in codecs]
    for f in faults:
        if (f.original, f.codec) not in decodes:
            decodes.append((f.original, f.codec))
    if any(f.name == "other_mix" for f in faults):
        decodes.append((OTHER_MIX.name, "mp3_128"))
    if any(f.name == "joined_song_b" for f in faults):
        decodes.append(("song_b", "mp3_128"))
    say("  %.0f s" % (time.time() - started))
    say("encoding and decoding %d files in %s/decodes" % (len(decodes), work))
    # Longest first, so that the 10-minute file does not finish alone at the end.
    decodes.sort(key=lambda d: -frames_of(original_path(work, d[0])))
    in_parallel([lambda d=d: make_decode(work, *d) for d in decodes], args.jobs)
    say("  %.0f s" % (time.time() - started))
    say("breaking %d copies in %s/broken" % (len(faults), work))
    in_parallel([lambda f=f: made(f.path(work), lambda t: f.make(t, Source(work, f))) for f in faults], args.jobs)

    # The runs: intact decodes together, each broken one alone with its original.
    digest = hashlib.sha256(open(eqalign, "rb").read()).hexdigest()[:10]
    report_dir = os.path.join(work, "reports", digest + ("-quick" if args.quick else ""))
    shutil.rmtree(report_dir, ignore_errors=True)
    os.makedirs(report_dir)
    runs = intact_runs(originals, codecs)
    for f in faults:
        runs.append(("%s.%s.%s" % (f.original, f.codec, f.name), f.original, [Check(f.original, f.codec, f)]))
    say("  %.0f s" % (time.time() - started))
    say("running %s %d times; reports in %s" % (eqalign, len(runs), report_dir))
    in_parallel([lambda r=r: eqalign_run(eqalign, work, report_dir, *r) for r in runs], args.jobs)

    with open(os.path.join(report_dir, runs[0][0] + ".txt")) as f:
        version = f.read().splitlines()[1].split()[0]  # the report's first line names the version
    header = ["eqalign whole-file check benchmark%s: %s (%s, sha256 %s...)" % (
        " (--quick)" if args.quick else "", eqalign, version, digest),
        "%d originals x %d codecs = %d intact decodes in %d runs; %d faults, each run alone with its original;"
        " %.0f s in all" % (len(originals), len(codecs), len(originals) * len(codecs), len(runs) - len(faults),
                           len(faults), time.time() - started)]
    for o in originals:
        seconds = frames_of(original_path(work, o.name)) // RATE
        header.append("  %-12s %2d:%02d  %s" % (o.name, seconds // 60, seconds % 60, o.what))
    facts = material_facts(work, names)
    if facts:
        header.append("  measured: " + "; ".join(facts))
    checks = [c for r in runs for c in r[2]]
    lines = table(checks, header)
    text = "\n".join(lines) + "\n"
    with open(os.path.join(report_dir, "table.txt"), "w") as f:
        f.write(text)
    with open(os.path.join(report_dir, "checks.tsv"), "w") as f:
        f.write("decode\tclass\tfault group\tverdict\treport\tnotes\n")
        for c in checks:
            f.write("%s\t%s\t%s\t%s\t%s\t%s\n" % (c.name(), c.klass, c.fault.group if c.fault else "intact",
                                                  c.verdict, c.run_id, " | ".join(n.line for n in c.notes)))
    sys.stdout.write(text)
    say("table and per-decode verdicts: %s/table.txt, %s/checks.tsv" % (report_dir, report_dir))


if __name__ == "__main__":
    main()
