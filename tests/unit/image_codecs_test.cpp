// The image codecs as image! reaches them: the signatures that name a container, BMP files of each
// depth and header read to their pixels, round trips, and data that cannot be an image refused with
// bad-media whatever part of it is wrong or missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/image.h"
#include "datatypes/none.h"
#include "runtime/image_store.h"
#include "services/crypto.h"
#include "test_support.h"

namespace oka {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr std::array<uint8_t, 2> kJpegFrame = {0xFF, 0xC0};  // the baseline frame header

Cell binary_of(const Bytes& bytes) { return test::keep(*binary::load(bytes.data(), uint32_t(bytes.size()))); }

// The pixels of the image decoded from the bytes of a file.
std::vector<uint32_t> decoded(const Bytes& bytes) {
    Cell image = none::value;
    EXPECT_EQ(test::error_of([&] { image = test::keep(*image::load_binary(binary_of(bytes))); }), Err(0));
    EXPECT_TRUE(image.is(Type::Image));
    if (!image.is(Type::Image) || !image.node()) return {};
    os_image::Lock lock(image::pixels_of(image), false);
    return {lock.pixels().begin(), lock.pixels().end()};
}

Err decode_error(const Bytes& bytes) {
    return test::error_of([&] { image::load_binary(binary_of(bytes)); });
}

void put(Bytes& out, uint64_t value, int count) {
    for (int i = 0; i < count; i++) out.push_back(uint8_t(value >> (8 * i)));
}

// A BMP file with the 40-byte info header: its depth, size (a negative height for top-down), the
// palette entries and the pixel rows as they lie.
Bytes bmp(uint16_t bpp, int32_t width, int32_t height, const Bytes& palette, const Bytes& rows,
          uint32_t compression = 0) {
    Bytes out = {'B', 'M'};
    uint32_t offset = 14 + 40 + uint32_t(palette.size());
    put(out, offset + uint32_t(rows.size()), 4), put(out, 0, 4), put(out, offset, 4);
    put(out, 40, 4), put(out, uint32_t(width), 4), put(out, uint32_t(height), 4), put(out, 1, 2), put(out, bpp, 2);
    put(out, compression, 4), put(out, uint32_t(rows.size()), 4), put(out, 0, 8);
    put(out, bpp <= 8 ? uint32_t(palette.size() / 4) : 0, 4), put(out, 0, 4);  // the colours used
    out.insert(out.end(), palette.begin(), palette.end());
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

TEST(ImageCodecs, SignaturesNameTheirContainers) {
    struct Case {
        std::string bytes;
        int container;
    } cases[] = {
        {"\x89PNG\r\n", 1},
        {"\xFF\xD8\xFF\xE0", 3},
        {"BM", 0},
        {"GIF87a...", 2},
        {"GIF89a", 2},
        {"GIF88a", -1},
        {"GIF8", -1},
        {std::string("II*\0", 4), 4},
        {std::string("MM\0*", 4), 4},
        {"II*", -1},
        {"\x89PN", -1},
        {"", -1},
        {"\xFF\xD8", -1},
        {"bm", -1},
    };
    for (const Case& c : cases) {
        Cell binary = binary_of(Bytes(c.bytes.begin(), c.bytes.end()));
        EXPECT_EQ(image::signature_of(binary), c.container) << c.bytes;
    }
    Cell later = binary_of({'x', 'B', 'M'});
    EXPECT_EQ(image::signature_of(later), -1);
    later.set_head(1);
    EXPECT_EQ(image::signature_of(later), 0) << "the bytes from the head";
    EXPECT_TRUE(test::keep(*image::load_binary(binary_of({'G', 'I', 'F', '8', '8', 'a'}))).is(Type::None));
}

TEST(ImageCodecs, BmpFilesOfEachDepthGiveTheirPixels) {
    const Bytes palette = {0, 0, 0xFF, 0, 0xFF, 0, 0, 0};  // red, blue
    struct Case {
        const char* what;
        Bytes file;
        std::vector<uint32_t> pixels;
    } cases[] = {
        {"24 bits, bottom-up, rows padded to 4 bytes",
         bmp(24, 1, 2, {}, {1, 2, 3, 0, 4, 5, 6, 0}),
         {0xFF060504, 0xFF030201}},
        {"24 bits, top-down", bmp(24, 1, -2, {}, {1, 2, 3, 0, 4, 5, 6, 0}), {0xFF030201, 0xFF060504}},
        {"8 bits with a palette", bmp(8, 3, 1, palette, {1, 0, 1, 0}), {0xFF0000FF, 0xFFFF0000, 0xFF0000FF}},
        {"4 bits", bmp(4, 3, 1, palette, {0x10, 0x10, 0, 0}), {0xFF0000FF, 0xFFFF0000, 0xFF0000FF}},
        {"1 bit across a byte",
         bmp(1, 9, 1, palette, {0x80, 0x80, 0, 0}),
         {0xFF0000FF, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFF0000FF}},
        {"16 bits, 5-5-5", bmp(16, 2, 1, {}, {0x00, 0x7C, 0x1F, 0x00}), {0xFFFF0000, 0xFF0000FF}},
        {"32 bits without masks: opaque", bmp(32, 1, 1, {}, {1, 2, 3, 4}), {0xFF030201}},
        {"32 bits with masks that hold alpha",
         bmp(32, 1, 1, {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0xFF}, {1, 2, 3, 4}, 6),
         {0x04030201}},
    };
    for (const Case& c : cases) EXPECT_EQ(decoded(c.file), c.pixels) << c.what;
}

const std::vector<uint32_t> kSamplePixels = {0xFF000000, 0x00FFFFFF, 0x80102030, 0x7F405060, 0x01FF0000, 0xFE00FF00};

// A 3x2 image whose pixels run through every alpha kind: opaque, transparent, in between.
Cell sample_image() {
    Cell size = Cell::of(Type::Pair).set_x(3).set_y(2);
    Cell image = test::run(actions::make_s, {test::type_cell(Type::Image), size});
    os_image::Lock lock(image::pixels_of(image), true);
    std::copy(kSamplePixels.begin(), kSamplePixels.end(), lock.pixels().begin());
    return image;
}

Bytes bytes_of(const Cell& binary) {
    BufPtr<SeriesBuffer> b = mem::buffer(binary.node());
    const uint8_t* first = mem::ptr<uint8_t>(b->offset);
    return Bytes(first, first + b->length());
}

// An image of the given size whose pixels are `pixel(i)`.
template <class Pixel>
Cell image_of(int32_t width, int32_t height, Pixel pixel) {
    Cell size = Cell::of(Type::Pair).set_x(width).set_y(height);
    Cell image = test::run(actions::make_s, {test::type_cell(Type::Image), size});
    os_image::Lock lock(image::pixels_of(image), true);
    for (size_t i = 0; i < lock.pixels().size(); i++) lock.pixels()[i] = pixel(uint32_t(i));
    return image;
}

// The largest difference of a colour or alpha sample between two images' pixels.
int largest_difference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size()) return 256;
    int largest = 0;
    for (size_t i = 0; i < a.size(); i++)
        for (int shift : {0, 8, 16, 24})
            largest = std::max(largest, std::abs(int(a[i] >> shift & 255) - int(b[i] >> shift & 255)));
    return largest;
}

