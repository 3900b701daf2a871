"""Converts every file under a folder into its .bk file beside it, on every core or on a cluster.

    python3 convert_folder.py FOLDER                  threads on this machine
    python3 convert_folder.py FOLDER --dask           a Dask LocalCluster on this machine
    python3 convert_folder.py FOLDER --dask HOST:PORT the Dask scheduler at that address

The work is mornak.convert_path, one call per file, handed to any
concurrent.futures.Executor: threads suffice on one machine, since the
library converts with the GIL released. With Dask every worker must see the
same paths (a shared file system) and have the mornak module installed.
"""

import argparse
import concurrent.futures
import os
import sys

import mornak


def files_under(folder):
    """Every regular file under folder that is not a .bk file, in a stable order."""
    for root, folders, names in os.walk(folder):
        folders.sort()
        for name in sorted(names):
            path = os.path.join(root, name)
            if not name.endswith(".bk") and os.path.isfile(path) and not os.path.islink(path):
                yield path


def convert_all(paths, executor):
    """Converts each path through executor; returns (path, (input bytes, .bk bytes) or the exception)."""
    futures = {executor.submit(mornak.convert_path, path): path for path in paths}
    results = []
    for future in concurrent.futures.as_completed(futures):
        try:
            results.append((futures[future], future.result()))
        except Exception as error:  # one file's failure is reported; the others go on
            results.append((futures[future], error))
    return sorted(results, key=lambda result: result[0])


def main(argv=None):
    parser = argparse.ArgumentParser(description="Convert every file under FOLDER into its .bk file.")
    parser.add_argument("folder")
    parser.add_argument("--dask", nargs="?", const="local", metavar="SCHEDULER",
                        help="run on Dask: a LocalCluster, or the scheduler at this address")
    parser.add_argument("--workers", type=int, default=None, help="LocalCluster worker processes")
    args = parser.parse_args(argv)
    # Files that would make the same .bk file (a.txt and a.md) are left alone and reported.
    by_name = {}
    for path in files_under(args.folder):
        by_name.setdefault(mornak.bk_name(path), []).append(path)
    paths = [group[0] for group in by_name.values() if len(group) == 1]
    clashes = [(path, ValueError(f"{name} would be made from {len(group)} files"))
               for name, group in by_name.items() if len(group) > 1 for path in group]

    if args.dask is None:
        with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count()) as executor:
            results = convert_all(paths, executor)
    else:
        import distributed

        if args.dask == "local":
            cluster = distributed.LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                                               host="127.0.0.1", dashboard_address=None)
            client = distributed.Client(cluster)
        else:
            cluster, client = None, distributed.Client(args.dask)
        try:
            results = convert_all(paths, client.get_executor())
        finally:
            client.close()
            if cluster is not None:
                cluster.close()

    failed = 0
    total_in = total_out = 0
    for path, result in sorted(results + clashes, key=lambda result: result[0]):
        if isinstance(result, Exception):
            failed += 1
            print(f"{path}: {result}", file=sys.stderr)
        else:
            total_in += result[0]
            total_out += result[1]
    print(f"{len(results) + len(clashes) - failed} files converted, {total_in} bytes into {total_out}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
