#include "demo/DemoTown.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "util/CheapRuler.h"

// The demo town, drawn in metres east (x) and north (y) of its centre.
//
//                         N
//        north village    |  forest track (y 3500)
//              \__________|_______________
//                         |        |       tracks through the fields
//               secondary |        |
//          +--------------+--------+-----------+  y 1500
//          | residential grid, blocks of 150 m, |
//          | driveways     +--ring road--+      |
//  primary-+---------------+ old town    @------+--- primary  (y 600)
//   (west) |   (signals)   +-------------+  roundabout        (east)
//          |                                    |
//          +------------------------------------+  y -300
//            footpath along the north bank
//   ~~~~~~~~~~~~bridge~~~~~~~~~~~~~~~~~~~~bridge~~~~~~~~~~~~~  river (y about -700)
//                  |                       |
//           tracks through farmland, a gate, a path up the hill
//                  |                       |    south village
//
// Elevations: the river at 412 m, the town rising gently north of it, a hill
// of about 610 m south-east of the river and one north-west of the town, less
// steep but on higher ground: its top, about 640 m, is the highest point.
namespace ferrow::demo {

namespace {

using testsupport::NodeRef;
using testsupport::ShapePoint;
using testsupport::TestNetwork;
using testsupport::WayPoint;

// A point of the drawing; shape points are geometry of a link, not nodes.
struct P {
    double x;
    double y;
    bool shape = false;
};

double riverY(double x) { return -700.0 + 120.0 * std::sin(x / 600.0); }

double hill(double x, double y, double cx, double cy, double height, double radius) {
    const double dx = x - cx;
    const double dy = y - cy;
    return height * std::exp(-(dx * dx + dy * dy) / (2.0 * radius * radius));
}

double elevationAt(double x, double y) {
    const double aboveRiver = y - riverY(x);
    double metres = 412.0 + (aboveRiver > 0.0 ? 0.025 * aboveRiver : -0.006 * aboveRiver);
    metres += hill(x, y, 1500.0, -2600.0, 185.0, 900.0);  // south hill
    metres += hill(x, y, -2800.0, 3600.0, 120.0, 1100.0); // north hill
    return metres;
}

// Turns the drawing into a network: every node point is placed once, so
// streets that meet at a point share its node.
class TownBuilder {
public:
    TownBuilder() {
        centreLon_ = testsupport::gridLon(CENTRE_LON);
        centreLat_ = testsupport::gridLat(CENTRE_LAT);
        const util::CheapRuler::Scales& scales = util::CheapRuler::scalesAt(centreLat_);
        kx_ = scales.kx;
        ky_ = scales.ky;
    }

    NodeRef node(double x, double y, const std::string& tags = "") {
        const std::pair<std::int32_t, std::int32_t> grid = toGrid(x, y);
        auto known = nodes_.find(grid);
        if (known == nodes_.end()) {
            auto builder = network.gridNode(grid.first, grid.second).elevation(elevationAt(x, y));
            known = nodes_.emplace(grid, static_cast<NodeRef>(builder)).first;
        }
        if (!tags.empty()) {
            // Tags are set where the node is drawn with them.
            TestNetwork::NodeBuilder(network, known->second.index).tags(tags);
        }
        return known->second;
    }

    void way(const std::string& tags, const std::vector<P>& points) {
        std::vector<WayPoint> wayPoints;
        for (const P& p : points) {
            if (p.shape) {
                const std::pair<std::int32_t, std::int32_t> grid = toGrid(p.x, p.y);
                wayPoints.emplace_back(ShapePoint{grid.first, grid.second, elevationAt(p.x, p.y)});
            } else {
                wayPoints.emplace_back(node(p.x, p.y));
            }
        }
        network.way(tags, std::move(wayPoints));
    }

