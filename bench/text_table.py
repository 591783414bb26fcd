"""The benchmarks' tables as text: times with their unit, and columns lined up."""


def format_ns(ns):
    if ns is None:
        return ""
    if ns >= 1e6:
        return "%.2f ms" % (ns / 1e6)
    if ns >= 1e3:
        return "%.1f µs" % (ns / 1e3)
    return "%.0f ns" % ns


def print_table(title, header, rows, left_columns=1):
    """The first left_columns columns aligned left, the others right."""
    widths = [max(len(row[i]) for row in [header] + rows) for i in range(len(header))]
    print("\n" + title)
    for row in [header] + rows:
        cells = [cell.ljust(width) if i < left_columns else cell.rjust(width)
                 for i, (cell, width) in enumerate(zip(row, widths))]
        print("  ".join(cells).rstrip())
