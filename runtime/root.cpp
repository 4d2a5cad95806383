#include "runtime/root.h"

#include <vector>

namespace oka::runtime {

namespace {

std::vector<Cell*>& roots() {
    static std::vector<Cell*> cells;
    return cells;
}

}  // namespace

void register_root(Cell* cell) { roots().push_back(cell); }

std::span<Cell* const> registered_roots() { return roots(); }

}  // namespace oka::runtime
