#include "router/waypoints/OsmNogoPolygon.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "jcompat/NumberText.h"
#include "util/CheapRuler.h"

namespace ferrow::router {

using util::CheapRuler;

namespace {

// Products of grid differences: exact even for positions far outside the
// world, where 64 bits would wrap.
using Wide = __int128;

// Whether P lies on the edge from A to B: B - A is a multiple t >= 1 of P - A,
// the two quotients being exactly equal.
bool isOnEdge(std::int64_t px, std::int64_t py, const OsmNogoPolygon::Point& a, const OsmNogoPolygon::Point& b) {
    const auto quotient = [](std::int64_t numerator, std::int64_t denominator) {
        return static_cast<double>(numerator) / static_cast<double>(denominator);
    };
    if (px == a.x) {
        if (py == a.y) return true;
        return px == b.x && quotient(std::int64_t{b.y} - a.y, py - a.y) >= 1;
    }
    const double t = quotient(std::int64_t{b.x} - a.x, px - a.x);
    if (py != a.y) {
        return t == quotient(std::int64_t{b.y} - a.y, py - a.y) && t >= 1;
    }
    return py == b.y && t >= 1;
}

double rulerDistance(const OsmNogoPolygon::Point& p, const OsmNogoPolygon::Point& q) {
    return CheapRuler::distance(p.x, p.y, q.x, q.y);
}

// The one point two segments share when intersect2D_2Segments says 1 although
// their lines do not cross (they lie on one line, or one is a single point):
// an end point of one that lies on the other.
OsmNogoPolygon::Point sharedPoint(const OsmNogoPolygon::Point& s0, const OsmNogoPolygon::Point& s1,
                                  const OsmNogoPolygon::Point& a, const OsmNogoPolygon::Point& b) {
    for (const OsmNogoPolygon::Point& p : {s0, s1, a, b}) {
        if (OsmNogoPolygon::inSegment(p, s0, s1) && OsmNogoPolygon::inSegment(p, a, b)) return p;
    }
    return s0;
}

} // namespace

OsmNogoPolygon::OsmNogoPolygon(bool closed) : isClosed(closed) {
    isNogo = true;
    waypointKind = KIND_ORDINARY;
    name = std::string();
    polygon_ = this;
}

template <typename Visit>
bool OsmNogoPolygon::anyEdge(Visit&& visit) const {
    if (points.empty()) return false;
    if (isClosed && visit(points.back(), points.front())) return true;
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (visit(points[i - 1], points[i])) return true;
    }
    return false;
}

void OsmNogoPolygon::calcBoundingCircle() {
    std::int32_t cx = 0;
    std::int32_t cy = 0;
    if (!points.empty()) {
        auto [minX, maxX] =
            std::minmax_element(points.begin(), points.end(), [](const Point& p, const Point& q) { return p.x < q.x; });
        auto [minY, maxY] =
            std::minmax_element(points.begin(), points.end(), [](const Point& p, const Point& q) { return p.y < q.y; });
        cx = static_cast<std::int32_t>((std::int64_t{minX->x} + maxX->x) / 2);
        cy = static_cast<std::int32_t>((std::int64_t{minY->y} + maxY->y) / 2);
    }
    const CheapRuler::Scales* scales = &CheapRuler::scalesAt(cy);
    const auto distanceFromCentre = [&](const Point& p) {
        const double dx = scales->kx * jcompat::wrapSub(cx, p.x);
        const double dy = scales->ky * jcompat::wrapSub(cy, p.y);
        return std::sqrt(dx * dx + dy * dy);
    };

    // Each step moves the centre half-way towards the farthest vertex outside
    // the circle and grows the radius to reach it. The rounding of the centre
    // to grid units could in theory keep that going; past the bound the circle
    // simply takes the farthest vertex's distance.
    constexpr int kMaxSteps = 10000;
    double rad = 0.0;
    for (int step = 0;; ++step) {
        const Point* farthest = nullptr;
        double farthestDistance = rad;
        for (const Point& p : points) {
            const double d = distanceFromCentre(p);
            if (d > farthestDistance) {
                farthest = &p;
                farthestDistance = d;
            }
        }
        if (farthest == nullptr) break;
        if (step == kMaxSteps) {
            rad = farthestDistance;
            break;
        }
        const double f = (1.0 - rad / farthestDistance) * 0.5;
        cx += jcompat::toInt(f * (farthest->x - static_cast<double>(cx)) + 0.5);
        cy += jcompat::toInt(f * (farthest->y - static_cast<double>(cy)) + 0.5);
        scales = &CheapRuler::scalesAt(cy);
        rad = distanceFromCentre(*farthest);
    }
    ilon = cx;
    ilat = cy;
    radius = rad * 1.001 + 1.0;
}

bool OsmNogoPolygon::intersects(std::int32_t lon1, std::int32_t lat1, std::int32_t lon2, std::int32_t lat2) const {
    const Point s0{lon1, lat1};
    const Point s1{lon2, lat2};
    return anyEdge([&](const Point& a, const Point& b) { return intersect2D_2Segments(s0, s1, a, b) != 0; });
}

