#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/lab/lab_parallel.h"
#include "sim/lab/lab_parameters.h"

// The lab's neighbour search: a uniform grid over the box whose cells are a
// little wider than half the search radius, the particles sorted by cell,
// and the pairs within the search radius found by walking the cells around
// each particle.
//
// The particles are given as position arrays indexed by "source" place,
// each with an id (its index in the solver's own order; the source place
// itself when no ids are given). Within a cell the particles are sorted by
// id, so the sorted order depends only on positions and ids, never on the
// order the sources come in or on the number of threads.
class LabNeighbourSearch {
public:
    // Particles per piece of a parallel loop.
    static constexpr int32_t kPiece = 256;

    // Sorts the sources [0, count) by cell. A source takes part only where
    // its id is below `pairedIds` and its position is finite; the others
    // follow the sorted ones, by id. With copyPositions the sorted places
    // get a copy of their positions (the pair searches read them).
    void Build(const LabParameters& p, const float* x, const float* y, const float* z, int32_t count,
               const int32_t* ids, int32_t pairedIds, bool copyPositions, LabParallel& parallel);

    // With a cap: for every source a below `count` given to Build, its
    // partners within the search radius of higher source place, ascending.
    // Needs positions copied and no ids.
    void FindHigherPairs(const LabParameters& p, const float* x, const float* y, const float* z,
                         LabParallel& parallel);
    const int32_t* higherPairs(int32_t a) const { return blockLists_[a / kBlock].data() + higherStart_[a]; }
    int32_t higherCount(int32_t a) const { return higherCount_[a]; }

    // A source's partners within the search radius, as sources, in their
    // sorted order (by cell, then id): the order a scan of its whole stencil
    // of cells meets them in. (x, y, z) is the source's position. Needs
    // positions copied; a source that takes no part has none.
    int32_t Partners(const LabParameters& p, int32_t source, float x, float y, float z,
                     std::vector<int32_t>& out) const;
    int32_t CountPartners(const LabParameters& p, int32_t source, float x, float y, float z) const;

    // The grid. Sorted place s holds source sortedIndex()[s]; the places of
    // cell c run from cellStart()[c] to cellStart()[c + 1]; placed() of the
    // sources are in a cell, the rest follow them.
    int32_t side(int axis) const { return side_[axis]; }
    int32_t cells() const { return cells_; }
    int32_t placed() const { return cellStart_[static_cast<size_t>(cells_)]; }
    const int32_t* cellStart() const { return cellStart_.data(); }
    const int32_t* sortedIndex() const { return sortedIndex_.data(); }
    // The cell of a source (-1: none).
    int32_t cellOf(int32_t source) const { return cellOf_[source]; }
    // Cells either way along an axis that can hold a partner.
    static constexpr int32_t kReach = 2;

    size_t BytesUsed() const;

private:
    static constexpr int32_t kBlock = 1024;

    template <class Fn>
    void ForEachPartner(const LabParameters& p, int32_t source, float x, float y, float z, Fn fn) const;

    float cellSize_ = 1.0f;
    float inverseCellSize_ = 1.0f;
    float origin_[3] = {0.0f, 0.0f, 0.0f};
    int32_t side_[3] = {1, 1, 1};
    int32_t cells_ = 1;
    int32_t count_ = 0;
    std::vector<int32_t> cellOf_;
    std::vector<int32_t> cellStart_;
    std::vector<int32_t> cursor_;
    std::vector<int32_t> sortedIndex_;
    std::vector<float> sortedX_, sortedY_, sortedZ_;

    // FindHigherPairs: per block of kBlock sources their lists one after
    // another, from higherStart_.
    std::vector<std::vector<int32_t>> blockLists_;
    std::vector<int32_t> higherStart_, higherCount_;

};