std::vector<uint32_t> pixels_of(const Cell& image) {
    os_image::Lock lock(image::pixels_of(image), false);
    return {lock.pixels().begin(), lock.pixels().end()};
}

// Each container's round trip: exact for BMP, PNG and TIFF; for GIF exact with few colours (and a clear
// pixel) and near a fixed palette with many; for JPEG within its loss on a smooth opaque image.
TEST(ImageCodecs, RoundTripsKeepThePixels) {
    auto gradient = [](uint32_t i) { return 0xFF000000u | (i % 64 * 4) << 16 | (i / 64 * 4) << 8 | 0x80; };
    auto few = [](uint32_t i) { return i % 7 == 0 ? 0u : 0xFF000000u | (i % 5) * 0x102030u; };
    struct Case {
        int container;
        Cell image;
        int slack;
    } cases[] = {
        {0, sample_image(), 0},
        {1, sample_image(), 0},
        {4, sample_image(), 0},
        {1, image_of(64, 64, gradient), 0},
        {2, image_of(9, 5, few), 0},
        {2, image_of(64, 64, gradient), 26},
        {3, image_of(64, 64, gradient), 8},
    };
    for (const Case& c : cases) {
        Bytes file = bytes_of(test::keep(*image::encode(c.image, c.container)));
        EXPECT_LE(largest_difference(decoded(file), pixels_of(c.image)), c.slack) << c.container;
    }
}

