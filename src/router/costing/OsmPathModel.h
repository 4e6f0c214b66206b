#pragma once

#include "expressions/BExpressionContext.h"

namespace ferrow::expressions {
class BExpressionContextNode;
class BExpressionContextWay;
} // namespace ferrow::expressions

namespace ferrow::router {

class OsmPath;
class OsmPrePath;

// A cost model: chosen per request by RoutingContext::readGlobalConfig from
// the profile's model line, it decides which kind of search path prices the
// links. The contexts belong to the profile the request holds and outlive
// the model's use in that request.
class OsmPathModel {
public:
    explicit OsmPathModel(bool makesPrePaths = false) noexcept : makesPrePaths_(makesPrePaths) {}
    virtual ~OsmPathModel() = default;
    OsmPathModel(const OsmPathModel&) = delete;
    OsmPathModel& operator=(const OsmPathModel&) = delete;

    // `keyValues` is null when the request overrides no profile variable; a
    // model may record the values it used there.
    virtual void init(expressions::BExpressionContextWay* expctxWay, expressions::BExpressionContextNode* expctxNode,
                      expressions::VariableOverrides* keyValues) = 0;

    // A fresh path of the model's class (path-start bit set), owned by the
    // model until releasePaths.
    virtual OsmPath* createPath() = 0;
    // A fresh look-ahead of the model's class, or null when the model has none.
    virtual OsmPrePath* createPrePath() { return nullptr; }
    // Takes back a path that nothing refers to any more, for reuse.
    virtual void releasePath(OsmPath* path) = 0;
    // Recycles every path and pre-path: the search that used them is over.
    virtual void releasePaths() = 0;
    // Recycles the pre-paths: the junction they looked ahead for is done.
    virtual void releasePrePaths() {}

    // Whether createPrePath ever makes one: the search asks a model without
    // look-ahead nothing at each junction.
    bool makesPrePaths() const noexcept { return makesPrePaths_; }

private:
    bool makesPrePaths_;
};

} // namespace ferrow::router
