#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the seed inputs of chip_fuzzer (fuzz/seeds-chip/).

chip_fuzzer reads its input through libFuzzer's FuzzedDataProvider, which
takes numbers from the end of the data and byte strings from the front; the
Seed class below lays out a call sequence that way. The step numbers and
argument choices are those of Rig::Step in chip_fuzzer.cpp.

    python3 fuzz/chip_seeds.py fuzz/seeds-chip
"""
import os
import sys


class Seed:
    def __init__(self):
        self.front = bytearray()  # byte strings, in the order taken
        self.back = bytearray()   # numbers, in the order taken

    def number(self, lo, hi, value):
        """ConsumeIntegralInRange(lo, hi) giving value."""
        assert lo <= value <= hi
        span, size = hi - lo, 0
        while size < 8 and (span >> (8 * size)) > 0:
            size += 1
        offset = value - lo
        # The first byte taken is the most significant.
        self.back += bytes((offset >> (8 * (size - 1 - i))) & 0xFF for i in range(size))
        return self

    def flag(self, value):
        return self.number(0, 255, 1 if value else 0)

    def data(self, raw):
        self.front += raw
        return self

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))

    # --- The board ---
    def board(self, pins=(7, 1, 5, 6), own_wiring=False, pull_down=True, extra=0):
        order = list(range(8))
        for i in range(4):
            j = order.index(pins[i])
            self.number(i, 7, j)
            order[i], order[j] = order[j], order[i]
        return self.flag(own_wiring).flag(pull_down).number(0, 2, extra)

    # --- Calls (Rig::Step) ---
    def step(self, n):
        return self.number(0, 26, n)

    def handle(self):  # the handle of the last open
        return self.number(0, 9, 5)

    def list_count(self):
        return self.step(0).number(0, 15, 1).number(0, 4, 2)

    def list_by_index(self, index=0, size=65, serial=False):
        return self.step(1).number(0, 2, index).number(0, 68, size).number(0, 15, 1).number(0, 4, 1 if serial else 2)

    def open(self, serial=False):
        return self.step(2).number(0, 5, 1 if serial else 3).number(0, 4, 2).number(0, 15, 1)

    def close(self):
        return self.step(4).handle()

    def sync_mode(self, mode_choice=3):
        return self.step(7).handle().flag(False).number(0, 5, mode_choice)

    def write(self, raw):
        self.step(10).handle().number(0, 7, 1).number(0, 48, len(raw)).data(raw)
        return self.number(0, 31, 1).number(0, 31, 1)

    def long_write(self, count, pattern):
        self.step(10).handle().number(0, 7, 0).number(1, 70000, count)
        self.number(1, 8, len(pattern)).data(pattern)
        return self.number(0, 31, 1).number(0, 31, 1)

    def queue(self):
        return self.step(13).handle().number(0, 31, 1)

    def read_all(self):
        self.step(15).handle().number(0, 3, 3)
        return self.number(0, 31, 1).number(0, 31, 1)

    def read(self, size):
        self.step(15).handle().number(0, 3, 0).number(0, 64, size)
        if size > 0:
            self.number(0, 31, 1)
        return self.number(0, 31, 1)

    def pins(self):
        return self.step(17).handle().number(0, 31, 1)

    def purge(self):
        return self.step(18).handle().flag(True).number(0, 3, 3)

    def late(self, per_query):
        return self.step(21).number(0, 3, 0).number(0, 300, per_query)

    def drop(self, count):
        return self.step(21).number(0, 3, 1).number(0, 300, count)

    def unplug_after(self, more):
        return self.step(22).number(0, 3, 0).number(0, 400, more).flag(False)

    def replug(self):
        return self.step(22).number(0, 3, 2)

    def vcd(self):
        return self.step(24).flag(False).flag(False)


# Pins of the default wiring: TCK D7, TMS D1, TDI D5.
TCK, TMS, TDI = 0x80, 0x02, 0x20


def clocks(tms_tdi):
    out = bytearray()
    for tms, tdi in tms_tdi:
        low = (TMS if tms else 0) | (TDI if tdi else 0)
        out += bytes((low, low | TCK))
    return bytes(out + out[-2:-1])


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "seeds-chip")
    os.makedirs(folder, exist_ok=True)
    reset_to_shift_dr = [(1, 0)] * 5 + [(0, 0), (1, 0), (0, 0), (0, 0)]
    seeds = {
        # Open, synchronous bit-bang, a reset and an IDCODE read, answers read back.
        "idcode": Seed().board().list_count().list_by_index().open().sync_mode()
        .write(clocks(reset_to_shift_dr)).write(clocks([(0, 1)] * 16)).queue().read_all().pins().close(),
        # Open by serial number on moved pins with TCK pulled up, a long write across
        # the simulation slices, a waveform, a purge, reads in pieces.
        "long-write": Seed().board(pins=(0, 3, 2, 4), own_wiring=True, pull_down=False, extra=1)
        .list_by_index(serial=True).open(serial=True).vcd().sync_mode().long_write(66000, b"\x00\x09\x04\x0d")
        .queue().read(40).read(7).purge().queue().write(b"\x01\x08").read_all().vcd(),
        # Late and lost answers, asynchronous mode, then the device unplugged
        # halfway through a write, plugged in and opened again.
        "faults": Seed().board().open().sync_mode().late(3).drop(2).write(clocks([(1, 1)] * 6))
        .queue().queue().read(64).sync_mode(mode_choice=1).write(b"\xa2\x22")
        .sync_mode().unplug_after(5).write(clocks([(0, 0)] * 6)).queue().close().replug().open().queue(),
    }
    for name, seed in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(seed.bytes())


if __name__ == "__main__":
    main()