TEST(ImageCodecs, DataThatIsNoWholeImageIsRefused) {
    for (int container = 0; container < image::kContainerCount; container++) {
        Bytes good = bytes_of(test::keep(*image::encode(sample_image(), container)));
        constexpr size_t kSignatureLengths[] = {2, 4, 6, 3, 4};
        size_t signature = kSignatureLengths[container];
        for (size_t length = signature; length < good.size(); length++)
            EXPECT_EQ(decode_error(Bytes(good.begin(), good.begin() + ptrdiff_t(length))), Err::access_bad_media)
                << container << ": " << length << " bytes";
    }
    const Bytes palette = {0, 0, 0xFF, 0, 0xFF, 0, 0, 0};
    auto with = [](Bytes file, size_t at, uint32_t value, int count) {
        for (int i = 0; i < count; i++) file[at + size_t(i)] = uint8_t(value >> (8 * i));
        return file;
    };
    Bytes small = bmp(24, 1, 1, {}, {1, 2, 3, 0});
    struct Case {
        const char* what;
        Bytes file;
    } cases[] = {
        {"pixels past the end", with(small, 10, 200, 4)},
        {"an offset that wraps", with(small, 10, 0xFFFFFFF0, 4)},
        {"a width the data does not hold", with(small, 18, 1000, 4)},
        {"a width the store cannot hold", with(small, 18, 70000, 4)},
        {"a height of 0", with(small, 22, 0, 4)},
        {"a negative width", with(small, 18, uint32_t(-1), 4)},
        {"the lowest height", with(small, 22, 0x80000000, 4)},
        {"a depth of 7", with(small, 28, 7, 2)},
        {"run-length compression", with(small, 30, 1, 4)},
        {"bit fields on 24 bits", with(small, 30, 3, 4)},
        {"an unknown header size", with(small, 14, 20, 4)},
        {"a palette index past its colours", bmp(8, 1, 1, palette, {2, 0, 0, 0})},
        {"more colours than the depth holds", with(bmp(1, 1, 1, palette, {0, 0, 0, 0}), 46, 3, 4)},
        {"a palette past the end", with(bmp(8, 1, 1, palette, {0, 0, 0, 0}), 46, 200, 4)},
    };
    for (const Case& c : cases) EXPECT_EQ(decode_error(c.file), Err::access_bad_media) << c.what;
}

// ---- files that declare more pixels than their data holds ----

void set_big_endian(Bytes& bytes, size_t at, uint32_t value, int count) {
    for (int i = 0; i < count; i++) bytes[at + size_t(i)] = uint8_t(value >> (8 * (count - 1 - i)));
}
void set_little_endian(Bytes& bytes, size_t at, uint32_t value, int count) {
    for (int i = 0; i < count; i++) bytes[at + size_t(i)] = uint8_t(value >> (8 * i));
}
uint32_t little_endian(const Bytes& bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; i--) value = value << 8 | bytes[at + size_t(i)];
    return value;
}

constexpr uint32_t kHugeSide = 16384;  // 16384 x 16384 pixels: 1 GiB

