#include "runtime/root.h"

#include <vector>

namespace oka::runtime {

namespace {

std::vector<Cell*>& roots() {
    static std::vector<Cell*> cells;
    return cells;
}

std::vector<Node*>& node_roots() {
    static std::vector<Node*> nodes;
    return nodes;
}

}  // namespace

void register_root(Cell* cell) { roots().push_back(cell); }

std::span<Cell* const> registered_roots() { return roots(); }

void register_root(Node* node) { node_roots().push_back(node); }

std::span<Node* const> registered_nodes() { return node_roots(); }

}  // namespace oka::runtime
