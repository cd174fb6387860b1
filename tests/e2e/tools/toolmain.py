"""What the load tools share: a command line of sub-commands, and a summary of timings."""
import argparse
import statistics
import sys

REQUIRED = object()  # an option without a default must be given


def run_commands(description, commands):
    """Parses `tool COMMAND --option value ...` and exits with the status the command returns.

    commands maps a name to (function, {"--option": default}); an option's type is its
    default's, and REQUIRED marks a text option that must be given.
    """
    parser = argparse.ArgumentParser(description=description)
    chosen = parser.add_subparsers(dest="command", required=True)
    for name, (function, options) in commands.items():
        sub = chosen.add_parser(name)
        sub.set_defaults(function=function)
        for option, default in options.items():
            if default is REQUIRED:
                sub.add_argument(option, required=True)
            else:
                sub.add_argument(option, type=type(default), default=default)
    args = parser.parse_args()
    sys.exit(args.function(args))


def timing_summary(times_ms):
    """The worst and the median of times in milliseconds (None for both when there are none)."""
    return {
        "worst_ms": round(max(times_ms), 1) if times_ms else None,
        "median_ms": round(statistics.median(times_ms), 1) if times_ms else None,
    }