    // A way from node to node along a straight line, with nodes every
    // nodeSpacing metres and a gentle sideways wave drawn by shape points
    // every shapeSpacing metres.
    void road(const std::string& tags, P from, P to, double nodeSpacing, double shapeSpacing, double wave = 0.0) {
        const double length = std::hypot(to.x - from.x, to.y - from.y);
        const std::int32_t sections = std::max(1, static_cast<std::int32_t>(std::lround(length / shapeSpacing)));
        const std::int32_t perNode = std::max(1, static_cast<std::int32_t>(std::lround(nodeSpacing / shapeSpacing)));
        // Unit normal of the line, for the wave.
        const double nx = -(to.y - from.y) / length;
        const double ny = (to.x - from.x) / length;
        std::vector<P> points;
        for (std::int32_t i = 0; i <= sections; ++i) {
            const double t = static_cast<double>(i) / sections;
            const double offset = wave * std::sin(t * 3.141592653589793 * 2.0);
            const P p{from.x + t * (to.x - from.x) + offset * nx, from.y + t * (to.y - from.y) + offset * ny,
                      i != 0 && i != sections && i % perNode != 0};
            points.push_back(p);
        }
        way(tags, points);
    }

    void noTurn(P from, P via, P to) { network.noTurn(node(from.x, from.y), node(via.x, via.y), node(to.x, to.y)); }

    TestNetwork network;

private:
    std::pair<std::int32_t, std::int32_t> toGrid(double x, double y) const {
        return {centreLon_ + static_cast<std::int32_t>(std::lround(x / kx_)),
                centreLat_ + static_cast<std::int32_t>(std::lround(y / ky_))};
    }

