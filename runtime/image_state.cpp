#include "runtime/image_state.h"

#include <cstring>

#include "runtime/root.h"

namespace oka::image_state {

namespace {

// A piece of state: plain bytes (hook.save null) or a hook's.
struct Piece {
    void* at;
    uint32_t bytes;
    Hook hook;
};

std::vector<Piece>& pieces_kept() {
    static std::vector<Piece> pieces;
    return pieces;
}

// Every piece in save's order: the registered roots' cells and nodes first.
template <class Visit>
void for_each_piece(Visit visit) {
    for (Cell* cell : runtime::registered_roots()) visit(Piece{cell, sizeof(Cell), {}});
    for (Node* node : runtime::registered_nodes()) visit(Piece{node, sizeof(Node), {}});
    for (const Piece& piece : pieces_kept()) visit(piece);
}

}  // namespace

void keep(void* at, uint32_t bytes) { pieces_kept().push_back({at, bytes, {}}); }

void keep(Hook hook) { pieces_kept().push_back({nullptr, 0, hook}); }

std::vector<Bytes> save() {
    std::vector<Bytes> saved;
    for_each_piece([&](const Piece& piece) {
        const auto* at = static_cast<const uint8_t*>(piece.at);
        saved.push_back(piece.hook.save ? piece.hook.save() : Bytes(at, at + piece.bytes));
    });
    return saved;
}

bool fits(std::span<const std::span<const uint8_t>> pieces) {
    size_t i = 0;
    bool fit = true;
    for_each_piece([&](const Piece& piece) {
        fit = fit && i < pieces.size() && (piece.hook.save || pieces[i].size() == piece.bytes);
        i++;
    });
    return fit && i == pieces.size();
}

void restore(std::span<const std::span<const uint8_t>> pieces) {
    size_t i = 0;
    for_each_piece([&](const Piece& piece) {
        std::span<const uint8_t> bytes = pieces[i++];
        if (piece.hook.restore)
            piece.hook.restore(bytes);
        else
            std::memcpy(piece.at, bytes.data(), bytes.size());
    });
}

}  // namespace oka::image_state
