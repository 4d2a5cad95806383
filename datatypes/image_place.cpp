// Placing an image into a quadrilateral for drawing back ends that render images themselves.
#include <algorithm>

#include "datatypes/image.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "runtime/error.h"
#include "runtime/image_store.h"

namespace oka::image {

namespace {

image_ops::Point point_of(const Cell& value) {
    if (value.is(Type::Pair)) return {float(pair::x_of(value)), float(pair::y_of(value))};
    if (value.is(Type::Point2D)) return {point::get(value, 0), point::get(value, 1)};
    fire(Err::script_invalid_arg, &value);
}

// The four corners that one to four points give, for a source of `width` x `height` pixels.
image_ops::Quad corners(std::span<const Cell> points, float width, float height) {
    image_ops::Point p0 = point_of(points[0]);
    switch (points.size()) {
    case 1: return {{p0, {p0.x + width, p0.y}, {p0.x + width, p0.y + height}, {p0.x, p0.y + height}}};
    case 2: {
        image_ops::Point p1 = point_of(points[1]);
        return {{p0, {p1.x, p0.y}, p1, {p0.x, p1.y}}};
    }
    case 3: {
        image_ops::Point p1 = point_of(points[1]), p3 = point_of(points[2]);
        return {{p0, p1, {p1.x + p3.x - p0.x, p1.y + p3.y - p0.y}, p3}};
    }
    default: return {{p0, point_of(points[1]), point_of(points[2]), point_of(points[3])}};
    }
}

// The crop with its size cut at the source's right and bottom edges.
Crop cut_to_source(const Cell& source, Crop crop) {
    crop.width = std::clamp(crop.width, 0, std::max(int32_t(width_of(source)) - crop.x, 0));
    crop.height = std::clamp(crop.height, 0, std::max(int32_t(height_of(source)) - crop.y, 0));
    return crop;
}

// The source's pixels (or the cut crop's, copied out) mapped into the quadrilateral.
std::optional<image_ops::Pixels> mapped(const Cell& source, const std::optional<Crop>& crop,
                                        const image_ops::Quad& quad, image_ops::Placement& placement) {
    if (source.node() == 0) return std::nullopt;
    int32_t width = int32_t(width_of(source)), height = int32_t(height_of(source));
    os_image::Lock lock(pixels_of(source), false);
    if (!crop) return image_ops::transform(lock.pixels().data(), width, height, quad, placement);
    image_ops::Pixels part(size_t(crop->width) * size_t(crop->height));
    if (!image_ops::copy_rect(lock.pixels().data(), width, height, crop->x, crop->y, crop->width, crop->height,
                              part.data()))
        return std::nullopt;
    return image_ops::transform(part.data(), crop->width, crop->height, quad, placement);
}

}  // namespace

Cell* place(const Cell& source, Cell* result, const std::optional<Crop>& crop, std::span<const Cell> points,
            image_ops::Placement& placement) {
    none::make_at(result);
    if (points.empty() || points.size() > 4) return result;
    std::optional<Crop> cut;
    if (crop) cut = cut_to_source(source, *crop);
    float width = float(cut ? cut->width : int32_t(width_of(source)));
    float height = float(cut ? cut->height : int32_t(height_of(source)));
    image_ops::Quad quad = corners(points, width, height);
    bool mirrored_x = quad[0].x > quad[1].x, mirrored_y = quad[1].y > quad[2].y;
    if (mirrored_x) image_ops::mirror_x(quad, quad[0].x);
    if (mirrored_y) image_ops::mirror_y(quad, quad[0].y);
    std::optional<image_ops::Pixels> pixels = mapped(source, cut, quad, placement);
    if (!pixels) return result;
    make_from_argb(result, uint32_t(placement.width), uint32_t(placement.height),
                   reinterpret_cast<const uint8_t*>(pixels->data()));
    if (mirrored_x) placement.width = -placement.width;
    if (mirrored_y) placement.height = -placement.height;
    return result;
}

}  // namespace oka::image