    std::int32_t centreLon_;
    std::int32_t centreLat_;
    double kx_;
    double ky_;
    std::map<std::pair<std::int32_t, std::int32_t>, NodeRef> nodes_;
};

// ---- what the town is made of ----

const std::string RESIDENTIAL = "highway=residential maxspeed=30 surface=asphalt sidewalk=both";
const std::string OLD_TOWN_LANE = "highway=living_street surface=sett oneway=yes";
const std::string PEDESTRIAN = "highway=pedestrian surface=paving_stones";
const std::string RING = "highway=tertiary maxspeed=50 surface=asphalt lit=yes";
const std::string ROUNDABOUT = "highway=tertiary junction=roundabout oneway=yes maxspeed=30 surface=asphalt";
const std::string PRIMARY_IN_TOWN = "highway=primary maxspeed=50 surface=asphalt lit=yes";
const std::string PRIMARY = "highway=primary maxspeed=100 surface=asphalt";
const std::string SECONDARY_IN_TOWN = "highway=secondary maxspeed=50 surface=asphalt";
const std::string SECONDARY = "highway=secondary maxspeed=70 surface=asphalt";
const std::string COUNTRY_ROAD = "highway=unclassified maxspeed=70 surface=asphalt";
const std::string DRIVEWAY = "highway=service service=driveway";
const std::string RIVER_PATH = "highway=footway surface=gravel estimated_river_class=3";
const std::string FIELD_TRACK = "highway=track tracktype=grade2 surface=gravel";
const std::string MEADOW_TRACK = "highway=track tracktype=grade4 surface=ground";
const std::string FOREST_TRACK = "highway=track tracktype=grade3 surface=gravel estimated_forest_class=4";
const std::string HILL_PATH = "highway=path sac_scale=hiking surface=ground";
const std::string HILL_STEPS = "highway=steps surface=rock";
const std::string CYCLE_PATH = "highway=cycleway surface=asphalt";

// The residential grid: columns every 150 m from x -1500 to 1500, rows from
// y -300 to 1500. The old town is the part inside the ring road.
constexpr double GRID = 150.0;
constexpr std::int32_t COLUMNS = 21; // x = -1500 + 150 i
constexpr std::int32_t ROWS = 13;    // y = -300 + 150 j
double columnX(std::int32_t i) { return -1500.0 + GRID * i; }
double rowY(std::int32_t j) { return -300.0 + GRID * j; }

constexpr std::int32_t RING_WEST = 7;   // x -450
constexpr std::int32_t RING_EAST = 13;  // x 450
constexpr std::int32_t RING_SOUTH = 4;  // y 300
constexpr std::int32_t RING_NORTH = 9;  // y 1050
constexpr std::int32_t MAIN_ROW = 6;    // y 600: the primary road
constexpr std::int32_t MAIN_COLUMN = 4; // x -900: the secondary road
constexpr double ROUNDABOUT_X = 450.0;
constexpr double ROUNDABOUT_Y = 600.0;
constexpr double ROUNDABOUT_RADIUS = 30.0;

bool insideOldTown(double x, double y) {
    return x > columnX(RING_WEST) && x < columnX(RING_EAST) && y > rowY(RING_SOUTH) && y < rowY(RING_NORTH);
}

// The street of a block side from (x1, y1) to (x2, y2): ring, main roads,
// old town lanes (one way, alternating) or residential streets.
struct StreetKind {
    std::string tags;
    bool driveways = false;
    bool reversed = false;
};

StreetKind streetBetween(std::int32_t i1, std::int32_t j1, std::int32_t i2, std::int32_t j2) {
    const bool horizontal = j1 == j2;
    const bool onRingLine = horizontal ? (j1 == RING_SOUTH || j1 == RING_NORTH) && i1 >= RING_WEST && i2 <= RING_EAST
                                       : (i1 == RING_WEST || i1 == RING_EAST) && j1 >= RING_SOUTH && j2 <= RING_NORTH;
    if (onRingLine) {
        return {RING};
    }
    const double midX = (columnX(i1) + columnX(i2)) / 2.0;
    const double midY = (rowY(j1) + rowY(j2)) / 2.0;
    if (horizontal && j1 == MAIN_ROW) {
        return insideOldTown(midX, midY) ? StreetKind{PEDESTRIAN} : StreetKind{PRIMARY_IN_TOWN};
    }
    if (!horizontal && i1 == MAIN_COLUMN) {
        return {SECONDARY_IN_TOWN};
    }
    if (insideOldTown(midX, midY)) {
        // Lanes alternate their direction row by row and column by column.
        return {OLD_TOWN_LANE, false, horizontal ? j1 % 2 == 1 : i1 % 2 == 0};
    }
    return {RESIDENTIAL, true};
}

// Block sides with more to them than a street: the roundabout takes the
// place of the ring's east junction on the main row, and the pedestrian
// street has bollards at both ends.
// The side starts at column i, row j and runs east or north.
bool drawnElsewhere(std::int32_t i, std::int32_t j, bool eastwards) {
    if (eastwards) {
        return j == MAIN_ROW && (i == RING_WEST || i == RING_EAST - 1 || i == RING_EAST);
    }
    return i == RING_EAST && (j == MAIN_ROW - 1 || j == MAIN_ROW);
}

void drawGrid(TownBuilder& town) {
    std::int32_t side = 0;
    auto blockSide = [&](std::int32_t i1, std::int32_t j1, std::int32_t i2, std::int32_t j2) {
        const StreetKind kind = streetBetween(i1, j1, i2, j2);
        const P from{columnX(i1), rowY(j1)};
        const P to{columnX(i2), rowY(j2)};
        std::vector<P> points{from};
        if (kind.driveways) {
            // Three houses per block side, on alternating sides of the
            // street, each with a 25 m driveway.
            const double dx = (to.x - from.x) / 4.0;
            const double dy = (to.y - from.y) / 4.0;
            const double driveway = 25.0 / std::hypot(dx, dy);
            for (std::int32_t k = 1; k <= 3; ++k) {
                const P junction{from.x + k * dx, from.y + k * dy};
                const double left = ((side + k) % 2 == 0) ? 1.0 : -1.0;
                const P house{junction.x - left * dy * driveway, junction.y + left * dx * driveway};
                town.way(DRIVEWAY, {junction, house});
                points.push_back(junction);
            }
            ++side;
        }
        points.push_back(to);
        if (kind.reversed) {
            std::reverse(points.begin(), points.end());
        }
        town.way(kind.tags, points);
    };

    for (std::int32_t j = 0; j < ROWS; ++j) {
        for (std::int32_t i = 0; i + 1 < COLUMNS; ++i) {
            if (!drawnElsewhere(i, j, true)) {
                blockSide(i, j, i + 1, j);
            }
        }
    }
    for (std::int32_t i = 0; i < COLUMNS; ++i) {
        for (std::int32_t j = 0; j + 1 < ROWS; ++j) {
            if (!drawnElsewhere(i, j, false)) {
                blockSide(i, j, i, j + 1);
            }
        }
    }
}

// The roundabout on the ring's east side, where the primary road comes in,
// with the four streets that lead into it.
void drawRoundabout(TownBuilder& town) {
    std::vector<P> circle;
    for (std::int32_t k = 0; k <= 12; ++k) {
        const double angle = 2.0 * 3.141592653589793 * k / 12.0; // anticlockwise from east
        const bool node = k % 3 == 0;
        const P p{ROUNDABOUT_X + ROUNDABOUT_RADIUS * std::cos(angle),
                  ROUNDABOUT_Y + ROUNDABOUT_RADIUS * std::sin(angle), !node};
        circle.push_back(k == 12 ? circle.front() : p);
    }
    // One way per quarter, node to node.
    for (std::int32_t quarter = 0; quarter < 4; ++quarter) {
        town.way(ROUNDABOUT, std::vector<P>(circle.begin() + quarter * 3, circle.begin() + quarter * 3 + 4));
    }
    const double r = ROUNDABOUT_RADIUS;
    town.way(RING, {{ROUNDABOUT_X, rowY(MAIN_ROW - 1)}, {ROUNDABOUT_X, ROUNDABOUT_Y - r}});
    town.way(RING, {{ROUNDABOUT_X, ROUNDABOUT_Y + r}, {ROUNDABOUT_X, rowY(MAIN_ROW + 1)}});
    town.way(PRIMARY_IN_TOWN, {{ROUNDABOUT_X + r, ROUNDABOUT_Y}, {columnX(RING_EAST + 1), ROUNDABOUT_Y}});
    // The pedestrian street ends at the roundabout behind bollards.
    town.node(ROUNDABOUT_X - 60.0, ROUNDABOUT_Y, "barrier=bollard");
    town.way(PEDESTRIAN, {{columnX(RING_EAST - 1), ROUNDABOUT_Y},
                          {ROUNDABOUT_X - 60.0, ROUNDABOUT_Y},
                          {ROUNDABOUT_X - r, ROUNDABOUT_Y}});
}

void drawTownDetails(TownBuilder& town) {
    // Traffic signals where the primary and the secondary road cross.
    town.node(columnX(MAIN_COLUMN), rowY(MAIN_ROW), "highway=traffic_signals");
    // The pedestrian street's west end, behind a bollard.
    town.node(columnX(RING_WEST) + 60.0, rowY(MAIN_ROW), "barrier=bollard");
    town.way(PEDESTRIAN, {{columnX(RING_WEST), rowY(MAIN_ROW)},
                          {columnX(RING_WEST) + 60.0, rowY(MAIN_ROW)},
                          {columnX(RING_WEST + 1), rowY(MAIN_ROW)}});
    // A bollard cuts a residential street in two for cars, next to a driveway.
    town.node(columnX(17), rowY(8) + GRID / 4.0, "barrier=bollard");
    // No left turn from the primary road (eastbound) into the ring northwards.
    town.noTurn({columnX(RING_WEST - 1), rowY(MAIN_ROW)}, {columnX(RING_WEST), rowY(MAIN_ROW)},
                {columnX(RING_WEST), rowY(MAIN_ROW + 1)});
}

// Main roads out of town, the river with its two bridges and the country.
void drawCountry(TownBuilder& town) {
    const double west = columnX(0);
    const double east = columnX(COLUMNS - 1);
    const double south = rowY(0);
    const double north = rowY(ROWS - 1);

    // The primary road, west and east, with a crossing country road.
    town.road(PRIMARY, {-6000.0, 350.0}, {-3000.0, 500.0}, 600.0, 100.0, 40.0);
    town.road(PRIMARY, {-3000.0, 500.0}, {west, rowY(MAIN_ROW)}, 500.0, 100.0, 25.0);
    town.road(PRIMARY, {east, rowY(MAIN_ROW)}, {6000.0, 950.0}, 600.0, 100.0, 60.0);
    // A country road from the primary road's west part up to the north village.
    town.road(COUNTRY_ROAD, {-3000.0, 500.0}, {-2930.0, 3800.0}, 400.0, 100.0, 30.0);

    // The secondary road north and south; south of the town it crosses the river.
    const double sx = columnX(MAIN_COLUMN);
    town.road(SECONDARY, {sx, north}, {sx, 3000.0}, 300.0, 100.0);
    town.road(SECONDARY, {sx, 3000.0}, {sx, 3500.0}, 250.0, 125.0);
    town.road(SECONDARY, {sx, 3500.0}, {sx, 5000.0}, 500.0, 100.0, 30.0);
    const double bridge1North = riverY(sx) + 40.0;
    const double bridge1South = riverY(sx) - 40.0;
    town.road(SECONDARY_IN_TOWN, {sx, south}, {sx, bridge1North}, 300.0, 100.0);
    town.way(SECONDARY_IN_TOWN + " bridge=yes", {{sx, bridge1North}, {sx, bridge1South}});
    town.road(SECONDARY, {sx, bridge1South}, {sx, -1500.0}, 400.0, 100.0);
    town.road(SECONDARY, {sx, -1500.0}, {sx, -2200.0}, 700.0, 100.0);
    town.road(SECONDARY, {sx, -2200.0}, {sx, -5000.0}, 700.0, 100.0, 50.0);

    // The second bridge: a country road from the grid's south edge to the
    // south village on the hill.
    const double bx = columnX(15);
    const double bridge2North = riverY(bx) + 40.0;
    const double bridge2South = riverY(bx) - 40.0;
    town.road(COUNTRY_ROAD, {bx, south}, {bx, bridge2North}, 300.0, 100.0);
    town.way(COUNTRY_ROAD + " bridge=yes", {{bx, bridge2North}, {bx, bridge2South}});
    town.road(COUNTRY_ROAD, {bx, bridge2South}, {bx, -1500.0}, 400.0, 100.0);
    town.road(COUNTRY_ROAD, {bx, -1500.0}, {bx, -2200.0}, 700.0, 100.0);
    town.road(COUNTRY_ROAD, {bx, -2200.0}, {1500.0, -3000.0}, 400.0, 100.0, 40.0);

    // A footpath along the north bank, joined to the grid by short paths.
    std::vector<double> bankX;
    for (double x = -2500.0; x <= 2500.0; x += 100.0) {
        bankX.push_back(x);
    }
    bankX.push_back(bx);
    std::sort(bankX.begin(), bankX.end());
    std::vector<P> bank;
    for (const double x : bankX) {
        bank.push_back({x, riverY(x) + 40.0});
    }
    town.way(RIVER_PATH, bank);
    for (const std::int32_t i : {2, 6, 10, 14, 18}) { // x a multiple of 100: a node of the bank path
        town.way(RIVER_PATH, {{columnX(i), south}, {columnX(i), riverY(columnX(i)) + 40.0}});
    }

    // Farm tracks south of the river, with a gate where the meadow begins.
    for (const double y : {-1500.0, -2200.0}) {
        town.road(FIELD_TRACK, {-3000.0, y}, {sx, y}, 300.0, 100.0, 15.0);
        town.road(FIELD_TRACK, {sx, y}, {bx, y}, 330.0, 110.0, 10.0);
    }
    town.road(FIELD_TRACK, {-3000.0, -1500.0}, {-3000.0, -2200.0}, 350.0, 100.0);
    town.node(1050.0, -1500.0, "barrier=gate");
    town.way(MEADOW_TRACK, {{bx, -1500.0}, {1050.0, -1500.0}});
    town.road(MEADOW_TRACK, {1050.0, -1500.0}, {3000.0, -1500.0}, 390.0, 130.0, 20.0);
    town.road(MEADOW_TRACK, {3000.0, -1500.0}, {3000.0, -2600.0}, 550.0, 110.0);

    // Up the south hill: a path, steps below the summit, and down to the village.
    town.road(HILL_PATH, {bx, -2200.0}, {1300.0, -2450.0}, 300.0, 50.0, 20.0);
    town.way(HILL_STEPS, {{1300.0, -2450.0}, {1420.0, -2560.0}});
    town.road(HILL_PATH, {1420.0, -2560.0}, {3000.0, -2600.0}, 400.0, 80.0, 60.0);
    town.road(HILL_PATH, {1420.0, -2560.0}, {1500.0, -3000.0}, 450.0, 90.0);

    // The south village: a small grid of streets around the end of the road.
    for (std::int32_t row = 0; row < 3; ++row) {
        const double y = -3000.0 - 120.0 * row;
        town.way(RESIDENTIAL, {{1380.0, y}, {1500.0, y}, {1620.0, y}, {1740.0, y}});
    }
    for (const double x : {1380.0, 1500.0, 1620.0, 1740.0}) {
        town.way(RESIDENTIAL, {{x, -3000.0}, {x, -3120.0}, {x, -3240.0}});
    }

    // North of town: tracks through the fields to the forest track.
    for (const std::int32_t i : {10, 18}) {
        town.road(FIELD_TRACK, {columnX(i), north}, {columnX(i), 3500.0}, 400.0, 100.0, 20.0);
    }
    town.road(FOREST_TRACK, {sx, 3500.0}, {columnX(10), 3500.0}, 300.0, 100.0, 25.0);
    town.road(FOREST_TRACK, {columnX(10), 3500.0}, {columnX(18), 3500.0}, 300.0, 100.0, 25.0);
    town.road(FOREST_TRACK, {columnX(18), 3500.0}, {2500.0, 4200.0}, 300.0, 100.0, 40.0);
    town.road(CYCLE_PATH, {east, rowY(10)}, {2500.0, 2000.0}, 300.0, 100.0, 30.0);
    town.road(FIELD_TRACK, {2500.0, 2000.0}, {2500.0, 4200.0}, 440.0, 110.0, 20.0);

    // The north village on the slope of the north hill.
    town.road(COUNTRY_ROAD, {sx, 3000.0}, {-2600.0, 3800.0}, 350.0, 100.0, 35.0);
    for (std::int32_t k = 0; k < 4; ++k) {
        const double x = -2600.0 - 110.0 * k;
        town.way(RESIDENTIAL, {{x, 3800.0}, {x, 3920.0}, {x, 4040.0}});
        if (k > 0) {
            town.way(RESIDENTIAL, {{x + 110.0, 3920.0}, {x, 3920.0}});
        }
    }
    town.way(RESIDENTIAL, {{-2600.0, 3800.0}, {-2710.0, 3800.0}, {-2820.0, 3800.0}, {-2930.0, 3800.0}});
}

} // namespace

TestNetwork buildDemoTown() {
    TownBuilder town;
    drawGrid(town);
    drawRoundabout(town);
    drawTownDetails(town);
    drawCountry(town);
    return std::move(town.network);
}

Bounds boundsOf(const TestNetwork& network) {
    Bounds bounds{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    auto include = [&bounds](std::int32_t ilon, std::int32_t ilat) {
        bounds.minLon = std::min(bounds.minLon, ilon);
        bounds.minLat = std::min(bounds.minLat, ilat);
        bounds.maxLon = std::max(bounds.maxLon, ilon);
        bounds.maxLat = std::max(bounds.maxLat, ilat);
    };
    for (const TestNetwork::Node& node : network.nodes()) {
        include(node.ilon, node.ilat);
    }
    for (const TestNetwork::Way& way : network.ways()) {
        for (const WayPoint& point : way.points) {
            if (const ShapePoint* shape = std::get_if<ShapePoint>(&point)) {
                include(shape->ilon, shape->ilat);
            }
        }
    }
    return bounds;
}

} // namespace ferrow::demo