// The TIFF's tag as the encoder writes it (SHORT or LONG, one value), set to `value`.
void set_tiff_tag(Bytes& file, uint16_t tag, uint32_t value) {
    size_t directory = little_endian(file, 4, 4), count = little_endian(file, directory, 2);
    for (size_t entry = directory + 2; entry < directory + 2 + 12 * count; entry += 12)
        if (little_endian(file, entry, 2) == tag)
            set_little_endian(file, entry + 8, value, little_endian(file, entry + 2, 2) == 3 ? 2 : 4);
}

// The GIF's first image descriptor, after the global colour table and the extensions.
size_t gif_image_descriptor(const Bytes& file) {
    size_t at = 13 + (file[10] & 0x80 ? 3 * (size_t(2) << (file[10] & 7)) : 0);
    while (file[at] == 0x21) {
        at += 2;
        while (file[at]) at += size_t(file[at]) + 1;
        at++;
    }
    return at;
}

// The sample image in a container, its header changed to declare 16384 x 16384 pixels; `other` takes
// the container's other road where it has one (an interlaced PNG, a TIFF that the RGBA reader reads).
Bytes declaring_huge(int container, bool other) {
    Bytes file = bytes_of(test::keep(*image::encode(sample_image(), container)));
    switch (container) {
    case 0: set_little_endian(file, 18, kHugeSide, 4), set_little_endian(file, 22, kHugeSide, 4); break;
    case 1:
        set_big_endian(file, 16, kHugeSide, 4), set_big_endian(file, 20, kHugeSide, 4);
        if (other) file[28] = 1;  // Adam7
        set_big_endian(file, 29, crypto::crc32(file.data() + 12, 17), 4);
        break;
    case 2: {
        size_t image = gif_image_descriptor(file);
        set_little_endian(file, 6, kHugeSide, 2), set_little_endian(file, 8, kHugeSide, 2);
        set_little_endian(file, image + 5, kHugeSide, 2), set_little_endian(file, image + 7, kHugeSide, 2);
        break;
    }
    case 3: {
        size_t frame =
            size_t(std::search(file.begin(), file.end(), kJpegFrame.begin(), kJpegFrame.end()) - file.begin());
        set_big_endian(file, frame + 5, kHugeSide, 2), set_big_endian(file, frame + 7, kHugeSide, 2);
        break;
    }
    case 4:
        set_tiff_tag(file, 256, kHugeSide), set_tiff_tag(file, 257, kHugeSide);
        if (other) set_tiff_tag(file, 338, 1);  // associated alpha: not the plain road
        break;
    }
    return file;
}

// The most memory the process has held since `reset`, less what it held then, in KiB (the system's
// peak resident size, which a process may reset).
class PeakMemory {
public:
    bool reset() {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5" << std::flush;
        start_ = field("VmHWM:");
        return clear.good() && start_ > 0;
    }
    int64_t growth() const { return int64_t(field("VmHWM:")) - int64_t(start_); }

private:
    static size_t field(const std::string& name) {
        std::ifstream status("/proc/self/status");
        for (std::string word; status >> word;)
            if (word == name && status >> word) return std::stoul(word);
        return 0;
    }
    size_t start_ = 0;
};

// A file that declares a size its data cannot fill (16384 x 16384 pixels in a few dozen bytes) is
// refused at the cost of the rows it holds, never of all those it declares (1 GiB).
TEST(ImageCodecs, ASizeTheDataCannotFillCostsOnlyTheRowsThatCame) {
    constexpr int64_t kMostKiB = 256 << 10;
    for (int container = 0; container < image::kContainerCount; container++) {
        for (bool other : {false, true}) {
            Bytes file = declaring_huge(container, other);
            PeakMemory peak;
            if (!peak.reset()) GTEST_SKIP() << "the peak memory cannot be reset here";
            EXPECT_EQ(decode_error(file), Err::access_bad_media) << container << " " << other;
            EXPECT_LT(peak.growth(), kMostKiB) << container << " " << other;
        }
    }
}

