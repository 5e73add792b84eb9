"""What an analyst writes instead of the survey's channel rows, with
polars and numpy: per recording, read_csv, then per channel the minimum,
maximum, mean and standard deviation, and numpy's bincount of the codes.
A recording that polars cannot read is skipped, as a careful script
would, and counted.

    python analyst.py LIST     LIST: the recordings' names, one a line
"""
import sys

import numpy
import polars

CHANNELS = 32
CODES = 1024


def describe(path):
    frame = polars.read_csv(path, separator=" ", has_header=False,
                            new_columns=[f"c{channel}" for channel in range(CHANNELS)])
    summary = frame.select(
        [polars.all().min().name.suffix("_min"), polars.all().max().name.suffix("_max"),
         polars.all().mean().name.suffix("_mean"), polars.all().std(ddof=0).name.suffix("_std")])
    histograms = [numpy.bincount(frame[column].to_numpy(), minlength=CODES) for column in frame.columns]
    return summary, histograms


def main():
    with open(sys.argv[1]) as names:
        paths = names.read().splitlines()
    skipped = 0
    for path in paths:
        try:
            describe(path)
        except Exception:  # a header line, tabs, a cut line: not numbers polars can take
            skipped += 1
    print(f"{len(paths)} recordings, {skipped} skipped", file=sys.stderr)


if __name__ == "__main__":
    main()