bool OsmNogoPolygon::isWithin(std::int64_t px, std::int64_t py) const {
    int windingNumber = 0;
    const bool onEdge = anyEdge([&](const Point& a, const Point& b) {
        const Wide isLeft = Wide{b.x - std::int64_t{a.x}} * (py - a.y) - Wide{px - a.x} * (std::int64_t{b.y} - a.y);
        if (a.y <= py) {
            if (b.y > py && isLeft > 0) ++windingNumber;
        } else if (b.y <= py && isLeft < 0) {
            --windingNumber;
        }
        return isOnEdge(px, py, a, b);
    });
    return onEdge || windingNumber != 0;
}

bool OsmNogoPolygon::isOnPolyline(std::int64_t px, std::int64_t py) const {
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (isOnEdge(px, py, points[i - 1], points[i])) return true;
    }
    return false;
}

int OsmNogoPolygon::intersect2D_2Segments(const Point& a0, const Point& a1, const Point& b0, const Point& b1) {
    const std::int64_t ux = std::int64_t{a1.x} - a0.x;
    const std::int64_t uy = std::int64_t{a1.y} - a0.y;
    const std::int64_t vx = std::int64_t{b1.x} - b0.x;
    const std::int64_t vy = std::int64_t{b1.y} - b0.y;
    const std::int64_t wx = std::int64_t{a0.x} - b0.x;
    const std::int64_t wy = std::int64_t{a0.y} - b0.y;
    const Wide d = Wide{ux} * vy - Wide{uy} * vx;
    if (d != 0) {
        const double sI = static_cast<double>(Wide{vx} * wy - Wide{vy} * wx) / static_cast<double>(d);
        if (sI < 0 || sI > 1) return 0;
        const double tI = static_cast<double>(Wide{ux} * wy - Wide{uy} * wx) / static_cast<double>(d);
        return tI >= 0 && tI <= 1 ? 1 : 0;
    }
    if (Wide{ux} * wy != Wide{uy} * wx || Wide{vx} * wy != Wide{vy} * wx) {
        return 0; // parallel, not on one line
    }
    const bool aIsPoint = a0 == a1;
    const bool bIsPoint = b0 == b1;
    if (aIsPoint && bIsPoint) return a0 == b0 ? 1 : 0;
    if (aIsPoint) return inSegment(a0, b0, b1) ? 1 : 0;
    if (bIsPoint) return inSegment(b0, a0, a1) ? 1 : 0;

    // On one line: a's end points in b's parameter.
    double t0;
    double t1;
    if (vx != 0) {
        t0 = static_cast<double>(wx) / static_cast<double>(vx);
        t1 = static_cast<double>(std::int64_t{a1.x} - b0.x) / static_cast<double>(vx);
    } else {
        t0 = static_cast<double>(wy) / static_cast<double>(vy);
        t1 = static_cast<double>(std::int64_t{a1.y} - b0.y) / static_cast<double>(vy);
    }
    if (t0 > t1) std::swap(t0, t1);
    if (t0 > 1 || t1 < 0) return 0;
    t0 = std::max(t0, 0.0);
    t1 = std::min(t1, 1.0);
    return t0 == t1 ? 1 : 2;
}

bool OsmNogoPolygon::inSegment(const Point& p, const Point& s0, const Point& s1) {
    if (s0.x != s1.x) {
        return (s0.x <= p.x && p.x <= s1.x) || (s1.x <= p.x && p.x <= s0.x);
    }
    return (s0.y <= p.y && p.y <= s1.y) || (s1.y <= p.y && p.y <= s0.y);
}

double OsmNogoPolygon::distanceWithinPolygon(std::int32_t lon1, std::int32_t lat1, std::int32_t lon2,
                                             std::int32_t lat2) const {
    const Point s0{lon1, lat1};
    const Point s1{lon2, lat2};
    double total = 0.0;
    // The last boundary crossing (or the start when it lies inside): the
    // segment's pieces between consecutive crossings are inside or outside.
    Point previous = s0;
    bool hasPrevious = isClosed && isWithin(lon1, lat1);
    anyEdge([&](const Point& a, const Point& b) {
        const int meeting = intersect2D_2Segments(s0, s1, a, b);
        if (isClosed && meeting == 1) {
            const Wide xs = std::int64_t{lon1} - lon2;
            const Wide ys = std::int64_t{lat1} - lat2;
            const Wide xe = std::int64_t{a.x} - b.x;
            const Wide ye = std::int64_t{a.y} - b.y;
            const Wide div = xs * ye - xe * ys;
            Point crossing;
            if (div != 0) {
                const Wide dS = Wide{lon1} * lat2 - Wide{lon2} * lat1;
                const Wide dE = Wide{a.x} * b.y - Wide{b.x} * a.y;
                crossing = {static_cast<std::int32_t>((dS * xe - dE * xs) / div),
                            static_cast<std::int32_t>((dS * ye - dE * ys) / div)};
            } else {
                crossing = sharedPoint(s0, s1, a, b);
            }
            if (hasPrevious) {
                const std::int32_t midX = jcompat::wrapAdd(previous.x, crossing.x) >> 1;
                const std::int32_t midY = jcompat::wrapAdd(previous.y, crossing.y) >> 1;
                if (isWithin(midX, midY)) total += rulerDistance(previous, crossing);
            }
            previous = crossing;
            hasPrevious = true;
        } else if (meeting == 2) {
            total += std::min({rulerDistance(s0, s1), rulerDistance(a, b), rulerDistance(s0, b), rulerDistance(a, s1)});
            hasPrevious = false;
        }
        return false;
    });
    if (hasPrevious && isWithin(lon2, lat2)) total += rulerDistance(previous, s1);
    return total;
}

} // namespace ferrow::router