// ---- the PNG suite ----

Bytes read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The numbers of a flat JSON array.
std::vector<int> json_numbers(const std::filesystem::path& path) {
    Bytes text = read_file(path);
    std::vector<int> numbers;
    for (size_t i = 0; i < text.size(); i++) {
        if (!std::isdigit(text[i])) continue;
        int n = 0;
        while (i < text.size() && std::isdigit(text[i])) n = n * 10 + (text[i++] - '0');
        numbers.push_back(n);
    }
    return numbers;
}

// How many samples of the pixels differ from the r g b a numbers by more than `slack`; a count that
// differs counts as all. A clear pixel has no colour to compare.
size_t differences(const std::vector<uint32_t>& pixels, const std::vector<int>& rgba, int slack) {
    if (rgba.size() != pixels.size() * 4) return rgba.size() + 1;
    size_t wrong = 0;
    for (size_t i = 0; i < pixels.size(); i++) {
        const int got[4] = {int(pixels[i] >> 16 & 255), int(pixels[i] >> 8 & 255), int(pixels[i] & 255),
                            int(pixels[i] >> 24)};
        bool clear = got[3] == 0 && rgba[4 * i + 3] == 0;
        for (int k = clear ? 3 : 0; k < 4; k++) wrong += std::abs(got[k] - rgba[4 * i + size_t(k)]) > slack;
    }
    return wrong;
}

// Samples of 16 bits rounded to 8, where the list holds any above 255.
bool reduce_to_8_bits(std::vector<int>& samples) {
    if (std::ranges::none_of(samples, [](int v) { return v > 255; })) return false;
    for (int& v : samples) v = (v * 255 + 32767) / 65535;
    return true;
}

// Each image of the suite, as PNG and as BMP, decodes to the pixels its JSON lists (16-bit samples
// rounded to 8 bits, within 1); each file made corrupt on purpose is refused, or is no image at all
// when its signature is what is broken.
TEST(ImageCodecs, PngSuiteDecodesToItsPixels) {
    const std::filesystem::path suite = OKA_PNGSUITE_DIR;
    if (!std::filesystem::exists(suite / "png")) GTEST_SKIP() << "no PNG suite at " << suite;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(suite / "png")) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 150u);
    for (const std::filesystem::path& file : files) {
        std::string name = file.stem().string();
        if (name[0] == 'x') {
            Bytes bytes = read_file(file);
            if (image::signature_of(binary_of(bytes)) >= 0) {
                EXPECT_EQ(decode_error(bytes), Err::access_bad_media) << name;
            }
            continue;
        }
        bool reduced = std::filesystem::exists(suite / "json" / (name + "_to8.json"));
        std::vector<int> rgba = json_numbers(suite / "json" / (name + (reduced ? "_to8.json" : ".json")));
        reduced = reduce_to_8_bits(rgba) || reduced;
        EXPECT_EQ(differences(decoded(read_file(file)), rgba, reduced ? 1 : 0), 0u) << name << ".png";
        std::filesystem::path bmp_file = suite / "bmp" / (name + ".bmp");
        if (std::filesystem::exists(bmp_file)) {
            EXPECT_EQ(differences(decoded(read_file(bmp_file)), rgba, reduced ? 1 : 0), 0u) << name << ".bmp";
        }
    }
}

TEST(ImageCodecs, EncodingNeedsPixelsAndAContainer) {
    Cell empty = Cell::of(Type::Image).set_image_size(3 << 16);
    EXPECT_EQ(test::error_of([&] { image::encode(empty, 0); }), Err::access_bad_media);
    Cell* before = stack::top;
    EXPECT_EQ(image::encode(sample_image(), 5), nullptr);
    EXPECT_EQ(image::encode(sample_image(), -1), nullptr);
    EXPECT_EQ(stack::top, before) << "nothing pushed";
}

}  // namespace
}  // namespace oka
